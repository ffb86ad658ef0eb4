// A UDP server as the core sees it: bindings, start and stop, and send-to from
// the bound socket. The Linux implementation is UdpServer; tests use fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Called on the server's listener thread for every datagram received.
using DatagramHandler =
    std::function<void(const uint8_t* data, size_t n, std::string_view peer, uint16_t port)>;

class UdpEndpoint {
 public:
  virtual ~UdpEndpoint() = default;

  virtual void Stop() = 0;
  virtual void ClearBindings() = 0;
  // An address "0.0.0.0" means every local address.
  virtual void AddBinding(const std::string& address, uint16_t port) = 0;
  virtual uint16_t DefaultPort() const = 0;
  // The port of an empty binding list; takes effect at the next Start.
  virtual void SetDefaultPort(uint16_t port) = 0;
  // Binds (with no binding: every address at the default port) and starts the
  // listener thread; false when the address is not local or the port is taken.
  virtual bool Start() = 0;
  virtual bool Running() const = 0;

  // Sends from the bound socket; false when not running, when the address is
  // not a dotted IPv4 address, or when the socket layer reports an error.
  virtual bool SendTo(std::string_view address, uint16_t port, const uint8_t* data, size_t n) = 0;
};

}  // namespace platform
