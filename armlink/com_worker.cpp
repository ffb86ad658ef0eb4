#include "armlink/com_worker.h"

#include <chrono>
#include <cstring>

namespace armlink {

bool TCOMThread::RunOnce(int waitMs) {
  if (ch_.service.Pending()) {
    std::lock_guard<std::mutex> lock(link_.Lock);
    if (HandleServiceRequest(link_, ch_, port_)) return true;
  }
  const size_t n = port_.Read(ch_.input, kFrameBuf, waitMs);
  if (n == 0) return false;
  ch_.inputCount = n < kFrameBuf ? n : kFrameBuf;
  std::memset(ch_.input + ch_.inputCount, 0, kFrameBuf - ch_.inputCount);
  std::lock_guard<std::mutex> lock(link_.Lock);
  HandlerCOMRead(link_, ch_, port_);
  return true;
}

void TCOMThread::Loop() {
  using Clock = std::chrono::steady_clock;
  const auto wait = std::chrono::milliseconds(kReadWaitMs);
  {
    std::lock_guard<std::mutex> lock(link_.Lock);
    port_.Purge();
    SetAwaitingAck(link_, ch_, false);
  }
  while (!stop_) {
    passes_.fetch_add(1, std::memory_order_relaxed);
    const auto start = Clock::now();
    if (RunOnce(kReadWaitMs)) continue;
    // A closed port, or one that returns at once, must not spin a core.
    const auto spent = Clock::now() - start;
    if (spent < wait / 2) {
      std::unique_lock<std::mutex> g(idleMutex_);
      idle_.wait_for(g, wait - spent, [this] { return stop_.load(); });
    }
  }
  finished_ = true;
}

void TCOMThread::Start() {
  stop_ = false;
  finished_ = false;
  thread_ = std::thread([this] { Loop(); });
}

void TCOMThread::Stop() {
  {
    std::lock_guard<std::mutex> g(idleMutex_);
    stop_ = true;
  }
  idle_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace armlink
