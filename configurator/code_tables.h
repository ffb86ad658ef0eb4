// The "Коды" and "Ключи" tables of the configurator window as plain models
// of their cells: filled from the image, encoded back into it, and the rules
// for typing codes and keys and for placing a key read at the device.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "configurator/image.h"

namespace configurator {

// A mark cell: bits 0..3 arm loops 1..4 ("Взятие"), bits 4..7 disarm them.
inline constexpr std::string_view kMarkText = " +";

// ---- User codes ----

// Record 1's second code is the installer's: never shown nor parsed.
inline constexpr std::string_view kInstallerCodeText = "Код Уст";

struct CodeRow {
  std::string code;    // "Код": up to four digits, empty for no code
  std::string second;  // "К.Прин."
  std::array<bool, 8> marks{};
  bool operator==(const CodeRow&) const = default;
};
using CodeTable = std::array<CodeRow, off::kCodeRecords>;

// Each code shows its four nibbles in entry order, low nibble first; both
// bytes 0 show nothing.
CodeTable CodesFromImage(const Image& image);
// All 20 records: four characters give both bytes, three only byte 0 (byte 1
// keeps its value), fewer than three give 0 0; a character that is not a
// digit counts as 0. Record 1's second code always becomes 0 0.
void CodesIntoImage(const CodeTable& table, Image& image);
// Whether a code cell holding `text` takes `key`: digits up to four, backspace.
bool CodeCellKey(std::string_view text, char key);

// Column 0 of the code table, rows 1..20: 0, 1, 3, 5, ..., 37.
std::string CodeRowNumber(int row);

// ---- Touch-memory keys ----

struct KeyRow {
  std::string hex;  // eight hexadecimal digits, empty for no key
  std::array<bool, 8> marks{};
  bool operator==(const KeyRow&) const = default;
};
using KeyTable = std::array<KeyRow, off::kKeyCount>;

// The keys as shown, upper case; the permission marks for variant 250 only.
KeyTable KeysFromImage(const Image& image, uint8_t variant);
// The keys stored last shown byte first (hexadecimal in either case; missing
// or foreign characters count as 0). Variant 250 also rebuilds the
// permission bytes; 252 keeps them, as its window does not show them; other
// variants have another layout and nothing is encoded.
void KeysIntoImage(const KeyTable& table, Image& image, uint8_t variant);

// Column 0 of the key table, rows 1..16: 2, 4, ..., 32 until an image is
// shown, then 0..15.
std::string KeyRowNumber(int row, bool imageShown);

// The last key read at the device or typed in.
using KeyBuffer = std::array<uint8_t, 8>;

// Whether EditKey holding `text` takes `key`: hexadecimal digits until it
// holds 16 characters, backspace and Enter always.
bool KeyEntryKey(std::string_view text, char key);
// Exactly 16 hexadecimal digits, pair by pair; nullopt for anything else.
std::optional<KeyBuffer> ParseKeyEntry(std::string_view text);

// A key poll answer's data (frame bytes 7..L): EditKey shows the bytes from
// the last to the first, and the buffer takes the first eight of them in that
// order; buffer bytes the answer does not reach keep `before`'s values.
struct PolledKey {
  KeyBuffer buffer{};
  std::string text;
};
PolledKey KeyBufferFromReply(std::span<const uint8_t> data, const KeyBuffer& before);

// The text a key table row takes: buffer bytes 3..6 for variants 250 and
// 252, all eight for 251.
std::string KeyTextFromBuffer(const KeyBuffer& buffer, uint8_t variant);

// Rows (0-based) whose key is `text`: each asks "Удалить старый?".
inline constexpr std::string_view kDuplicateKeyQuestion = "Удалить старый?";
inline constexpr std::string_view kDuplicateKeyCaption = "Такой ключ уже есть";
std::vector<int> RowsHoldingKey(const KeyTable& table, std::string_view text);

}  // namespace configurator
