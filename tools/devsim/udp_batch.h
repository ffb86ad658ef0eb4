// Non-blocking UDP sockets that send and receive in batches, with the local
// address of every datagram: a send may name its source address, and every
// received datagram reports the address it was sent to. This lets one socket
// speak for many devices, each with its own loopback address.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace devsim {

inline constexpr size_t kMaxDatagram = 128;
// Received datagrams may be longer than telegrams: a main controller loader's
// packet holds up to 511 characters.
inline constexpr size_t kMaxInDatagram = 1024;
inline constexpr size_t kBatch = 64;

struct OutDatagram {
  uint32_t source = 0;  // host order; 0 = let the socket choose
  uint16_t len = 0;
  uint8_t bytes[kMaxDatagram];
};

struct InDatagram {
  uint32_t local = 0;  // destination address, host order
  uint32_t peer = 0;   // sender, host order
  uint16_t peerPort = 0;
  uint16_t len = 0;
  bool truncated = false;
  uint8_t bytes[kMaxInDatagram];
};

struct SendResult {
  size_t done = 0;       // datagrams sent or dropped for good
  size_t failed = 0;     // of those, dropped on an error
  int lastError = 0;     // errno of the last drop
  bool blocked = false;  // stopped because the socket's buffer is full
};

class UdpSocket {
 public:
  UdpSocket() = default;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  UdpSocket(UdpSocket&& o) noexcept : fd_(o.fd_), port_(o.port_) { o.fd_ = -1; }
  ~UdpSocket();

  // Binds to bindAddr:port (port 0 = ephemeral), non-blocking, with
  // destination addresses reported on receive.
  bool Open(uint32_t bindAddr, uint16_t port, std::string* error);

  int fd() const { return fd_; }
  uint16_t LocalPort() const { return port_; }

  // Sends up to n datagrams to `to`; each with a non-zero source is sent from
  // that address.
  SendResult Send(const OutDatagram* d, size_t n, const sockaddr_in& to);

  // Receives up to n datagrams without waiting; returns how many.
  size_t Receive(InDatagram* d, size_t n);

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace devsim
