// The complete headless relay: relay-server with devsim playing the object
// devices over loopback UDP and armsim playing the workstation on a pty pair.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"
#include "tests/support/sim_output.h"
#include "tests/support/socat_pair.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using testsupport::ArmItem;
using testsupport::ChildProcess;
using testsupport::CountItems;
using testsupport::Items;
using testsupport::Joined;
using testsupport::JsonField;
using testsupport::WaitCount;
using testsupport::WaitUntil;

const std::string kBin = RELAY_BIN_DIR;
constexpr size_t kRecordBytes = 3166;

// ---- devsim output --------------------------------------------------------

std::string DevsimSummary(const std::vector<std::string>& lines) {
  for (const std::string& l : lines)
    if (l.rfind("devsim: devices=", 0) == 0) return l;
  return "";
}

// The bytes of the first telegram devsim logged after `key` ("1/0/5 <- request: ").
std::vector<unsigned> LoggedBytes(const std::vector<std::string>& lines, const std::string& key) {
  std::vector<unsigned> bytes;
  for (const std::string& l : lines) {
    const size_t at = l.find(key);
    if (at == std::string::npos) continue;
    std::istringstream in(l.substr(at + key.size()));
    unsigned b;
    while (in >> std::hex >> b) bytes.push_back(b);
    break;
  }
  return bytes;
}

// ---- fixture --------------------------------------------------------------

class Relay : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string portsDir = dir.File("ports");
  std::unique_ptr<testsupport::SocatPair> pair;
  unsigned short port = testsupport::FreeUdpPort();
  std::unique_ptr<ChildProcess> server;

  void SetUp() override {
    ::mkdir(portsDir.c_str(), 0755);
    pair = std::make_unique<testsupport::SocatPair>(portsDir);
    WriteSettings();
  }

  std::string Ndx() const { return dir.File("relay-server.ndx"); }

  void WriteSettings(const std::string& extra = "") {
    const std::string form1 = "[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\nEditPortServ1=" +
                              std::to_string(port) + "\r\nNnPort=0\r\n" + extra;
    testsupport::WriteFile(dir.File("relay-server.ini"), testsupport::SafeNetworkIni(form1));
  }

  std::vector<std::string> ServerArgs(std::vector<std::string> args) const {
    args.insert(args.begin(),
                {"--headless", "--data-dir", dir.Path(), "--ports-dir", portsDir});
    return args;
  }

  // Starts the server (stdout and stderr collected) and waits until it runs.
  void StartServer(std::vector<std::string> args) {
    server = std::make_unique<ChildProcess>(kBin + "/relay-server", ServerArgs(args),
                                            /*withStderr=*/true);
    ASSERT_FALSE(server->WaitForLine("relay-server: работает", 10s).empty())
        << Joined(server->Lines());
    ASSERT_TRUE(testsupport::WaitUdpBound(port, 5s));
    ASSERT_FALSE(server->WaitForLine("CNCB0 - Успешно открыт.", 5s).empty());
  }

  // devsim against the server, --verbose lines included.
  std::unique_ptr<ChildProcess> Devsim(std::vector<std::string> args) {
    args.insert(args.begin(), {"--server", "127.0.0.1:" + std::to_string(port), "--verbose",
                               "--start-spread-ms", "0"});
    return std::make_unique<ChildProcess>(kBin + "/devsim", args, /*withStderr=*/true);
  }

  // Runs devsim to its end; returns its summary after checking its exit status.
  std::string RunDevsim(std::vector<std::string> args, int status = 0) {
    auto d = Devsim(std::move(args));
    EXPECT_EQ(d->Wait(20s), status) << Joined(d->Lines());
    return DevsimSummary(d->Lines());
  }

  // armsim on the workstation's end of the pair, polling group 1 every 20 ms.
  std::unique_ptr<ChildProcess> Armsim(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", pair->B(), "--groups", "1", "--poll-ms", "20",
                               "--json-summary"});
    return std::make_unique<ChildProcess>(kBin + "/armsim", args, /*withStderr=*/true);
  }

  // armsim for `ms` ms; its lines.
  std::vector<std::string> RunArmsim(std::vector<std::string> args, int ms) {
    args.insert(args.end(), {"--duration-ms", std::to_string(ms)});
    auto a = Armsim(std::move(args));
    EXPECT_EQ(a->Wait(std::chrono::milliseconds(ms) + 10s), 0) << Joined(a->Lines());
    return a->Lines();
  }
};

