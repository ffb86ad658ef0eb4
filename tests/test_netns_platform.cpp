// ICMP echo, the routing table and the adapter list of the Linux platform
// layer, each run inside network namespaces made for the test: nothing is sent
// or changed outside them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <sstream>
#include <thread>

#include "platform/adapters.h"
#include "platform/icmp_echo.h"
#include "platform/routes.h"
#include "tests/support/netns.h"

namespace platform {

// Routes in failure messages, the way `ip route` writes them.
void PrintTo(const Ipv4Route& r, std::ostream* os) {
  *os << r.destination << "/" << r.prefix;
  if (!r.gateway.empty()) *os << " via " << r.gateway;
  if (!r.device.empty()) *os << " dev " << r.device;
  *os << " metric " << r.metric;
}

void PrintTo(EchoOutcome o, std::ostream* os) {
  static const char* const names[] = {"kReply",     "kNoReply", "kUnresolved",
                                      "kSendFailed", "kNoIcmp",  "kCancelled"};
  *os << names[int(o)];
}

}  // namespace platform

namespace {

using platform::EchoOutcome;
using platform::Ipv4Route;
using testing::HasSubstr;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string Describe(const platform::EchoResult& r) { return "detail \"" + r.detail + "\""; }

// Base of every case here: skipped where namespaces cannot be made.
class NetNsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!testsupport::NetNamespacesUsable(&why)) GTEST_SKIP() << why;
  }
};

// ---------------------------------------------------------------- ICMP echo

// The pinging namespace: 192.0.2.1 on its lo, and a veth link
// 198.51.100.1 - 198.51.100.2 to a peer namespace. 192.0.2.200 has no route.
class NetNsEcho : public NetNsTest {
 protected:
  void SetUp() override {
    NetNsTest::SetUp();
    if (IsSkipped()) return;
    self_ = std::make_unique<testsupport::NetNamespace>();
    peer_ = std::make_unique<testsupport::NetNamespace>();
    ASSERT_TRUE(self_->Run("addr add 192.0.2.1/32 dev lo"));
    ASSERT_TRUE(testsupport::LinkVeth(*self_, "h0", "198.51.100.1/24", *peer_, "p0",
                                      "198.51.100.2/24"));
  }
  void TearDown() override { in_.reset(); }

  void AllowPingSockets() {
    ASSERT_TRUE(self_->Exec("sysctl -qw net.ipv4.ping_group_range='0 2147483647'"));
  }
  void Enter() { in_ = std::make_unique<testsupport::EnterNetNamespace>(*self_); }

  // Echo requests the peer has taken in so far.
  long PeerInEchos() {
    testsupport::EnterNetNamespace in(*peer_);
    std::ifstream snmp("/proc/thread-self/net/snmp");
    std::string names, values;
    while (std::getline(snmp, names) && std::getline(snmp, values)) {
      if (names.rfind("Icmp:", 0) != 0) continue;
      std::istringstream n(names), v(values);
      std::string name, value;
      while (n >> name && v >> value)
        if (name == "InEchos") return std::stol(value);
    }
    return -1;
  }

  std::unique_ptr<testsupport::NetNamespace> self_, peer_;
  std::unique_ptr<testsupport::EnterNetNamespace> in_;
};

// Both ways of sending: ping sockets admitted by ping_group_range, and the raw
// socket that root falls back to under a fresh namespace's "1 0".
class NetNsEchoSockets : public NetNsEcho, public testing::WithParamInterface<bool> {};

TEST_P(NetNsEchoSockets, RepliesCountOnlyFromTheProbedHost) {
  const bool pingSockets = GetParam();
  if (pingSockets) AllowPingSockets();
  Enter();

  struct Case {
    const char* host;
    std::chrono::milliseconds timeout;
    EchoOutcome outcome;
  };
  const Case cases[] = {
      {"192.0.2.1", 2s, EchoOutcome::kReply},            // own address on lo
      {"198.51.100.2", 2s, EchoOutcome::kReply},         // the veth peer
      {"localhost", 2s, EchoOutcome::kReply},            // a name, from /etc/hosts
      {"198.51.100.77", 300ms, EchoOutcome::kNoReply},   // on the link, nobody holds it
      {"192.0.2.200", 300ms, EchoOutcome::kSendFailed},  // no route
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.host);
    const platform::EchoResult r = platform::PingOnce(c.host, c.timeout, {});
    EXPECT_EQ(r.outcome, c.outcome) << Describe(r);
    EXPECT_EQ(r.rawSocket, !pingSockets);
    if (c.outcome != EchoOutcome::kReply) {
      EXPECT_FALSE(r.detail.empty());
    }
  }

  // Our own request looped back on lo is no reply.
  ASSERT_TRUE(self_->Exec("sysctl -qw net.ipv4.icmp_echo_ignore_all=1"));
  const platform::EchoResult ignored = platform::PingOnce("192.0.2.1", 300ms, {});
  EXPECT_EQ(ignored.outcome, EchoOutcome::kNoReply) << Describe(ignored);
}

