#include "devlink/intake_ring.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace devlink {

void IntakeRing::Receive(uint8_t iface, const uint8_t* bytes, size_t n, std::string_view peer,
                         uint16_t port) {
  bool published = false;
  {
    std::lock_guard<std::mutex> guard(writers_);
    const uint16_t w = write_.load(std::memory_order_relaxed);
    IntakeEntry& e = slots_[w];
    e.iface = iface;
    n = std::min(n, kTelegramBuf);
    PutU16(e.len, uint16_t(n));
    SetPStr(e.peer, peer);
    PutU16(e.port, port);
    if (n > 0) std::memcpy(e.data, bytes, n);
    const uint16_t next = Next(w);
    if (next != read_.load(std::memory_order_acquire)) {
      write_.store(next, std::memory_order_release);
      published = true;
    }
  }
  if (published && signal_) signal_->Notify();
}

bool IntakeRing::WaitForRoom(std::chrono::milliseconds limit,
                             const std::atomic<bool>& stop) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (Full()) {
    if (stop || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
}

void IntakeRing::Take(IntakeEntry& out) {
  const uint16_t r = read_.load(std::memory_order_relaxed);
  out = slots_[r];
  read_.store(Next(r), std::memory_order_release);
}

}  // namespace devlink
