#include "app/service_supervision.h"

#include <algorithm>
#include <cstdio>

namespace app {

using std::chrono::milliseconds;

const char* WorkPartName(WorkPart part) {
  switch (part) {
    case WorkPart::kDeviceWorker: return "рабочий поток приборов";
    case WorkPart::kComWorker: return "рабочий поток АРМ";
    case WorkPart::kFrontEnd: return "основной такт";
  }
  return "?";
}

namespace {

uint64_t CountOf(const Server::WorkProgress& p, WorkPart part) {
  switch (part) {
    case WorkPart::kDeviceWorker: return p.deviceWorker;
    case WorkPart::kComWorker: return p.comWorker;
    case WorkPart::kFrontEnd: return p.frontEnd;
  }
  return 0;
}

constexpr const char* kPrefix = "relay-server: сторожевой таймер: ";

std::string StallLine(WorkPart part, milliseconds still) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(still).count();
  return std::string(kPrefix) + WorkPartName(part) + " не продвигается " +
         std::to_string(seconds) + " с; пинги systemd прекращены";
}

std::string RecoveryLine(const std::array<bool, 3>& parts) {
  std::string names;
  for (WorkPart part : kWorkParts)
    if (parts[size_t(part)]) names += (names.empty() ? "" : ", ") + std::string(WorkPartName(part));
  const bool several = std::count(parts.begin(), parts.end(), true) > 1;
  return std::string(kPrefix) + names + (several ? " снова продвигаются" : " снова продвигается") +
         "; пинги systemd возобновлены";
}

}  // namespace

void ProgressHealth::Sample(const Server::WorkProgress& p, Clock::time_point now) {
  for (WorkPart part : kWorkParts) {
    const size_t i = size_t(part);
    const uint64_t count = CountOf(p, part);
    if (!sampled_ || count != counts_[i]) changed_[i] = now;
    counts_[i] = count;
  }
  now_ = now;
  sampled_ = true;
}

milliseconds ProgressHealth::StillFor(WorkPart part) const {
  return std::chrono::duration_cast<milliseconds>(now_ - changed_[size_t(part)]);
}

bool ProgressHealth::Healthy() const {
  return std::none_of(kWorkParts.begin(), kWorkParts.end(),
                      [this](WorkPart part) { return Stalled(part); });
}

milliseconds ServiceSupervision::DefaultStallLimit(int tickMs) {
  return std::max(milliseconds(10000), milliseconds(3 * int64_t(tickMs)));
}

milliseconds ServiceSupervision::DefaultInterval(std::chrono::microseconds period) {
  return std::clamp(std::chrono::duration_cast<milliseconds>(period / 4), milliseconds(1),
                    milliseconds(1000));
}

ServiceSupervision::ServiceSupervision(Server& server, platform::ServiceNotifier& notifier,
                                       int tickMs, Timing timing, Report report)
    : ServiceSupervision([&server] { return server.Progress(); }, notifier, tickMs, timing,
                         std::move(report)) {}

ServiceSupervision::ServiceSupervision(ProgressSource progress,
                                       platform::ServiceNotifier& notifier, int tickMs,
                                       Timing timing, Report report)
    : progress_(std::move(progress)),
      notifier_(notifier),
      stallLimit_(timing.stallLimit.count() > 0 ? timing.stallLimit : DefaultStallLimit(tickMs)),
      interval_(timing.interval),
      report_(report ? std::move(report) : [](const std::string& line) {
        std::fprintf(stderr, "%s\n", line.c_str());
      }) {}

ServiceSupervision::~ServiceSupervision() { EndThread(); }

void ServiceSupervision::Ready() {
  notifier_.Ready();
  if (thread_.joinable()) return;
  const auto period = notifier_.WatchdogPeriod();
  if (!period) return;
  const milliseconds interval = interval_.count() > 0 ? interval_ : DefaultInterval(*period);
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = false;
  }
  thread_ = std::thread([this, interval] { Loop(interval); });
}

void ServiceSupervision::Stopping() {
  notifier_.Stopping();
  EndThread();
}

void ServiceSupervision::EndThread() {
  {
    std::lock_guard<std::mutex> g(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ServiceSupervision::Loop(milliseconds interval) {
  ProgressHealth health(stallLimit_);
  std::array<bool, 3> wasStalled{};  // at the previous sample: its line is out
  std::array<bool, 3> named{};       // named in a stall line since the pings stopped
  std::unique_lock<std::mutex> lock(m_);
  while (!stop_) {
    lock.unlock();
    health.Sample(progress_(), ProgressHealth::Clock::now());
    for (WorkPart part : kWorkParts) {
      const size_t i = size_t(part);
      const bool stalled = health.Stalled(part);
      if (stalled && !wasStalled[i]) {
        report_(StallLine(part, health.StillFor(part)));
        named[i] = true;
      }
      wasStalled[i] = stalled;
    }
    if (health.Healthy()) {
      if (std::count(named.begin(), named.end(), true) > 0) report_(RecoveryLine(named));
      named = {};
      notifier_.WatchdogPing();
    }
    lock.lock();
    cv_.wait_for(lock, interval, [this] { return stop_; });
  }
}

}  // namespace app
