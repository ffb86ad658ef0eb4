// Link supervision and request repetition: the device worker's work on each
// main tick, with Lock held.
#pragma once

#include "devlink/device_link.h"

namespace devlink {

// Link failures are not declared while the internet is known to be absent
// (with the blocking option on) and no frame awaits the workstation's
// acknowledgement. An unknown internet state never blocks.
inline bool AlarmBlocked(const DeviceLink& link) {
  return link.settings.GlAvarInetBlock && link.internet == InternetState::Absent &&
         !link.armAwaitingAck;
}

// One silent period for every registered device not being rewritten; a device
// silent for GlNaruchUO + 2 periods is marked failed (link state 1).
void LinkSweep(DeviceLink& link);

// Resends the pending requests whose period has run out and reports those that
// used up their sends with "Запрос Пульт.N=... - не Выполнен.".
void RepeatRequests(DeviceLink& link);

// The work of one main tick: the link sweep on every eleventh tick, the
// repetition on every tick.
void DeviceTickWork(DeviceLink& link);

}  // namespace devlink