// ---- a server with its output elsewhere ------------------------------------

// Starts the server with stderr in `out`, and stdout there too unless
// `stdoutFd` names a descriptor for it; returns its process id.
pid_t SpawnServer(const std::vector<std::string>& args, const std::string& out,
                  int stdoutFd = -1) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 2, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (stdoutFd >= 0) {
    posix_spawn_file_actions_adddup2(&fa, stdoutFd, 1);
  } else {
    posix_spawn_file_actions_adddup2(&fa, 2, 1);
  }
  const std::string path = kBin + "/relay-server";
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  return rc == 0 ? pid : -1;
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

long long FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

// ---- the road of an event -------------------------------------------------

TEST_F(Relay, AnEventTravelsToTheWorkstationAndIsAcknowledgedOnBothSides) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  const std::string s = RunDevsim(
      {"--devices", "1", "--first", "1/0/5", "--events", "1", "--event-code", "0x21",
       "--heartbeat-ms", "0"});
  EXPECT_NE(s.find("registered=1 "), std::string::npos) << s;
  EXPECT_NE(s.find("events=1/1 "), std::string::npos) << s;

  const auto lines = RunArmsim({}, 700);
  const auto items = Items(lines);
  // A new registration reports its first sign of life as a restored link.
  ASSERT_EQ(items.size(), 2u) << Joined(lines);
  EXPECT_EQ(items[0].number, "1/0/5");
  EXPECT_EQ(items[0].code, 0x17);
  EXPECT_EQ(items[1].number, "1/0/5");
  EXPECT_EQ(items[1].code, 0x21);
  EXPECT_NE(items[0].counter, items[1].counter);
  EXPECT_FALSE(items[0].resend || items[1].resend);
  // Both acknowledgements were taken: no resends, and the polls after them are answered empty.
  const std::string summary = lines.empty() ? "" : lines.back();
  EXPECT_EQ(JsonField(summary, "acks_sent"), "2") << summary;
  EXPECT_NE(JsonField(summary, "empty"), "0") << summary;
  EXPECT_EQ(JsonField(summary, "no_answer"), "0") << summary;
}

// A device that has just registered has forwarded nothing yet: its first
// event and its first heartbeat count whatever their sequence byte, 0 included.
TEST_F(Relay, ANewDevicesFirstEventAndHeartbeatWithSequenceZeroCount) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  std::string s = RunDevsim({"--devices", "1", "--first", "1/0/5", "--first-seq", "0",
                             "--events", "1", "--event-code", "0x21", "--heartbeat-ms", "0"});
  EXPECT_NE(s.find("events=1/1 "), std::string::npos) << s;
  s = RunDevsim({"--devices", "1", "--first", "1/0/6", "--source", "127.1.0.6", "--first-seq",
                 "0", "--heartbeats", "1"});
  EXPECT_NE(s.find("heartbeats=1/1 "), std::string::npos) << s;

  const auto lines = RunArmsim({}, 700);
  const auto items = Items(lines);
  EXPECT_EQ(CountItems(items, "1/0/5", 0x21), 1u) << "the event is not a repetition\n"
                                                  << Joined(lines);
  EXPECT_EQ(CountItems(items, "1/0/6", 0x17), 1u) << "the heartbeat is a sign of life\n"
                                                  << Joined(lines);
}

