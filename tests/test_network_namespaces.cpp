// The network supervision of the real server on a real Linux network made of
// namespaces: the server in one, two "providers" joined to it by veth pairs,
// devices (devsim) behind either provider, the workstation (armsim) on a pty
// pair. Documentation address ranges only; nothing leaves the namespaces.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/netns.h"
#include "tests/support/sim_output.h"
#include "tests/support/socat_pair.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::Items;
using testsupport::Joined;
using testsupport::NetNamespace;
using testsupport::WaitUntil;

const std::string kBin = RELAY_BIN_DIR;
const std::string kIp = "/usr/sbin/ip";

// Provider 1: 198.51.100.0/24, the server at .1 and the provider at .254;
// provider 2: 203.0.113.0/24 the same way. The probed "internet host"
// 192.0.2.1 lives on provider 1 while the test says it is reachable.
class Namespaces : public testing::Test {
 protected:
  std::unique_ptr<NetNamespace> server, provider1, provider2;
  testsupport::TempDir dir;
  std::string portsDir = dir.File("ports");
  std::unique_ptr<testsupport::SocatPair> pair;
  std::unique_ptr<ChildProcess> relay;

  void SetUp() override {
    std::string why;
    if (!testsupport::NetNamespacesUsable(&why)) GTEST_SKIP() << why;
    server = std::make_unique<NetNamespace>();
    provider1 = std::make_unique<NetNamespace>();
    provider2 = std::make_unique<NetNamespace>();
    ::mkdir(portsDir.c_str(), 0755);
    pair = std::make_unique<testsupport::SocatPair>(portsDir);
  }

  void LinkProvider1() {
    ASSERT_TRUE(testsupport::LinkVeth(*server, "s1", "198.51.100.1/24", *provider1, "p1",
                                      "198.51.100.254/24"));
  }
  void LinkProvider2() {
    ASSERT_TRUE(testsupport::LinkVeth(*server, "s2", "203.0.113.1/24", *provider2, "p2",
                                      "203.0.113.254/24"));
  }

  void WriteSettings(const std::string& form1, const std::string& probeHost = "192.0.2.1") {
    testsupport::WriteFile(dir.File("relay-server.ini"),
                           "[Form1]\r\nNnPort=0\r\n" + form1 +
                               "[Deployment]\r\nInetProbeHost=" + probeHost + "\r\n");
  }

  // The headless server inside the server namespace, registration open.
  void StartServer(int tickMs) {
    relay = std::make_unique<ChildProcess>(
        kIp,
        std::vector<std::string>{"netns", "exec", server->Name(), kBin + "/relay-server",
                                 "--headless", "--data-dir", dir.Path(), "--ports-dir", portsDir,
                                 "--register", "all", "--tick-ms", std::to_string(tickMs)},
        /*withStderr=*/true);
    ASSERT_FALSE(relay->WaitForLine("relay-server: работает", 10s).empty())
        << Joined(relay->Lines());
  }

  // One device 1/0/5 behind `provider`, registering through `serverAddress`,
  // one heartbeat, then silent; waits until devsim is done.
  void RunDevice(const NetNamespace& provider, const std::string& serverAddress,
                 const std::string& source) {
    ChildProcess devsim(kIp,
                        {"netns", "exec", provider.Name(), kBin + "/devsim", "--server",
                         serverAddress, "--devices", "1", "--first", "1/0/5", "--no-spread",
                         "--source", source, "--heartbeats", "1", "--heartbeat-ms", "100",
                         "--start-spread-ms", "0", "--reg-retry-ms", "200"},
                        /*withStderr=*/true);
    ASSERT_EQ(devsim.Wait(20s), 0) << Joined(devsim.Lines()) << Joined(relay->Lines());
  }

  std::string DefaultRoutes() const { return server->Output("route show default"); }

  bool RouteVia(const std::string& gateway) const {
    return WaitUntil(
        [&] {
          const std::string r = DefaultRoutes();
          // One default route, and it goes through `gateway`.
          return r.find("via " + gateway + " ") != std::string::npos &&
                 r.find("default", r.find("default") + 1) == std::string::npos;
        },
        10s);
  }

  std::string RelayctlStatus() {
    ChildProcess ctl(kBin + "/relayctl", {"--data-dir", dir.Path(), "status"}, true);
    EXPECT_EQ(ctl.Wait(10s), 0) << Joined(ctl.Lines());
    return Joined(ctl.Lines());
  }
};

