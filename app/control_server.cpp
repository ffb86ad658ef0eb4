#include "app/control_server.h"

#include <cerrno>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace app {

namespace {
constexpr size_t kReadChunk = 16 * 1024;
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
    c->idleSince = std::chrono::steady_clock::now();
    clients_.push_back(std::move(c));
  }
}

bool ControlServer::Read(Client& c) {
  char buf[kReadChunk];
  for (;;) {
    const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
    if (n > 0) {
        c.in.append(buf, size_t(n));
      // A line longer than the limit is never read whole.
      const size_t end = c.in.find('\n');
      if ((end == std::string::npos ? c.in.size() : end) > limits_.maxLine) {
        c.in.clear();
        c.overlong = true;
        c.out += ErrorAnswer("строка запроса длиннее " + std::to_string(limits_.maxLine) +
                                 " байт",
                             true);
        c.closing = true;
        return true;
      }
      continue;
    }
    if (n == 0) {
      // The peer sends no more: what it asked is answered, but nobody is
      // left to take a stream or a wait.
      c.closing = true;
      return !c.job;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  }
}

void ControlServer::Serve(Client& c) {
  if (c.job) {
    if (!c.job->Continue(c.out)) {
      c.job.reset();
      c.idleSince = std::chrono::steady_clock::now();
    }
    return;
  }
  for (size_t end; !c.job && (end = c.in.find('\n')) != std::string::npos;) {
    std::string line = c.in.substr(0, end);
    c.in.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    c.job = handler_.Handle(line, c.out);
    c.idleSince = std::chrono::steady_clock::now();
  }
}

bool ControlServer::Write(Client& c) {
  while (!c.out.empty()) {
    const ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.out.erase(0, size_t(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
    return false;
  }
  return c.out.size() <= limits_.maxUnsent;
}

void ControlServer::Poll() {
  if (listenFd_ < 0) return;
  std::vector<pollfd> fds;
  fds.push_back({listenFd_, POLLIN, 0});
  for (auto& c : clients_) fds.push_back({c->fd, short(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
  bool jobs = false;
  for (auto& c : clients_) jobs = jobs || c->job || c->in.find('\n') != std::string::npos;
  // Nothing ready and no job to go on with: one system call is the whole cost.
  if (::poll(fds.data(), fds.size(), 0) <= 0 && !jobs && clients_.empty()) return;

  if (fds[0].revents & POLLIN) Accept();
  const auto now = std::chrono::steady_clock::now();
  for (size_t i = 0; i < clients_.size();) {
    Client& c = *clients_[i];
    bool keep = true;
    if (!c.overlong) keep = Read(c);
    if (keep) Serve(c);
    if (keep) keep = Write(c);
    if (keep && c.closing && !c.overlong && c.job) keep = false;  // nobody left to take it
    if (keep && c.closing && !c.job && c.out.empty()) keep = false;
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
