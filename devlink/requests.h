// Pending request slots of a client record: requests sent to a device are kept
// for repetition until the device's event with the same sequence byte arrives.
#pragma once

#include <cstdint>

#include "console/console_settings.h"
#include "devlink/client_record.h"

namespace devlink {

// Stores a 128-byte request in the lowest free slot; false when repetition is
// off or all eight slots are taken (the request is then sent once only).
bool AddRequest(ClientRecord& r, const uint8_t* request, const console::ConsoleSettings& s);

// Frees the slot whose byte 7 equals the answer's byte 7; true when one was freed.
bool AckRequest(ClientRecord& r, const uint8_t* answer, const console::ConsoleSettings& s);

}  // namespace devlink
