// The systemd watchdog: the health check over the three progress counts, the
// pinging thread with a fake notifier, and a real server whose device worker
// is made to hang on Lock.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "app/server.h"
#include "app/service_supervision.h"
#include "platform/service_notify.h"
#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"

namespace {

using namespace std::chrono_literals;
using app::ProgressHealth;
using app::ServiceSupervision;
using app::WorkPart;
using Clock = std::chrono::steady_clock;

// ---- the health check ---------------------------------------------------------

struct Sample {
  int atMs;
  app::Server::WorkProgress counts;
};

struct HealthCase {
  const char* name;
  std::vector<Sample> samples;
  std::array<bool, 3> stalled;  // device worker, workstation worker, front end
};

void PrintTo(const HealthCase& c, std::ostream* os) { *os << c.name; }

class Health : public ::testing::TestWithParam<HealthCase> {};

TEST_P(Health, PingsOnlyWhileEveryCountChangedWithinTheLimit) {
  const HealthCase& c = GetParam();
  ProgressHealth health(1000ms);
  const Clock::time_point t0 = Clock::now();
  for (const Sample& s : c.samples) health.Sample(s.counts, t0 + std::chrono::milliseconds(s.atMs));
  bool anyStalled = false;
  for (WorkPart part : app::kWorkParts) {
    EXPECT_EQ(health.Stalled(part), c.stalled[size_t(part)]) << app::WorkPartName(part);
    anyStalled |= c.stalled[size_t(part)];
  }
  EXPECT_EQ(health.Healthy(), !anyStalled);
}

const HealthCase kHealthCases[] = {
    {"FirstSampleCountsAsProgress", {{0, {0, 0, 0}}}, {false, false, false}},
    {"AllProgressing",
     {{0, {1, 1, 1}}, {600, {2, 2, 2}}, {1200, {3, 3, 3}}, {1800, {4, 4, 4}}},
     {false, false, false}},
    {"StillForExactlyTheLimitIsTolerated",
     {{0, {7, 1, 1}}, {500, {7, 2, 2}}, {1000, {7, 3, 3}}},
     {false, false, false}},
    {"DeviceWorkerFrozen",
     {{0, {5, 1, 1}}, {600, {5, 2, 2}}, {1200, {5, 3, 3}}},
     {true, false, false}},
    {"WorkstationWorkerFrozen",
     {{0, {1, 5, 1}}, {600, {2, 5, 2}}, {1200, {3, 5, 3}}},
     {false, true, false}},
    {"FrontEndFrozen", {{0, {1, 1, 5}}, {600, {2, 2, 5}}, {1200, {3, 3, 5}}}, {false, false, true}},
    {"EverythingFrozen", {{0, {1, 1, 1}}, {1500, {1, 1, 1}}}, {true, true, true}},
    // The stall is measured from the last change, not from the previous sample.
    {"StallCountsFromTheLastChange",
     {{0, {1, 1, 1}}, {800, {2, 2, 2}}, {1600, {2, 3, 3}}, {1900, {2, 4, 4}}},
     {true, false, false}},
    {"RecoveredAfterAStall",
     {{0, {5, 1, 1}}, {1200, {5, 2, 2}}, {1300, {6, 3, 3}}},
     {false, false, false}},
};

INSTANTIATE_TEST_SUITE_P(Cases, Health, ::testing::ValuesIn(kHealthCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WatchdogDefaults, TolerateTheSlowestStepAndPingWellWithinThePeriod) {
  for (int tickMs : {100, 1000, 5000, 20000}) {
    EXPECT_GE(ServiceSupervision::DefaultStallLimit(tickMs), 10s) << tickMs;
    EXPECT_GE(ServiceSupervision::DefaultStallLimit(tickMs), 3 * std::chrono::milliseconds(tickMs))
        << tickMs;
  }
  for (auto period : {std::chrono::microseconds(200ms), std::chrono::microseconds(3s),
                      std::chrono::microseconds(30s), std::chrono::microseconds(10min)}) {
    const auto interval = ServiceSupervision::DefaultInterval(period);
    EXPECT_GT(interval.count(), 0);
    EXPECT_LE(interval * 4, period);
    EXPECT_LE(interval, 1s);
  }
}

// ---- the pinging thread ----------------------------------------------------------

class FakeNotifier final : public platform::ServiceNotifier {
 public:
  explicit FakeNotifier(std::optional<std::chrono::microseconds> period) : period_(period) {}

  void Ready() override { Note("READY=1"); }
  void Stopping() override { Note("STOPPING=1"); }
  void WatchdogPing() override {
    std::lock_guard<std::mutex> g(m_);
    pings_.push_back(Clock::now());
    cv_.notify_all();
  }
  std::optional<std::chrono::microseconds> WatchdogPeriod() const override { return period_; }

  size_t Pings() {
    std::lock_guard<std::mutex> g(m_);
    return pings_.size();
  }
  Clock::time_point LastPing() {
    std::lock_guard<std::mutex> g(m_);
    return pings_.empty() ? Clock::time_point{} : pings_.back();
  }
  bool WaitForPings(size_t n, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> g(m_);
    return cv_.wait_for(g, limit, [&] { return pings_.size() >= n; });
  }
  std::vector<std::string> States() {
    std::lock_guard<std::mutex> g(m_);
    return states_;
  }

 private:
  void Note(const char* state) {
    std::lock_guard<std::mutex> g(m_);
    states_.push_back(state);
  }

  const std::optional<std::chrono::microseconds> period_;
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<Clock::time_point> pings_;
  std::vector<std::string> states_;
};

// The watchdog's lines to the operator.
class Lines {
 public:
  ServiceSupervision::Report Sink() {
    return [this](const std::string& line) {
      std::lock_guard<std::mutex> g(m_);
      lines_.push_back(line);
      cv_.notify_all();
    };
  }
  // Waits for line number `index` (from 0); empty after the time-out.
  std::string Wait(size_t index, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> g(m_);
    cv_.wait_for(g, limit, [&] { return lines_.size() > index; });
    return lines_.size() > index ? lines_[index] : "";
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(m_);
    return lines_.size();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::vector<std::string> lines_;
};

// Counts that grow at every sample except where the test froze them.
struct ScriptedProgress {
  std::array<std::atomic<bool>, 3> frozen{};
  std::atomic<int> samples{0};
  app::Server::WorkProgress counts;

  ServiceSupervision::ProgressSource Source() {
    return [this] {
      ++samples;
      if (!frozen[0]) ++counts.deviceWorker;
      if (!frozen[1]) ++counts.comWorker;
      if (!frozen[2]) ++counts.frontEnd;
      return counts;
    };
  }
};

struct StallCase {
  WorkPart part;
  const char* name;
  const char* stallLine;  // a regular expression
  const char* recoveryLine;
};

void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

class Stall : public ::testing::TestWithParam<StallCase> {};

TEST_P(Stall, StopsThePingsNamesThePartOnceAndResumesOnRecovery) {
  const StallCase& c = GetParam();
  ScriptedProgress progress;
  FakeNotifier notifier(1s);
  Lines lines;
  ServiceSupervision sup(progress.Source(), notifier, 1000, {10ms, 100ms}, lines.Sink());
  sup.Ready();
  ASSERT_TRUE(notifier.WaitForPings(3, 5s));

  progress.frozen[size_t(c.part)] = true;
  const std::string stall = lines.Wait(0, 5s);
  EXPECT_TRUE(std::regex_match(stall, std::regex(c.stallLine))) << stall;
  const size_t pings = notifier.Pings();
  const int samples = progress.samples;
  std::this_thread::sleep_for(200ms);
  ASSERT_GT(progress.samples - samples, 3) << "the thread goes on sampling";
  EXPECT_EQ(notifier.Pings(), pings) << "no ping while a part stands still";
  EXPECT_EQ(lines.Count(), 1u) << "the stall is reported once: " << lines.Wait(1, 0ms);

  progress.frozen[size_t(c.part)] = false;
  EXPECT_TRUE(notifier.WaitForPings(pings + 3, 5s));
  const std::string recovery = lines.Wait(1, 1s);
  EXPECT_EQ(recovery, c.recoveryLine);
  sup.Stopping();
  EXPECT_EQ(lines.Count(), 2u);
  EXPECT_EQ(notifier.States(), (std::vector<std::string>{"READY=1", "STOPPING=1"}));
}

const StallCase kStallCases[] = {
    {WorkPart::kDeviceWorker, "DeviceWorker",
     "relay-server: сторожевой таймер: рабочий поток приборов не продвигается [0-9]+ с; "
     "пинги systemd прекращены",
     "relay-server: сторожевой таймер: рабочий поток приборов снова продвигается; пинги systemd "
     "возобновлены"},
    {WorkPart::kComWorker, "WorkstationWorker",
     "relay-server: сторожевой таймер: рабочий поток АРМ не продвигается [0-9]+ с; "
     "пинги systemd прекращены",
     "relay-server: сторожевой таймер: рабочий поток АРМ снова продвигается; пинги systemd "
     "возобновлены"},
    {WorkPart::kFrontEnd, "FrontEnd",
     "relay-server: сторожевой таймер: основной такт не продвигается [0-9]+ с; "
     "пинги systemd прекращены",
     "relay-server: сторожевой таймер: основной такт снова продвигается; пинги systemd "
     "возобновлены"},
};

INSTANTIATE_TEST_SUITE_P(Parts, Stall, ::testing::ValuesIn(kStallCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Supervision, WithoutAWatchdogPeriodOnlyReadyAndStoppingAreSent) {
  ScriptedProgress progress;
  FakeNotifier notifier(std::nullopt);
  Lines lines;
  ServiceSupervision sup(progress.Source(), notifier, 1000, {10ms, 100ms}, lines.Sink());
  sup.Ready();
  std::this_thread::sleep_for(100ms);
  sup.Stopping();
  EXPECT_EQ(progress.samples, 0) << "no thread samples the server";
  EXPECT_EQ(notifier.Pings(), 0u);
  EXPECT_EQ(lines.Count(), 0u);
  EXPECT_EQ(notifier.States(), (std::vector<std::string>{"READY=1", "STOPPING=1"}));
}

TEST(Supervision, StoppingEndsThePingsAtOnce) {
  ScriptedProgress progress;
  FakeNotifier notifier(std::chrono::microseconds(30s));
  ServiceSupervision sup(progress.Source(), notifier, 1000);
  sup.Ready();
  ASSERT_TRUE(notifier.WaitForPings(1, 5s)) << "the first ping comes at once";
  const auto before = Clock::now();
  sup.Stopping();
  EXPECT_LT(Clock::now() - before, 500ms) << "the thread's wait of up to 1 s is cut short";
  const size_t pings = notifier.Pings();
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(notifier.Pings(), pings);
}

// ---- the systemd side ------------------------------------------------------------

// An environment variable set (or unset, for nullptr) while the object lives.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// The datagram socket where systemd takes a service's notifications.
class ManagerSocket {
 public:
  explicit ManagerSocket(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~ManagerSocket() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Bound() const { return bound_; }
  // The next notification, or an empty string after a second.
  std::string Receive() {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 1000) != 1) return "";
    char buf[256];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : "";
  }

 private:
  int fd_ = -1;
  bool bound_ = false;
};

TEST(SystemdNotifier, SendsEachStateToTheManagersSocketAndKeepsTheEnvironment) {
  testsupport::TempDir dir;
  ManagerSocket manager(dir.File("notify"));
  ASSERT_TRUE(manager.Bound());
  const std::string pid = std::to_string(::getpid());
  ScopedEnv notify("NOTIFY_SOCKET", dir.File("notify").c_str());
  ScopedEnv usec("WATCHDOG_USEC", "3000000");
  ScopedEnv owner("WATCHDOG_PID", pid.c_str());
  platform::SystemdNotifier n;
  n.Ready();
  EXPECT_EQ(manager.Receive(), "READY=1");
  n.WatchdogPing();
  EXPECT_EQ(manager.Receive(), "WATCHDOG=1");
  n.WatchdogPing();
  EXPECT_EQ(manager.Receive(), "WATCHDOG=1");
  n.Stopping();
  EXPECT_EQ(manager.Receive(), "STOPPING=1");
  EXPECT_EQ(n.WatchdogPeriod(), std::chrono::microseconds(3s));
}

struct PeriodCase {
  const char* name;
  const char* usec;  // WATCHDOG_USEC, nullptr: unset
  bool ownPid;       // WATCHDOG_PID names this process, else another
  std::optional<std::chrono::microseconds> period;
};

void PrintTo(const PeriodCase& c, std::ostream* os) { *os << c.name; }

class WatchdogPeriod : public ::testing::TestWithParam<PeriodCase> {};

TEST_P(WatchdogPeriod, IsWhatTheManagerSetForThisProcess) {
  const PeriodCase& c = GetParam();
  const std::string pid = std::to_string(c.ownPid ? ::getpid() : ::getppid());
  ScopedEnv usec("WATCHDOG_USEC", c.usec);
  ScopedEnv owner("WATCHDOG_PID", pid.c_str());
  EXPECT_EQ(platform::SystemdWatchdogPeriod(), c.period);
}

const PeriodCase kPeriodCases[] = {
    {"SetForThisProcess", "30000000", true, std::chrono::microseconds(30s)},
    {"OutsideSystemd", nullptr, true, std::nullopt},
    {"SetForAnotherProcess", "30000000", false, std::nullopt},
    {"Zero", "0", true, std::nullopt},
    {"NotANumber", "soon", true, std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogPeriod, ::testing::ValuesIn(kPeriodCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- a real server ------------------------------------------------------------------

class WatchdogServer : public ::testing::Test {
 protected:
  static constexpr int kTickMs = 100;
  static constexpr std::chrono::milliseconds kPeriod{1000};

  testsupport::TempDir dir;
  unsigned short port = testsupport::FreeUdpPort();
  std::unique_ptr<app::Server> server;
  std::atomic<bool> stopFrontEnd{false};
  std::thread frontEnd;

  void SetUp() override {
    // No serial port in the ports folder: the workstation worker runs without one.
    const std::string ports = dir.File("ports");
    ::mkdir(ports.c_str(), 0755);
    const std::string form1 = "[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\nEditPortServ1=" +
                              std::to_string(port) + "\r\n";
    testsupport::WriteFile(dir.File("relay-server.ini"), testsupport::SafeNetworkIni(form1));
    app::ServerConfig cfg;
    cfg.dataDir = dir.Path();
    cfg.portsDir = ports;
    cfg.tickMs = kTickMs;
    server = std::make_unique<app::Server>(cfg);
    std::string error;
    ASSERT_TRUE(server->Start(&error)) << error;
    ASSERT_FALSE(server->SecondCopy());
    // The headless front end's loop.
    frontEnd = std::thread([this] {
      while (!stopFrontEnd) {
        const int wait = server->FrontEndWork();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 20)));
      }
    });
  }

  void TearDown() override {
    stopFrontEnd = true;
    if (frontEnd.joinable()) frontEnd.join();
    if (server) server->Stop();
  }
};

TEST_F(WatchdogServer, ADeviceWorkerHungOnLockStopsThePingsWithinThePeriod) {
  FakeNotifier notifier{std::chrono::microseconds(kPeriod)};
  Lines lines;
  ServiceSupervision sup(*server, notifier, kTickMs, {50ms, 500ms}, lines.Sink());
  sup.Ready();
  // A device worker's pass per tick, the workstation worker's every 50 ms.
  ASSERT_TRUE(notifier.WaitForPings(10, 5s)) << "pings while every part works";
  const size_t before = lines.Count();

  std::unique_lock<std::mutex> hang(server->Link().Lock);
  const Clock::time_point hungAt = Clock::now();
  std::string stall;
  for (size_t i = before; stall.find("рабочий поток приборов") == std::string::npos; ++i) {
    stall = lines.Wait(i, 5s);
    ASSERT_FALSE(stall.empty()) << "no stall reported";
  }
  EXPECT_NE(stall.find("пинги systemd прекращены"), std::string::npos) << stall;
  const size_t pings = notifier.Pings();
  std::this_thread::sleep_for(kPeriod);
  EXPECT_EQ(notifier.Pings(), pings) << "a ping while the device worker hangs";
  EXPECT_LT(notifier.LastPing() - hungAt, kPeriod)
      << "systemd would have restarted the server only later";
  hang.unlock();

  EXPECT_TRUE(notifier.WaitForPings(pings + 3, 5s)) << "the pings come again";
  bool recovered = false;
  for (size_t i = before; !recovered; ++i) {
    const std::string line = lines.Wait(i, 5s);
    ASSERT_FALSE(line.empty()) << "no recovery reported";
    recovered = line.find("снова продвига") != std::string::npos &&
                line.find("пинги systemd возобновлены") != std::string::npos;
  }
  sup.Stopping();
}

}  // namespace
