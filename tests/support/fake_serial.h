// An in-memory serial port: each Read hands out the next block fed to it,
// writes and purges are recorded. Safe to use from a worker thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace testsupport {

class FakeSerial final : public platform::SerialPort {
 public:
  using Bytes = std::vector<uint8_t>;

  bool IsOpen() const override { return open_; }
  std::string Name() const override { return "CNCB0"; }

  size_t Read(uint8_t* buf, size_t max, int) override {
    std::lock_guard<std::mutex> g(m_);
    ++reads_;
    if (!open_ || blocks_.empty()) return 0;
    Bytes b = std::move(blocks_.front());
    blocks_.pop_front();
    const size_t n = b.size() < max ? b.size() : max;
    std::memcpy(buf, b.data(), n);
    return n;
  }
  bool Write(const uint8_t* buf, size_t n) override {
    std::lock_guard<std::mutex> g(m_);
    writes_.emplace_back(buf, buf + n);
    return open_;
  }
  void Purge() override {
    std::lock_guard<std::mutex> g(m_);
    ++purges_;
  }

  void SetOpen(bool open) { open_ = open; }
  // The next Read returns these bytes (at most the caller's maximum).
  void Feed(Bytes block) {
    std::lock_guard<std::mutex> g(m_);
    blocks_.push_back(std::move(block));
  }
  // Everything written since the last call.
  std::vector<Bytes> TakeWrites() {
    std::lock_guard<std::mutex> g(m_);
    std::vector<Bytes> w;
    w.swap(writes_);
    return w;
  }
  int Purges() {
    std::lock_guard<std::mutex> g(m_);
    return purges_;
  }
  int Reads() {
    std::lock_guard<std::mutex> g(m_);
    return reads_;
  }

 private:
  std::mutex m_;
  std::atomic<bool> open_{true};
  std::deque<Bytes> blocks_;
  std::vector<Bytes> writes_;
  int purges_ = 0;
  int reads_ = 0;
};

}  // namespace testsupport
