// The radio expander's settings over the maintenance exchange: the version
// gate, then the three blocks read, or the two writable blocks written, with
// the tries, messages and status texts of the expander.
#pragma once

#include <string>

#include "configurator/expander_blocks.h"
#include "maintenance/exchange.h"

namespace configurator {

// Reads the expander's blocks into `blocks` (a block keeps what it held when
// its read failed). `status` gets the status line's text; `arrived` how many
// blocks were stored, in the order table, settings, owners. True when all
// three were read.
bool ReadExpanderSettings(maintenance::Exchange& x, Expander e, ExpanderBlocks& blocks,
                          std::string* status, int* arrived);

// Writes the detector settings, then after a pause the owner numbers. True
// when both were acknowledged.
bool WriteExpanderSettings(maintenance::Exchange& x, Expander e, const ExpanderBlocks& blocks,
                           std::string* status);

}  // namespace configurator