TEST_F(Relay, AnUnacknowledgedItemIsWrittenAtTheNextThreePollsThenGivenUp) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  RunDevsim({"--devices", "1", "--first", "1/0/5", "--events", "1", "--event-code", "0x21",
             "--heartbeat-ms", "0"});

  auto arm = Armsim({"--no-ack-every", "1"});
  // Two items, the link notice and the event, each written four times.
  ASSERT_TRUE(WaitCount(*arm, "\"type\":\"item\"", 8, 10s)) << Joined(arm->Lines());
  // Polls after the last resend: given up items are not written again.
  std::this_thread::sleep_for(300ms);
  arm->Terminate();
  const auto lines = arm->Lines();
  const auto items = Items(lines);
  ASSERT_EQ(items.size(), 8u) << Joined(lines);
  for (size_t k = 0; k < items.size(); ++k) {
    const ArmItem& first = items[k / 4 * 4];
    EXPECT_EQ(items[k].counter, first.counter) << k;
    EXPECT_EQ(items[k].code, first.code) << k;
    EXPECT_EQ(items[k].resend, k % 4 != 0) << k;
  }
  EXPECT_EQ(items[0].code, 0x17);
  EXPECT_EQ(items[4].code, 0x21);
  const std::string summary = lines.back();
  EXPECT_EQ(JsonField(summary, "type"), "summary") << summary;
  EXPECT_NE(JsonField(summary, "empty"), "0") << summary;
}

// ---- link supervision -------------------------------------------------------

TEST_F(Relay, ASilentDeviceIsReportedFailedAndRestoredByItsNextHeartbeat) {
  WriteSettings("NaruchUO=0\r\n");
  // 10 ms ticks: the failure comes about 1.4 s after the last sign of life.
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all", "--tick-ms", "10"}));
  auto arm = Armsim({});
  auto dev = Devsim({"--devices", "1", "--first", "1/0/5", "--heartbeats", "2", "--heartbeat-ms",
                     "3000"});

  // A failure, then a restoration after it.
  auto failedThenRestored = [&] {
    const auto items = Items(arm->Lines());
    for (size_t k = 0; k < items.size(); ++k) {
      if (items[k].number != "1/0/5" || items[k].code != 0x16) continue;
      for (size_t j = k + 1; j < items.size(); ++j)
        if (items[j].number == "1/0/5" && items[j].code == 0x17) return true;
    }
    return false;
  };
  EXPECT_TRUE(WaitUntil(failedThenRestored, 10s)) << Joined(arm->Lines());
  EXPECT_EQ(dev->Wait(10s), 0) << Joined(dev->Lines());
}

// Standard output that nobody reads holds up only the lines: the main tick
// goes on, and a device that falls silent is reported on time.
TEST_F(Relay, ASilentDeviceIsReportedWhileNobodyReadsTheOutput) {
  WriteSettings("NaruchUO=0\r\n");
  int out[2];
  ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
  ::fcntl(out[1], F_SETPIPE_SZ, 4096);  // the smallest pipe fills with a few dozen lines
  const std::string err = dir.File("server.err");
  const pid_t pid = SpawnServer(ServerArgs({"--register", "all", "--tick-ms", "10", "--trace"}),
                                err, out[1]);
  ::close(out[1]);
  ASSERT_GT(pid, 0);
  // Reaps the server and empties the pipe on every way out of the test.
  struct Cleanup {
    pid_t pid;
    int fd;
    ~Cleanup() {
      ::kill(pid, SIGKILL);
      std::thread drain([fd = fd] {
        char buf[4096];
        while (::read(fd, buf, sizeof buf) > 0) {
        }
      });
      ::waitpid(pid, nullptr, 0);
      drain.join();
      ::close(fd);
    }
  } cleanup{pid, out[0]};
  ASSERT_TRUE(WaitUntil([&] { return ReadAll(err).find("relay-server: работает") != std::string::npos; },
                        10s))
      << ReadAll(err);

  auto arm = Armsim({});
  // Enough traffic lines to fill the pipe, then silence.
  const std::string s = RunDevsim({"--devices", "1", "--first", "1/0/5", "--heartbeats", "40",
                                   "--heartbeat-ms", "50"});
  EXPECT_NE(s.find("heartbeats=40/40 "), std::string::npos) << s;
  int queued = 0;
  ASSERT_EQ(::ioctl(out[0], FIONREAD, &queued), 0);
  EXPECT_GT(queued, 3000) << "the pipe should be full";

  // The failure comes about 1.4 s after the last heartbeat.
  const bool reported = WaitUntil([&] { return CountItems(Items(arm->Lines()), "1/0/5", 0x16) > 0; }, 5s);
  EXPECT_TRUE(reported) << Joined(arm->Lines());
}

