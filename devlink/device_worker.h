// The device worker thread TEthernThread: takes datagrams from the intake ring
// one at a time and processes each under Lock; runs the tick work when the main
// tick has given one and the console's one-number check when asked. It sleeps
// until there is work instead of polling.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "devlink/device_link.h"
#include "devlink/intake_ring.h"

namespace devlink {

// The main tick's hand-over to the device worker: counts one tick in
// FlI_GivTimer and wakes the worker, which otherwise sleeps until the next
// datagram.
void GiveTick(DeviceLink& link, WorkSignal& signal);

class TEthernThread {
 public:
  TEthernThread(DeviceLink& link, IntakeRing& ring, WorkSignal& signal)
      : link_(link), ring_(ring), signal_(signal) {}
  ~TEthernThread() { Stop(); }

  void Start();
  // Stops between two steps, never while Lock is held, and waits for the end.
  void Stop();
  bool Finished() const { return finished_; }
  // Passes of the loop so far: a count that stops while the worker hangs.
  uint64_t Passes() const { return passes_.load(std::memory_order_relaxed); }

  // One pass of the loop; true when it found work. Tests drive it directly.
  bool RunOnce();

 private:
  void Loop();

  DeviceLink& link_;
  IntakeRing& ring_;
  WorkSignal& signal_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<uint64_t> passes_{0};
};

}  // namespace devlink
