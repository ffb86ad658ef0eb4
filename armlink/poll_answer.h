// The answer to a poll of one group: the next item the group has for the
// workstation (link failure or restoration, maintenance notice, queued frame),
// the empty answer, or nothing. Called with Lock held.
#pragma once

#include <cstdint>

#include "armlink/arm_channel.h"
#include "devlink/device_link.h"

namespace armlink {

// Indexed looks only at the group's records through the channel's group
// index; WholeTable walks every record and serves as the reference.
enum class PollScan { Indexed, WholeTable };

// Prepares the answer in ch.output; true when it is to be written.
bool AnswerPoll(devlink::DeviceLink& link, ArmChannel& ch, uint8_t group,
                PollScan scan = PollScan::Indexed);

// The record's next frame counter towards the workstation (255 wraps to 0),
// remembered with the frame's group as the one to be acknowledged.
uint8_t NewFrameCounter(ArmChannel& ch, devlink::ClientRecord& r, uint8_t group);

}  // namespace armlink