TEST_P(NetNsEchoSockets, SendEchoSendsWithoutWaiting) {
  if (GetParam()) AllowPingSockets();
  Enter();
  const long before = PeerInEchos();
  const platform::EchoResult sent = platform::SendEcho("198.51.100.2");
  EXPECT_EQ(sent.outcome, EchoOutcome::kReply) << Describe(sent);
  // The request is on the wire by now; give the peer's counter a moment.
  const auto end = Clock::now() + 2s;
  while (PeerInEchos() == before && Clock::now() < end) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(PeerInEchos(), before + 1);

  const platform::EchoResult noRoute = platform::SendEcho("192.0.2.200");
  EXPECT_EQ(noRoute.outcome, EchoOutcome::kSendFailed) << Describe(noRoute);
  EXPECT_FALSE(noRoute.detail.empty());
  EXPECT_EQ(platform::SendEcho("localhost").outcome, EchoOutcome::kUnresolved);
}

INSTANTIATE_TEST_SUITE_P(Sockets, NetNsEchoSockets, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& p) {
                           return p.param ? std::string("Ping") : std::string("Raw");
                         });

TEST_F(NetNsEcho, StopEndsTheWaitAtOnce) {
  Enter();
  std::stop_source stop;
  platform::EchoResult result;
  std::thread waiter([&] { result = platform::PingOnce("198.51.100.77", 5s, stop.get_token()); });
  std::this_thread::sleep_for(300ms);
  const auto stopped = Clock::now();
  stop.request_stop();
  waiter.join();
  EXPECT_LT(Clock::now() - stopped, 100ms);
  EXPECT_EQ(result.outcome, EchoOutcome::kCancelled) << Describe(result);

  // A stop that came first sends nothing.
  const auto start = Clock::now();
  EXPECT_EQ(platform::PingOnce("198.51.100.2", 5s, stop.get_token()).outcome,
            EchoOutcome::kCancelled);
  EXPECT_LT(Clock::now() - start, 100ms);
}

TEST_F(NetNsEcho, NoIcmpWhenBothSocketsAreRefused) {
  Enter();
  // A child without CAP_NET_RAW, in a namespace whose ping_group_range admits
  // no group, can open neither socket.
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(pipeFds[0]);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0) ::_exit(2);
    data[0].effective &= ~(1u << CAP_NET_RAW);
    if (::syscall(SYS_capset, &header, data) != 0) ::_exit(2);
    const platform::EchoResult r = platform::PingOnce("192.0.2.1", 1s, {});
    const std::string text = std::to_string(int(r.outcome)) + " " + r.detail;
    [[maybe_unused]] const ssize_t w = ::write(pipeFds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buf[512];
  ssize_t n;
  while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0) text.append(buf, size_t(n));
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "capabilities not dropped";
  EXPECT_EQ(text.substr(0, text.find(' ')), std::to_string(int(EchoOutcome::kNoIcmp))) << text;
  EXPECT_THAT(text, HasSubstr(std::strerror(EACCES)));  // the ping socket's refusal
  EXPECT_THAT(text, HasSubstr(std::strerror(EPERM)));   // the raw socket's refusal
}

// ------------------------------------------------------------------ routes

// A router namespace with two providers' links: ra 198.51.100.1/24 with
// gateway A 198.51.100.254, rb 203.0.113.1/24 with gateway B 203.0.113.254.
// The test thread is inside the router.
class NetNsRoutes : public NetNsTest {
 protected:
  static constexpr const char* kGatewayA = "198.51.100.254";
  static constexpr const char* kGatewayB = "203.0.113.254";

  void SetUp() override {
    NetNsTest::SetUp();
    if (IsSkipped()) return;
    router_ = std::make_unique<testsupport::NetNamespace>();
    providers_ = std::make_unique<testsupport::NetNamespace>();
    ASSERT_TRUE(testsupport::LinkVeth(*router_, "ra", "198.51.100.1/24", *providers_, "pa",
                                      "198.51.100.254/24"));
    ASSERT_TRUE(testsupport::LinkVeth(*router_, "rb", "203.0.113.1/24", *providers_, "pb",
                                      "203.0.113.254/24"));
    in_ = std::make_unique<testsupport::EnterNetNamespace>(*router_);
  }
  void TearDown() override { in_.reset(); }

  std::vector<Ipv4Route> Routes() {
    std::vector<Ipv4Route> routes;
    std::string error;
    EXPECT_TRUE(table_.List(&routes, &error)) << error;
    return routes;
  }
  std::vector<Ipv4Route> RoutesTo(const std::string& destination, int prefix) {
    std::vector<Ipv4Route> found;
    for (const Ipv4Route& r : Routes())
      if (r.destination == destination && r.prefix == prefix) found.push_back(r);
    return found;
  }
  void Replace(const Ipv4Route& route) {
    std::string error;
    ASSERT_TRUE(table_.Replace(route, &error)) << error;
  }

  static Ipv4Route Default(const std::string& gateway, uint32_t metric) {
    return {"0.0.0.0", 0, gateway, "", metric};
  }
  // The route as the kernel lists it, with the device it chose.
  static Ipv4Route Listed(Ipv4Route r, const std::string& device) {
    r.device = device;
    return r;
  }

