// Maintenance telegrams: header, L, marker 0x55, code, data, CRC-8 check byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace maintenance {

inline constexpr uint8_t kPlain = 0xEF;      // plain request or answer
inline constexpr uint8_t kPlainFE = 0xFE;    // plain request: versions, SMS, loader commands
inline constexpr uint8_t kEncrypted = 0xE9;  // request encrypted with the device's key
inline constexpr uint8_t kMarker = 0x55;

// A telegram in a 128-byte buffer; `size` bytes of it go out (L + 2 before
// encryption).
struct Telegram {
  std::array<uint8_t, 128> bytes{};
  size_t size = 0;
};

// Header, L = data + 3, marker, code, the data, check byte. At most 124 data
// bytes fit; more is a programming error.
Telegram BuildTelegram(uint8_t header, uint8_t code, const uint8_t* data, size_t n,
                       uint8_t marker = kMarker);
Telegram BuildTelegram(uint8_t header, uint8_t code, std::string_view text);

// A valid answer: 0xEF, marker 0x55, L within the buffer, and a right check byte.
bool ValidAnswer(const std::array<uint8_t, 128>& a);

}  // namespace maintenance
