#include "tools/devsim/main_loader.h"

#include <charconv>
#include <cstdio>
#include <fstream>

#include "devlink/crc8.h"
#include "maintenance/intel_hex.h"
#include "tools/devsim/maintained.h"

namespace devsim {

namespace {

constexpr uint8_t kEraseAnswer = 0x12;
constexpr uint8_t kPacketAnswer = 0x13;

std::vector<uint8_t> Answer(uint8_t code, const std::vector<uint8_t>& data = {}) {
  return MaintenanceAnswer(code, data);
}

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

struct Line {
  uint16_t offset = 0;
  uint8_t type = 0;
  std::vector<uint8_t> data;
  uint8_t sum = 0;
};

// The packet's lines, one after the other, each as long as its count digits
// say; false at the first line that is not sound, `bad` its number from 1.
bool ReadLines(std::string_view t, std::vector<Line>* lines, size_t* bad) {
  size_t pos = 0;
  for (size_t k = 1; pos < t.size(); ++k) {
    *bad = k;
    if (t[pos] != ':' || pos + 3 > t.size() || Hex(t[pos + 1]) < 0 || Hex(t[pos + 2]) < 0)
      return false;
    const size_t n = size_t(Hex(t[pos + 1]) * 16 + Hex(t[pos + 2]));
    if (pos + 2 * n + 11 > t.size()) return false;
    std::vector<uint8_t> b(n + 5);
    unsigned sum = 0;
    for (size_t i = 0; i < b.size(); ++i) {
      const int hi = Hex(t[pos + 1 + 2 * i]), lo = Hex(t[pos + 2 + 2 * i]);
      if (hi < 0 || lo < 0) return false;
      b[i] = uint8_t(hi * 16 + lo);
      sum += b[i];
    }
    if (sum % 256 != 0) return false;
    lines->push_back({uint16_t(b[1] << 8 | b[2]), b[3], {b.begin() + 4, b.end() - 1}, b.back()});
    pos += 2 * n + 11;
  }
  return !lines->empty();
}

std::string Record(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
  return maintenance::HexRecordText(address, type, data) + "\r\n";
}

// The image as Intel HEX: records of up to 16 contiguous bytes, an extended
// linear address wherever the upper 16 bits change.
std::string ImageText(const std::map<uint32_t, uint8_t>& image) {
  std::string out;
  bool first = true;
  uint32_t upper = 0;
  for (auto it = image.begin(); it != image.end();) {
    const uint32_t start = it->first;
    if (first || start >> 16 != upper) {
      upper = start >> 16;
      out += Record(0, 0x04, {uint8_t(upper >> 8), uint8_t(upper)});
      first = false;
    }
    std::vector<uint8_t> data;
    for (uint32_t a = start; it != image.end() && it->first == a && data.size() < 16 && a >> 16 == upper;
         ++it, ++a)
      data.push_back(it->second);
    out += Record(uint16_t(start), 0x00, data);
  }
  return out + Record(0, 0x01, {});
}

}  // namespace

bool ParsePacketList(std::string_view text, std::set<uint32_t>* out) {
  while (!text.empty()) {
    const size_t comma = text.find(',');
    const std::string_view item = text.substr(0, comma);
    uint32_t v = 0;
    const auto [p, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
    if (item.empty() || ec != std::errc() || p != item.data() + item.size() || v == 0) return false;
    out->insert(v);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
    if (text.empty()) return false;
  }
  return false;
}

void MainLoader::Jump() {
  jumped_ = true;
  erased_ = false;
}

std::vector<uint8_t> MainLoader::Erase(std::string* note) {
  if (!jumped_) {
    *note = "erase outside the main controller's loader, not answered";
    return {};
  }
  if (erases_++ < p_.eraseSilent) {
    *note = "erase left unanswered";
    return {};
  }
  erased_ = true;
  complete_ = false;
  image_.clear();
  base_ = lastBase_ = 0;
  packets_ = 0;
  lastText_.clear();
  late_.clear();
  *note = "program memory erased";
  return Answer(kEraseAnswer);
}

bool MainLoader::Packet(ConsoleNumber n, const uint8_t* bytes, size_t len,
                        std::vector<std::vector<uint8_t>>* replies, std::string* note) {
  if (!erased_ || len == 0 || bytes[0] != ':') return false;
  const uint32_t k = ++packets_;
  const std::string_view text(reinterpret_cast<const char*>(bytes), len);
  // A repeat (its answer was lost) is written again from where it began.
  if (text == lastText_) {
    base_ = lastBase_;
  } else {
    lastText_ = text;
    lastBase_ = base_;
  }
  std::vector<Line> lines;
  size_t bad = 0;
  uint8_t status = 0, sum = 0;
  bool refused = false;
  for (const ConsoleNumber& r : p_.refuse) refused = refused || r == n;
  if (!ReadLines(text, &lines, &bad)) {
    status = 1;
    *note = "packet " + std::to_string(k) + ": line " + std::to_string(bad) + " is not sound";
  } else if (refused) {
    status = 1;
    sum = lines.back().sum;
    *note = "packet " + std::to_string(k) + " refused";
  } else {
    sum = lines.back().sum;
    for (const Line& l : lines) {
      switch (l.type) {
        case 0x00:
          for (size_t i = 0; i < l.data.size(); ++i)
            image_[base_ + uint16_t(l.offset + i)] = l.data[i];
          break;
        case 0x01: complete_ = true; break;
        case 0x02: base_ = uint32_t(l.data[0] << 8 | l.data[1]) << 4; break;
        case 0x04: base_ = uint32_t(l.data[0] << 8 | l.data[1]) << 16; break;
        default: break;  // start addresses: nothing to program
      }
    }
    *note = "packet " + std::to_string(k) + ": " + std::to_string(lines.size()) + " lines taken";
    if (complete_) WriteImage(n, note);
  }
  if (!late_.empty()) replies->push_back(std::move(late_));
  late_.clear();
  std::vector<uint8_t> answer = Answer(kPacketAnswer, {status, uint8_t(p_.badSum.count(k) ? sum + 1 : sum)});
  if (p_.late.count(k)) late_ = answer;
  if (p_.drop.count(k)) {
    *note += ", answer lost";
  } else {
    replies->push_back(std::move(answer));
  }
  return true;
}

void MainLoader::WriteImage(ConsoleNumber n, std::string* note) const {
  if (p_.imageOut.empty()) return;
  std::string name = p_.imageOut;
  if (const size_t at = name.find("{n}"); at != std::string::npos)
    name.replace(at, 3, std::to_string(n.n1) + "-" + std::to_string(n.n2) + "-" + std::to_string(n.n3));
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f << ImageText(image_);
  *note += f.good() ? ", image written to " + name : ", " + name + " not written";
}

}  // namespace devsim
