// The last lines of the message window and of the traffic monitor, kept for
// readers other than the window (the control socket's "messages" and
// "trace"), each line numbered so that a follower can go on where it stopped.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "console/line.h"

namespace console {

class LineHistory {
 public:
  // As many lines as the message window holds.
  static constexpr size_t kDefaultKeep = 1000;
  explicit LineHistory(size_t keep = kDefaultKeep) : keep_(keep) {}

  // Lines as the front end takes them from the sink, in order.
  void Record(const std::vector<Line>& lines, size_t from = 0);

  struct Read {
    std::vector<std::string> lines;
    uint64_t next = 0;    // the cursor for the next read
    uint64_t missed = 0;  // lines no longer kept between the cursor and the first line
  };
  // The lines of window `w` numbered `cursor` and on, at most `max`.
  Read From(Window w, uint64_t cursor, size_t max) const;
  // The number the next line of `w` gets.
  uint64_t End(Window w) const;

 private:
  struct Kept {
    std::deque<std::string> lines;
    uint64_t first = 0;  // number of lines.front()
  };
  const size_t keep_;
  mutable std::mutex m_;
  std::array<Kept, 2> kept_;
};

}  // namespace console
