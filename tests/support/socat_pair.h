// A virtual null-modem pair for tests: socat joins two ptys and links them as
// DIR/<a> and DIR/<b>. Needs socat on PATH.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

extern char** environ;

namespace testsupport {

class SocatPair {
 public:
  SocatPair(const std::string& dir, const std::string& a = "CNCB0",
            const std::string& b = "CNCA0")
      : a_(dir + "/" + a), b_(dir + "/" + b) {
    const std::string la = "pty,raw,echo=0,link=" + a_;
    const std::string lb = "pty,raw,echo=0,link=" + b_;
    const char* argv[] = {"socat", la.c_str(), lb.c_str(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    const int rc = posix_spawnp(&pid_, "socat", &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start socat");
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    struct stat st {};
    while (stat(a_.c_str(), &st) != 0 || stat(b_.c_str(), &st) != 0) {
      if (std::chrono::steady_clock::now() > end) throw std::runtime_error("socat pair not ready");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ~SocatPair() { Stop(); }

  SocatPair(const SocatPair&) = delete;
  SocatPair& operator=(const SocatPair&) = delete;

  const std::string& A() const { return a_; }
  const std::string& B() const { return b_; }

  // Ends socat: both ends hang up.
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int st = 0;
    waitpid(pid_, &st, 0);
    pid_ = -1;
  }

 private:
  std::string a_, b_;
  pid_t pid_ = -1;
};

}  // namespace testsupport
