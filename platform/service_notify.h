// Telling the service manager how the server fares: ready after start-up,
// stopping before shutdown, and alive while every part makes progress.
#pragma once

#include <chrono>
#include <optional>

namespace platform {

class ServiceNotifier {
 public:
  virtual ~ServiceNotifier() = default;
  virtual void Ready() = 0;
  virtual void Stopping() = 0;
  virtual void WatchdogPing() = 0;
  // The period within which the manager wants a ping, or none when it
  // watches nothing.
  virtual std::optional<std::chrono::microseconds> WatchdogPeriod() const = 0;
};

// The watchdog period systemd set for this process (WatchdogSec=), or none,
// also when the server does not run under systemd.
std::optional<std::chrono::microseconds> SystemdWatchdogPeriod();

// sd_notify; outside systemd every call does nothing.
class SystemdNotifier final : public ServiceNotifier {
 public:
  void Ready() override;
  void Stopping() override;
  void WatchdogPing() override;
  std::optional<std::chrono::microseconds> WatchdogPeriod() const override {
    return SystemdWatchdogPeriod();
  }
};

}  // namespace platform
