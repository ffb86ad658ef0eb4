// Bytes as upper-case hexadecimal text and back, for images carried in
// control requests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

std::string HexEncode(std::span<const uint8_t> bytes);
// Two digits per byte, either case; nothing for an odd length or another character.
std::optional<std::vector<uint8_t>> HexDecode(std::string_view text);

}  // namespace platform
