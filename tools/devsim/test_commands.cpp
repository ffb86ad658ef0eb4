#include "tools/devsim/test_commands.h"

#include <cstdio>

#include "devlink/crc8.h"

namespace devsim {

namespace {

constexpr uint8_t kTest = 0x64;
constexpr uint8_t kEnd = 0x00;

std::string Hex2(uint8_t v) {
  char s[3];
  std::snprintf(s, sizeof s, "%02X", v);
  return s;
}

}  // namespace

bool TestCommands::Is(const uint8_t* t) { return t[3] == kTest || t[3] == kEnd; }

std::vector<uint8_t> TestCommands::Handle(const uint8_t* t, std::string* note) {
  if (t[3] == kEnd) {
    ++ends_;
    *note = "end of test exchange";
    return {};
  }
  // Sub-command and its data: a command too short for them is not played.
  if (t[1] == 5 && t[4] == 0x05) {
    ++ethResets_;
    *note = "Ethernet controller reset";
    return {};
  }
  if (t[1] != 6 || t[4] != 0x01) {
    *note = "test command not played";
    return {};
  }
  lan_ = t[5];
  sim_ = t[6];
  *note = "test: channel mask LAN " + Hex2(lan_) + " SIM " + Hex2(sim_);
  if (silent_) {
    *note += ", left unanswered";
    return {};
  }
  // The register of the blocked LAN channels, as the device now holds it.
  std::vector<uint8_t> a = {0xEF, 5, 0x55, kTest, 0x01, lan_, 0};
  devlink::SetCheckByte(a.data());
  return a;
}

}  // namespace devsim
