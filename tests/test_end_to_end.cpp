// The real relay-server --headless with devsim playing devices over loopback.
#include <gtest/gtest.h>

#include <ostream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;

const std::string kBin = RELAY_BIN_DIR;

struct DevsimResult {
  int status = -1;
  std::vector<std::string> lines;

  std::string Summary() const {
    for (const std::string& l : lines)
      if (l.rfind("devsim: devices=", 0) == 0) return l;
    return "";
  }
  // Client index of the registration answer to the device with this number.
  int RegisteredIndex(const std::string& number) const {
    const std::string key = number + " <- registration: ";
    for (const std::string& l : lines) {
      const size_t at = l.find(key);
      if (at == std::string::npos || l.find("(late") != std::string::npos) continue;
      unsigned b[10];
      if (std::sscanf(l.c_str() + at + key.size(), "%x %x %x %x %x %x %x %x %x %x", &b[0], &b[1],
                      &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &b[8], &b[9]) == 10)
        return int(b[8] * 256 + b[9]);
    }
    return -1;
  }
};

class EndToEnd : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  unsigned short port = testsupport::FreeUdpPort();
  std::unique_ptr<ChildProcess> server;

  void WriteSettings(const std::string& extra = "") {
    const std::string form1 = "[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\nEditPortServ1=" +
                              std::to_string(port) + "\r\n" + extra;
    testsupport::WriteFile(dir.File("relay-server.ini"), testsupport::SafeNetworkIni(form1));
  }

  void StartServer(std::vector<std::string> args = {"--register", "all"}) {
    args.insert(args.begin(), {"--headless", "--data-dir", dir.Path()});
    server = std::make_unique<ChildProcess>(kBin + "/relay-server", args);
    ASSERT_TRUE(testsupport::WaitUdpBound(port, 5s)) << "the server did not bind its port";
  }

  DevsimResult Devsim(std::vector<std::string> args) {
    args.insert(args.begin(), {"--server", "127.0.0.1:" + std::to_string(port), "--verbose"});
    ChildProcess p(kBin + "/devsim", args, /*withStderr=*/true);
    DevsimResult r;
    r.status = p.Wait(30s);
    r.lines = p.Lines();
    return r;
  }

  void SetUp() override { WriteSettings(); }
};

TEST_F(EndToEnd, NewDevicesTakeTheFirstFreeIndexAndKeepItWhenTheyComeBack) {
  StartServer();
  const unsigned short devPort = testsupport::FreeUdpPort();
  const std::string p = std::to_string(devPort);
  auto first = Devsim({"--devices", "1", "--first", "1/0/1", "--port", p, "--heartbeats", "1"});
  ASSERT_EQ(first.status, 0) << first.Summary();
  EXPECT_EQ(first.RegisteredIndex("1/0/1"), 0);
  EXPECT_FALSE(server->WaitForLine(" РЕГИСТРАЦИЯ! IP=127.1.0.1 Port=" + p + " Пульт.N=1/0/1", 2s)
                   .empty());

  auto second = Devsim({"--devices", "1", "--first", "1/0/2", "--source", "127.1.0.2",
                        "--heartbeats", "1"});
  ASSERT_EQ(second.status, 0) << second.Summary();
  EXPECT_EQ(second.RegisteredIndex("1/0/2"), 1);

  // The first device again, from the same address and port: its old index.
  auto again = Devsim({"--devices", "1", "--first", "1/0/1", "--port", p, "--heartbeats", "1"});
  ASSERT_EQ(again.status, 0) << again.Summary();
  EXPECT_EQ(again.RegisteredIndex("1/0/1"), 0);
  EXPECT_EQ(server->Count("РЕГИСТРАЦИЯ!"), 2u);
}

TEST_F(EndToEnd, AMovedDeviceIsAnsweredAtItsNewPortAndTheRecordFollows) {
  StartServer();
  const unsigned short devPort = testsupport::FreeUdpPort();
  auto r = Devsim({"--devices", "1", "--port", std::to_string(devPort), "--move-port",
                   "--heartbeats", "2", "--heartbeat-ms", "100"});
  ASSERT_EQ(r.status, 0) << r.Summary();
  EXPECT_NE(r.Summary().find("heartbeats=2/2"), std::string::npos) << r.Summary();
  EXPECT_FALSE(server
                   ->WaitForLine("Новый IP и Port(EA). IP=127.1.0.1 Port=" +
                                     std::to_string(devPort + 1) + " Пульт.N=1/0/1",
                                 2s)
                   .empty());
}

