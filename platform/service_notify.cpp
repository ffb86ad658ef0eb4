#include "platform/service_notify.h"

#include <systemd/sd-daemon.h>

namespace platform {

std::optional<std::chrono::microseconds> SystemdWatchdogPeriod() {
  uint64_t usec = 0;
  // The environment stays: the next call must see the same answer.
  if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return std::nullopt;
  return std::chrono::microseconds(usec);
}

void SystemdNotifier::Ready() { sd_notify(0, "READY=1"); }

void SystemdNotifier::Stopping() { sd_notify(0, "STOPPING=1"); }

void SystemdNotifier::WatchdogPing() { sd_notify(0, "WATCHDOG=1"); }

}  // namespace platform
