// The workstation serial channel: its state, and the handling of one block of
// serial input (acknowledgements, resends, poll answers, commands, writing).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "armlink/arm_frame.h"
#include "armlink/group_index.h"
#include "devlink/device_link.h"
#include "platform/serial_port.h"

namespace armlink {

inline constexpr int kResendPauseMs = 300;
inline constexpr uint8_t kMaxResends = 3;
inline constexpr size_t kMaxFramesPerBlock = 3;

// One-shot events of the internet check, set by its thread and cleared when
// the workstation has been told (status frame 0x33).
struct InternetEvents {
  std::atomic<bool> cameOnline{false};
  std::atomic<bool> wentOffline{false};
};

// Service requests built by the console or by commands 0x68/0x69, waiting for
// the worker. Written and taken under Lock; `pending` lets the worker look
// without the lock.
class ServiceQueue {
 public:
  static constexpr size_t kSlots = 8;

  // False when all slots are taken.
  bool Push(const uint8_t* frame);
  // Copies the oldest request into `out` (128 bytes); false when none waits.
  bool Take(uint8_t* out);
  bool Pending() const { return pending_.load(std::memory_order_acquire); }

 private:
  std::array<std::array<uint8_t, kFrameBuf>, kSlots> frames_{};
  size_t head_ = 0, count_ = 0;
  std::atomic<bool> pending_{false};
};

struct ArmChannel {
  uint8_t input[kFrameBuf]{};   // the bytes of one read, frames back to back
  size_t inputCount = 0;        // how many of them the read delivered
  uint8_t output[kFrameBuf]{};  // the frame the server writes, kept for resending
  bool awaitingAck = false;     // change it through SetAwaitingAck only
  uint8_t resendCount = 0;
  uint8_t lastGroup = 0;        // N1 and counter of the frame awaiting its acknowledgement
  uint8_t lastCounter = 0;

  ServiceQueue service;
  uint8_t serviceSeq = 0;       // sequence byte of the next service request

  InternetEvents internet;
  GroupIndex groups;

  // The pause before a resend; tests and fuzzing replace it.
  std::function<void(int ms)> sleepMs;

  ArmChannel();
};

// Sets the flag in the channel and its mirror in the link, which the blocking
// rule of link failures reads.
void SetAwaitingAck(devlink::DeviceLink& link, ArmChannel& ch, bool on);

// Handles the first `ch.inputCount` bytes of the input block, up to three
// frames, and clears the block. Called with Lock held.
void HandlerCOMRead(devlink::DeviceLink& link, ArmChannel& ch, platform::SerialPort& port);

// Handles the oldest waiting service request as a command from the console:
// no acknowledgement to the workstation and no effect on the one it owes.
// Returns false when none waits. Called with Lock held.
bool HandleServiceRequest(devlink::DeviceLink& link, ArmChannel& ch, platform::SerialPort& port);

// The writing step: purge the port, then write the output frame unless the
// blocking rule withholds it.
void WriteOutput(devlink::DeviceLink& link, ArmChannel& ch, platform::SerialPort& port);

}  // namespace armlink
