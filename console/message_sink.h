// The message sink: where every part of the server sends its message and trace
// lines. Lines are formatted and time-stamped here, on the producing thread,
// and queued for the front end, which drains the queue without ever making a
// worker wait for it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_settings.h"
#include "console/line.h"
#include "console/line_history.h"
#include "console/traffic_filter.h"
#include "platform/clock.h"

namespace console {

// Lines the queue had no room for.
struct DroppedLines {
  size_t trace = 0;
  size_t messages = 0;
  bool Any() const { return trace + messages != 0; }
};

// Many producers, one consumer; keeps each producer's order. Bounded, so a
// consumer that falls behind costs no more than `limit` lines: when the queue
// is full a trace line is dropped before any message, and the drops are
// counted until the consumer takes the count.
class LineQueue {
 public:
  static constexpr size_t kDefaultLimit = 10000;
  explicit LineQueue(size_t limit = kDefaultLimit) : limit_(limit) {}

  void Push(Line line);
  // Moves every queued line into `out`; waits up to `timeoutMs` for the first.
  // Returns what was dropped since the last drain.
  DroppedLines Drain(std::vector<Line>& out, int timeoutMs);

 private:
  const size_t limit_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Line> q_;
  size_t traceQueued_ = 0;
  DroppedLines dropped_;
};

class MessageSink {
 public:
  MessageSink(const ConsoleSettings& s, LineQueue& q, const platform::Clock& clock)
      : s_(s), q_(q), clock_(clock) {}

  // A message: shown unless "Стоп" is on.
  void Message(std::string_view text);
  // A registration message: shown while registration is allowed, or in debug
  // mode unless "Стоп" is on.
  void RegMessage(std::string_view text);
  // A console line: no time stamp, shown whatever "Стоп" says.
  void ConsoleLine(std::string_view text);
  // A debug line: a console line shown only in debug mode.
  void DebugLine(std::string_view text);

  // Device telegram trace through the traffic filter. `encrypted` marks a
  // telegram in its encrypted form, traced only with "Вывод шифрованных
  // телеграмм". `telegram` is a 128-byte buffer.
  void DeviceTrace(const uint8_t* telegram, std::string_view peer, uint16_t port, bool sent,
                   bool padded, bool encrypted);
  // The same trace past the filter: for the requests relayed from the workstation.
  void DeviceTraceUnfiltered(const uint8_t* telegram, std::string_view peer, uint16_t port,
                             bool sent, bool padded, bool encrypted);

  // Workstation telegram trace: `fromWorkstation` for a frame the workstation
  // wrote, false for one the server writes to it. Cyclic polls (L = 4) are
  // hidden with "Циклический опрос Выкл.".
  void ComTrace(const uint8_t* frame, bool fromWorkstation);

  // The front end's side of the queue: every queued line into `out`, waiting
  // up to `timeoutMs` for the first, and after them one message saying how
  // many lines were dropped since the last call, if any were. The lines are
  // kept in History() as well.
  void Drain(std::vector<Line>& out, int timeoutMs);
  const LineHistory& History() const { return history_; }

  // While an object lives, the message window's lines that its thread
  // produces are copied into `lines` too: what one action reported.
  class Capture {
   public:
    explicit Capture(std::vector<std::string>& lines);
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

   private:
    std::vector<std::string>* previous_;
  };

  const ConsoleSettings& Settings() const { return s_; }

  // The filter's learned peer (GlFiltrIp, GlFiltrPort).
  std::string FilterIp() const;
  uint16_t FilterPort() const;

 private:
  void Stamped(Window w, std::string_view text);
  void Push(Line line);

  void PushDevice(const uint8_t* telegram, std::string_view peer, uint16_t port, bool sent,
                  bool padded);

  const ConsoleSettings& s_;
  LineQueue& q_;
  const platform::Clock& clock_;
  // The device worker is the one tracer that the filter learns from, under
  // Lock; the guard keeps a trace from any other thread safe as well.
  mutable std::mutex filterGuard_;
  TrafficFilter filter_;
  LineHistory history_;
};

}  // namespace console
