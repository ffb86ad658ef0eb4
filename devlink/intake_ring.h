// The intake ring: 256 fixed slots between the three UDP listener threads and
// the device worker. One slot always stays unused; a full ring drops the newest.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "devlink/client_record.h"

namespace devlink {

inline constexpr size_t kTelegramBuf = 128;

struct IntakeEntry {
  uint8_t len[2];                 // 0: datagram length, at most 128
  uint8_t data[kTelegramBuf];     // 2
  PStr17 peer;                    // 130: peer address text
  uint8_t port[2];                // 147
  uint8_t iface;                  // 149: 0, 1 or 2

  uint16_t Length() const { return GetU16(len); }
  uint16_t Port() const { return GetU16(port); }
  std::string_view Peer() const { return PStrView(peer); }
};
static_assert(sizeof(IntakeEntry) == 150);

// Wakes the device worker: a counter the worker waits on.
class WorkSignal {
 public:
  void Notify() {
    seq_.fetch_add(1, std::memory_order_release);
    seq_.notify_one();
  }
  uint32_t Seen() const { return seq_.load(std::memory_order_acquire); }
  void WaitChange(uint32_t seen) const { seq_.wait(seen, std::memory_order_acquire); }

 private:
  std::atomic<uint32_t> seq_{0};
};

class IntakeRing {
 public:
  static constexpr uint16_t kSlots = 256;
  static uint16_t Next(uint16_t i) { return i >= kSlots - 1 ? 0 : uint16_t(i + 1); }

  explicit IntakeRing(WorkSignal* signal = nullptr) : signal_(signal) {}

  // Listener thread of UDP server `iface`. The three writers take turns under a
  // lock of their own; the worker is woken when the entry is published.
  void Receive(uint8_t iface, const uint8_t* bytes, size_t n, std::string_view peer,
               uint16_t port);

  bool Full() const {
    return Next(write_.load(std::memory_order_acquire)) == read_.load(std::memory_order_acquire);
  }
  // Waits while the ring is full, up to `limit` or until `stop` is set, so
  // that a listener leaves a burst in its socket's queue while the worker
  // catches up instead of dropping it here. False when the ring is still full.
  bool WaitForRoom(std::chrono::milliseconds limit, const std::atomic<bool>& stop) const;

  bool Empty() const {
    return read_.load(std::memory_order_acquire) == write_.load(std::memory_order_acquire);
  }
  // Device worker only; the ring must not be empty.
  void Take(IntakeEntry& out);

  uint16_t WriteIndex() const { return write_.load(); }
  uint16_t ReadIndex() const { return read_.load(); }

 private:
  std::array<IntakeEntry, kSlots> slots_{};
  std::atomic<uint16_t> write_{0};
  std::atomic<uint16_t> read_{0};
  std::mutex writers_;
  WorkSignal* signal_;
};

}  // namespace devlink
