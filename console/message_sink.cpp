#include "console/message_sink.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "console/line_format.h"

namespace console {

void LineQueue::Push(Line line) {
  {
    std::lock_guard<std::mutex> g(m_);
    const bool trace = line.window == Window::Traffic;
    if (q_.size() >= limit_) {
      if (trace || traceQueued_ == 0) {
        ++(trace ? dropped_.trace : dropped_.messages);
        return;
      }
      // A message takes the place of the oldest trace line.
      const auto oldest = std::find_if(q_.begin(), q_.end(),
                                       [](const Line& l) { return l.window == Window::Traffic; });
      q_.erase(oldest);
      --traceQueued_;
      ++dropped_.trace;
    }
    traceQueued_ += trace;
    q_.push_back(std::move(line));
  }
  cv_.notify_one();
}

DroppedLines LineQueue::Drain(std::vector<Line>& out, int timeoutMs) {
  std::unique_lock<std::mutex> g(m_);
  if (q_.empty() && timeoutMs > 0)
    cv_.wait_for(g, std::chrono::milliseconds(timeoutMs), [this] { return !q_.empty(); });
  while (!q_.empty()) {
    out.push_back(std::move(q_.front()));
    q_.pop_front();
  }
  traceQueued_ = 0;
  return std::exchange(dropped_, {});
}

namespace {
// The capture of the action running on this thread, if any.
thread_local std::vector<std::string>* tCapture = nullptr;
}  // namespace

MessageSink::Capture::Capture(std::vector<std::string>& lines) : previous_(tCapture) {
  tCapture = &lines;
}

MessageSink::Capture::~Capture() { tCapture = previous_; }

void MessageSink::Push(Line line) {
  if (tCapture && line.window == Window::Message) tCapture->push_back(line.text);
  q_.Push(std::move(line));
}

void MessageSink::Drain(std::vector<Line>& out, int timeoutMs) {
  const size_t from = out.size();
  const DroppedLines d = q_.Drain(out, timeoutMs);
  if (d.Any()) {
    std::string line = TimeStamp(clock_.Now());
    line += Format(" Вывод не успевал за сервером: пропущено строк трафика: %zu, сообщений: %zu.",
                   d.trace, d.messages);
    out.push_back({Window::Message, std::move(line)});
  }
  history_.Record(out, from);
}

void MessageSink::Stamped(Window w, std::string_view text) {
  std::string line = TimeStamp(clock_.Now());
  line += ' ';
  line += text;
  Push({w, std::move(line)});
}

void MessageSink::Message(std::string_view text) {
  if (!s_.GlMsgStop) Stamped(Window::Message, text);
}

void MessageSink::RegMessage(std::string_view text) {
  if (s_.GlRegOn || (s_.GlOtladka && !s_.GlMsgStop)) Stamped(Window::Message, text);
}

void MessageSink::ConsoleLine(std::string_view text) {
  Push({Window::Message, std::string(text)});
}

void MessageSink::DebugLine(std::string_view text) {
  if (s_.GlOtladka) ConsoleLine(text);
}

void MessageSink::PushDevice(const uint8_t* telegram, std::string_view peer, uint16_t port,
                             bool sent, bool padded) {
  q_.Push({Window::Traffic, DeviceTraceLine(clock_.Now(), telegram, sent, peer, port, padded)});
}

void MessageSink::DeviceTrace(const uint8_t* telegram, std::string_view peer, uint16_t port,
                              bool sent, bool padded, bool encrypted) {
  // Most of the time the trace is stopped: no lock for that.
  if (!s_.GlOutEthern || !s_.GlTraficRun) return;
  bool admit;
  {
    std::lock_guard<std::mutex> g(filterGuard_);
    admit = filter_.Admit(s_, telegram, peer, port, encrypted);
  }
  if (admit) PushDevice(telegram, peer, port, sent, padded);
}

void MessageSink::DeviceTraceUnfiltered(const uint8_t* telegram, std::string_view peer,
                                        uint16_t port, bool sent, bool padded, bool encrypted) {
  if (!s_.GlOutEthern || !s_.GlTraficRun) return;
  if (encrypted && !s_.GlOutCrypt) return;
  PushDevice(telegram, peer, port, sent, padded);
}

std::string MessageSink::FilterIp() const {
  std::lock_guard<std::mutex> g(filterGuard_);
  return filter_.LearnedIp();
}

uint16_t MessageSink::FilterPort() const {
  std::lock_guard<std::mutex> g(filterGuard_);
  return filter_.LearnedPort();
}

void MessageSink::ComTrace(const uint8_t* frame, bool fromWorkstation) {
  if (!s_.GlOutCom || !s_.GlTraficRun) return;
  if (s_.GlComPustOff && frame[1] == 4) return;
  q_.Push({Window::Traffic, ComTraceLine(clock_.Now(), frame, fromWorkstation)});
}

}  // namespace console
