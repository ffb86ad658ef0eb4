// Commands of the workstation for devices: acknowledged, answered by the
// server itself (switching a device off or on for non-payment) or relayed to
// the device as an encrypted request; and the console's service requests,
// which travel the same way.
#pragma once

#include <cstdint>

#include "armlink/arm_channel.h"
#include "devlink/device_link.h"

namespace armlink {

// Commands the server answers itself (L = 8, command in byte 8).
inline constexpr uint8_t kCmdQuerySwitchedOff = 0x65;
inline constexpr uint8_t kCmdSwitchOn = 0x68;
inline constexpr uint8_t kCmdSwitchOff = 0x69;

// Service request kinds 0..6: channel type, signal level SIM1/SIM2, balance
// SIM1/SIM2, switch off for non-payment, switch on again.
inline constexpr int kServiceSwitchOff = 5;
inline constexpr int kServiceSwitchOn = 6;

// Handles a command frame (L above 5, whole and checked, at the front of a
// 128-byte buffer); `serviceRequest` marks one built by ServiceRequest, which
// gets no acknowledgement. True when ch.output is to be written. Lock held.
bool HandleCommand(devlink::DeviceLink& link, ArmChannel& ch, const uint8_t* f,
                   bool serviceRequest);

// Builds the service request of `kind` for record i and queues it for the
// workstation worker, which relays it like a command. The caller holds Lock.
// False, with nothing changed, for a kind outside 0..6, an index outside the
// table or a full queue.
bool ServiceRequest(devlink::DeviceLink& link, ArmChannel& ch, uint16_t i, int kind);

// The first in-use record with console number n[0]/n[1]/n[2]; -1 when none.
int FindRecord(devlink::DeviceLink& link, ArmChannel& ch, const uint8_t* n);

}  // namespace armlink