// ---- workstation commands ---------------------------------------------------

TEST_F(Relay, Command69IsRepliedWith08AndSwitchesTheDeviceOff) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  auto dev = Devsim({"--devices", "1", "--first", "1/0/5", "--heartbeat-ms", "500",
                     "--duration-ms", "8000"});
  ASSERT_FALSE(server->WaitForLine("РЕГИСТРАЦИЯ!", 5s).empty());

  auto arm = Armsim({"--send", "FE0803010005000069"});
  ASSERT_FALSE(arm->WaitForLine("\"code\":8,", 5s).empty()) << Joined(arm->Lines());
  const auto items = Items(arm->Lines());
  ASSERT_EQ(CountItems(items, "1/0/5", 0x08), 1u);
  for (const ArmItem& it : items) {
    if (it.code == 0x08) {
      EXPECT_EQ(it.counter, 0) << "the reply carries the command's counter";
    }
  }

  // The switch-off request at the device: L = 9, number 1/0/5, command 0x7D, parameter 1.
  ASSERT_FALSE(dev->WaitForLine("1/0/5 <- request: ", 5s).empty()) << Joined(dev->Lines());
  const auto req = LoggedBytes(dev->Lines(), "1/0/5 <- request: ");
  ASSERT_EQ(req.size(), 11u);
  EXPECT_EQ(req[0], 0xEAu);
  EXPECT_EQ(req[1], 9u);
  EXPECT_EQ(std::vector<unsigned>(req.begin() + 2, req.begin() + 7),
            (std::vector<unsigned>{3, 1, 0, 5, 0}));
  EXPECT_EQ(req[8], 0x7Du);
  EXPECT_EQ(req[9], 1u);
  // devsim answers it; the server decodes the answer it expected.
  EXPECT_FALSE(server->WaitForLine("Пульт.N-1/0/5 Исполнено:\"Выкл.За неуплату.\"", 5s).empty())
      << Joined(server->Lines());
}

TEST_F(Relay, AnUnansweredRequestIsResentFreshlyEncryptedThenReportedNotExecuted) {
  // Repetition on, 4 sends (item 2), period 10 ticks (item 0), 10 ms ticks.
  WriteSettings("CheckPOVTORTLG=1\r\nBoxNPovtor=2\r\nBoxTimePovtor=0\r\n");
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all", "--tick-ms", "10"}));
  auto dev = Devsim({"--devices", "1", "--first", "1/0/5", "--heartbeat-ms", "500",
                     "--duration-ms", "8000", "--no-answer-requests"});
  ASSERT_FALSE(server->WaitForLine("РЕГИСТРАЦИЯ!", 5s).empty());

  auto arm = Armsim({"--send", "FE090301000500077F01"});
  ASSERT_FALSE(server->WaitForLine("Запрос Пульт.N=1/0/5 - не Выполнен.", 5s).empty())
      << Joined(server->Lines());
  const std::string request = "1/0/5 <- request: EA 09 03 01 00 05 00 07 7F 01";
  EXPECT_TRUE(WaitCount(*dev, request, 4, 2s)) << Joined(dev->Lines());
  dev->Terminate();
  // devsim decrypts with its receive chaining value moving on: a resent copy of
  // the same cipher text would count as undecryptable.
  EXPECT_EQ(dev->Count(request), 4u) << Joined(dev->Lines());
  const std::string s = DevsimSummary(dev->Lines());
  EXPECT_NE(s.find("requests=4/0 "), std::string::npos) << s;
  EXPECT_NE(s.find("undecryptable=0 "), std::string::npos) << s;
  EXPECT_EQ(server->Count("не Выполнен."), 1u);
}

