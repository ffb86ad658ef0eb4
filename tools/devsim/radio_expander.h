// A device's radio expander, Rielta or Astra-RR: 32 detector slots held as
// the three settings blocks the configurator reads and writes, the state
// query, and the operations the device runs on its own (registration,
// deletion, network parameters), each ending with the notice 0xF0 after a
// chosen delay. Free of I/O; the engine sends what it returns, and later
// what falls due.
//
// Deleting one device (FE 04 55 F0 n): the configurator sends a Rielta
// expander the row of its table minus 1 and an Astra-RR expander the row
// itself, rows 1..32 showing slots 0..31; so n is slot n for Rielta and
// slot n-1 for Astra-RR, and an index outside those slots deletes nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/devsim/delayed.h"

namespace devsim {

enum class ExpanderKind : uint8_t { kNone, kRielta, kAstra };

// "rielta" or "astra"; false for anything else.
bool ParseExpanderKind(std::string_view text, ExpanderKind* k);

struct ExpanderProfile {
  ExpanderKind kind = ExpanderKind::kNone;
  int64_t delayMs = 3000;  // from a request to its operation's notice
  uint8_t silentCommand = 0;  // requests of this command go unanswered; 0 for none
};

class RadioExpander {
 public:
  static constexpr size_t kSlots = 32;
  static constexpr size_t kTableSize = 100;    // DetectorTable, read with 241
  static constexpr size_t kSettingsSize = 97;  // DetectorSettings, 245 and 246
  static constexpr size_t kOwnersSize = 33;    // OwnerNumbers, 249 and 242

  // Seeded with a few detectors and a key fob in slots 0, 1, 2 and 4.
  explicit RadioExpander(ExpanderProfile p);

  // Whether a plain request (check byte right) is one of the expander's:
  // FE L 55 and 241, 245, 249, 246, 242, 244, 240 or 238.
  static bool IsRequest(const uint8_t* t);

  // Answers one request received at `nowMs`: the answer to send now, empty
  // for none; a notice waits for Due. `note` says what happened.
  std::vector<uint8_t> Handle(const uint8_t* t, int64_t nowMs, std::string* note);
  // Runs the operations due by `nowMs` and returns their notices.
  std::vector<Delayed> Due(int64_t nowMs);
  int64_t NextDue() const;

  // The slot a delete request's index names, -1 for none.
  int SlotOfIndex(uint8_t n) const;
  bool SlotEmpty(size_t slot) const;

  ExpanderKind Kind() const { return p_.kind; }
  const std::array<uint8_t, kTableSize>& Table() const { return table_; }
  const std::array<uint8_t, kSettingsSize>& Settings() const { return settings_; }
  const std::array<uint8_t, kOwnersSize>& Owners() const { return owners_; }

 private:
  enum class Op : uint8_t { kRegister, kDelete, kDeleteAll, kNetwork };
  struct Pending {
    int64_t dueMs;
    Op op;
    uint8_t a, b, c;  // the request's bytes: mode; index; network parameters
  };
  std::string Run(const Pending& p);
  void Clear(size_t slot);
  void Put(size_t slot, uint8_t type, uint8_t cls, uint8_t channel);

  ExpanderProfile p_;
  std::array<uint8_t, kTableSize> table_{};
  std::array<uint8_t, kSettingsSize> settings_{};
  std::array<uint8_t, kOwnersSize> owners_{};
  std::vector<Pending> pending_;
};

}  // namespace devsim
