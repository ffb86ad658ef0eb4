// Applying the network settings: rebinding the three UDP servers to the
// configured local addresses and ports and reporting what went wrong.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/datagram.h"

namespace netsup {

struct InterfaceConfig {
  bool inUse = false;
  std::string address;
  std::string port;  // the text of the port field
  std::string gateway;
};

// Interfaces 1, 2 and 3 (GSM) at indices 0, 1, 2.
struct NetworkConfig {
  InterfaceConfig iface[3];
};

struct NetworkState {
  bool GlNetErr = false;
  bool GlNetOkShown = false;
};

// A port text is a number when it is decimal digits only and names a usable
// port, 1..65535.
bool ParsePortText(std::string_view text, uint16_t& port);

// Stops and rebinds the servers (none may be null) and starts those of the
// interfaces in use. Every failure sets GlNetErr and is reported; some stop the
// apply with all three servers stopped, and then it returns false.
bool ApplyNetworkSettings(const NetworkConfig& config,
                          std::array<platform::UdpEndpoint*, 3> servers, NetworkState& state,
                          const std::function<void(const std::string&)>& report);

}  // namespace netsup
