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

}  // namespace devlink
