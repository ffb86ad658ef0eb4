// Dotted IPv4 address text ("192.168.0.1"): four decimal parts 0..255, no
// leading zeros, nothing else, so that "010.0.0.1" is never read as octal.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// On success `hostOrder` holds the address with the first part in the top byte.
inline bool ParseDottedIPv4(std::string_view text, uint32_t& hostOrder) {
  uint32_t value = 0;
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    const size_t start = i;
    uint32_t n = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      n = n * 10 + uint32_t(text[i] - '0');
      ++i;
    }
    const size_t digits = i - start;
    if (digits == 0 || n > 255 || (digits > 1 && text[start] == '0')) return false;
    value = (value << 8) | n;
  }
  if (i != text.size()) return false;
  hostOrder = value;
  return true;
}

inline bool IsDottedIPv4(std::string_view text) {
  uint32_t ignored;
  return ParseDottedIPv4(text, ignored);
}

}  // namespace platform
