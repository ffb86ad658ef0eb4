#include "tests/support/netns.h"

#include <fcntl.h>
#include <signal.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace testsupport {

namespace {

std::atomic<int> nextNamespace{0};

// `text` as one shell word.
std::string Quoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

bool Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Deletes the namespaces of test processes that were killed before they could.
void RemoveLeftovers() {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator("/run/netns", ec)) {
    const std::string name = entry.path().filename().string();
    unsigned long pid = 0;
    char dash = 0;
    if (std::sscanf(name.c_str(), "relay-%lu%c", &pid, &dash) != 2 || dash != '-') continue;
    if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH) Shell("ip netns del " + name);
  }
}

}  // namespace

bool NetNamespacesUsable(std::string* reason) {
  static std::once_flag once;
  static bool usable = false;
  static std::string why;
  std::call_once(once, [] {
    if (::geteuid() != 0) {
      why = "network namespaces need root";
      return;
    }
    RemoveLeftovers();
    const std::string probe = "relay-" + std::to_string(::getpid()) + "-probe";
    if (!Shell("ip netns add " + probe + " >/dev/null 2>&1")) {
      why = "`ip netns add` does not work here";
      return;
    }
    usable = Shell("ip netns del " + probe);
    if (!usable) why = "`ip netns del` does not work here";
  });
  if (!usable && reason != nullptr) *reason = why;
  return usable;
}

NetNamespace::NetNamespace()
    : name_("relay-" + std::to_string(::getpid()) + "-" + std::to_string(nextNamespace++)) {
  if (!Shell("ip netns add " + name_)) throw std::runtime_error("cannot add namespace " + name_);
  if (!Run("link set lo up")) {
    Shell("ip netns del " + name_);
    throw std::runtime_error("cannot bring lo up in " + name_);
  }
}

NetNamespace::~NetNamespace() { Shell("ip netns del " + name_); }

bool NetNamespace::Run(const std::string& args) const {
  return Shell("ip -n " + name_ + " " + args);
}

std::string NetNamespace::Output(const std::string& args) const {
  FILE* pipe = ::popen(("ip -n " + name_ + " " + args).c_str(), "r");
  if (pipe == nullptr) return {};
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  const int status = ::pclose(pipe);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : std::string();
}

bool NetNamespace::Exec(const std::string& command) const {
  return Shell("ip netns exec " + name_ + " sh -c " + Quoted(command));
}

bool LinkVeth(const NetNamespace& a, const std::string& nameA, const std::string& addressA,
              const NetNamespace& b, const std::string& nameB, const std::string& addressB) {
  // Made inside `a` with the peer sent straight to `b`: it never appears in
  // the namespace the tests run from.
  if (!a.Run("link add " + nameA + " type veth peer name " + nameB + " netns " + b.Name()))
    return false;
  if (!addressA.empty() && !a.Run("addr add " + addressA + " dev " + nameA)) return false;
  if (!addressB.empty() && !b.Run("addr add " + addressB + " dev " + nameB)) return false;
  return a.Run("link set " + nameA + " up") && b.Run("link set " + nameB + " up");
}

EnterNetNamespace::EnterNetNamespace(const NetNamespace& ns) {
  // The calling thread's own namespace, not the process's.
  original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (original_ < 0) throw std::runtime_error(std::string("own namespace: ") + std::strerror(errno));
  const int target = ::open(("/run/netns/" + ns.Name()).c_str(), O_RDONLY | O_CLOEXEC);
  if (target < 0 || ::setns(target, CLONE_NEWNET) != 0) {
    const std::string why = std::strerror(errno);
    if (target >= 0) ::close(target);
    ::close(original_);
    throw std::runtime_error("cannot enter " + ns.Name() + ": " + why);
  }
  ::close(target);
}

EnterNetNamespace::~EnterNetNamespace() {
  // Failing to return would leave the rest of the tests in a dead namespace.
  if (::setns(original_, CLONE_NEWNET) != 0) std::abort();
  ::close(original_);
}

}  // namespace testsupport
