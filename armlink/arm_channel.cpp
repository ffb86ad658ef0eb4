#include "armlink/arm_channel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "armlink/commands.h"
#include "armlink/poll_answer.h"
#include "devlink/supervision.h"

namespace armlink {
namespace {

// Moves the frame that starts `off` bytes into the block to the front, with
// what follows it; false when there is no whole frame there.
bool NextFrame(ArmChannel& ch, size_t off, size_t& count) {
  uint8_t* in = ch.input;
  if (off + 2 > count || in[off] != kFrameStart) return false;
  if (off + size_t(in[off + 1]) + 2 > count) return false;
  std::memmove(in, in + off, count - off);
  count -= off;
  std::memset(in + count, 0, kFrameBuf - count);
  return true;
}

// The bytes after the frame at the front; while an acknowledgement is owed,
// frames other than acknowledgements are passed over.
bool Advance(ArmChannel& ch, size_t& count) {
  if (!NextFrame(ch, size_t(ch.input[1]) + 2, count)) return false;
  while (ch.awaitingAck && ch.input[1] != 5)
    if (!NextFrame(ch, size_t(ch.input[1]) + 2, count)) return false;
  return true;
}

}  // namespace

bool ServiceQueue::Push(const uint8_t* frame) {
  if (count_ == kSlots) return false;
  std::memcpy(frames_[(head_ + count_) % kSlots].data(), frame, kFrameBuf);
  ++count_;
  pending_.store(true, std::memory_order_release);
  return true;
}

bool ServiceQueue::Take(uint8_t* out) {
  if (count_ == 0) return false;
  std::memcpy(out, frames_[head_].data(), kFrameBuf);
  head_ = (head_ + 1) % kSlots;
  --count_;
  pending_.store(count_ != 0, std::memory_order_release);
  return true;
}

ArmChannel::ArmChannel()
    : sleepMs([](int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }) {}

void SetAwaitingAck(devlink::DeviceLink& link, ArmChannel& ch, bool on) {
  ch.awaitingAck = on;
  link.armAwaitingAck = on;
}

void WriteOutput(devlink::DeviceLink& link, ArmChannel& ch, platform::SerialPort& port) {
  port.Purge();
  if (devlink::AlarmBlocked(link)) return;
  // A frame that did not go out is not traced as sent; one that awaits an
  // acknowledgement stays due and is written again at the next frame.
  if (!port.Write(ch.output, std::min<size_t>(size_t(ch.output[1]) + 2, kFrameBuf))) {
    link.sink.DebugLine(port.Name() + " - ошибка записи.");
    return;
  }
  link.sink.ComTrace(ch.output, false);
}

void HandlerCOMRead(devlink::DeviceLink& link, ArmChannel& ch, platform::SerialPort& port) {
  uint8_t* in = ch.input;
  size_t count = std::min(ch.inputCount, kFrameBuf);
  for (size_t handled = 0; count > 0 && handled < kMaxFramesPerBlock; ++handled) {
    link.sink.ComTrace(in, true);
    if (!FrameOk(in, count)) break;
    bool write = false;
    bool handle = true;
    if (ch.awaitingAck) {
      handle = false;
      if (IsAck(in) && in[3] == ch.lastGroup && in[5] == ch.lastCounter) {
        SetAwaitingAck(link, ch, false);
        ch.resendCount = 0;
      } else if (ch.resendCount < kMaxResends) {
        ch.sleepMs(kResendPauseMs);
        ++ch.resendCount;
        write = true;
      } else {
        // Given up: the item is not offered again, and this frame is served.
        ch.resendCount = 0;
        SetAwaitingAck(link, ch, false);
        handle = true;
      }
    }
    if (handle) {
      if (in[1] == 4) {
        write = AnswerPoll(link, ch, in[3]);
      } else if (in[1] > 5) {
        write = HandleCommand(link, ch, in, false);
      }
    }
    if (write) WriteOutput(link, ch, port);
    if (!Advance(ch, count)) break;
  }
  // Nothing of this read may be taken for a frame of the next one.
  std::memset(in, 0, kFrameBuf);
  ch.inputCount = 0;
}

bool HandleServiceRequest(devlink::DeviceLink& link, ArmChannel& ch, platform::SerialPort& port) {
  uint8_t f[kFrameBuf];
  if (!ch.service.Take(f)) return false;
  link.sink.ComTrace(f, true);
  if (FrameOk(f, kFrameBuf) && f[1] > 5 && HandleCommand(link, ch, f, true))
    WriteOutput(link, ch, port);
  return true;
}

}  // namespace armlink
