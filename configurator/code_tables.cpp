#include "configurator/code_tables.h"

#include <algorithm>

namespace configurator {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& s, uint8_t b) {
  s += kHexDigits[b >> 4];
  s += kHexDigits[b & 0x0F];
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The cell's characters, a UTF-8 sequence counting as one.
std::vector<std::string_view> Characters(std::string_view s) {
  std::vector<std::string_view> chars;
  for (size_t i = 0; i < s.size();) {
    size_t n = 1;
    while (i + n < s.size() && (uint8_t(s[i + n]) & 0xC0) == 0x80) ++n;
    chars.push_back(s.substr(i, n));
    i += n;
  }
  return chars;
}

// Nibbles in entry order: low and high of byte 0, low and high of byte 1.
std::string CodeText(uint8_t b0, uint8_t b1) {
  if (b0 == 0 && b1 == 0) return {};
  return {char('0' + (b0 & 0x0F)), char('0' + (b0 >> 4)), char('0' + (b1 & 0x0F)),
          char('0' + (b1 >> 4))};
}

void EncodeCode(std::string_view cell, uint8_t* bytes) {
  const std::vector<std::string_view> chars = Characters(cell);
  if (chars.size() < 3) {
    bytes[0] = bytes[1] = 0;
    return;
  }
  uint8_t nibbles[4] = {};
  for (size_t i = 0; i < 4 && i < chars.size(); ++i)
    if (chars[i].size() == 1 && IsDigit(chars[i][0])) nibbles[i] = uint8_t(chars[i][0] - '0');
  bytes[0] = uint8_t(nibbles[0] | nibbles[1] << 4);
  // Three characters reach only byte 0.
  if (chars.size() >= 4) bytes[1] = uint8_t(nibbles[2] | nibbles[3] << 4);
}

std::array<bool, 8> Marks(uint8_t b) {
  std::array<bool, 8> m{};
  for (int k = 0; k < 8; ++k) m[k] = (b >> k) & 1;
  return m;
}

uint8_t MarksByte(const std::array<bool, 8>& m) {
  uint8_t b = 0;
  for (int k = 0; k < 8; ++k)
    if (m[k]) b |= uint8_t(1u << k);
  return b;
}

size_t KeyOffset(size_t k) { return off::kKeys + off::kKeySize * k; }

}  // namespace

CodeTable CodesFromImage(const Image& image) {
  CodeTable t;
  for (size_t r = 0; r < t.size(); ++r) {
    const uint8_t* rec = image.data() + off::kCodes + off::kCodeRecordSize * r;
    t[r].code = CodeText(rec[0], rec[1]);
    t[r].second = r == 0 ? std::string(kInstallerCodeText) : CodeText(rec[2], rec[3]);
    t[r].marks = Marks(rec[4]);
  }
  return t;
}

void CodesIntoImage(const CodeTable& table, Image& image) {
  for (size_t r = 0; r < table.size(); ++r) {
    uint8_t* rec = image.data() + off::kCodes + off::kCodeRecordSize * r;
    EncodeCode(table[r].code, rec);
    if (r == 0)
      rec[2] = rec[3] = 0;
    else
      EncodeCode(table[r].second, rec + 2);
    rec[4] = MarksByte(table[r].marks);
  }
}

bool CodeCellKey(std::string_view text, char key) {
  if (key == kBackspace) return true;
  return IsDigit(key) && text.size() < 4;
}

std::string CodeRowNumber(int row) { return std::to_string(row == 1 ? 0 : 2 * row - 3); }

KeyTable KeysFromImage(const Image& image, uint8_t variant) {
  KeyTable t;
  for (size_t k = 0; k < t.size(); ++k) {
    const size_t o = KeyOffset(k);
    if (image[o] | image[o + 1] | image[o + 2] | image[o + 3])
      for (size_t i = 0; i < off::kKeySize; ++i) AppendHex(t[k].hex, image[o + 3 - i]);
    if (variant == kVariantF) t[k].marks = Marks(image[off::kKeyPermissions + k]);
  }
  return t;
}

void KeysIntoImage(const KeyTable& table, Image& image, uint8_t variant) {
  if (!HasFLayout(variant)) return;
  for (size_t k = 0; k < table.size(); ++k) {
    const std::string& hex = table[k].hex;
    const size_t o = KeyOffset(k);
    for (size_t i = 0; i < off::kKeySize; ++i) {
      uint8_t b = 0;
      for (size_t j = 2 * i; j < 2 * i + 2; ++j)
        b = uint8_t(b << 4 | (j < hex.size() ? std::max(HexValue(hex[j]), 0) : 0));
      image[o + 3 - i] = b;
    }
    if (variant == kVariantF) image[off::kKeyPermissions + k] = MarksByte(table[k].marks);
  }
}

std::string KeyRowNumber(int row, bool imageShown) {
  return std::to_string(imageShown ? row - 1 : 2 * row);
}

bool KeyEntryKey(std::string_view text, char key) {
  if (key == kBackspace || key == kEnter) return true;
  return HexValue(key) >= 0 && text.size() < 16;
}

std::optional<KeyBuffer> ParseKeyEntry(std::string_view text) {
  if (text.size() != 16) return std::nullopt;
  KeyBuffer b{};
  for (size_t i = 0; i < b.size(); ++i) {
    const int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    b[i] = uint8_t(hi << 4 | lo);
  }
  return b;
}

PolledKey KeyBufferFromReply(std::span<const uint8_t> data, const KeyBuffer& before) {
  PolledKey key{before, {}};
  size_t stored = 0;
  for (size_t i = data.size(); i-- > 0;) {
    AppendHex(key.text, data[i]);
    if (stored < key.buffer.size()) key.buffer[stored++] = data[i];
  }
  return key;
}

std::string KeyTextFromBuffer(const KeyBuffer& buffer, uint8_t variant) {
  std::string s;
  const size_t first = variant == kVariantGsm ? 0 : 3;
  const size_t last = variant == kVariantGsm ? 7 : 6;
  for (size_t i = first; i <= last; ++i) AppendHex(s, buffer[i]);
  return s;
}

std::vector<int> RowsHoldingKey(const KeyTable& table, std::string_view text) {
  std::vector<int> rows;
  for (size_t k = 0; k < table.size(); ++k)
    if (table[k].hex == text) rows.push_back(int(k));
  return rows;
}

}  // namespace configurator