class RelayBalance : public Relay, public ::testing::WithParamInterface<bool> {};

TEST_P(RelayBalance, ABalancePacketReachesTheWorkstationOnlyWhenNotSuppressed) {
  const bool suppressed = GetParam();
  WriteSettings(std::string("CheckBoxBalanseGsm=") + (suppressed ? "1" : "0") + "\r\n");
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  auto dev = Devsim({"--devices", "1", "--first", "1/0/5", "--heartbeat-ms", "500",
                     "--duration-ms", "8000"});
  ASSERT_FALSE(server->WaitForLine("РЕГИСТРАЦИЯ!", 5s).empty());

  auto arm = Armsim({"--send", "FE090301000500077E01"});
  // devsim answers the balance request with a 0x44 event of the request's sequence.
  ASSERT_FALSE(dev->WaitForLine("1/0/5 <- request: EA 09 03 01 00 05 00 07 7E 01", 5s).empty())
      << Joined(dev->Lines());
  EXPECT_FALSE(dev->WaitForLine("1/0/5 <- event-ack: EA 07 55 09 01 00 05 07", 5s).empty())
      << "the device gets its acknowledgement either way\n"
      << Joined(dev->Lines());
  // Once acknowledged, the event is queued at once: the next polls would fetch it.
  const bool seen = !arm->WaitForLine("\"code\":68,", 1s).empty();
  EXPECT_EQ(seen, !suppressed) << Joined(arm->Lines());
  if (seen) {
    const auto items = Items(arm->Lines());
    for (const ArmItem& it : items) {
      if (it.code == 0x44) {
        EXPECT_EQ(it.data, "00960001") << "150 on SIM card 1";
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(GlBalanseOff, RelayBalance, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "On" : "Off"; });

// ---- restart and the registry -------------------------------------------------

TEST_F(Relay, ARestartKeepsRegistrationsChainingValuesAndQueuedEvents) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  // Two devices that live on across the restart; nothing polls the workstation queues.
  auto dev = Devsim({"--devices", "2", "--first", "1/0/5", "--events", "2", "--event-code",
                     "0x21", "--heartbeat-ms", "1000", "--answer-timeout-ms", "5000",
                     "--duration-ms", "20000"});
  ASSERT_TRUE(WaitCount(*dev, "<- event-ack: ", 4, 5s)) << Joined(dev->Lines());
  ASSERT_TRUE(WaitCount(*dev, "1/0/5 <- heartbeat: ", 1, 5s));
  ASSERT_TRUE(WaitCount(*dev, "1/0/6 <- heartbeat: ", 1, 5s));
  ASSERT_EQ(server->Terminate(), 0);
  struct stat st {};
  ASSERT_EQ(::stat(Ndx().c_str(), &st), 0);
  EXPECT_EQ(size_t(st.st_size) % kRecordBytes, 0u);

  const size_t before5 = dev->Count("1/0/5 <- heartbeat: ");
  const size_t before6 = dev->Count("1/0/6 <- heartbeat: ");
  ASSERT_NO_FATAL_FAILURE(StartServer({}));
  EXPECT_FALSE(server->WaitForLine("зарегистрировано приборов: 2)", 1s).empty());
  // The same devices, with the chaining values they went on with, are answered.
  EXPECT_TRUE(WaitCount(*dev, "1/0/5 <- heartbeat: ", before5 + 1, 5s)) << Joined(dev->Lines());
  EXPECT_TRUE(WaitCount(*dev, "1/0/6 <- heartbeat: ", before6 + 1, 5s)) << Joined(dev->Lines());
  dev->Terminate();
  const std::string s = DevsimSummary(dev->Lines());
  EXPECT_NE(s.find("undecryptable=0 "), std::string::npos) << s;

  const auto lines = RunArmsim({}, 800);
  const auto items = Items(lines);
  for (const std::string number : {"1/0/5", "1/0/6"}) {
    std::vector<std::string> data;
    for (const ArmItem& it : items)
      if (it.number == number && it.code == 0x21) data.push_back(it.data);
    EXPECT_EQ(data, (std::vector<std::string>{"00", "01"})) << number << "\n" << Joined(lines);
  }
}

TEST_F(Relay, AKillDuringTheRegistrySaveLeavesALoadableRegistry) {
  constexpr int kDevices = 65534;
  const long long kSize = (long long)kDevices * kRecordBytes;
  ASSERT_EQ(ChildProcess(kBin + "/devsim", {"--make-ndx", Ndx(), "--devices",
                                            std::to_string(kDevices), "--quiet"})
                .Wait(20s),
            0);
  ASSERT_EQ(FileSize(Ndx()), kSize);
  // The temporary files of registry saves: "relay-server.ndx." and six characters.
  const auto temporaries = [&] {
    std::vector<std::string> found;
    const std::string prefix = "relay-server.ndx.";
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
      const std::string name = e.path().filename().string();
      if (name.size() == prefix.size() + 6 && name.rfind(prefix, 0) == 0) found.push_back(e.path());
    }
    return found;
  };
  const std::string out = dir.File("server.out");
  const std::string loaded = "зарегистрировано приборов: " + std::to_string(kDevices) + ")";

  int killedWhileSaving = 0;
  // Delays after the new file appears, up to about the length of a save.
  for (const int delayMs : {0, 30, 120, 300, 600}) {
    SCOPED_TRACE("kill " + std::to_string(delayMs) + " ms into the save");
    const pid_t pid = SpawnServer(ServerArgs({}), out);
    ASSERT_GT(pid, 0);
    const bool ready =
        WaitUntil([&] { return ReadAll(out).find("relay-server: работает") != std::string::npos; },
                  10s);
    const std::string text = ReadAll(out);
    if (!ready) ::kill(pid, SIGKILL);
    int st = 0;
    if (!ready) ::waitpid(pid, &st, 0);
    ASSERT_TRUE(ready) << text;
    EXPECT_NE(text.find(loaded), std::string::npos) << text;

    // What the previous kill left went at this start, so a new file marks this save.
    EXPECT_TRUE(temporaries().empty()) << "a start removes the files of killed saves";
    ::kill(pid, SIGTERM);
    bool exited = false;
    WaitUntil(
        [&] {
          exited = ::waitpid(pid, &st, WNOHANG) == pid;
          return exited || !temporaries().empty();
        },
        10s);
    if (!exited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &st, 0);
    }
    killedWhileSaving += WIFSIGNALED(st) && WTERMSIG(st) == SIGKILL;
    EXPECT_EQ(FileSize(Ndx()), kSize) << "the registry must be whole after the kill";
  }
  EXPECT_GT(killedWhileSaving, 0) << "no kill landed during a save";

  // The last start finds the registry whole, and a clean stop saves it again.
  ASSERT_NO_FATAL_FAILURE(StartServer({}));
  EXPECT_FALSE(server->WaitForLine(loaded, 1s).empty()) << Joined(server->Lines());
  EXPECT_EQ(server->Terminate(), 0);
  EXPECT_EQ(FileSize(Ndx()), kSize);
  EXPECT_TRUE(temporaries().empty()) << "a finished save leaves no temporary file";
}

