// The one-second main tick without windows: gives the device worker its tick,
// keeps the tick counter and says which network steps are due.
#pragma once

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

}  // namespace console
