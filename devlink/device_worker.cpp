#include "devlink/device_worker.h"

#include <mutex>

#include "devlink/process.h"
#include "devlink/registration.h"
#include "devlink/supervision.h"

namespace devlink {

void GiveTick(DeviceLink& link, WorkSignal& signal) {
  link.FlI_GivTimer.fetch_add(1);
  signal.Notify();
}

bool TEthernThread::RunOnce() {
  bool worked = false;
  if (!ring_.Empty()) {
    std::lock_guard<std::mutex> lock(link_.Lock);
    ring_.Take(link_.work);
    ProcessEntry(link_);
    worked = true;
  }
  if (link_.FlI_GivTimer.load() != 0) {
    // One tick per hold of Lock, as when they come one by one.
    for (uint32_t n = link_.FlI_GivTimer.exchange(0); n > 0; --n) {
      std::lock_guard<std::mutex> lock(link_.Lock);
      DeviceTickWork(link_);
    }
    worked = true;
  }
  // A plain read first: the flag is almost always clear.
  if (link_.settings.GlRegOneStart && link_.settings.GlRegOneStart.exchange(false)) {
    std::lock_guard<std::mutex> lock(link_.Lock);
    CheckOneNumber(link_);
    worked = true;
  }
  return worked;
}

void TEthernThread::Loop() {
  while (!stop_) {
    const uint32_t seen = signal_.Seen();
    if (!RunOnce() && !stop_) signal_.WaitChange(seen);
    passes_.fetch_add(1, std::memory_order_relaxed);
  }
  finished_ = true;
}

void TEthernThread::Start() {
  stop_ = false;
  finished_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void TEthernThread::Stop() {
  stop_ = true;
  signal_.Notify();
  if (thread_.joinable()) thread_.join();
}

}  // namespace devlink
