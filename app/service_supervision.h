// The server as a systemd service: ready after start-up, and watchdog pings
// only while the device worker, the workstation worker and the front end's
// tick all make progress, so that a hung worker gets the server restarted.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "app/server.h"
#include "platform/service_notify.h"

namespace app {

enum class WorkPart { kDeviceWorker, kComWorker, kFrontEnd };
constexpr std::array<WorkPart, 3> kWorkParts = {WorkPart::kDeviceWorker, WorkPart::kComWorker,
                                                WorkPart::kFrontEnd};

// The part as the operator reads it in a watchdog line.
const char* WorkPartName(WorkPart part);

// Remembers when each progress count last changed: healthy while every count
// changed within the stall limit.
class ProgressHealth {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ProgressHealth(std::chrono::milliseconds stallLimit) : limit_(stallLimit) {}

  // The counts as seen at `now`; the first sample counts as progress of all.
  void Sample(const Server::WorkProgress& p, Clock::time_point now);
  // How long `part` has stood still as of the last sample.
  std::chrono::milliseconds StillFor(WorkPart part) const;
  bool Stalled(WorkPart part) const { return StillFor(part) > limit_; }
  bool Healthy() const;

 private:
  const std::chrono::milliseconds limit_;
  bool sampled_ = false;
  Clock::time_point now_{};
  std::array<uint64_t, 3> counts_{};
  std::array<Clock::time_point, 3> changed_{};
};

struct SupervisionTiming {
  // How often progress is sampled; zero: a quarter of the period, at most 1 s.
  std::chrono::milliseconds interval{0};
  // How long a part may stand still; zero: the default for the tick.
  std::chrono::milliseconds stallLimit{0};
};

// One per front end: Ready() after Server::Start, Stopping() before Server::Stop.
class ServiceSupervision {
 public:
  using Timing = SupervisionTiming;
  using ProgressSource = std::function<Server::WorkProgress()>;
  // Takes one watchdog line; by default it goes to standard error.
  using Report = std::function<void(const std::string&)>;

  ServiceSupervision(Server& server, platform::ServiceNotifier& notifier, int tickMs,
                     Timing timing = {}, Report report = {});
  ServiceSupervision(ProgressSource progress, platform::ServiceNotifier& notifier, int tickMs,
                     Timing timing = {}, Report report = {});
  // Ends the pinging thread without telling the manager anything.
  ~ServiceSupervision();

  ServiceSupervision(const ServiceSupervision&) = delete;
  ServiceSupervision& operator=(const ServiceSupervision&) = delete;

  // READY=1; the pinging thread starts when the manager set a watchdog period.
  void Ready();
  // STOPPING=1, and the pinging thread ends.
  void Stopping();

  // The slowest legitimate step is a device worker's pass, once per tick.
  static std::chrono::milliseconds DefaultStallLimit(int tickMs);
  static std::chrono::milliseconds DefaultInterval(std::chrono::microseconds period);

 private:
  void Loop(std::chrono::milliseconds interval);
  void EndThread();

  const ProgressSource progress_;
  platform::ServiceNotifier& notifier_;
  const std::chrono::milliseconds stallLimit_;
  const std::chrono::milliseconds interval_;
  const Report report_;

  std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace app
