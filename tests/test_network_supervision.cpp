// Network supervision without a network: the debouncing of the internet
// check and its thread, interface management, the route plans and their
// ordered execution, the apply with its retry, the GSM keep-alive and the
// quick rebind, over fake servers, a fake routing table and a fake echo.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "console/message_sink.h"
#include "netsup/inet_check.h"
#include "netsup/interface_management.h"
#include "netsup/network_supervision.h"
#include "netsup/route_plan.h"
#include "platform/clock.h"

namespace {

using namespace std::chrono_literals;
using netsup::InetDebouncer;
using netsup::InetState;
using netsup::RouteOp;

// ---- debouncing -------------------------------------------------------------

struct DebounceCase {
  const char* name;
  const char* probes;  // 'S' success, 'F' failure
  const char* events;  // '+' came online, '-' went offline, in order
  InetState state;
};

class Debounce : public testing::TestWithParam<DebounceCase> {};

TEST_P(Debounce, RaisesEachChangeOnce) {
  const DebounceCase& c = GetParam();
  InetDebouncer d;
  std::string events;
  for (const char* p = c.probes; *p; ++p) {
    const auto e = d.Probe(*p == 'S');
    if (e == InetDebouncer::Event::kCameOnline) events += '+';
    if (e == InetDebouncer::Event::kWentOffline) events += '-';
  }
  EXPECT_EQ(events, c.events);
  EXPECT_EQ(d.State(), c.state);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Debounce,
    testing::Values(DebounceCase{"NoProbeYet", "", "", InetState::kUndecided},
                    DebounceCase{"DownFromTheStart", "FFFFFFFFFF", "-", InetState::kOffline},
                    DebounceCase{"UpFromTheStart", "SSS", "+", InetState::kOnline},
                    DebounceCase{"OneLostReplyChangesNothing", "SFS", "+", InetState::kOnline},
                    DebounceCase{"SixFailuresAreNotEnough", "SFFFFFF", "+", InetState::kOnline},
                    DebounceCase{"SevenFailuresGoOffline", "SFFFFFFF", "+-", InetState::kOffline},
                    DebounceCase{"TwoSuccessesAfterOfflineAreNotEnough", "FSS", "-",
                                 InetState::kOffline},
                    DebounceCase{"TheThirdSuccessGoesOnline", "FSSS", "-+", InetState::kOnline},
                    DebounceCase{"AFailureRestartsTheCount", "FSSFSS", "-", InetState::kOffline}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the checking thread ------------------------------------------------------

// A probe whose results the test sets; it counts its calls and can hang until stopped.
struct ScriptedProbe {
  std::mutex m;
  std::condition_variable cv;
  netsup::ProbeResult next = netsup::ProbeResult::kSuccess;
  bool hang = false;  // until the thread ends
  bool held = false;  // until the test lets go
  int calls = 0;

  netsup::InetProbe Fn() {
    return [this](std::stop_token stop, std::string* detail) {
      std::unique_lock<std::mutex> lock(m);
      ++calls;
      cv.notify_all();
      if (hang) {
        std::condition_variable_any any;
        any.wait(lock, stop, [] { return false; });
        return netsup::ProbeResult::kCancelled;
      }
      cv.wait(lock, [this] { return !held; });
      *detail = "ping: нет прав";
      return next;
    };
  }
  void LetGo() {
    std::lock_guard<std::mutex> g(m);
    held = false;
    cv.notify_all();
  }
  bool WaitCalls(int n, std::chrono::milliseconds timeout = 2s) {
    std::unique_lock<std::mutex> lock(m);
    return cv.wait_for(lock, timeout, [&] { return calls >= n; });
  }
  int Calls() {
    std::lock_guard<std::mutex> g(m);
    return calls;
  }
};

struct Recorded {
  std::mutex m;
  std::vector<InetState> states;
  std::vector<std::string> messages;
  netsup::InetReports Reports() {
    netsup::InetReports r;
    r.onChange = [this](InetState s, InetDebouncer::Event) {
      std::lock_guard<std::mutex> g(m);
      states.push_back(s);
    };
    r.message = [this](const std::string& text) {
      std::lock_guard<std::mutex> g(m);
      messages.push_back(text);
    };
    return r;
  }
};

TEST(InetThread, ProbesOnlyWhileEnabledAndAtOnceOnEnable) {
  ScriptedProbe probe;
  Recorded rec;
  // A period far longer than the test: every probe seen is one of an Enable.
  netsup::TCheckInetThread check(probe.Fn(), rec.Reports(), 60s);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(probe.Calls(), 0) << "the thread starts disabled";
  check.SetEnabled(true);
  ASSERT_TRUE(probe.WaitCalls(1));
  check.SetEnabled(false);
  check.SetEnabled(true);
  ASSERT_TRUE(probe.WaitCalls(2)) << "switching off and on probes without waiting for the period";
  check.SetEnabled(true);  // the same state again changes nothing
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(probe.Calls(), 2);
  EXPECT_EQ(check.State(), InetState::kOnline);
}

TEST(InetThread, ProbesEveryPeriodAndStopsWhenDisabled) {
  ScriptedProbe probe;
  Recorded rec;
  netsup::TCheckInetThread check(probe.Fn(), rec.Reports(), 10ms);
  check.Enable();
  ASSERT_TRUE(probe.WaitCalls(5));
  check.Disable();
  std::this_thread::sleep_for(30ms);  // a probe under way may still finish
  const int stopped = probe.Calls();
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(probe.Calls(), stopped);
}

TEST(InetThread, WithoutIcmpTheStateIsUnknownAndSaidOnce) {
  ScriptedProbe probe;
  Recorded rec;
  netsup::TCheckInetThread check(probe.Fn(), rec.Reports(), 5ms);
  check.Enable();
  ASSERT_TRUE(probe.WaitCalls(2));  // the first one's result is in
  ASSERT_EQ(check.State(), InetState::kOnline);
  {
    std::lock_guard<std::mutex> g(probe.m);
    probe.next = netsup::ProbeResult::kNoIcmp;
  }
  const int from = probe.Calls();
  ASSERT_TRUE(probe.WaitCalls(from + 5));
  check.Disable();
  EXPECT_EQ(check.State(), InetState::kUndecided) << "a false offline would hold back alarms";
  std::lock_guard<std::mutex> g(rec.m);
  ASSERT_EQ(rec.messages.size(), 1u);
  EXPECT_NE(rec.messages[0].find("нет доступа к ICMP (ping: нет прав)"), std::string::npos);
  EXPECT_EQ(rec.states, (std::vector<InetState>{InetState::kOnline, InetState::kUndecided}));
}

TEST(InetThread, AProbeUnderWayWhenSwitchedOffRaisesNothing) {
  ScriptedProbe probe;
  probe.held = true;
  Recorded rec;
  netsup::TCheckInetThread check(probe.Fn(), rec.Reports(), 60s);
  check.SetEnabled(true);
  ASSERT_TRUE(probe.WaitCalls(1));
  check.SetEnabled(false);
  probe.LetGo();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(check.State(), InetState::kUndecided);
  std::lock_guard<std::mutex> g(rec.m);
  EXPECT_TRUE(rec.states.empty());
}

TEST(InetThread, EndingCutsAProbeShort) {
  ScriptedProbe probe;
  probe.hang = true;
  Recorded rec;
  auto check = std::make_unique<netsup::TCheckInetThread>(probe.Fn(), rec.Reports(), 5s);
  check->Enable();
  ASSERT_TRUE(probe.WaitCalls(1));
  const auto start = std::chrono::steady_clock::now();
  check.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_TRUE(rec.states.empty());
}

// ---- interface management -------------------------------------------------------

struct DecisionCase {
  const char* name;
  netsup::ManagementCounts counts;
  std::array<bool, 3> selectedBefore;
  int chosen;
  std::array<bool, 3> selectedAfter;
  bool clearUnanswered, hold;
};

netsup::ManagementCounts Counts(uint16_t registered, uint16_t silent,
                                std::array<uint16_t, 3> contacts,
                                std::array<uint16_t, 3> unanswered = {},
                                std::array<uint16_t, 3> sent = {},
                                std::array<uint16_t, 3> flagged = {}) {
  return {registered, silent, contacts, unanswered, sent, flagged};
}

class Decision : public testing::TestWithParam<DecisionCase> {};

TEST_P(Decision, ChoosesByMoreThanHalfOfTheActiveDevices) {
  const DecisionCase& c = GetParam();
  std::array<bool, 3> selected = c.selectedBefore;
  const netsup::ManagementDecision d = netsup::DecideManagement(c.counts, selected);
  EXPECT_EQ(d.chosen, c.chosen);
  EXPECT_EQ(selected, c.selectedAfter);
  EXPECT_EQ(d.clearUnanswered, c.clearUnanswered);
  EXPECT_EQ(d.hold, c.hold);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Decision,
    testing::Values(
        // 10 registered, 2 silent: half is 4, so 5 contacts decide and 4 do not.
        DecisionCase{"FiveOfEightActiveDecide", Counts(10, 2, {0, 5, 0}), {}, 1,
                     {false, true, false}, false, false},
        DecisionCase{"FourOfEightActiveDoNot", Counts(10, 2, {0, 4, 4}), {}, -1, {}, false, false},
        DecisionCase{"NoActiveDeviceAnyOneDecides", Counts(3, 3, {0, 0, 1}), {}, 2,
                     {false, false, true}, false, false},
        DecisionCase{"AlreadySelectedIsNotChosenAgain", Counts(4, 0, {3, 0, 0}),
                     {true, false, false}, -1, {true, false, false}, false, false},
        DecisionCase{"TheFirstInterfaceWins", Counts(2, 0, {2, 2, 0}), {false, true, false}, 0,
                     {true, false, false}, false, false},
        DecisionCase{"UnansweredAboveHalfDeselectsAndClears", Counts(4, 0, {0, 0, 0}, {3, 0, 0}),
                     {true, false, false}, -1, {false, false, false}, true, false},
        DecisionCase{"DeselectedByUnansweredCanBeChosenAgain", Counts(4, 0, {3, 0, 0}, {3, 0, 0}),
                     {true, false, false}, 0, {true, false, false}, true, false},
        DecisionCase{"SentDecidesWithoutHold", Counts(4, 0, {0, 0, 0}, {}, {0, 3, 0}, {0, 2, 0}),
                     {}, 1, {false, true, false}, false, false},
        DecisionCase{"FlaggedSentHolds", Counts(4, 0, {0, 0, 0}, {}, {0, 3, 0}, {0, 3, 0}), {}, 1,
                     {false, true, false}, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Management, CountsAndClearsTheRecordsInUse) {
  devlink::ClientTable table;
  table.Resize(4);
  // 0: heard on interface 1; 1: silent; 2: unanswered 4 on interface 2, echo via 3 flagged; 3: free.
  table[0].inUse = table[1].inUse = table[2].inUse = 1;
  table[0].contactCount[0] = 2;
  table[2].unansweredCount[1] = 4;
  table[2].sentCount[2] = 1;
  table[2].sentFlag[2] = 1;
  table[3].contactCount[0] = 9;  // a free record counts for nothing
  const netsup::ManagementCounts c = netsup::CountStatistics(table);
  EXPECT_EQ(c.registered, 3);
  EXPECT_EQ(c.silent, 1);
  EXPECT_EQ(c.contacts, (std::array<uint16_t, 3>{1, 0, 0}));
  EXPECT_EQ(c.unanswered, (std::array<uint16_t, 3>{0, 1, 0}));
  EXPECT_EQ(c.sent, (std::array<uint16_t, 3>{0, 0, 1}));
  EXPECT_EQ(c.flagged, (std::array<uint16_t, 3>{0, 0, 1}));

  netsup::ClearStatistics(table, false);
  EXPECT_EQ(table[0].contactCount[0], 0);
  EXPECT_EQ(table[2].sentCount[2], 0);
  EXPECT_EQ(table[2].unansweredCount[1], 4) << "kept unless the decision clears it";
  EXPECT_EQ(table[2].sentFlag[2], 1);
  netsup::ClearStatistics(table, true);
  EXPECT_EQ(table[2].unansweredCount[1], 0);
}

// ---- route plans -----------------------------------------------------------------

netsup::NetworkConfig Config() {
  netsup::NetworkConfig c;
  c.iface[0] = {true, "198.51.100.1", "5000", "198.51.100.254"};
  c.iface[1] = {true, "203.0.113.1", "5001", "203.0.113.254"};
  c.iface[2] = {true, "10.64.64.65", "5002", "10.64.64.5"};
  return c;
}

std::vector<std::string> Texts(const netsup::RoutePlan& p) {
  std::vector<std::string> out;
  for (const RouteOp& op : p.ops) out.push_back(netsup::IpRouteText(op));
  return out;
}

TEST(RoutePlan, TargetsAndSubnet) {
  const std::pair<const char*, const char*> targets[] = {
      {"192.168.0.5", "192.168.0.6"}, {"192.168.0.1", "192.168.0.5"},
      {"10.64.64.15", "10.64.64.16"}, {"10.64.64.6", "10.64.64.5"}};
  for (const auto& [gateway, target] : targets)
    EXPECT_EQ(netsup::GsmPingTarget(gateway), target) << gateway;
  EXPECT_EQ(netsup::SubnetOf("10.64.64.65"), "10.64.64.0");
}

TEST(RoutePlan, TheChosenRouteComesFirstThenTheOthersGo) {
  // The GSM subnet comes last: a GSM link that is down holds up nothing.
  EXPECT_EQ(Texts(netsup::PlanDefaultRoute(1, Config(), {true, true, true})),
            (std::vector<std::string>{"ip route replace default via 203.0.113.254 metric 1",
                                      "ip route delete default via 198.51.100.254",
                                      "ip route delete default via 10.64.64.5",
                                      "ip route replace 10.64.64.0/24 via 10.64.64.5 metric 5"}));
}

TEST(RoutePlan, InterfacesNotUsedOrWithoutGatewayAreLeftAlone) {
  netsup::NetworkConfig c = Config();
  c.iface[1].gateway = "0.0.0.0";
  EXPECT_EQ(Texts(netsup::PlanDefaultRoute(0, c, {true, true, false})),
            (std::vector<std::string>{"ip route replace default via 198.51.100.254 metric 1"}));
  // The chosen one without a gateway: nothing at all is changed.
  const netsup::RoutePlan refused = netsup::PlanDefaultRoute(1, c, {true, true, false});
  EXPECT_TRUE(refused.ops.empty());
  EXPECT_NE(refused.refusal.find("интерфейса 2"), std::string::npos) << refused.refusal;
  c.iface[1].gateway = "";
  EXPECT_TRUE(netsup::PlanDefaultRoute(1, c, {true, true, false}).ops.empty());
  // An interface not in use never carries it, whatever its stale gateway.
  const netsup::RoutePlan unused = netsup::PlanDefaultRoute(2, Config(), {true, true, false});
  EXPECT_TRUE(unused.ops.empty());
  EXPECT_EQ(unused.refusal, "интерфейс 3 не используется");
}

TEST(RoutePlan, AfterAnApplyTheFirstRunningInterfaceCarriesTheRoute) {
  EXPECT_EQ(Texts(netsup::PlanAfterApply(Config(), {false, true, false})),
            (std::vector<std::string>{"ip route replace default via 203.0.113.254 metric 1"}));
  EXPECT_EQ(Texts(netsup::PlanAfterApply(Config(), {false, false, true})),
            (std::vector<std::string>{"ip route replace default via 10.64.64.5 metric 1",
                                      "ip route replace 10.64.64.0/24 via 10.64.64.5 metric 5"}));
  const netsup::RoutePlan none = netsup::PlanAfterApply(Config(), {false, false, false});
  EXPECT_TRUE(none.ops.empty() && none.refusal.empty());
  // A card without a gateway (a local network only) is passed over.
  netsup::NetworkConfig c = Config();
  c.iface[0].gateway = "0.0.0.0";
  EXPECT_EQ(netsup::PlanAfterApply(c, {true, true, false}).chosen, 1);
  c.iface[1].gateway = "";
  EXPECT_FALSE(netsup::PlanAfterApply(c, {true, true, false}).refusal.empty());
}

// A routing table in memory that can refuse what the test says, logging every call.
class FakeRoutes final : public platform::RouteTable {
 public:
  std::vector<platform::Ipv4Route> routes;
  std::vector<std::string> log;
  std::string refuseGateway;  // Replace via this gateway fails, as for an unreachable one
  int replaces = 0;

  bool Replace(const platform::Ipv4Route& r, std::string* error) override {
    log.push_back("replace " + r.destination + "/" + std::to_string(r.prefix) + " " + r.gateway);
    ++replaces;
    if (r.gateway == refuseGateway) {
      *error = "Network is unreachable";
      return false;
    }
    const auto same = [&](const platform::Ipv4Route& x) {
      return x.destination == r.destination && x.prefix == r.prefix && x.metric == r.metric;
    };
    routes.erase(std::remove_if(routes.begin(), routes.end(), same), routes.end());
    routes.push_back(r);
    return true;
  }
  bool Delete(const platform::Ipv4Route& r, std::string* error) override {
    log.push_back("delete " + r.gateway + " " + std::to_string(r.metric));
    const auto it = std::find(routes.begin(), routes.end(), r);
    if (it == routes.end()) {
      *error = "No such process";
      return false;
    }
    routes.erase(it);
    return true;
  }
  bool List(std::vector<platform::Ipv4Route>* out, std::string*) override {
    *out = routes;
    return true;
  }
};

platform::Ipv4Route Default(const char* gateway, uint32_t metric) {
  platform::Ipv4Route r;
  r.gateway = gateway;
  r.metric = metric;
  return r;
}

TEST(RouteExecution, AFailedAddLeavesTheOldDefaultRoute) {
  FakeRoutes t;
  t.routes = {Default("198.51.100.254", 1)};
  t.refuseGateway = "203.0.113.254";
  std::vector<std::string> debug;
  std::string error;
  EXPECT_FALSE(netsup::ExecuteRoutePlan(netsup::PlanDefaultRoute(1, Config(), {true, true, false}),
                                        t, [&](const std::string& l) { debug.push_back(l); },
                                        &error));
  EXPECT_EQ(t.routes, (std::vector<platform::Ipv4Route>{Default("198.51.100.254", 1)}));
  EXPECT_EQ(t.log, (std::vector<std::string>{"replace 0.0.0.0/0 203.0.113.254"}));
  EXPECT_EQ(error, "ip route replace default via 203.0.113.254 metric 1: Network is unreachable");
  EXPECT_EQ(debug, (std::vector<std::string>{"ip route replace default via 203.0.113.254 metric 1"}));
  netsup::NetworkConfig c = Config();
  EXPECT_EQ(netsup::ActiveDefaultRoute(t.routes, c).iface, 0) << "the mark shows the real route";
}

TEST(RouteExecution, AForeignDefaultRouteOfTheSameMetricIsNeverReplaced) {
  FakeRoutes t;
  t.routes = {Default("192.0.2.1", 1)};
  std::string error;
  EXPECT_FALSE(netsup::ExecuteRoutePlan(netsup::PlanDefaultRoute(0, Config(), {true, true, false}),
                                        t, nullptr, &error));
  EXPECT_EQ(t.routes, (std::vector<platform::Ipv4Route>{Default("192.0.2.1", 1)}));
  EXPECT_EQ(t.replaces, 0);
  EXPECT_NE(error.find("через 192.0.2.1 не принадлежит серверу"), std::string::npos) << error;
}

TEST(RouteExecution, AGsmSubnetThatFailsHoldsUpNoDefaultRoute) {
  FakeRoutes t;
  t.routes = {Default("198.51.100.254", 1)};
  t.refuseGateway = "10.64.64.5";
  std::string error;
  EXPECT_FALSE(netsup::ExecuteRoutePlan(netsup::PlanDefaultRoute(1, Config(), {true, true, true}),
                                        t, nullptr, &error));
  EXPECT_EQ(t.routes, (std::vector<platform::Ipv4Route>{Default("203.0.113.254", 1)}));
  EXPECT_EQ(error, "ip route replace 10.64.64.0/24 via 10.64.64.5 metric 5: Network is unreachable");
}

TEST(RouteExecution, OtherRoutesOfTheManagedGatewaysGoAndForeignOnesStay) {
  FakeRoutes t;
  t.routes = {Default("198.51.100.254", 1), Default("198.51.100.254", 20),
              Default("192.0.2.1", 100)};
  std::string error;
  ASSERT_TRUE(netsup::ExecuteRoutePlan(netsup::PlanDefaultRoute(1, Config(), {true, true, false}),
                                       t, nullptr, &error))
      << error;
  EXPECT_EQ(t.routes, (std::vector<platform::Ipv4Route>{Default("192.0.2.1", 100),
                                                        Default("203.0.113.254", 1)}));
  const netsup::DefaultRouteState active = netsup::ActiveDefaultRoute(t.routes, Config());
  EXPECT_EQ(active.iface, 1);
  EXPECT_EQ(active.route.gateway, "203.0.113.254");
  // A lower metric of a route not ours carries the traffic: no interface is marked.
  t.routes.push_back(Default("192.0.2.1", 0));
  EXPECT_EQ(netsup::ActiveDefaultRoute(t.routes, Config()).iface, -1);
}

// ---- the supervision over fake servers --------------------------------------------

class FakeServer final : public platform::UdpEndpoint {
 public:
  explicit FakeServer(uint16_t port) : port_(port) {}
  bool failStart = false;
  bool running = false;
  std::vector<std::pair<std::string, uint16_t>> bindings;

  void Stop() override { running = false; }
  void ClearBindings() override { bindings.clear(); }
  void AddBinding(const std::string& a, uint16_t p) override { bindings.emplace_back(a, p); }
  uint16_t DefaultPort() const override { return port_; }
  void SetDefaultPort(uint16_t p) override { port_ = p; }
  int starts = 0;
  bool Start() override {
    ++starts;
    return running = !failStart;
  }
  bool Running() const override { return running; }
  bool SendTo(std::string_view, uint16_t, const uint8_t*, size_t) override { return true; }

 private:
  uint16_t port_;
};

struct Supervised : testing::Test {
  FakeServer s1{5000}, s2{5001}, s3{5002};
  FakeRoutes routes;
  std::vector<std::string> echoes;
  bool echoFails = false;
  console::ConsoleSettings settings;
  console::LineQueue queue;
  platform::FixedClock clock;
  console::MessageSink sink{settings, queue, clock};
  netsup::NetworkSupervision net{{&s1, &s2, &s3},
                                 routes,
                                 [this](const std::string& a, std::string* error) {
                                   echoes.push_back(a);
                                   if (echoFails) *error = "sendto: Operation not permitted";
                                   return !echoFails;
                                 },
                                 settings,
                                 sink};
  std::vector<std::string> reports;
  netsup::Report report = [this](const std::string& t) { reports.push_back(t); };

  Supervised() { settings.GlOtladka = true; }

  // The lines that reached the message window, without their time stamps.
  std::vector<std::string> Lines() {
    std::vector<console::Line> lines;
    sink.Drain(lines, 0);
    std::vector<std::string> out;
    for (const console::Line& l : lines) {
      const size_t space = l.text.find(' ');
      const bool stamped = space != std::string::npos && l.text.find(':') < space;
      out.push_back(stamped ? l.text.substr(space + 1) : l.text);
    }
    return out;
  }
};

TEST_F(Supervised, AFailingApplyIsRetriedUntilItWorksThenSaysOkOnce) {
  netsup::NetworkConfig c = Config();
  c.iface[2].inUse = false;
  s2.failStart = true;
  const std::string conflict = "Ош. Конфликт карты 2 >203.0.113.1:5001.Парам. не вступили в силу!";
  EXPECT_FALSE(net.Apply(c, true, report));
  EXPECT_EQ(reports, std::vector<std::string>{conflict});
  EXPECT_TRUE(net.NetErr());
  Lines();

  net.NetworkStep(c, true);  // still failing: reported as a message this time
  std::vector<std::string> lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), conflict), lines.end());
  s2.failStart = false;
  net.NetworkStep(c, true);
  EXPECT_FALSE(net.NetErr());
  EXPECT_TRUE(s2.running);
  EXPECT_EQ(net.LastDefaultRoute().iface, 0);
  Lines();
  for (int step = 0; step < 3; ++step) net.NetworkStep(c, true);
  EXPECT_EQ(Lines(), std::vector<std::string>{"Сетевые настройки OK!"});
  EXPECT_EQ(reports.size(), 1u) << "the retries never open a box";
}

TEST_F(Supervised, AFailedDefaultRouteIsRetriedWithoutRebindingTheServers) {
  netsup::NetworkConfig c = Config();
  c.iface[2].inUse = false;
  routes.refuseGateway = "198.51.100.254";
  EXPECT_FALSE(net.Apply(c, true, report));
  EXPECT_EQ(reports, std::vector<std::string>{
                         "Ош. Маршрута >ip route replace default via 198.51.100.254 metric 1: "
                         "Network is unreachable"});
  EXPECT_FALSE(net.NetErr()) << "the servers run";
  Lines();
  const int starts = s1.starts;
  net.NetworkStep(c, true);
  EXPECT_EQ(Lines(), (std::vector<std::string>{
                         "ip route replace default via 198.51.100.254 metric 1",
                         "Ош. Маршрута >ip route replace default via 198.51.100.254 metric 1: "
                         "Network is unreachable"}));
  routes.refuseGateway.clear();
  net.NetworkStep(c, true);
  EXPECT_EQ(net.LastDefaultRoute().iface, 0);
  EXPECT_EQ(s1.starts, starts);
  Lines();
  net.NetworkStep(c, true);
  EXPECT_EQ(Lines(), std::vector<std::string>{"Сетевые настройки OK!"});
}

TEST_F(Supervised, WithoutManagementTheRoutesAreNotTouched) {
  EXPECT_TRUE(net.Apply(Config(), false, report)) << (reports.empty() ? "" : reports[0]);
  EXPECT_TRUE(routes.log.empty());
  // Nor when no running card has a gateway: said once, not retried.
  netsup::NetworkConfig lan = Config();
  lan.iface[0].gateway = lan.iface[1].gateway = lan.iface[2].gateway = "0.0.0.0";
  EXPECT_TRUE(net.Apply(lan, true, report));
  EXPECT_EQ(reports, std::vector<std::string>{"Маршрут по умолчанию не установлен: ни у одного "
                                              "работающего интерфейса нет действующего шлюза"});
  EXPECT_TRUE(routes.log.empty());
}

TEST_F(Supervised, GsmKeepAliveGoesToTheGatewaysNeighbour) {
  netsup::NetworkConfig c = Config();
  c.iface[0].inUse = c.iface[1].inUse = false;
  EXPECT_TRUE(net.Apply(c, false, report));
  EXPECT_TRUE(net.GsmPingArmed());
  net.NetworkStep(c, false);
  EXPECT_EQ(echoes, (std::vector<std::string>{"10.64.64.6", "10.64.64.6"}));

  echoFails = true;
  net.NetworkStep(c, false);  // the tick's echo failing only says so in debug mode
  std::vector<std::string> lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(), "Ош. доступа к \"Службе ICMP-GSM\""),
            lines.end());
  EXPECT_FALSE(net.Apply(c, false, report));
  EXPECT_EQ(reports.back(), "Ош. Конфликт 4(GSM)(ICMP) >10.64.64.65.Ош. Шлюза GSM!");
  EXPECT_FALSE(net.GsmPingArmed());
  echoes.clear();
  echoFails = false;
  net.NetworkStep(c, false);  // the failed apply is redone: one echo, then armed again
  EXPECT_EQ(echoes, (std::vector<std::string>{"10.64.64.6", "10.64.64.6"}));
}