  platform::NetlinkRouteTable table_;
  std::unique_ptr<testsupport::NetNamespace> router_, providers_;
  std::unique_ptr<testsupport::EnterNetNamespace> in_;
};

TEST_F(NetNsRoutes, DefaultRouteIsReplacedThenDeleted) {
  Replace(Default(kGatewayA, 1));
  EXPECT_EQ(RoutesTo("0.0.0.0", 0), std::vector{Listed(Default(kGatewayA, 1), "ra")});

  Replace(Default(kGatewayB, 1));
  EXPECT_EQ(RoutesTo("0.0.0.0", 0), std::vector{Listed(Default(kGatewayB, 1), "rb")});
  // Seen by ip as well, as a static route.
  EXPECT_THAT(router_->Output("route show default"),
              HasSubstr("default via 203.0.113.254 dev rb proto static metric 1"));

  std::string error;
  EXPECT_TRUE(table_.Delete(Default(kGatewayB, 1), &error)) << error;
  EXPECT_TRUE(RoutesTo("0.0.0.0", 0).empty());
  EXPECT_EQ(router_->Output("route show default"), "");
}

TEST_F(NetNsRoutes, RefusedRequestsLeaveTheTableAlone) {
  Replace(Default(kGatewayA, 1));
  const std::vector<Ipv4Route> before = Routes();
  const std::string ipBefore = router_->Output("route show table all");

  struct Case {
    const char* what;
    bool replace;
    Ipv4Route route;
  };
  const Case cases[] = {
      {"delete of a missing route", false, Default(kGatewayB, 1)},
      {"delete with another metric", false, Default(kGatewayA, 2)},
      {"delete with metric 0, which the kernel takes for any", false, Default(kGatewayA, 0)},
      {"delete without the gateway, which the kernel takes for any", false, Default("", 1)},
      {"replace via an unreachable gateway", true, Default("192.0.2.99", 1)},
      {"replace on an unknown device", true, {"0.0.0.0", 0, kGatewayA, "nosuch0", 1}},
      {"replace with a malformed destination", true, {"10.64.64", 24, kGatewayA, "", 1}},
      {"replace with host bits beyond the prefix", true, {"10.64.64.1", 24, kGatewayA, "", 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    const bool done = c.replace ? table_.Replace(c.route, &error) : table_.Delete(c.route, &error);
    EXPECT_FALSE(done);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Routes(), before);
    EXPECT_EQ(router_->Output("route show table all"), ipBefore);
  }
}

TEST_F(NetNsRoutes, ReplaceKeepsOneRoutePerDestinationAndMetric) {
  const Ipv4Route viaA{"10.64.64.0", 24, kGatewayA, "", 5};
  Replace(viaA);
  Replace(viaA);
  EXPECT_EQ(RoutesTo("10.64.64.0", 24), std::vector{Listed(viaA, "ra")});

  const Ipv4Route viaB{"10.64.64.0", 24, kGatewayB, "rb", 5};
  Replace(viaB);
  EXPECT_EQ(RoutesTo("10.64.64.0", 24), std::vector{viaB});

  // Another metric is another route.
  const Ipv4Route backup{"10.64.64.0", 24, kGatewayA, "ra", 6};
  Replace(backup);
  EXPECT_EQ(RoutesTo("10.64.64.0", 24), (std::vector{viaB, backup}));
}

TEST_F(NetNsRoutes, ListShowsUnicastRoutesOfTheMainTableOnly) {
  ASSERT_TRUE(router_->Run("route add blackhole 10.9.9.0/24"));
  ASSERT_TRUE(router_->Run("route add 10.8.8.0/24 via 198.51.100.254 table 100"));
  Replace({"10.7.7.0", 24, kGatewayB, "", 3});
  const std::vector<Ipv4Route> expected = {
      {"10.7.7.0", 24, kGatewayB, "rb", 3},
      {"198.51.100.0", 24, "", "ra", 0},  // the links' own subnets
      {"203.0.113.0", 24, "", "rb", 0},
  };
  EXPECT_EQ(Routes(), expected);
}

TEST_F(NetNsRoutes, AdaptersShowTheGatewayOfTheirRoutes) {
  ASSERT_TRUE(router_->Run("addr add 192.0.2.7/24 dev ra"));
  // An adapter that is down is not offered.
  ASSERT_TRUE(testsupport::LinkVeth(*router_, "rc", "192.0.2.77/28", *providers_, "pc", ""));
  ASSERT_TRUE(router_->Run("link set rc down"));
  Replace(Default(kGatewayA, 1));

  std::vector<platform::AdapterAddress> adapters;
  std::string error;
  ASSERT_TRUE(platform::ListAdapters(&adapters, &error)) << error;
  std::vector<std::string> seen;
  for (const platform::AdapterAddress& a : adapters)
    seen.push_back(a.adapter + " " + a.address + " " + a.gateway);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "lo 127.0.0.1 127.0.0.1",
                      "ra 198.51.100.1 198.51.100.254",
                      "ra 192.0.2.7 198.51.100.254",
                      "rb 203.0.113.1 203.0.113.1",  // no gateway: its own address
                  }));
}

}  // namespace
