// A real TFTP server (tftpd-hpa's in.tftpd) on a loopback port as the
// Ethernet controller's loader, and a plain UDP driver that runs a
// TftpTransfer against it. Header only: users link maintenance_tftp and test_support.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "maintenance/tftp.h"
#include "tests/support/child_process.h"

namespace testsupport {

inline constexpr char kInTftpd[] = "/usr/sbin/in.tftpd";

// in.tftpd in the foreground on 127.0.0.1, serving a fresh folder.
class TftpdHpa {
 public:
  // `extra` are further server options, e.g. {"--create", "--refuse", "blksize"}.
  explicit TftpdHpa(const std::vector<std::string>& extra) {
    if (access(kInTftpd, X_OK) != 0) {
      why_ = std::string(kInTftpd) + " is missing (Debian package tftpd-hpa)";
      return;
    }
    port_ = FreeUdpPort();
    const passwd* pw = getpwuid(geteuid());
    std::vector<std::string> args{"--foreground", "--address", "127.0.0.1:" + std::to_string(port_),
                                  "--secure", "--user", pw ? pw->pw_name : "root"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(dir_.Path());
    server_ = std::make_unique<ChildProcess>(kInTftpd, args, true);
    if (!WaitUdpBound(port_, std::chrono::seconds(3)))
      why_ = "in.tftpd did not start (it needs to switch to the user it runs as)";
  }

  bool Running() const { return why_.empty(); }
  const std::string& Why() const { return why_; }
  uint16_t Port() const { return port_; }
  std::string Stored(const std::string& name) const {
    std::ifstream f(dir_.File(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

 private:
  TempDir dir_;
  uint16_t port_ = 0;
  std::string why_;
  std::unique_ptr<ChildProcess> server_;
};

inline uint64_t SteadyMs() {
  return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count());
}

// Runs the transfer from one loopback socket, as the server's device socket
// would, until it is done or `limit` has passed; true on success.
inline bool RunTftpOverUdp(maintenance::TftpTransfer& t, std::chrono::milliseconds limit) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    if (fd >= 0) close(fd);
    return false;
  }
  auto send = [fd](const std::vector<maintenance::TftpDatagram>& out) {
    for (const maintenance::TftpDatagram& d : out) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(d.port);
      inet_pton(AF_INET, d.address.c_str(), &to.sin_addr);
      sendto(fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
  };
  const uint64_t end = SteadyMs() + uint64_t(limit.count());
  send(t.Start(SteadyMs()));
  while (!t.Done() && SteadyMs() < end) {
    const uint64_t now = SteadyMs();
    const uint64_t due = std::min(t.Deadline().value_or(end), end);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, due > now ? int(due - now) : 0) > 0) {
      uint8_t buf[1024];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n =
          recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      char address[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
      if (n >= 0) send(t.OnDatagram(address, ntohs(from.sin_port), buf, size_t(n), SteadyMs()));
    }
    send(t.OnTime(SteadyMs()));
  }
  close(fd);
  return t.Succeeded();
}

}  // namespace testsupport
