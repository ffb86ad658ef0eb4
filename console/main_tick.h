// The one-second main tick without windows: gives the device worker its tick,
// keeps the tick counter and says which network steps are due.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>

#include "console/console_settings.h"

namespace console {

class MainTick {
 public:
  struct Due {
    bool interfaceStep = false;  // interface management (every 8 ticks while active)
    bool networkStep = false;    // network re-apply and GSM keep-alive (every 10 ticks)
  };

  // `giveTick` sets FlI_GivTimer and wakes the device worker. `metricBox` is the
  // state of "Управл. Интерфейсами". The UDP receivers need no release here:
  // they take turns under a lock of their own.
  explicit MainTick(std::function<void()> giveTick) : giveTick_(std::move(giveTick)) {}

  // One tick; the caller runs the steps it reports due, in that order.
  Due Tick(ConsoleSettings& s, bool metricBox);

  uint8_t Counter() const { return counter_; }

 private:
  std::function<void()> giveTick_;
  uint8_t counter_ = 0;  // 0..59
};

// When the main tick is due. A front end that comes late makes up every tick
// it missed, in order, so the periods counted in ticks (link supervision,
// request repetition, the timers) keep their length in time.
class TickSchedule {
 public:
  using Clock = std::chrono::steady_clock;

  void Start(Clock::time_point now, std::chrono::milliseconds period) {
    period_ = period;
    next_ = now + period;
  }
  // The ticks due by `now`; they count as run once this returns.
  unsigned Due(Clock::time_point now) {
    unsigned n = 0;
    for (; now >= next_; next_ += period_) ++n;
    return n;
  }
  // Milliseconds until the next tick, at least 1; a period before the start.
  int UntilNext(Clock::time_point now) const {
    if (next_ == Clock::time_point::max()) return int(period_.count());
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_ - now);
    return int(std::max<int64_t>(1, left.count()));
  }

 private:
  std::chrono::milliseconds period_{1000};
  Clock::time_point next_ = Clock::time_point::max();
};

}  // namespace console
