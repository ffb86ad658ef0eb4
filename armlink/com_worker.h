// The workstation worker thread TCOMThread: handles the console's service
// requests first, otherwise reads up to 128 bytes from the serial port and
// handles them under Lock. The read waits for data, so an idle channel sleeps
// in the read instead of spinning.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "armlink/arm_channel.h"
#include "devlink/device_link.h"
#include "platform/serial_port.h"

namespace armlink {

class TCOMThread {
 public:
  // How long one read waits for the first byte; bounds the delay of Stop.
  static constexpr int kReadWaitMs = 50;

  TCOMThread(devlink::DeviceLink& link, ArmChannel& ch, platform::SerialPort& port)
      : link_(link), ch_(ch), port_(port) {}
  ~TCOMThread() { Stop(); }

  // Purges the port, clears the awaited acknowledgement, then loops.
  void Start();
  // Stops between two passes, never while Lock is held, and waits for the end.
  void Stop();
  bool Finished() const { return finished_; }
  // Passes of the loop so far: a count that stops while the worker hangs.
  uint64_t Passes() const { return passes_.load(std::memory_order_relaxed); }

  // One pass: a waiting service request, otherwise one read waiting up to
  // `waitMs`. True when something was handled. Tests drive it directly.
  bool RunOnce(int waitMs = kReadWaitMs);

 private:
  void Loop();

  devlink::DeviceLink& link_;
  ArmChannel& ch_;
  platform::SerialPort& port_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
  std::atomic<uint64_t> passes_{0};
  std::mutex idleMutex_;
  std::condition_variable idle_;
};

}  // namespace armlink
