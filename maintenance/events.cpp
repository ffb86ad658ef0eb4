#include "maintenance/events.h"

#include <chrono>
#include <utility>

namespace maintenance {

void EventQueue::Push(Event e) {
  {
    std::lock_guard<std::mutex> g(m_);
    events_.push_back(std::move(e));
  }
  cv_.notify_all();
}

std::vector<Event> EventQueue::Drain(int timeoutMs) {
  std::unique_lock<std::mutex> lock(m_);
  if (timeoutMs > 0)
    cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !events_.empty(); });
  std::vector<Event> out(std::make_move_iterator(events_.begin()),
                         std::make_move_iterator(events_.end()));
  events_.clear();
  return out;
}

void EventQueue::Clear() {
  std::lock_guard<std::mutex> g(m_);
  events_.clear();
}

}  // namespace maintenance
