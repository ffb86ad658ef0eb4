#include "platform/hex_text.h"

namespace platform {

namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string HexEncode(std::span<const uint8_t> bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const uint8_t v : bytes) {
    out += kDigits[v >> 4];
    out += kDigits[v & 15];
  }
  return out;
}

std::optional<std::vector<uint8_t>> HexDecode(std::string_view text) {
  if (text.size() % 2) return std::nullopt;
  std::vector<uint8_t> out(text.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const int hi = Digit(text[2 * i]), lo = Digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out[i] = uint8_t(hi * 16 + lo);
  }
  return out;
}

}  // namespace platform
