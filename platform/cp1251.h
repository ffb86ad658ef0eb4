// Conversion between the Windows-1251 code page of the files and the UTF-8
// text the program works with.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Every byte decodes; the one unassigned byte 0x98 becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view s);

// Characters outside the code page, and malformed UTF-8, become '?'.
std::string Utf8ToCp1251(std::string_view s);

}  // namespace platform
