#include "platform/icmp_echo.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/ipv4_text.h"

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kPayload = 32;
constexpr size_t kHeader = sizeof(icmphdr);

std::string SystemText(int err) { return std::strerror(err); }

// Closes a descriptor when the scope ends.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct IcmpSocket {
  int fd = -1;
  bool raw = false;
};

// A ping socket where net.ipv4.ping_group_range admits one of our groups, a raw
// socket otherwise; -1 with both reasons in `detail` when neither opens.
IcmpSocket OpenIcmpSocket(std::string* detail) {
  const int ping = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
  if (ping >= 0) return {ping, false};
  const int pingErr = errno;
  const int raw = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
  if (raw >= 0) {
    // Every ICMP message of the host reaches a raw socket; only echo replies matter here.
    icmp_filter filter{};
    filter.data = ~(1u << ICMP_ECHOREPLY);
    ::setsockopt(raw, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    return {raw, true};
  }
  *detail = "ping-сокет: " + SystemText(pingErr) + "; raw-сокет: " + SystemText(errno);
  return {};
}

uint16_t Checksum(const uint8_t* data, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i + 1 < n; i += 2) sum += uint32_t(data[i] << 8 | data[i + 1]);
  if (n % 2 != 0) sum += uint32_t(data[n - 1] << 8);
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return htons(uint16_t(~sum));
}

// Sequence numbers tell apart the requests of concurrent calls in this process.
std::atomic<uint16_t> nextSequence{uint16_t(::getpid())};

// Sends one echo request; false with the reason in `detail`.
bool SendRequest(const IcmpSocket& sock, uint32_t address, uint16_t id, uint16_t sequence,
                 std::string* detail) {
  uint8_t packet[kHeader + kPayload] = {};
  icmphdr header{};
  header.type = ICMP_ECHO;
  header.un.echo.id = htons(id);  // a ping socket puts its own identifier here
  header.un.echo.sequence = htons(sequence);
  std::memcpy(packet, &header, kHeader);
  for (size_t i = 0; i < kPayload; ++i) packet[kHeader + i] = uint8_t('a' + i % 26);
  const uint16_t sum = Checksum(packet, sizeof packet);
  std::memcpy(packet + offsetof(icmphdr, checksum), &sum, sizeof sum);

  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(address);
  const ssize_t sent = ::sendto(sock.fd, packet, sizeof packet, MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&to), sizeof to);
  if (sent == ssize_t(sizeof packet)) return true;
  *detail = "отправка: " + SystemText(sent < 0 ? errno : EMSGSIZE);
  return false;
}

// Whether the datagram just received is the reply to our request: the right
// peer, type, identifier (raw sockets only) and sequence, with some payload.
bool IsOurReply(const IcmpSocket& sock, const uint8_t* data, size_t n, const sockaddr_in& from,
                uint32_t address, uint16_t id, uint16_t sequence) {
  if (from.sin_family != AF_INET || from.sin_addr.s_addr != htonl(address)) return false;
  if (sock.raw) {
    // A raw socket sees the IP header first.
    if (n < 1) return false;
    const size_t ipHeader = size_t(data[0] & 0x0f) * 4;
    if (ipHeader < 20 || n < ipHeader) return false;
    data += ipHeader;
    n -= ipHeader;
  }
  if (n < kHeader + 1) return false;
  icmphdr header;
  std::memcpy(&header, data, kHeader);
  if (header.type != ICMP_ECHOREPLY || ntohs(header.un.echo.sequence) != sequence) return false;
  return !sock.raw || ntohs(header.un.echo.id) == id;
}

// The result of a name lookup, shared with the thread that makes it, which may
// outlive the caller.
struct Lookup {
  std::mutex m;
  std::condition_variable_any cv;
  bool done = false;
  bool found = false;
  uint32_t address = 0;
  std::string error;
};

void Resolve(const std::string& host, const std::shared_ptr<Lookup>& lookup) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* list = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
  std::lock_guard<std::mutex> lock(lookup->m);
  if (rc == 0 && list != nullptr) {
    lookup->found = true;
    lookup->address = ntohl(reinterpret_cast<const sockaddr_in*>(list->ai_addr)->sin_addr.s_addr);
  } else {
    lookup->error = host + ": " + (rc == EAI_SYSTEM ? SystemText(errno) : ::gai_strerror(rc));
  }
  if (list != nullptr) ::freeaddrinfo(list);
  lookup->done = true;
  lookup->cv.notify_all();
}

