// The single sending path towards devices: through the UDP server of the
// interface the device talks to, so answers come from the address and port it
// sends to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "console/message_sink.h"
#include "devlink/client_record.h"
#include "platform/datagram.h"

namespace devlink {

class Sender {
 public:
  Sender(console::MessageSink& sink) : sink_(sink) {}

  void SetEndpoint(int iface, platform::UdpEndpoint* ep) { endpoints_[size_t(iface)] = ep; }

  // Interfaces other than 0, 1, 2 send nothing and report nothing. A failure
  // produces the registration message "Узел <addr>:<port> недоступен.".
  void SendTo(int iface, std::string_view addr, uint16_t port, size_t count, const uint8_t* bytes);
  void SendToClient(const ClientRecord& r, size_t count, const uint8_t* bytes);
  void SendTextTo(int iface, std::string_view addr, uint16_t port, std::string_view text);

 private:
  console::MessageSink& sink_;
  std::array<platform::UdpEndpoint*, 3> endpoints_{};
};

}  // namespace devlink