TEST_F(Namespaces, TheDefaultRouteFollowsTheDevicesFromProviderToProvider) {
  LinkProvider1();
  LinkProvider2();
  WriteSettings(
      "SetKarta_11=1\r\nIpAdrrServ_1=198.51.100.1\r\nEditPortServ1=5000\r\n"
      "GateWay1=198.51.100.254\r\n"
      "SetKarta_22=1\r\nIpAdrrServ_2=203.0.113.1\r\nEditPortServ2=5001\r\n"
      "GateWay2=203.0.113.254\r\n"
      "CheckBoxMetric=1\r\nCheckBox_Internet=0\r\n");
  ASSERT_NO_FATAL_FAILURE(StartServer(20));
  // The apply gives the default route to the first interface.
  EXPECT_TRUE(RouteVia("198.51.100.254")) << DefaultRoutes();

  ASSERT_NO_FATAL_FAILURE(RunDevice(*provider2, "203.0.113.1:5001", "203.0.113.254"));
  EXPECT_TRUE(RouteVia("203.0.113.254")) << DefaultRoutes() << Joined(relay->Lines());
  const std::string status = RelayctlStatus();
  EXPECT_NE(status.find("Маршрут по умолчанию: интерфейс 2, шлюз 203.0.113.254 (s2)"),
            std::string::npos)
      << status;
  EXPECT_NE(status.find("Интернет: неизвестно (проверка выключена)"), std::string::npos)
      << status;

  ASSERT_NO_FATAL_FAILURE(RunDevice(*provider1, "198.51.100.1:5000", "198.51.100.254"));
  EXPECT_TRUE(RouteVia("198.51.100.254")) << DefaultRoutes() << Joined(relay->Lines());
  // A good start-up apply is reported once, at the first network step.
  EXPECT_EQ(relay->Count("Сетевые настройки OK!"), 1u) << Joined(relay->Lines());
}

TEST_F(Namespaces, AFailingApplyIsRetriedEveryTenTicksAndReportsOnceItWorks) {
  // The interface's address does not exist yet: its server cannot start.
  WriteSettings("SetKarta_11=1\r\nIpAdrrServ_1=198.51.100.1\r\nEditPortServ1=5000\r\n"
                "CheckBox_Internet=0\r\n");
  ASSERT_NO_FATAL_FAILURE(StartServer(20));
  const std::string conflict = "Ош. Конфликт карты 1 >198.51.100.1:5000.Парам. не вступили в силу!";
  EXPECT_TRUE(testsupport::WaitCount(*relay, conflict, 3, 10s)) << Joined(relay->Lines());
  EXPECT_EQ(relay->Count("Сетевые настройки OK!"), 0u);

  LinkProvider1();
  EXPECT_FALSE(relay->WaitForLine("Сетевые настройки OK!", 10s).empty()) << Joined(relay->Lines());
  const size_t conflicts = relay->Count(conflict);
  std::this_thread::sleep_for(1s);  // five more network steps
  EXPECT_EQ(relay->Count("Сетевые настройки OK!"), 1u);
  EXPECT_EQ(relay->Count(conflict), conflicts);
  EXPECT_NE(RelayctlStatus().find("Интерфейс 1: 198.51.100.1:5000"), std::string::npos);
}

// The internet host goes away and comes back; the workstation hears both, and
// a device that fell silent meanwhile is reported failed only when the
// blocking option allows it.
class InternetLoss : public Namespaces, public testing::WithParamInterface<bool> {};

TEST_P(InternetLoss, IsReportedAndHoldsBackLinkFailuresOnlyWithTheBlockingOn) {
  const bool blocking = GetParam();
  LinkProvider1();
  ASSERT_TRUE(server->Run("route add default via 198.51.100.254"));
  WriteSettings("SetKarta_11=1\r\nIpAdrrServ_1=198.51.100.1\r\nEditPortServ1=5000\r\n"
                "NaruchUO=0\r\nCheckBox_Internet=1\r\nCheckAvarOrvane=" +
                std::string(blocking ? "1" : "0") + "\r\n");
  // 10 ms ticks: a probe every 50 ms, a link failure about 1.3 s after the last sign of life.
  ASSERT_NO_FATAL_FAILURE(StartServer(10));
  ChildProcess arm(kBin + "/armsim",
                   {"--port", pair->B(), "--groups", "1", "--poll-ms", "20", "--json-summary"},
                   true);
  const auto status33 = [&](const char* data) {
    for (const testsupport::ArmItem& it : Items(arm.Lines()))
      if (it.code == 0x33 && it.data.rfind(data, 0) == 0) return true;
    return false;
  };
  const auto failed = [&] {
    for (const testsupport::ArmItem& it : Items(arm.Lines()))
      if (it.number == "1/0/5" && it.code == 0x16) return true;
    return false;
  };
  // The workstation's polls of group 1 are answered once a device of it is registered.
  ASSERT_NO_FATAL_FAILURE(RunDevice(*provider1, "198.51.100.1:5000", "198.51.100.254"));
  // The host is unreachable from the start: the first probe decided.
  ASSERT_TRUE(WaitUntil([&] { return status33("02"); }, 10s))
      << Joined(arm.Lines()) << Joined(relay->Lines());
  EXPECT_FALSE(relay->WaitForLine("\"Нет Глобальной сети!\"", 5s).empty());
  if (!blocking) {
    EXPECT_TRUE(WaitUntil(failed, 10s)) << Joined(arm.Lines());
    return;
  }
  EXPECT_FALSE(WaitUntil(failed, 4s)) << "no link failure while the internet is away";

  ASSERT_TRUE(provider1->Run("address add 192.0.2.1/32 dev lo"));
  EXPECT_TRUE(WaitUntil([&] { return status33("01"); }, 10s)) << Joined(arm.Lines());
  EXPECT_FALSE(relay->WaitForLine("\"Глобальная сеть OK!\"", 5s).empty());
  EXPECT_TRUE(WaitUntil(failed, 10s)) << Joined(arm.Lines());
  EXPECT_NE(RelayctlStatus().find("Интернет: есть (проверка по 192.0.2.1)"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Blocking, InternetLoss, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

}  // namespace
