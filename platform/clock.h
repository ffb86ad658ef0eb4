// Local time and a millisecond tick, behind an interface so that tests can
// supply their own.
#pragma once

#include <cstdint>

namespace platform {

struct LocalTime {
  int year = 2000, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
  virtual uint64_t TickMs() const = 0;
};

class SystemClock final : public Clock {
 public:
  LocalTime Now() const override;
  uint64_t TickMs() const override;
};

// A clock that shows whatever the test sets.
class FixedClock final : public Clock {
 public:
  LocalTime now;
  uint64_t tickMs = 0;
  LocalTime Now() const override { return now; }
  uint64_t TickMs() const override { return tickMs; }
};

}  // namespace platform
