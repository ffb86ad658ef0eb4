// The Ethernet controller's firmware update on the maintenance session: the
// TFTP write of tftp.h driven with the session's sends, waits and log.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "maintenance/exchange.h"

namespace maintenance {

// Writes the firmware file to the selected device's 87J60 loader. The jump
// command goes to the device by its client index; the write request and the
// DATA blocks go through the UDP server of GlTargetIface to the device's
// recorded address and port, then to the port of the loader's ACK 0. The
// loader's replies arrive through the hand-off. `fileBytes` is nothing when
// the file could not be read. True only when the loader acknowledged the
// last block.
bool TransferEthernetFirmware(Exchange& x, const std::string& fileName,
                              const std::optional<std::vector<uint8_t>>& fileBytes);

}  // namespace maintenance
