#include "platform/cp1251.h"

#include <cstdint>

namespace platform {
namespace {

// Code points of bytes 0x80..0xBF; 0xC0..0xFF are U+0410..U+044F in order.
constexpr char32_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

char EncodeChar(char32_t c) {
  if (c < 0x80) return char(c);
  if (c >= 0x0410 && c <= 0x044F) return char(0xC0 + (c - 0x0410));
  if (c == 0xFFFD) return '?';  // 0x98 has no character, so nothing maps to it
  for (int i = 0; i < 64; ++i)
    if (kHigh[i] == c) return char(0x80 + i);
  return '?';
}

// Decodes one UTF-8 sequence at s[i]; advances i. Malformed input yields
// U+FFFD and skips one byte.
char32_t NextCodePoint(std::string_view s, size_t& i) {
  const uint8_t b = uint8_t(s[i]);
  int extra;
  char32_t c;
  if (b < 0x80) {
    ++i;
    return b;
  } else if ((b & 0xE0) == 0xC0) {
    extra = 1, c = b & 0x1F;
  } else if ((b & 0xF0) == 0xE0) {
    extra = 2, c = b & 0x0F;
  } else if ((b & 0xF8) == 0xF0) {
    extra = 3, c = b & 0x07;
  } else {
    ++i;
    return 0xFFFD;
  }
  if (s.size() - i <= size_t(extra)) {  // truncated sequence
    ++i;
    return 0xFFFD;
  }
  for (int k = 1; k <= extra; ++k) {
    const uint8_t t = uint8_t(s[i + k]);
    if ((t & 0xC0) != 0x80) {
      ++i;
      return 0xFFFD;
    }
    c = (c << 6) | (t & 0x3F);
  }
  static constexpr char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
  if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    ++i;
    return 0xFFFD;
  }
  i += size_t(extra) + 1;
  return c;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size() * 2);
  for (char ch : s) {
    const uint8_t b = uint8_t(ch);
    if (b < 0x80)
      out += ch;
    else if (b >= 0xC0)
      AppendUtf8(out, 0x0410 + (b - 0xC0));
    else
      AppendUtf8(out, kHigh[b - 0x80]);
  }
  return out;
}

std::string Utf8ToCp1251(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) out += EncodeChar(NextCodePoint(s, i));
  return out;
}

}  // namespace platform
