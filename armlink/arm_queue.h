// The per-device queue of frames waiting for the workstation: eight 128-byte
// slots in the client record with a read index, a write index and a full flag.
#pragma once

#include <cstdint>

#include "console/message_sink.h"
#include "devlink/client_record.h"

namespace armlink {

// Queues a frame; returns true when refused because the queue is full.
bool PutToArm(devlink::ClientRecord& r, const uint8_t* frame, console::MessageSink& sink);

// Takes the oldest frame into `out`; returns true when the queue is empty.
bool GetForArm(devlink::ClientRecord& r, uint8_t* out);

}  // namespace armlink
