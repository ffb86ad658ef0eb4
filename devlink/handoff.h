// Hand-off of maintenance, loader and configurator answers from the device
// worker to the exchanges that wait for them on the console's thread. The
// worker fills a channel under Lock; the waiter watches the single-byte flags.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "devlink/client_record.h"
#include "devlink/intake_ring.h"

namespace devlink {

struct DeviceLink;

inline constexpr size_t kDeliveryBlock = 149;

// The TFTP client's loader replies (ACK, ERROR, option acknowledgement), each
// with its source address and port, in arrival order. Unlike the single
// GlLoaderReply slot none is lost when another follows before the waiter
// looks; it holds replies only while a transfer listens, so nothing from
// before the transfer can steer it. Filled and taken under Lock.
class LoaderReplyQueue {
 public:
  static constexpr size_t kSlots = 16;

  // Starts or ends listening; either way the queue is emptied.
  void Listen(bool on);
  // Dropped when nobody listens or the queue is full.
  void Push(const IntakeEntry& e);
  bool Pop(IntakeEntry* out);
  // Replies waiting; the waiter reads it without Lock.
  uint32_t Pending() const { return pending_.load(); }

 private:
  bool listening_ = false;
  std::array<IntakeEntry, kSlots> slots_{};
  size_t head_ = 0;
  std::atomic<uint32_t> pending_{0};
};

struct Handoff {
  std::atomic<uint16_t> GlNumStruct{0};   // client index of the selected device
  uint8_t GlAnswerBuf[128]{};             // last maintenance answer
  std::atomic<uint8_t> GlWaitCode{0};     // awaited code; 0 once it has arrived
  uint8_t GlLoaderReply[128]{};           // last loader reply ...
  uint8_t loaderReplyLen = 0;             // ... and its length
  std::atomic<uint8_t> GlLoaderReplyFlag{0};
  PStr17 GlTargetHost{};                  // where loader and file packets go
  uint16_t GlTargetPort = 0;
  std::atomic<uint8_t> statesArrived{0};      // detector-state answer (0xF4) arrived
  std::atomic<uint8_t> operationFinished{0};  // expander operation ended (0xF0)
  LoaderReplyQueue tftpReplies;               // the TFTP client's loader replies

  // The configurator window's receiver of the 149-byte delivery block; empty
  // while no configurator window exists.
  std::function<void(const uint8_t* block)> configuratorDelivery;

  // Wakes an exchange that waits for GlWaitCode, GlLoaderReplyFlag or a TFTP
  // reply; the worker calls it after every delivery, others after setting an
  // abort.
  void Wake() {
    { std::lock_guard<std::mutex> g(waitMutex); }
    waitCv.notify_all();
  }
  std::mutex waitMutex;
  std::condition_variable waitCv;
};

// The four channels, as ProcessEntry tests them; each passes over a working
// copy that is not its kind of telegram. `avail` is the bytes the datagram holds.
void LoaderReplyChannel(DeviceLink& link);
void ConfiguratorChannel(DeviceLink& link, size_t avail);
void EncryptedAnswerChannel(DeviceLink& link, size_t avail);
// For a plain 0xEF telegram already checked; `code` is its byte 3.
void PlainAnswerChannel(DeviceLink& link, uint8_t code);

// Codes of plain 0xEF telegrams that carry maintenance answers or notices.
bool IsMaintenanceAnswerCode(uint8_t code);
bool IsRefusalCode(uint8_t code);

}  // namespace devlink
