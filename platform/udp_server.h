// One IPv4 UDP server on Linux: a socket bound to one address and port, a
// listener thread that hands every datagram to the handler, and send-to from
// the same socket so that peers see answers come from the port they talk to.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/datagram.h"
#include "platform/ipv4_text.h"

namespace platform {

class UdpServer final : public UdpEndpoint {
 public:
  UdpServer(uint16_t defaultPort, DatagramHandler onDatagram);
  ~UdpServer() override;

  UdpServer(const UdpServer&) = delete;
  UdpServer& operator=(const UdpServer&) = delete;

  void Stop() override;
  void ClearBindings() override;
  void AddBinding(const std::string& address, uint16_t port) override;
  uint16_t DefaultPort() const override { return defaultPort_.load(std::memory_order_relaxed); }
  void SetDefaultPort(uint16_t port) override {
    defaultPort_.store(port, std::memory_order_relaxed);
  }
  bool Start() override;
  bool Running() const override { return running_.load(std::memory_order_acquire); }
  bool SendTo(std::string_view address, uint16_t port, const uint8_t* data, size_t n) override;

  // The local port the socket is bound to (the one the system chose for port 0);
  // 0 while stopped.
  uint16_t BoundPort() const;

 private:
  void Listen(int sock, int stopEvent);

  const DatagramHandler onDatagram_;
  std::atomic<uint16_t> defaultPort_;
  std::atomic<bool> running_{false};

  // Serialises Start, Stop and the binding list.
  std::mutex control_;
  std::vector<std::pair<std::string, uint16_t>> bindings_;
  std::thread listener_;
  int stopEvent_ = -1;

  // Guards the socket against being closed under a concurrent SendTo.
  mutable std::shared_mutex sockGuard_;
  std::atomic<bool> closing_{false};
  int sock_ = -1;
  uint16_t boundPort_ = 0;
};

}  // namespace platform
