#include "maintenance/intel_hex.h"

#include <cstdio>

namespace maintenance {

namespace {

// The data length a record type requires; -1 where any length will do.
int RequiredLength(uint8_t type) {
  switch (type) {
    case kRecordEnd: return 0;
    case kRecordSegmentAddress:
    case kRecordLinearAddress: return 2;
    case kRecordSegmentStart:
    case kRecordLinearStart: return 4;
    default: return -1;
  }
}

std::string Hex2(unsigned v) {
  char b[3];
  std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
  return b;
}

// A character as the operator can read it: itself when printable ASCII, its code otherwise.
std::string Shown(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x21 && u < 0x7F) return std::string("'") + c + "'";
  return "с кодом 0x" + Hex2(u);
}

bool Refuse(HexRefusal* refusal, size_t line, const std::string& what) {
  if (refusal) {
    refusal->line = line;
    refusal->reason = "Строка " + std::to_string(line) + ": " + what + ".";
  }
  return false;
}

// Checks the line's text (without its line end) and fills the record from it.
bool ReadLine(std::string_view t, HexRecord& r, HexRefusal* refusal) {
  const size_t line = r.line;
  if (t.empty() || t[0] != ':') return Refuse(refusal, line, "строка не начинается с \":\"");
  for (size_t i = 1; i < t.size(); ++i) {
    if (HexDigitValue(t[i]) < 0)
      return Refuse(refusal, line,
                    "недопустимый знак " + Shown(t[i]) + " в позиции " + std::to_string(i + 1));
  }
  const size_t digits = t.size() - 1;
  if (digits % 2 != 0) return Refuse(refusal, line, "нечётное число шестнадцатеричных цифр");
  if (digits < 10) return Refuse(refusal, line, "запись короче 11 знаков");

  std::vector<uint8_t> bytes(digits / 2);
  unsigned sum = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = uint8_t(HexDigitValue(t[1 + 2 * i]) * 16 + HexDigitValue(t[2 + 2 * i]));
    sum += bytes[i];
  }
  const size_t n = bytes[0];
  if (bytes.size() != n + 5)
    return Refuse(refusal, line,
                  "запись объявляет " + std::to_string(n) + " байтов данных, а несёт " +
                      std::to_string(bytes.size() - 5));
  if (n > kMaxRecordData)
    return Refuse(refusal, line,
                  "запись из " + std::to_string(n) + " байтов данных не помещается в пакет загрузчика (не более " +
                      std::to_string(kMaxRecordData) + ")");
  const uint8_t checksum = bytes.back();
  if (sum % 256 != 0) {
    const unsigned right = (256 - (sum - checksum) % 256) % 256;
    return Refuse(refusal, line,
                  "неверная контрольная сумма " + Hex2(checksum) + ", должна быть " + Hex2(right));
  }
  const uint8_t type = bytes[3];
  if (type > kRecordLinearStart) return Refuse(refusal, line, "неизвестный тип записи " + Hex2(type));
  const int required = RequiredLength(type);
  if (required >= 0 && size_t(required) != n)
    return Refuse(refusal, line,
                  "запись типа " + Hex2(type) + " должна нести " + std::to_string(required) +
                      " байтов данных");

  r.text.assign(t);
  for (char& c : r.text) {
    if (c >= 'a' && c <= 'f') c = char(c - 'a' + 'A');
  }
  r.address = uint16_t(bytes[1] << 8 | bytes[2]);
  r.type = type;
  r.data.assign(bytes.begin() + 4, bytes.end() - 1);
  r.checksum = checksum;
  return true;
}

}  // namespace

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::optional<HexFile> ReadFirmwareHex(std::string_view bytes, HexRefusal* refusal) {
  if (bytes.empty()) {
    Refuse(refusal, 1, "файл пуст");
    return std::nullopt;
  }
  HexFile file;
  file.size = bytes.size();
  size_t pos = 0;
  size_t line = 1;
  for (; pos < bytes.size(); ++line) {
    if (!file.records.empty() && file.records.back().type == kRecordEnd) {
      Refuse(refusal, line, "после записи конца файла есть ещё строки");
      return std::nullopt;
    }
    size_t e = bytes.find_first_of("\r\n", pos);
    if (e == std::string_view::npos) e = bytes.size();
    HexRecord r;
    r.line = line;
    if (!ReadLine(bytes.substr(pos, e - pos), r, refusal)) return std::nullopt;
    // The loader's packets hold lines without their ends; a line ends with CR LF only.
    if (e == bytes.size()) {
      Refuse(refusal, line, "строка не кончается на CR LF");
      return std::nullopt;
    }
    if (bytes[e] == '\n') {
      Refuse(refusal, line, "строка кончается на LF без CR");
      return std::nullopt;
    }
    if (e + 1 == bytes.size() || bytes[e + 1] != '\n') {
      Refuse(refusal, line, "после CR нет LF");
      return std::nullopt;
    }
    pos = e + 2;
    r.end = pos;
    file.records.push_back(std::move(r));
  }
  if (file.records.back().type != kRecordEnd) {
    Refuse(refusal, line - 1, "файл кончился без записи конца файла (:00000001FF)");
    return std::nullopt;
  }
  return file;
}

std::string HexRecordText(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> b = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), type};
  b.insert(b.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t x : b) sum += x;
  b.push_back(uint8_t(-sum));
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s = ":";
  for (uint8_t x : b) {
    s += kDigits[x >> 4];
    s += kDigits[x & 15];
  }
  return s;
}

}  // namespace maintenance