// Resolves `host` by the deadline; the lookup runs on a thread of its own so
// that neither a slow resolver nor a stop request ever waits for it.
EchoResult ResolveHost(const std::string& host, Clock::time_point deadline,
                       const std::stop_token& stop, uint32_t* address) {
  if (ParseDottedIPv4(host, *address)) return {EchoOutcome::kReply, {}};

  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([host, lookup] { Resolve(host, lookup); }).detach();
  } catch (const std::system_error& e) {
    return {EchoOutcome::kUnresolved, host + ": " + e.what()};
  }
  std::unique_lock<std::mutex> lock(lookup->m);
  lookup->cv.wait_until(lock, stop, deadline, [&] { return lookup->done; });
  if (lookup->done) {
    if (!lookup->found) return {EchoOutcome::kUnresolved, lookup->error};
    *address = lookup->address;
    return {EchoOutcome::kReply, {}};
  }
  if (stop.stop_requested()) return {EchoOutcome::kCancelled, "остановлено"};
  return {EchoOutcome::kUnresolved, host + ": имя не разрешилось за время ожидания"};
}

// Waits for the reply until the deadline or a write to `stopEvent`.
EchoResult AwaitReply(const IcmpSocket& sock, int stopEvent, uint32_t address, uint16_t id,
                      uint16_t sequence, Clock::time_point deadline) {
  pollfd fds[2] = {{sock.fd, POLLIN, 0}, {stopEvent, POLLIN, 0}};
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return {EchoOutcome::kNoReply, "нет ответа за время ожидания"};
    const int ready = ::poll(fds, 2, int(left));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {EchoOutcome::kNoReply, "ожидание: " + SystemText(errno)};
    }
    if (fds[1].revents != 0) return {EchoOutcome::kCancelled, "остановлено"};
    if (fds[0].revents == 0) continue;

    // Drain what has come; unrelated ICMP is passed over.
    for (;;) {
      uint8_t buf[2048];
      sockaddr_in from{};
      socklen_t fromLen = sizeof from;
      const ssize_t n = ::recvfrom(sock.fd, buf, sizeof buf, 0,
                                   reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n < 0) {
        if (errno == EINTR) continue;
        break;  // EAGAIN, or an ICMP error queued on the socket: keep waiting
      }
      if (IsOurReply(sock, buf, size_t(n), from, address, id, sequence))
        return {EchoOutcome::kReply, {}};
    }
  }
}

}  // namespace

EchoResult PingOnce(const std::string& host, std::chrono::milliseconds timeout,
                    std::stop_token stop) {
  const Clock::time_point deadline = Clock::now() + timeout;
  if (stop.stop_requested()) return {EchoOutcome::kCancelled, "остановлено"};

  // A host without ICMP says so whatever its resolver does.
  EchoResult result;
  const IcmpSocket sock = OpenIcmpSocket(&result.detail);
  if (sock.fd < 0) return {EchoOutcome::kNoIcmp, result.detail};
  const Fd sockHolder(sock.fd);
  result.rawSocket = sock.raw;

  uint32_t address = 0;
  EchoResult resolved = ResolveHost(host, deadline, stop, &address);
  if (resolved.outcome != EchoOutcome::kReply) return resolved;

  const Fd stopEvent(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (stopEvent.get() < 0) {
    result.outcome = EchoOutcome::kSendFailed;
    result.detail = "eventfd: " + SystemText(errno);
    return result;
  }
  // Runs at once when the stop was requested in the meantime.
  const std::stop_callback onStop(stop, [fd = stopEvent.get()] {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t w = ::write(fd, &one, sizeof one);
  });

  const uint16_t id = uint16_t(::getpid());
  const uint16_t sequence = nextSequence.fetch_add(1, std::memory_order_relaxed);
  if (!SendRequest(sock, address, id, sequence, &result.detail)) {
    result.outcome = EchoOutcome::kSendFailed;
    return result;
  }
  const EchoResult reply = AwaitReply(sock, stopEvent.get(), address, id, sequence, deadline);
  result.outcome = reply.outcome;
  result.detail = reply.detail;
  return result;
}

EchoResult SendEcho(const std::string& address) {
  uint32_t host = 0;
  if (!ParseDottedIPv4(address, host))
    return {EchoOutcome::kUnresolved, address + ": не адрес IPv4"};
  EchoResult result;
  const IcmpSocket sock = OpenIcmpSocket(&result.detail);
  if (sock.fd < 0) return {EchoOutcome::kNoIcmp, result.detail};
  const Fd sockHolder(sock.fd);
  result.rawSocket = sock.raw;
  const uint16_t sequence = nextSequence.fetch_add(1, std::memory_order_relaxed);
  result.outcome = SendRequest(sock, host, uint16_t(::getpid()), sequence, &result.detail)
                       ? EchoOutcome::kReply
                       : EchoOutcome::kSendFailed;
  return result;
}

}  // namespace platform
