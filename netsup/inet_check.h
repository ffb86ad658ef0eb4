// The internet availability check: an ICMP probe every five seconds while it
// is enabled, debounced into an online/offline state whose changes are
// one-shot events for the workstation channel.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

namespace netsup {

enum class InetState : uint8_t { kUndecided, kOnline, kOffline };

// The debouncing of the raw probe results: after a failure three successes in
// a row go online, after a success seven failures in a row go offline; the
// first probe decides at once.
class InetDebouncer {
 public:
  enum class Event { kNone, kCameOnline, kWentOffline };

  Event Probe(bool success);
  InetState State() const { return state_; }
  // Back to undecided, as before the first probe.
  void Reset() { *this = InetDebouncer(); }

 private:
  uint8_t failureCountdown_ = 0;
  uint8_t successCountdown_ = 0;
  InetState state_ = InetState::kUndecided;
};

enum class ProbeResult {
  kSuccess,
  kFailure,    // every error of the probe: name, socket, send, time-out
  kNoIcmp,     // the host offers no ICMP at all: nothing can be decided
  kCancelled,  // the thread is ending
};

// One probe; `detail` gets the reason of anything but a success.
using InetProbe = std::function<ProbeResult(std::stop_token stop, std::string* detail)>;

// What the check tells its owner, on the check's own thread.
struct InetReports {
  // The state changed; `event` is the one-shot event it raises (none when the
  // state went back to undecided).
  std::function<void(InetState state, InetDebouncer::Event event)> onChange;
  // A line for the message window.
  std::function<void(const std::string&)> message;
};

// The checking thread. It waits for its start, stop and end requests and,
// while enabled, probes at once and then every `period`.
class TCheckInetThread {
 public:
  TCheckInetThread(InetProbe probe, InetReports reports,
                   std::chrono::milliseconds period = std::chrono::milliseconds(5000));
  // Ends the thread, cutting a probe in progress short.
  ~TCheckInetThread();

  TCheckInetThread(const TCheckInetThread&) = delete;
  TCheckInetThread& operator=(const TCheckInetThread&) = delete;

  void Enable();
  void Disable();
  // Enables or disables only when `on` differs from the last state given.
  void SetEnabled(bool on);

  InetState State() const;
  bool Enabled() const { return enabled_; }
  // Probes finished so far (for tests that wait for them).
  uint64_t Probes() const;

 private:
  void Run(std::stop_token stop);
  void Probe(std::stop_token stop);

  const InetProbe probe_;
  const InetReports reports_;
  const std::chrono::milliseconds period_;
  bool enabled_ = false;  // the console's side

  mutable std::mutex m_;
  std::condition_variable_any cv_;
  bool startRequested_ = false, stopRequested_ = false;
  InetDebouncer debouncer_;
  uint64_t probes_ = 0;
  bool noIcmpReported_ = false;

  std::jthread thread_;  // last: started once everything above exists
};

}  // namespace netsup
