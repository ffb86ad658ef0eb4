#include "tests/support/child_process.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <netinet/in.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

extern char** environ;

namespace testsupport {

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           bool withStderr) {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  // No child reads a terminal: a question it would ask there is refused instead.
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
  if (withStderr) posix_spawn_file_actions_adddup2(&fa, fds[1], 2);
  posix_spawn_file_actions_addclose(&fa, fds[0]);
  posix_spawn_file_actions_addclose(&fa, fds[1]);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, path.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    throw std::runtime_error("cannot start " + path);
  }
  reader_ = std::thread([this, fd = fds[0]] { Reader(fd); });
}

ChildProcess::~ChildProcess() {
  if (!reaped_) Terminate(std::chrono::seconds(5));
  if (reader_.joinable()) reader_.join();
}

void ChildProcess::Reader(int fd) {
  std::string partial;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) break;
    partial.append(buf, size_t(n));
    size_t nl;
    while ((nl = partial.find('\n')) != std::string::npos) {
      {
        std::lock_guard<std::mutex> g(m_);
        lines_.push_back(partial.substr(0, nl));
      }
      cv_.notify_all();
      partial.erase(0, nl + 1);
    }
  }
  close(fd);
}

std::string ChildProcess::WaitForLine(const std::string& text, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> g(m_);
  std::string found;
  cv_.wait_for(g, timeout, [&] {
    for (const std::string& l : lines_)
      if (l.find(text) != std::string::npos) {
        found = l;
        return true;
      }
    return false;
  });
  return found;
}

std::vector<std::string> ChildProcess::Lines() {
  std::lock_guard<std::mutex> g(m_);
  return lines_;
}

size_t ChildProcess::Count(const std::string& text) {
  std::lock_guard<std::mutex> g(m_);
  size_t n = 0;
  for (const std::string& l : lines_) n += l.find(text) != std::string::npos;
  return n;
}

int ChildProcess::Reap(std::chrono::milliseconds timeout) {
  if (reaped_) return status_;
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int st = 0;
    const pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      return status_;
    }
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const int st = Reap(timeout);
  if (st >= 0 && reader_.joinable()) reader_.join();
  return st;
}

int ChildProcess::Terminate(std::chrono::milliseconds timeout) {
  if (!reaped_) {
    kill(pid_, SIGTERM);
    if (Reap(timeout) < 0) {
      kill(pid_, SIGKILL);
      Reap(std::chrono::seconds(5));
    }
  }
  if (reader_.joinable()) reader_.join();
  return status_;
}

namespace {

// Binds a UDP socket to 127.0.0.1:port (0: any); returns the socket or -1.
int BindUdp(unsigned short port, unsigned short* bound = nullptr) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  if (bound) *bound = ntohs(a.sin_port);
  return s;
}

}  // namespace

unsigned short FreeUdpPort() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    unsigned short port = 0;
    const int s = BindUdp(0, &port);
    const int next = port < 65535 ? BindUdp(port + 1) : -1;
    close(s);
    if (next >= 0) {
      close(next);
      return port;
    }
  }
  throw std::runtime_error("no free UDP port pair");
}

bool WaitUdpBound(unsigned short port, std::chrono::milliseconds timeout) {
  // The kernel's socket table, read without touching the port itself.
  char want[8];
  std::snprintf(want, sizeof want, ":%04X", port);
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream f("/proc/net/udp");
    std::string line;
    std::getline(f, line);
    while (std::getline(f, line)) {
      std::istringstream in(line);
      std::string slot, local;
      in >> slot >> local;
      if (local.size() > 5 && local.compare(local.size() - 5, 5, want) == 0) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/relay-test-XXXXXX";
  if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

}  // namespace testsupport
