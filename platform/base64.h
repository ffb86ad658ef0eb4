// Base64 (RFC 4648, with padding): how the control socket carries a file's
// bytes inside a JSON line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::string Base64Encode(std::string_view bytes);
// Nothing for text that is not base64 (a wrong letter, a wrong length or padding).
std::optional<std::string> Base64Decode(std::string_view text);

}  // namespace platform
