// The one maintenance session of the server: a job of exchanges with one
// device, run on a worker of its own. The window and relayctl share it, so a
// second job while one runs is refused, never nested.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "devlink/device_link.h"
#include "maintenance/events.h"
#include "maintenance/exchange.h"

namespace maintenance {

class Maintenance {
 public:
  using Job = std::function<bool(Exchange&)>;

  explicit Maintenance(devlink::DeviceLink& link);
  // Aborts a running job and waits for it.
  ~Maintenance();

  Maintenance(const Maintenance&) = delete;
  Maintenance& operator=(const Maintenance&) = delete;

  // Selects the device at client index `index` and runs `job` on the
  // session's worker; its events go to a queue of its own. A stale abort is
  // cleared first. False, with the reason, while another job runs.
  bool Start(uint16_t index, const std::string& what, Job job, std::string* error);
  bool Busy() const { return busy_.load(); }
  // "Прервать": the running exchange ends at its next wait.
  void Abort();
  // Waits until no job runs (tests, shutdown).
  void Wait();

  // The events of the latest job; a watcher keeps the queue of its own job.
  EventQueue& Events() { return *Queue(); }
  std::shared_ptr<EventQueue> Queue();
  State& Shared() { return state_; }

 private:
  devlink::DeviceLink& link_;
  State state_;
  std::shared_ptr<EventQueue> events_ = std::make_shared<EventQueue>();
  std::mutex m_;  // serialises Start and the end of a job
  std::atomic<bool> busy_{false};
  std::string what_;
  uint16_t device_ = 0;
  std::thread worker_;
};

}  // namespace maintenance
