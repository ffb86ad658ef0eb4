#include "console/line_history.h"

#include <algorithm>

namespace console {

void LineHistory::Record(const std::vector<Line>& lines, size_t from) {
  std::lock_guard<std::mutex> g(m_);
  for (size_t i = from; i < lines.size(); ++i) {
    Kept& k = kept_[size_t(lines[i].window)];
    k.lines.push_back(lines[i].text);
    if (k.lines.size() > keep_) {
      k.lines.pop_front();
      ++k.first;
    }
  }
}

LineHistory::Read LineHistory::From(Window w, uint64_t cursor, size_t max) const {
  std::lock_guard<std::mutex> g(m_);
  const Kept& k = kept_[size_t(w)];
  Read r;
  const uint64_t end = k.first + k.lines.size();
  if (cursor < k.first) {
    r.missed = k.first - cursor;
    cursor = k.first;
  }
  cursor = std::min(cursor, end);
  const uint64_t last = std::min<uint64_t>(end, cursor + max);
  for (uint64_t n = cursor; n < last; ++n) r.lines.push_back(k.lines[size_t(n - k.first)]);
  r.next = last;
  return r;
}

uint64_t LineHistory::End(Window w) const {
  std::lock_guard<std::mutex> g(m_);
  const Kept& k = kept_[size_t(w)];
  return k.first + k.lines.size();
}

}  // namespace console
