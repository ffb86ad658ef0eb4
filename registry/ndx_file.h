// The registry file: the client records, 3166 bytes each, in index order, with
// nothing else in the file.
#pragma once

#include <string>

#include "console/message_sink.h"
#include "registry/buff_client.h"

namespace registry {

// Loads the file into the store's table. A missing file changes nothing; an
// empty one is deleted. A size that is not a whole number of records, or more
// records than the table can hold, is reported and the file kept: the whole
// records that fit are loaded. The per-interface statistics start at zero.
// False on an input/output error, reported as a message.
bool LoadNdx(TBuffClient& store, const std::string& path, console::MessageSink& sink);

}  // namespace registry
