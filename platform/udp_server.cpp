#include "platform/udp_server.h"

#include <arpa/inet.h>
#include <array>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace platform {

namespace {

// The kernel queue of each socket holds bursts of a few thousand datagrams
// while the listener thread waits for a processor.
constexpr int kReceiveBuffer = 4 << 20;
constexpr size_t kMaxDatagram = 65535;

sockaddr_in MakeAddress(uint32_t hostOrder, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(hostOrder);
  return a;
}

}  // namespace

UdpServer::UdpServer(uint16_t defaultPort, DatagramHandler onDatagram)
    : onDatagram_(std::move(onDatagram)), defaultPort_(defaultPort) {}

UdpServer::~UdpServer() { Stop(); }

void UdpServer::ClearBindings() {
  std::lock_guard<std::mutex> lock(control_);
  bindings_.clear();
}

void UdpServer::AddBinding(const std::string& address, uint16_t port) {
  std::lock_guard<std::mutex> lock(control_);
  bindings_.emplace_back(address, port);
}

uint16_t UdpServer::BoundPort() const {
  std::shared_lock<std::shared_mutex> lock(sockGuard_);
  return boundPort_;
}

bool UdpServer::Start() {
  std::lock_guard<std::mutex> lock(control_);
  if (listener_.joinable()) return true;

  // The server is given one binding; should there be more, the first one counts.
  std::string address = "0.0.0.0";
  uint16_t port = DefaultPort();
  if (!bindings_.empty()) {
    address = bindings_.front().first;
    port = bindings_.front().second;
  }
  uint32_t host = 0;
  if (!ParseDottedIPv4(address, host)) return false;

  const int sock = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (sock < 0) return false;
  const int on = 1;
  const int rcvbuf = kReceiveBuffer;
  const sockaddr_in local = MakeAddress(host, port);
  sockaddr_in bound{};
  socklen_t boundLen = sizeof bound;
  if (::setsockopt(sock, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
      (::setsockopt(sock, SOL_SOCKET, SO_RCVBUFFORCE, &rcvbuf, sizeof rcvbuf) != 0 &&
       ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf) != 0) ||
      ::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      ::getsockname(sock, reinterpret_cast<sockaddr*>(&bound), &boundLen) != 0) {
    ::close(sock);
    return false;
  }
  const int stopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopEvent < 0) {
    ::close(sock);
    return false;
  }

  {
    std::unique_lock<std::shared_mutex> guard(sockGuard_);
    sock_ = sock;
    boundPort_ = ntohs(bound.sin_port);
  }
  closing_.store(false);
  try {
    listener_ = std::thread(&UdpServer::Listen, this, sock, stopEvent);
  } catch (const std::system_error&) {
    {
      std::unique_lock<std::shared_mutex> guard(sockGuard_);
      sock_ = -1;
      boundPort_ = 0;
    }
    ::close(sock);
    ::close(stopEvent);
    return false;
  }
  stopEvent_ = stopEvent;
  running_.store(true, std::memory_order_release);
  return true;
}

void UdpServer::Stop() {
  std::lock_guard<std::mutex> lock(control_);
  if (!listener_.joinable()) return;

  running_.store(false, std::memory_order_release);
  const uint64_t one = 1;
  // The counter cannot overflow from one write, so this write does not fail.
  [[maybe_unused]] const ssize_t w = ::write(stopEvent_, &one, sizeof one);
  // Joined without the socket guard: the handler may itself send through this server.
  listener_.join();
  ::close(stopEvent_);
  stopEvent_ = -1;

  // Senders that keep coming would otherwise hold the shared guard without end.
  closing_.store(true);
  std::unique_lock<std::shared_mutex> guard(sockGuard_);
  ::close(sock_);
  sock_ = -1;
  boundPort_ = 0;
}

bool UdpServer::SendTo(std::string_view address, uint16_t port, const uint8_t* data, size_t n) {
  uint32_t host = 0;
  if (!ParseDottedIPv4(address, host)) return false;
  const sockaddr_in to = MakeAddress(host, port);

  if (closing_.load()) return false;
  std::shared_lock<std::shared_mutex> guard(sockGuard_);
  if (sock_ < 0) return false;
  const ssize_t sent = ::sendto(sock_, data, n, MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
  return sent >= 0 && size_t(sent) == n;
}

void UdpServer::Listen(int sock, int stopEvent) {
  // A readable socket is drained in batches, so a burst costs one system call
  // per batch rather than two per datagram.
  constexpr unsigned kBatch = 32;
  std::vector<uint8_t> buf(size_t(kBatch) * kMaxDatagram);
  std::array<iovec, kBatch> iov{};
  std::array<sockaddr_in, kBatch> peers{};
  std::array<mmsghdr, kBatch> msgs{};
  pollfd fds[2] = {{sock, POLLIN, 0}, {stopEvent, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;

    // Also reached on POLLERR: the read takes the pending error off the socket.
    for (;;) {
      for (unsigned k = 0; k < kBatch; ++k) {
        iov[k] = {buf.data() + size_t(k) * kMaxDatagram, kMaxDatagram};
        msgs[k].msg_hdr = {};
        msgs[k].msg_hdr.msg_name = &peers[k];
        msgs[k].msg_hdr.msg_namelen = sizeof peers[k];
        msgs[k].msg_hdr.msg_iov = &iov[k];
        msgs[k].msg_hdr.msg_iovlen = 1;
      }
      const int got = ::recvmmsg(sock, msgs.data(), kBatch, MSG_DONTWAIT, nullptr);
      if (got <= 0) break;
      for (int k = 0; k < got; ++k) {
        const sockaddr_in& peer = peers[size_t(k)];
        if (peer.sin_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text) == nullptr) continue;
        if (onDatagram_)
          onDatagram_(static_cast<const uint8_t*>(iov[size_t(k)].iov_base), msgs[size_t(k)].msg_len,
                      text, ntohs(peer.sin_port));
      }
      if (got < int(kBatch)) break;
      if (::poll(fds + 1, 1, 0) > 0) return;  // a stop request between batches
    }
  }
}

}  // namespace platform