// ---- a second copy ------------------------------------------------------------

TEST_F(Relay, ASecondCopyOnTheSameWorkstationPortEndsAndTheFirstRunsOn) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  ChildProcess second(kBin + "/relay-server", ServerArgs({"--register", "all"}),
                      /*withStderr=*/true);
  EXPECT_EQ(second.Wait(10s), 1);
  bool said = false;
  for (const std::string& l : second.Lines())
    said = said || l.find("второй экземпляр") != std::string::npos;
  EXPECT_TRUE(said) << Joined(second.Lines());
  EXPECT_EQ(FileSize(Ndx()), -1) << "the second copy must not write the registry";

  // The first still serves devices and the workstation.
  const std::string s =
      RunDevsim({"--devices", "1", "--first", "1/0/5", "--heartbeats", "1", "--heartbeat-ms", "100"});
  EXPECT_NE(s.find("heartbeats=1/1 "), std::string::npos) << s;
  const auto items = Items(RunArmsim({}, 300));
  EXPECT_EQ(CountItems(items, "1/0/5", 0x17), 1u);
  EXPECT_EQ(server->Terminate(), 0);
  EXPECT_EQ(server->Count("CNCB0 - закрыт."), 1u);
}

// Two servers on one data folder, each with a port of its own: the second is
// a second copy all the same, and leaves the first one's registry as it was.
TEST_F(Relay, ASecondServerOnTheSameDataFolderIsASecondCopy) {
  ASSERT_EQ(ChildProcess(kBin + "/devsim", {"--make-ndx", Ndx(), "--devices", "3"}).Wait(10s), 0);
  const std::string before = ReadAll(Ndx());
  ASSERT_EQ(before.size(), 3 * kRecordBytes);
  ASSERT_NO_FATAL_FAILURE(StartServer({}));

  const std::string other = dir.File("other");
  ::mkdir(other.c_str(), 0755);
  testsupport::SocatPair otherPair(other);
  ChildProcess second(kBin + "/relay-server",
                      {"--headless", "--data-dir", dir.Path(), "--ports-dir", other},
                      /*withStderr=*/true);
  EXPECT_EQ(second.Wait(10s), 1) << Joined(second.Lines());
  EXPECT_FALSE(second.WaitForLine("второй экземпляр", 1s).empty()) << Joined(second.Lines());
  EXPECT_EQ(ReadAll(Ndx()), before) << "the second copy must not write the registry";

  // The first runs on and still serves its devices.
  const std::string s = RunDevsim({"--ndx", Ndx(), "--heartbeats", "1"});
  EXPECT_NE(s.find("heartbeats=3/3 "), std::string::npos) << s;
  EXPECT_EQ(server->Terminate(), 0);
}

