// Reading a firmware file for an update, shared by the window and relayctl.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace maintenance {

// The file's bytes, or nothing when it is missing, not a regular file or
// cannot be read; the update's own checks judge the contents.
std::optional<std::vector<uint8_t>> ReadFirmwareFile(const std::string& path);

}  // namespace maintenance
