// The console's timers without windows: the five-minute timer with its three
// effects, the delayed save of the registry, and the registration controls
// that start them. All of it runs on the console's (window) thread.
#pragma once

#include <cstdint>
#include <functional>

#include "console/console_settings.h"

namespace console {

// Counts one-second ticks while running; expires on the tick after the 300th.
class FiveMinuteTimer {
 public:
  static constexpr uint16_t kTicks = 300;

  // Starting it while it runs keeps its count.
  void Start() { running_ = true; }
  bool Running() const { return running_; }
  uint16_t Count() const { return count_; }

  // One tick; true when it expires, which stops it and resets its count.
  bool Tick();

 private:
  bool running_ = false;
  uint16_t count_ = 0;
};

// The ten-second timer of the delayed registry write: a request arms a
// countdown of 3, the tick that finds it at 0 writes. A later request restarts
// the countdown.
class DelayedSave {
 public:
  // One ten-second tick; true when the registry is to be written now.
  bool Tick(ConsoleSettings& s);
  bool Armed() const { return armed_; }

 private:
  bool armed_ = false;
  uint8_t countdown_ = 0;
};

// `writeRegistry` writes the registry file (taking Lock as writing the client
// table requires).
class ConsoleTimers {
 public:
  ConsoleTimers(ConsoleSettings& s, std::function<void()> writeRegistry)
      : s_(s), writeRegistry_(std::move(writeRegistry)) {}

  void StartFiveMinutes() { fiveMinutes_.Start(); }
  const FiveMinuteTimer& FiveMinutes() const { return fiveMinutes_; }

  // The five-minute timer's one-second tick. On expiry: the traffic trace stops
  // (with "Автом. стоп"), a registration window for all devices closes, and
  // the permission to delete one registration ends.
  void OnSecond();
  // The delayed save's ten-second tick.
  void OnTenSeconds();

  // "Автом. стоп": on at start.
  bool autoStop = true;
  // "Разрешить удаление одной зарег."
  bool deleteOneAllowed = false;

 private:
  ConsoleSettings& s_;
  std::function<void()> writeRegistry_;
  FiveMinuteTimer fiveMinutes_;
  DelayedSave delayedSave_;
};

// The operator's registration actions of "Разрешить новую регистрацию" after a
// confirmed Yes. `wakeWorker` wakes the device worker for the one-number check.
class RegistrationControl {
 public:
  RegistrationControl(ConsoleSettings& s, ConsoleTimers& timers,
                      std::function<void()> writeRegistry, std::function<void()> wakeWorker)
      : s_(s), timers_(timers), writeRegistry_(std::move(writeRegistry)),
        wakeWorker_(std::move(wakeWorker)) {}

  // Any device may register for five minutes.
  void OpenAll();
  // The device with number `n` may register, without a time limit; the device
  // worker first reports whether that number is already registered.
  void OpenOne(ConsoleNumber n);
  // Registration off: the registry file is written.
  void Close();
  // "Разрешить удаление одной зарег." switched on, for five minutes.
  void AllowDeleteOne();

 private:
  ConsoleSettings& s_;
  ConsoleTimers& timers_;
  std::function<void()> writeRegistry_;
  std::function<void()> wakeWorker_;
};

}  // namespace console
