// Processing of one received datagram by the device worker, with Lock held.
#pragma once

#include <cstdint>

#include "devlink/device_link.h"

namespace devlink {

// Runs the tests on the working copy in their fixed order: loader reply,
// configurator answer, maintenance answer, device telegram, plain service
// telegram. Every failed check drops the datagram without a trace in the table.
void ProcessEntry(DeviceLink& link);

// Sends the telegram built in the working copy to where the datagram came
// from, encrypted with the key and send chaining value of `target`.
void SendAnswer(DeviceLink& link, ClientRecord& target);

}  // namespace devlink
