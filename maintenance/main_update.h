// The main controller's firmware update: the Intel HEX file checked whole,
// the device's chip asked for and matched with the file's name, the jump into
// the loader, the erase, then the file's lines in packets, each taken when the
// loader answers with the checksum of its last line.
#pragma once

#include <string>
#include <string_view>

#include "maintenance/exchange.h"

namespace maintenance {

// Runs the whole update on the maintenance target (set it first to the
// device's recorded address, port and interface). `fileName` is the file's path as the
// operator chose it (its name picks the chip), `fileBytes` its contents. A
// file that is not a sound firmware file sends nothing at all. True when the
// loader took every packet.
bool UpdateMainController(Exchange& x, const std::string& fileName, std::string_view fileBytes);

// The line logged when the update file cannot be read.
std::string FirmwareFileNotFound(const std::string& path);

}  // namespace maintenance
