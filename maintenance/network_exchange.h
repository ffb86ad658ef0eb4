// The exchanges of a device's network settings: the main block, the SMS
// service and its NTP and balance settings, read and written in their
// sequence, and the remote reset.
#pragma once

#include <optional>

#include "maintenance/exchange.h"
#include "maintenance/settings_blocks.h"
#include "maintenance/settings_fields.h"

namespace maintenance {

// What a read brought and what a write sends back.
struct DeviceSettings {
  NetworkBlock main{};
  SmsBlock sms{};
  NtpBlock ntp{};
  bool mainRead = false;
  bool smsRead = false;  // the SMS block was read: it is written back too
  bool ntpRead = false;  // only an NTP block that was read is ever written
  bool ntpOff = false;   // the device said its NTP service is off or missing
};

// The window's fields into the blocks a write sends: the main block, and the
// SMS and NTP blocks when they were read. Every value is checked before any
// block changes; on refusal `s` is unchanged.
std::optional<FieldError> SettingsFromFields(const NetworkFields& network, const SmsFields& sms,
                                             const NtpFields& ntp, DeviceSettings& s);

// The main block, then (when it came) the SMS read sequence with its version
// check and the NTP read. True when the main block was read.
bool ReadNetworkSettings(Exchange& x, DeviceSettings& s);

// The main block (`s.main`, laid out as read), then the SMS block when it was
// read, then the NTP block when it was read. True when every block that was
// to go was written.
bool WriteNetworkSettings(Exchange& x, DeviceSettings& s);

// Three reset commands, no answer awaited.
bool ResetDevice(Exchange& x);

}  // namespace maintenance
