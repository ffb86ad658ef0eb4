// The device's test commands as remote maintenance sends them: the channel
// mask (0x64, sub-command 0x01), answered with the device's register; the
// reset of its Ethernet controller (0x64, sub-command 0x05), unanswered; and
// the end of the test exchange (0x00), unanswered.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace devsim {

class TestCommands {
 public:
  // `silent`: channel commands go unanswered, as from a device out of reach.
  explicit TestCommands(bool silent = false) : silent_(silent) {}

  // Whether `t` (check byte right) is one of these commands.
  static bool Is(const uint8_t* t);
  // The answer to one command, empty for none; `note` says what happened.
  std::vector<uint8_t> Handle(const uint8_t* t, std::string* note);

  // The masks of the last channel command: LAN in bits 0..3, SIM 1 in bits
  // 0..3 and SIM 2 in bits 4..7 of the SIM mask. All channels at the start.
  uint8_t Lan() const { return lan_; }
  uint8_t Sim() const { return sim_; }
  uint32_t EthernetResets() const { return ethResets_; }
  uint32_t Ends() const { return ends_; }

 private:
  bool silent_;
  uint8_t lan_ = 0x0F;
  uint8_t sim_ = 0xFF;
  uint32_t ethResets_ = 0;
  uint32_t ends_ = 0;
};

}  // namespace devsim
