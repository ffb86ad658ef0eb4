#include "app/control_server.h"

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace app {

namespace {
constexpr size_t kReadChunk = 16 * 1024;
// How often a running job is given its next pass while the front end waits.
constexpr int kJobPassMs = 20;
}  // namespace

std::string ErrorAnswer(std::string_view why, bool usage) {
  nlohmann::json a = {{"ok", false}, {"error", why}};
  if (usage) a["usage"] = true;
  return a.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

ControlServer::ControlServer(ControlHandler& handler) : ControlServer(handler, Limits{}) {}

ControlServer::ControlServer(ControlHandler& handler, Limits limits)
    : handler_(handler), limits_(limits) {}

ControlServer::~ControlServer() { Close(); }

platform::ListenResult ControlServer::Open(const std::string& path, std::string* error) {
  Close();
  const auto r = platform::ListenUnix(path, &listenFd_, error);
  if (r == platform::ListenResult::kListening) path_ = path;
  return r;
}

void ControlServer::Close() {
  for (auto& c : clients_) ::close(c->fd);
  clients_.clear();
  if (listenFd_ < 0) return;
  ::close(listenFd_);
  listenFd_ = -1;
  ::unlink(path_.c_str());
}

void ControlServer::Refuse(int fd, const std::string& why) {
  const std::string a = ErrorAnswer(why, false);
  // A fresh socket's buffer takes a short answer whole; if not, the peer gets less.
  [[maybe_unused]] const ssize_t n = ::send(fd, a.data(), a.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::close(fd);
}

void ControlServer::Accept() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // none waiting, or out of descriptors: tried again next time
    uid_t uid;
    pid_t pid;
    if (!platform::PeerCredentials(fd, &uid, &pid) || (uid != ::geteuid() && uid != 0)) {
      Refuse(fd, kForeignPeer);
      continue;
    }
    if (clients_.size() >= limits_.maxClients) {
      Refuse(fd, "слишком много подключений к серверу, повторите позже");
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    c->idleSince = c->writeSince = std::chrono::steady_clock::now();
    clients_.push_back(std::move(c));
  }
}

bool ControlServer::Read(Client& c) {
  char buf[kReadChunk];
  // Nothing more is taken while a whole request waits: a client that sends
  // faster than it is served is held back by its own socket.
  while (!c.peerDone && c.in.find('\n') == std::string::npos) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n > 0) {
      c.in.append(buf, size_t(n));
      // A line longer than the limit is never read whole.
      const size_t end = c.in.find('\n');
      if ((end == std::string::npos ? c.in.size() : end) > limits_.maxLine) {
        c.in.clear();
        c.overlong = true;
        c.peerDone = true;
        c.out += ErrorAnswer("строка запроса длиннее " + std::to_string(limits_.maxLine) +
                                 " байт",
                             true);
      }
      continue;
    }
    if (n == 0) {
      c.peerDone = true;  // it may still read what it asked for
      break;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  }
  return true;
}

void ControlServer::Serve(Client& c) {
  if (c.job) {
    if (!c.job->Continue(c.out)) {
      c.job.reset();
      c.idleSince = std::chrono::steady_clock::now();
    }
    return;
  }
  // One request per client and pass, and none while its answers pile up.
  while (!c.overlong && c.out.size() < limits_.maxUnsent) {
    const size_t end = c.in.find('\n');
    if (end == std::string::npos) return;
    std::string line = c.in.substr(0, end);
    c.in.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    c.job = handler_.Handle(line, c.out);
    c.idleSince = std::chrono::steady_clock::now();
    return;
  }
}

bool ControlServer::Write(Client& c, std::chrono::steady_clock::time_point now) {
  if (c.out.empty()) c.writeSince = now;
  while (!c.out.empty()) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.erase(0, size_t(n));
      c.writeSince = now;
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    return false;
  }
  // A reader that takes nothing for a while, or lets a stream run away, is dropped.
  return c.out.size() <= limits_.maxUnsent && now - c.writeSince <= limits_.silence;
}

bool ControlServer::Ready(const Client& c) const {
  return c.job || (c.in.find('\n') != std::string::npos && c.out.size() < limits_.maxUnsent);
}

void ControlServer::Wait(int ms) {
  std::vector<pollfd> fds;
  if (listenFd_ >= 0) fds.push_back({listenFd_, POLLIN, 0});
  for (auto& c : clients_) {
    if (c->job) ms = std::min(ms, kJobPassMs);  // a stream or a wait goes on meanwhile
    if (Ready(*c) && !c->job) ms = 0;           // a request is waiting already
    fds.push_back({c->fd, Events(*c), 0});
  }
  ::poll(fds.data(), fds.size(), ms);
}

short ControlServer::Events(const Client& c) const {
  const bool reading = !c.peerDone && c.in.find('\n') == std::string::npos;
  return short((reading ? POLLIN : 0) | (c.out.empty() ? 0 : POLLOUT));
}

void ControlServer::Poll() {
  if (listenFd_ < 0) return;
  std::vector<pollfd> fds;
  fds.push_back({listenFd_, POLLIN, 0});
  bool ready = false;
  for (auto& c : clients_) {
    fds.push_back({c->fd, Events(*c), 0});
    ready = ready || Ready(*c);
  }
  // Nothing ready and nothing under way: one system call is the whole cost.
  if (::poll(fds.data(), fds.size(), 0) <= 0 && !ready && clients_.empty()) return;

  const size_t polled = clients_.size();
  if (fds[0].revents & POLLIN) Accept();
  const auto now = std::chrono::steady_clock::now();
  for (size_t i = 0, k = 0; i < clients_.size(); ++k) {
    Client& c = *clients_[i];
    // Hung up (not only done sending): nobody is left to take an answer.
    bool keep = !(k < polled && (fds[k + 1].revents & (POLLHUP | POLLERR)));
    if (keep) keep = Read(c);
    if (keep) Serve(c);
    if (keep) keep = Write(c, now);
    if (keep && c.peerDone && !c.job && c.out.empty() && !Ready(c)) keep = false;
    // A request begun and never ended counts as silence too.
    const bool idle = !c.job && c.out.empty();
    if (keep && idle && now - c.idleSince > limits_.silence) keep = false;
    if (keep) {
      ++i;
      continue;
    }
    ::close(c.fd);
    clients_.erase(clients_.begin() + long(i));
  }
}

}  // namespace app
