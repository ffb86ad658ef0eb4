// "RegistrationObj.txt": the list of registered devices as the grid shows
// them, numbered from 1, in Windows-1251 with CR LF line ends.
#pragma once

#include <cstddef>
#include <string>

#include "console/device_grid.h"
#include "console/message_sink.h"

namespace registry {

inline constexpr const char* kGapMarker = "********--->>????????????";

// The text of the export: for each of the first `tableLength` data rows,
// "<n>   <Пультовой N>", up to and including the first empty row; a gap of
// more than one in the third part of the console numbers, in descending
// order, is marked by a line of its own. Empty when the table has more
// records than the grid has rows.
std::string RegistrationObjText(const console::DeviceGrid& grid, size_t tableLength);

// Writes the export to `path` whole (temporary file and rename). False on
// failure, reported as a message; the old file stays.
bool ExportRegistrationObj(const console::DeviceGrid& grid, size_t tableLength,
                           const std::string& path, console::MessageSink& sink);

}  // namespace registry