TEST_F(Supervised, QuickRebindMovesServersOneAndTwoOnly) {
  netsup::NetworkConfig c = Config();
  ASSERT_TRUE(net.Apply(c, false, report));
  EXPECT_EQ(net.QuickRebind("6100"), "6101");
  EXPECT_EQ(s1.DefaultPort(), 6100);
  EXPECT_TRUE(s1.bindings.empty()) << "every local address";
  EXPECT_TRUE(s2.bindings.empty());
  EXPECT_TRUE(s1.running && s2.running);
  EXPECT_EQ(s3.bindings.size(), 1u) << "the GSM server keeps its binding";
  Lines();
  EXPECT_EQ(net.QuickRebind("61a"), "6101");
  EXPECT_EQ(Lines(), std::vector<std::string>{"Ош. Преобр.поля \"Порт Ethernet\""});
  s2.failStart = true;
  net.QuickRebind("6200");
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         "Ош. Конфликт карты 2 >0.0.0.0:6201.Парам. не вступили в силу!"});
}

TEST_F(Supervised, ManagementMovesTheRouteToWhereTheDevicesAreHeard) {
  devlink::ClientTable table;
  table.Resize(3);
  std::mutex lock;
  for (int i = 0; i < 3; ++i) table[i].inUse = 1;
  table[0].contactCount[1] = table[1].contactCount[1] = 1;
  netsup::NetworkConfig c = Config();
  c.iface[2].inUse = false;
  net.ManagementStep(c, table, lock);
  EXPECT_EQ(net.LastDefaultRoute().iface, 1);
  EXPECT_EQ(net.Selected(), (std::array<bool, 3>{false, true, false}));
  std::vector<std::string> lines;
  EXPECT_EQ(table[0].contactCount[1], 0) << "counts start again for the next tick";

  // The route add fails: the selection is dropped so that the next tick tries again.
  table[0].contactCount[0] = table[1].contactCount[0] = 1;
  routes.refuseGateway = "198.51.100.254";
  net.ManagementStep(c, table, lock);
  EXPECT_EQ(net.LastDefaultRoute().iface, 1);
  EXPECT_EQ(net.Selected(), (std::array<bool, 3>{false, false, false}));

  // Interface 3 is chosen but not in use: refused, said once, chosen again later.
  netsup::NetworkConfig twoCards = c;
  table[0].contactCount[2] = table[1].contactCount[2] = 1;
  Lines();
  net.ManagementStep(twoCards, table, lock);
  table[0].contactCount[2] = table[1].contactCount[2] = 1;
  net.ManagementStep(twoCards, table, lock);
  EXPECT_EQ(Lines(), std::vector<std::string>{
                         "Маршрут по умолчанию не перенесён: интерфейс 3 не используется"});
  EXPECT_EQ(net.Selected(), (std::array<bool, 3>{false, false, false}));
  EXPECT_EQ(net.LastDefaultRoute().iface, 1);

  // A foreign route of lower metric carries the traffic: the move is said not to work.
  routes.refuseGateway.clear();
  routes.routes.push_back(Default("192.0.2.1", 0));
  table[0].contactCount[0] = table[1].contactCount[0] = 1;
  net.ManagementStep(c, table, lock);
  lines = Lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "Маршрут по умолчанию через интерфейс 1 не действует: трафик идёт через "
                      "192.0.2.1 (, метрика 0)"),
            lines.end());
  EXPECT_EQ(net.Selected(), (std::array<bool, 3>{false, false, false}));
  routes.routes.erase(std::remove(routes.routes.begin(), routes.routes.end(), Default("192.0.2.1", 0)),
                      routes.routes.end());

  // Echoes flagged by most devices pause the management.
  table[0].sentCount[0] = table[1].sentCount[0] = 1;
  table[0].sentFlag[0] = table[1].sentFlag[0] = 1;
  routes.refuseGateway.clear();
  net.ManagementStep(c, table, lock);
  EXPECT_EQ(net.LastDefaultRoute().iface, 0);
  EXPECT_EQ(settings.GlMetricHold, netsup::kManagementHold);
}

}  // namespace