// The workstation port may appear between the two tries of the start; found
// held by another server at the second try, it still makes this copy a
// second copy, which serves no device and leaves the registry alone.
TEST_F(Relay, APortHeldAtTheSecondTryMakesASecondCopy) {
  const std::string late = dir.File("late");
  ::mkdir(late.c_str(), 0755);
  testsupport::SocatPair held(late, "held", "other");
  const int fd = ::open(held.A().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // as the running server holds its port
  std::vector<std::string> args = {"--headless", "--data-dir", dir.Path(), "--ports-dir", late};

  // The link must appear within the 100 ms between the tries; a late one is tried again.
  bool caught = false;
  for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
    ::unlink((late + "/CNCB0").c_str());
    ChildProcess second(kBin + "/relay-server", args, /*withStderr=*/true);
    ASSERT_FALSE(second.WaitForLine("CNCB0 - не открыт.", 10s).empty()) << Joined(second.Lines());
    ASSERT_EQ(::symlink(held.A().c_str(), (late + "/CNCB0").c_str()), 0);
    const auto decided = [&] {
      return second.Count("relay-server: работает") + second.Count("второй экземпляр") > 0;
    };
    ASSERT_TRUE(WaitUntil(decided, 20s)) << Joined(second.Lines());
    if (second.Count("relay-server: работает") > 0) {
      second.Terminate();  // the link came after the second try
      ::unlink(Ndx().c_str());
      continue;
    }
    caught = true;
    EXPECT_EQ(second.Wait(10s), 1) << Joined(second.Lines());
    EXPECT_EQ(second.Count("CNCB0 - не открыт."), 2u) << Joined(second.Lines());
  }
  ::close(fd);
  ASSERT_TRUE(caught) << "the port never appeared between the two tries";
  EXPECT_EQ(FileSize(Ndx()), -1) << "a second copy must not write the registry";
  EXPECT_FALSE(testsupport::WaitUdpBound(port, 100ms)) << "a second copy must not serve devices";
}

}  // namespace