TEST_F(EndToEnd, HeartbeatTimeRequestEventAndEchoAreAnswered) {
  StartServer();
  auto r = Devsim({"--devices", "3", "--heartbeats", "2", "--heartbeat-ms", "100",
                   "--time-requests", "1", "--events", "2", "--echo", "2"});
  ASSERT_EQ(r.status, 0) << r.Summary();
  const std::string s = r.Summary();
  EXPECT_NE(s.find("registered=3 heartbeats=6/6 time=3/3 events=6/6 echoes=6/6"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("undecryptable=0 unanswered=0"), std::string::npos) << s;
}

TEST_F(EndToEnd, UpToFiveLostTelegramsAreToleratedSixAreNot) {
  StartServer();
  auto three = Devsim({"--devices", "1", "--first", "2/0/1", "--skip", "3", "--heartbeats", "1"});
  EXPECT_EQ(three.status, 0) << three.Summary();
  auto six = Devsim({"--devices", "1", "--first", "2/0/2", "--source", "127.1.0.9", "--skip",
                     "6", "--heartbeats", "1", "--answer-timeout-ms", "500"});
  EXPECT_EQ(six.status, 1) << six.Summary();
  EXPECT_NE(six.Summary().find("heartbeats=1/0"), std::string::npos) << six.Summary();
}

TEST_F(EndToEnd, AnEventRefusedByAFullWorkstationQueueIsNotAcknowledged) {
  StartServer();
  // Nothing polls the workstation queue, so its eight slots fill up.
  auto r = Devsim({"--devices", "1", "--events", "9", "--event-retry-ms", "100", "--duration-ms",
                   "1500", "--answer-timeout-ms", "300"});
  EXPECT_EQ(r.status, 1) << r.Summary();
  EXPECT_NE(r.Summary().find("events=9/8"), std::string::npos) << r.Summary();
  EXPECT_FALSE(server->WaitForLine("Переполнение Буфера, нет связи с АРМ(ом)!", 2s).empty());
}

TEST_F(EndToEnd, AnotherDeviceUnderATakenNumberTakesItOverOnThe27thAttempt) {
  StartServer();
  auto owner = Devsim({"--devices", "1", "--first", "3/0/5", "--heartbeats", "1"});
  ASSERT_EQ(owner.status, 0) << owner.Summary();
  const int index = owner.RegisteredIndex("3/0/5");
  ASSERT_GE(index, 0);

  // The owner is silent now; the newcomer keeps registering.
  auto newcomer = Devsim({"--devices", "1", "--first", "3/0/5", "--source", "127.1.0.7",
                          "--identity", "A1B2", "--reg-retry-ms", "50", "--heartbeats", "1",
                          "--json-summary"});
  ASSERT_EQ(newcomer.status, 0);
  EXPECT_EQ(newcomer.RegisteredIndex("3/0/5"), index);
  bool sent27 = false;
  for (const std::string& l : newcomer.lines)
    sent27 = sent27 || l.find("\"registrations_sent\":27,") != std::string::npos;
  EXPECT_TRUE(sent27) << "the 27th registration should be the one answered";
  EXPECT_FALSE(server->WaitForLine(" ПОДМЕНА! или двойные пульт. номера Пульт.N=3/0/5", 2s).empty());
  EXPECT_EQ(server->Count("ПОДМЕНА!"), 1u);
}

TEST_F(EndToEnd, OneNumberRegistrationTakesOnlyThatNumberThenCloses) {
  StartServer({"--register", "4/0/5"});
  auto other = Devsim({"--devices", "1", "--first", "4/0/4", "--reg-retry-ms", "100",
                       "--duration-ms", "700", "--answer-timeout-ms", "300"});
  EXPECT_EQ(other.status, 1) << other.Summary();
  EXPECT_NE(other.Summary().find("registered=0"), std::string::npos) << other.Summary();

  auto awaited = Devsim({"--devices", "1", "--first", "4/0/5", "--source", "127.1.0.5",
                         "--heartbeats", "1"});
  EXPECT_EQ(awaited.status, 0) << awaited.Summary();

  auto late = Devsim({"--devices", "1", "--first", "4/0/6", "--source", "127.1.0.6",
                      "--reg-retry-ms", "100", "--duration-ms", "700", "--answer-timeout-ms", "300"});
  EXPECT_NE(late.Summary().find("registered=0"), std::string::npos) << late.Summary();
}

TEST_F(EndToEnd, RegisteringAKnownNumberWarnsAtOnce) {
  ASSERT_EQ(ChildProcess(kBin + "/devsim", {"--make-ndx", dir.File("relay-server.ndx"),
                                            "--devices", "2", "--first", "5/0/1"})
                .Wait(10s),
            0);
  StartServer({"--register", "5/0/2"});
  EXPECT_FALSE(
      server->WaitForLine(" ВНИМАНИЕ! Прибор с таким номером  уже есть.N=5/0/2", 3s).empty());
}

TEST_F(EndToEnd, DevicesFromARegistryFileAreServedWithoutRegistering) {
  ASSERT_EQ(ChildProcess(kBin + "/devsim", {"--make-ndx", dir.File("relay-server.ndx"),
                                            "--devices", "50"})
                .Wait(10s),
            0);
  StartServer({});
  auto r = Devsim({"--ndx", dir.File("relay-server.ndx"), "--heartbeats", "2", "--heartbeat-ms",
                   "200", "--events", "1"});
  EXPECT_EQ(r.status, 0) << r.Summary();
  EXPECT_NE(r.Summary().find("heartbeats=100/100"), std::string::npos) << r.Summary();
}

TEST_F(EndToEnd, StopsCleanlyOnSigterm) {
  StartServer({});
  EXPECT_EQ(server->Terminate(), 0);
}

// Under a flood of datagrams the ring fills once the device worker has
// stopped; the listener must not hold each datagram of its batch for room
// that never comes. Measured against a stop without the flood.
TEST_F(EndToEnd, StopsPromptlyUnderAFloodOfDatagrams) {
  // The save of a large registry at exit leaves the ring time to fill.
  ASSERT_EQ(ChildProcess(kBin + "/devsim", {"--make-ndx", dir.File("relay-server.ndx"),
                                            "--devices", "30000", "--quiet"})
                .Wait(20s),
            0);
  // Milliseconds from SIGTERM to the end of a server started anew.
  const auto stopTime = [&](bool flood) -> long long {
    StartServer({});
    std::atomic<bool> flooding{flood};
    std::thread sender([&] {
      const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(port);
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      const uint8_t junk[32] = {0xEA, 30};
      // Bursts of 1,000, about 40,000 datagrams a second.
      while (flooding) {
        for (int k = 0; k < 1000; ++k)
          ::sendto(s, junk, sizeof junk, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        std::this_thread::sleep_for(25ms);
      }
      ::close(s);
    });
    std::this_thread::sleep_for(500ms);
    const auto t0 = std::chrono::steady_clock::now();
    const int status = server->Terminate(60s);
    const auto took = std::chrono::steady_clock::now() - t0;
    flooding = false;
    sender.join();
    EXPECT_EQ(status, 0);
    return std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
  };
  const long long idle = stopTime(false);
  const long long flooded = stopTime(true);
  EXPECT_LT(flooded, idle + 500) << "idle " << idle << " ms, flooded " << flooded << " ms";
}

// Without --headless the console needs a display: none, and the program
// ends at once saying how to run without one.
TEST_F(EndToEnd, WithoutADisplayTheConsoleEndsAndNamesHeadless) {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::unsetenv(name);
  ChildProcess p(kBin + "/relay-server", {"--data-dir", dir.Path()}, /*withStderr=*/true);
  EXPECT_EQ(p.Wait(10s), 1);
  bool named = false;
  for (const std::string& l : p.Lines()) named = named || l.find("--headless") != std::string::npos;
  EXPECT_TRUE(named) << "the message names --headless";

  // The headless options make no sense for the console.
  ChildProcess trace(kBin + "/relay-server", {"--data-dir", dir.Path(), "--trace"},
                     /*withStderr=*/true);
  EXPECT_EQ(trace.Wait(10s), 2);
}

struct BadStart {
  std::vector<std::string> args;
  std::string settings;  // appended to the settings file
  int status;
  std::string says;
};

// Names the case in test listings.
void PrintTo(const BadStart& c, std::ostream* os) {
  for (const std::string& a : c.args) *os << a << " ";
  *os << "-> " << c.status;
}

class EndToEndBadStart : public EndToEnd, public ::testing::WithParamInterface<BadStart> {};

TEST_P(EndToEndBadStart, EndsWithAClearMessage) {
  const BadStart& c = GetParam();
  WriteSettings(c.settings);
  std::vector<std::string> args = {"--headless", "--data-dir", dir.Path()};
  args.insert(args.end(), c.args.begin(), c.args.end());
  ChildProcess p(kBin + "/relay-server", args, /*withStderr=*/true);
  EXPECT_EQ(p.Wait(10s), c.status);
  bool found = false;
  for (const std::string& l : p.Lines()) found = found || l.find(c.says) != std::string::npos;
  EXPECT_TRUE(found) << "expected a line with: " << c.says;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EndToEndBadStart,
    ::testing::Values(
        BadStart{{"--bogus"}, "", 2, "неизвестный параметр \"--bogus\""},
        BadStart{{"--register", "1/0"}, "", 2, "--register: ожидается"},
        BadStart{{"--register", "1/0/256"}, "", 2, "--register: ожидается"},
        BadStart{{"--data-dir"}, "", 2, "--data-dir: нужно значение"},
        BadStart{{}, "[Deployment]\r\nRegKeyBase=12345\r\n", 1, "RegKeyBase"}));

}  // namespace
