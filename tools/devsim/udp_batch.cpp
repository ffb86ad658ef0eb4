#include "tools/devsim/udp_batch.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace devsim {
namespace {

constexpr size_t kCtlSpace = CMSG_SPACE(sizeof(in_pktinfo));

void BigBuffer(int fd, int opt, int forceOpt) {
  const int want = 8 << 20;
  if (setsockopt(fd, SOL_SOCKET, forceOpt, &want, sizeof want) == 0) return;
  setsockopt(fd, SOL_SOCKET, opt, &want, sizeof want);  // capped by the system maximum
}

}  // namespace

UdpSocket::~UdpSocket() {
  if (fd_ >= 0) ::close(fd_);
}

bool UdpSocket::Open(uint32_t bindAddr, uint16_t port, std::string* error) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  if (setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0) {
    *error = std::string("IP_PKTINFO: ") + std::strerror(errno);
    return false;
  }
  BigBuffer(fd_, SO_RCVBUF, SO_RCVBUFFORCE);
  BigBuffer(fd_, SO_SNDBUF, SO_SNDBUFFORCE);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(bindAddr);
  a.sin_port = htons(port);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    *error = "bind " + std::to_string(bindAddr >> 24) + "." + std::to_string((bindAddr >> 16) & 255) +
             "." + std::to_string((bindAddr >> 8) & 255) + "." + std::to_string(bindAddr & 255) + ":" +
             std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t len = sizeof a;
  getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  return true;
}

SendResult UdpSocket::Send(const OutDatagram* d, size_t n, const sockaddr_in& to) {
  SendResult r;
  mmsghdr msgs[kBatch];
  iovec iov[kBatch];
  alignas(cmsghdr) uint8_t ctl[kBatch][kCtlSpace];
  while (r.done < n) {
    const size_t count = std::min(kBatch, n - r.done);
    for (size_t k = 0; k < count; ++k) {
      const OutDatagram& o = d[r.done + k];
      iov[k].iov_base = const_cast<uint8_t*>(o.bytes);
      iov[k].iov_len = o.len;
      msghdr& h = msgs[k].msg_hdr;
      h = msghdr{};
      h.msg_name = const_cast<sockaddr_in*>(&to);
      h.msg_namelen = sizeof to;
      h.msg_iov = &iov[k];
      h.msg_iovlen = 1;
      if (o.source != 0) {
        std::memset(ctl[k], 0, kCtlSpace);
        h.msg_control = ctl[k];
        h.msg_controllen = kCtlSpace;
        cmsghdr* c = CMSG_FIRSTHDR(&h);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_spec_dst.s_addr = htonl(o.source);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
      }
    }
    const int sent = ::sendmmsg(fd_, msgs, unsigned(count), 0);
    if (sent > 0) {
      r.done += size_t(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOBUFS) {
      r.blocked = true;
      break;
    }
    // The first datagram of the batch cannot be sent at all: drop it.
    r.lastError = errno;
    ++r.failed;
    ++r.done;
  }
  return r;
}

size_t UdpSocket::Receive(InDatagram* d, size_t n) {
  n = std::min(n, kBatch);
  mmsghdr msgs[kBatch];
  iovec iov[kBatch];
  sockaddr_in from[kBatch];
  alignas(cmsghdr) uint8_t ctl[kBatch][kCtlSpace + 64];
  for (size_t k = 0; k < n; ++k) {
    iov[k].iov_base = d[k].bytes;
    iov[k].iov_len = kMaxInDatagram;
    msghdr& h = msgs[k].msg_hdr;
    h = msghdr{};
    h.msg_name = &from[k];
    h.msg_namelen = sizeof from[k];
    h.msg_iov = &iov[k];
    h.msg_iovlen = 1;
    h.msg_control = ctl[k];
    h.msg_controllen = sizeof ctl[k];
  }
  int got;
  do {
    got = ::recvmmsg(fd_, msgs, unsigned(n), MSG_DONTWAIT, nullptr);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return 0;
  for (int k = 0; k < got; ++k) {
    InDatagram& in = d[k];
    const msghdr& h = msgs[k].msg_hdr;
    in.len = uint16_t(std::min<size_t>(msgs[k].msg_len, kMaxInDatagram));
    in.truncated = (h.msg_flags & MSG_TRUNC) != 0;
    in.peer = ntohl(from[k].sin_addr.s_addr);
    in.peerPort = ntohs(from[k].sin_port);
    in.local = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(const_cast<msghdr*>(&h)); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&h), c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        in.local = ntohl(info.ipi_addr.s_addr);
      }
    }
  }
  return size_t(got);
}

}  // namespace devsim
