#include "netsup/inet_check.h"

#include <utility>

namespace netsup {

namespace {
constexpr uint8_t kFailuresToGoOffline = 6;  // seen after the first, so seven in a row
constexpr uint8_t kSuccessesToGoOnline = 2;  // seen after the first, so three in a row
}  // namespace

InetDebouncer::Event InetDebouncer::Probe(bool success) {
  if (success) {
    failureCountdown_ = kFailuresToGoOffline;
    if (successCountdown_ > 0) {
      --successCountdown_;
    } else if (state_ != InetState::kOnline) {
      state_ = InetState::kOnline;
      return Event::kCameOnline;
    }
  } else {
    successCountdown_ = kSuccessesToGoOnline;
    if (failureCountdown_ > 0) {
      --failureCountdown_;
    } else if (state_ != InetState::kOffline) {
      state_ = InetState::kOffline;
      return Event::kWentOffline;
    }
  }
  return Event::kNone;
}

TCheckInetThread::TCheckInetThread(InetProbe probe, InetReports reports,
                                   std::chrono::milliseconds period)
    : probe_(std::move(probe)), reports_(std::move(reports)), period_(period),
      thread_([this](std::stop_token stop) { Run(stop); }) {}

TCheckInetThread::~TCheckInetThread() {
  thread_.request_stop();
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void TCheckInetThread::Enable() {
  std::lock_guard<std::mutex> g(m_);
  startRequested_ = true;
  stopRequested_ = false;
  cv_.notify_all();
}

void TCheckInetThread::Disable() {
  std::lock_guard<std::mutex> g(m_);
  stopRequested_ = true;
  startRequested_ = false;
  cv_.notify_all();
}

void TCheckInetThread::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  if (on) Enable();
  else Disable();
}

InetState TCheckInetThread::State() const {
  std::lock_guard<std::mutex> g(m_);
  return debouncer_.State();
}

uint64_t TCheckInetThread::Probes() const {
  std::lock_guard<std::mutex> g(m_);
  return probes_;
}

void TCheckInetThread::Run(std::stop_token stop) {
  bool probing = false;
  std::unique_lock<std::mutex> lock(m_);
  while (!stop.stop_requested()) {
    const auto requested = [this] { return startRequested_ || stopRequested_; };
    const bool woken = probing ? cv_.wait_for(lock, stop, period_, requested)
                               : cv_.wait(lock, stop, requested);
    if (stop.stop_requested()) break;
    if (woken && stopRequested_) {
      stopRequested_ = false;
      probing = false;
      continue;
    }
    if (woken) startRequested_ = false;
    probing = true;
    lock.unlock();
    Probe(stop);
    lock.lock();
  }
}

void TCheckInetThread::Probe(std::stop_token stop) {
  std::string detail;
  const ProbeResult r = probe_(stop, &detail);
  if (r == ProbeResult::kCancelled) return;

  InetState state;
  InetDebouncer::Event event = InetDebouncer::Event::kNone;
  bool changed = false, reportNoIcmp = false;
  {
    std::lock_guard<std::mutex> g(m_);
    // Switched off meanwhile: the state stays as it was, and nothing is raised.
    if (stopRequested_) return;
    ++probes_;
    if (r == ProbeResult::kNoIcmp) {
      // Without ICMP nothing is known: a state kept from earlier probes, or a
      // false "offline", would hold back every link failure.
      changed = debouncer_.State() != InetState::kUndecided;
      debouncer_.Reset();
      reportNoIcmp = !noIcmpReported_;
      noIcmpReported_ = true;
    } else {
      noIcmpReported_ = false;
      const InetState before = debouncer_.State();
      event = debouncer_.Probe(r == ProbeResult::kSuccess);
      changed = debouncer_.State() != before;
    }
    state = debouncer_.State();
  }
  if (reportNoIcmp && reports_.message)
    reports_.message("Проверка наличия \"Интернета\" невозможна: нет доступа к ICMP (" + detail +
                     "). Состояние сети неизвестно, аварии не блокируются.");
  if (changed && reports_.onChange) reports_.onChange(state, event);
}

}  // namespace netsup
