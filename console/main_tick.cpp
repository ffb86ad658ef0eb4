#include "console/main_tick.h"

namespace console {

MainTick::Due MainTick::Tick(ConsoleSettings& s, bool metricBox) {
  if (giveTick_) giveTick_();
  counter_ = counter_ >= 59 ? 0 : uint8_t(counter_ + 1);

  // A hold set by the interface management keeps it inactive for that many ticks.
  if (metricBox) {
    const uint8_t hold = s.GlMetricHold;
    if (hold > 0) {
      s.GlMetricHold = uint8_t(hold - 1);
      s.GlMetricActive = false;
    } else {
      s.GlMetricActive = true;
    }
  } else {
    s.GlMetricActive = false;
  }

  Due due;
  due.interfaceStep = counter_ % 8 == 0 && s.GlMetricActive;
  due.networkStep = counter_ % 10 == 0;
  return due;
}

}  // namespace console
