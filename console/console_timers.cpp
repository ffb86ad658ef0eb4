#include "console/console_timers.h"

namespace console {

bool FiveMinuteTimer::Tick() {
  if (!running_) return false;
  if (count_ >= kTicks) {
    running_ = false;
    count_ = 0;
    return true;
  }
  ++count_;
  return false;
}

bool DelayedSave::Tick(ConsoleSettings& s) {
  if (s.GlSaveRequest.exchange(false)) {
    armed_ = true;
    countdown_ = 3;
  }
  if (!armed_) return false;
  if (countdown_ > 0) {
    --countdown_;
    return false;
  }
  armed_ = false;
  return true;
}

void ConsoleTimers::OnSecond() {
  if (!fiveMinutes_.Tick()) return;
  if (autoStop) s_.GlTraficRun = false;
  // A window for one device by number, or a permanent one, stays open.
  if (s_.GlRegOn && !s_.GlRegOne && !s_.GlRegPermanent) {
    s_.GlRegOn = false;
    if (writeRegistry_) writeRegistry_();
  }
  deleteOneAllowed = false;
}

void ConsoleTimers::OnTenSeconds() {
  // Switching registration off when GlRegOn is already clear changes nothing
  // more without a window; the write below is the only one.
  if (delayedSave_.Tick(s_) && writeRegistry_) writeRegistry_();
}

void RegistrationControl::OpenAll() {
  s_.GlRegOne = false;
  s_.GlRegOn = true;
  timers_.StartFiveMinutes();
}

void RegistrationControl::OpenOne(ConsoleNumber n) {
  s_.GlRegNPult.Store(n);
  s_.GlRegOne = true;
  s_.GlRegOn = true;
  timers_.StartFiveMinutes();
  s_.GlRegOneStart = true;
  if (wakeWorker_) wakeWorker_();
}

void RegistrationControl::Close() {
  s_.GlRegOn = false;
  if (writeRegistry_) writeRegistry_();
}

void RegistrationControl::AllowDeleteOne() {
  timers_.deleteOneAllowed = true;
  timers_.StartFiveMinutes();
}

}  // namespace console
