// Registration of devices, detection of substitution, the echo telegram and the
// console's check of a number. Device worker, with Lock held.
#pragma once

#include <cstddef>
#include <cstdint>

#include "devlink/device_link.h"

namespace devlink {

enum class RegResult { NewNumber, SameAddress, Moved, OtherDevice };

struct Classification {
  RegResult result = RegResult::NewNumber;
  uint16_t m = 0;  // the registered record that decided
};

// For a plain 0xEF telegram with code 7 or 0x87 and a right check byte.
void Register(DeviceLink& link);

// Compares the freshly filled record D with the registered records.
Classification Classify(DeviceLink& link, uint16_t d);

// Record M is registered; record D holds a newcomer with M's number and another
// identity. True when the newcomer takes over record M.
bool Substitute(DeviceLink& link, uint16_t d, uint16_t m);

// Returns the echo telegram unchanged (its `avail` stored bytes).
void Echo(DeviceLink& link, size_t avail);

// Reports when a device with the number awaited for registration exists already.
void CheckOneNumber(DeviceLink& link);

}  // namespace devlink
