// A datagram a device sends some time after the request that caused it: a
// late or split answer, or the notice that a radio operation has finished.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace devsim {

inline constexpr int64_t kNoneDue = std::numeric_limits<int64_t>::max();

struct Delayed {
  int64_t dueMs = 0;
  std::vector<uint8_t> bytes;
  std::string note;  // what it is, for --verbose
};

// Takes the datagrams due by `nowMs` out of `queue`, earliest first.
inline std::vector<Delayed> TakeDue(std::vector<Delayed>* queue, int64_t nowMs) {
  std::stable_sort(queue->begin(), queue->end(),
                   [](const Delayed& a, const Delayed& b) { return a.dueMs < b.dueMs; });
  auto split = std::find_if(queue->begin(), queue->end(), [&](const Delayed& d) { return d.dueMs > nowMs; });
  std::vector<Delayed> due(std::make_move_iterator(queue->begin()), std::make_move_iterator(split));
  queue->erase(queue->begin(), split);
  return due;
}

// The earliest due time in `queue`, kNoneDue when it is empty.
inline int64_t EarliestDue(const std::vector<Delayed>& queue) {
  int64_t t = kNoneDue;
  for (const Delayed& d : queue) t = std::min(t, d.dueMs);
  return t;
}

}  // namespace devsim
