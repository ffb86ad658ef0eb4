// What a maintenance session tells whoever watches it (the window or a
// relayctl client): log lines, the operation progress, the answer-wait
// progress and its end, in the order they happened.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace maintenance {

struct Event {
  enum class Kind { kLog, kOperation, kWait, kFinished, kStatus };
  Kind kind = Kind::kLog;
  std::string text;     // kLog: the line; kStatus: the status text
  int max = 0, pos = 0;  // kOperation, kWait
  bool ok = false;       // kFinished: the session's job succeeded
  // kStatus: which status line of the network settings window, its colour,
  // and whether the text is appended to what the line shows.
  enum class Line { kMain, kSms1, kSms2 } line = Line::kMain;
  enum class Colour { kPlain, kDone, kFailed } colour = Colour::kPlain;
  bool append = false;
};

// Thread-safe; the session pushes, one watcher drains.
class EventQueue {
 public:
  void Push(Event e);
  // Every event so far, waiting up to `timeoutMs` for the first.
  std::vector<Event> Drain(int timeoutMs);
  void Clear();

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Event> events_;
};

}  // namespace maintenance
