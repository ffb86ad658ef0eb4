// Network namespaces for tests that change routes and addresses or send ICMP:
// everything they do stays inside namespaces made here and gone afterwards.
// Needs root and a working `ip netns`; check NetNamespacesUsable first.
//
// Typical use:
//   std::string why;
//   if (!testsupport::NetNamespacesUsable(&why)) GTEST_SKIP() << why;
//   testsupport::NetNamespace router, provider;
//   testsupport::LinkVeth(router, "eth1", "198.51.100.1/24", provider, "p1", "198.51.100.254/24");
//   router.Run("route add 10.64.64.0/24 via 198.51.100.254");       // ip -n NAME route add ...
//   router.Exec("sysctl -qw net.ipv4.ping_group_range='0 2147483647'");
//   { testsupport::EnterNetNamespace in(router); /* this thread's sockets are in router */ }
//   ChildProcess server("/usr/sbin/ip", {"netns", "exec", router.Name(), prog, ...});
#pragma once

#include <string>

namespace testsupport {

// True when this process can make network namespaces (it runs as root and
// `ip netns add` works); otherwise false with the reason, for GTEST_SKIP.
// The answer is found once and then remembered. The first call also deletes
// the namespaces left by test processes that were killed.
bool NetNamespacesUsable(std::string* reason);

// A network namespace named "relay-<pid>-<n>", with `lo` up, deleted with
// everything in it (veth ends included) when the object goes.
class NetNamespace {
 public:
  // Throws std::runtime_error when the namespace cannot be made.
  NetNamespace();
  ~NetNamespace();
  NetNamespace(const NetNamespace&) = delete;
  NetNamespace& operator=(const NetNamespace&) = delete;

  // The name for `ip -n NAME` and `ip netns exec NAME`.
  const std::string& Name() const { return name_; }

  // Runs `ip -n NAME <args>` through the shell; true when it exits with 0.
  // Its error output passes through to the test's output.
  bool Run(const std::string& args) const;
  // The standard output of `ip -n NAME <args>`, empty when it fails.
  std::string Output(const std::string& args) const;
  // Runs the shell command line `command` inside the namespace
  // (`ip netns exec NAME sh -c <command>`); true when it exits with 0.
  bool Exec(const std::string& command) const;

 private:
  std::string name_;
};

// Makes a veth pair: `nameA` in `a` with `addressA`, `nameB` in `b` with
// `addressB` (addresses with a prefix, "198.51.100.1/24"; empty gives none),
// both ends up. `a` and `b` may be the same namespace. True when every step worked.
bool LinkVeth(const NetNamespace& a, const std::string& nameA, const std::string& addressA,
              const NetNamespace& b, const std::string& nameB, const std::string& addressB);

// Moves the calling thread (only it) into `ns` while the object lives and back
// to the namespace it was in on destruction. Sockets the thread opens meanwhile
// belong to `ns`; threads it starts meanwhile start in `ns`. Throws
// std::runtime_error when the move fails.
class EnterNetNamespace {
 public:
  explicit EnterNetNamespace(const NetNamespace& ns);
  ~EnterNetNamespace();
  EnterNetNamespace(const EnterNetNamespace&) = delete;
  EnterNetNamespace& operator=(const EnterNetNamespace&) = delete;

 private:
  int original_ = -1;
};

}  // namespace testsupport
