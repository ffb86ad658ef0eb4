// Intel HEX firmware files of the main controller, read whole and checked
// before the loader is told anything: every line ":" + hex digits + CR LF, its
// checksum right, short enough for one loader packet, the end record last and
// nothing after it. Pure code: the caller reads the file's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace maintenance {

// A loader packet holds at most 511 characters, and a line goes out whole in
// one packet: a line has 2n + 11 characters, so a record carries at most 250
// data bytes.
inline constexpr size_t kMaxPacketChars = 511;
inline constexpr size_t kMaxRecordData = (kMaxPacketChars - 11) / 2;

// Record types of Intel HEX (I8HEX, I16HEX, I32HEX).
inline constexpr uint8_t kRecordData = 0x00;
inline constexpr uint8_t kRecordEnd = 0x01;
inline constexpr uint8_t kRecordSegmentAddress = 0x02;
inline constexpr uint8_t kRecordSegmentStart = 0x03;
inline constexpr uint8_t kRecordLinearAddress = 0x04;
inline constexpr uint8_t kRecordLinearStart = 0x05;

// One line of the file.
struct HexRecord {
  size_t line = 0;     // 1-based line number in the file
  std::string text;    // the line without CR LF, hex digits in upper case
  uint16_t address = 0;
  uint8_t type = 0;
  std::vector<uint8_t> data;
  uint8_t checksum = 0;  // the record's last byte: what the loader answers
  size_t end = 0;        // offset in the file just past this line's CR LF

  friend bool operator==(const HexRecord&, const HexRecord&) = default;
};

struct HexFile {
  std::vector<HexRecord> records;  // the last one is the end record
  size_t size = 0;                 // bytes of the file
};

// Why a file cannot be sent. `reason` is the operator's text, in Russian,
// beginning with "Строка N:".
struct HexRefusal {
  size_t line = 0;
  std::string reason;
};

// The value of one hex digit in either case; -1 for any other character.
int HexDigitValue(char c);

// Reads a firmware file's bytes. Returns the records, or nothing with
// `refusal` (may be null) saying which line is wrong and how. The first fault
// in file order is the one reported.
std::optional<HexFile> ReadFirmwareHex(std::string_view bytes, HexRefusal* refusal);

// One record as a line of a firmware file, without its CR LF: ":", the
// count, address, type, data and checksum in upper-case hex.
std::string HexRecordText(uint16_t address, uint8_t type, const std::vector<uint8_t>& data);

}  // namespace maintenance
