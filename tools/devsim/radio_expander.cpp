#include "tools/devsim/radio_expander.h"

#include <algorithm>
#include <span>

#include "tools/devsim/maintained.h"

namespace devsim {

namespace {

constexpr uint8_t kReadTable = 0xF1;
constexpr uint8_t kReadSettings = 0xF5;
constexpr uint8_t kReadOwners = 0xF9;
constexpr uint8_t kWriteSettings = 0xF6;
constexpr uint8_t kWriteOwners = 0xF2;
constexpr uint8_t kStates = 0xF4;
constexpr uint8_t kOperation = 0xF0;  // also the code of the notice
constexpr uint8_t kNetwork = 0xEE;

constexpr uint8_t kModeInterface = 0x43;  // registration of key fobs and keypads
constexpr uint8_t kModeEnd = 4;           // end of registration

// A detector as the table holds it.
struct Seed {
  size_t slot;
  uint8_t type, cls, channel;
  uint8_t partition, zone, flags, owner;
};

// Rielta: names by type + 256 x class: 0x1411 "Фотон-12-РК", 0x1211
// "Пирон-8-РК", 0x3130 "КТС-РК" (a key fob), 0x1141 "ПД-РК". Slot 3 stays
// empty, so a registration lands between detectors.
constexpr Seed kRieltaSeeds[] = {
    {0, 0x11, 0x14, 1, 1, 1, 0x80, 0},
    {1, 0x11, 0x12, 2, 2, 2, 0x00, 0},
    {2, 0x30, 0x31, 3, 1, 3, 0x00, 7},
    {4, 0x41, 0x11, 5, 3, 5, 0x40, 0},
};
// Astra-RR: types 2 "ИК", 1 "СМК", 21 a key fob, 33 "ИПР"; byte 1 unused.
constexpr Seed kAstraSeeds[] = {
    {0, 2, 0, 1, 1, 1, 0x80, 0},
    {1, 1, 0, 2, 2, 2, 0x00, 0},
    {2, 21, 0, 3, 1, 3, 0x00, 5},
    {4, 33, 0, 5, 3, 5, 0x08, 0},
};

// What a registration in `mode` binds: a detector, or for the interface mode a key fob.
struct NewDevice {
  uint8_t type, cls;
};
NewDevice Registered(ExpanderKind k, uint8_t mode) {
  const bool fob = mode == kModeInterface;
  if (k == ExpanderKind::kRielta) return fob ? NewDevice{0x30, 0x31} : NewDevice{0x11, 0x14};
  return fob ? NewDevice{21, 0} : NewDevice{2, 0};
}

}  // namespace

bool ParseExpanderKind(std::string_view text, ExpanderKind* k) {
  if (text == "rielta") {
    *k = ExpanderKind::kRielta;
  } else if (text == "astra") {
    *k = ExpanderKind::kAstra;
  } else {
    return false;
  }
  return true;
}

RadioExpander::RadioExpander(ExpanderProfile p) : p_(p) {
  if (p_.kind == ExpanderKind::kNone) return;
  const bool rielta = p_.kind == ExpanderKind::kRielta;
  for (const Seed& s : rielta ? std::span<const Seed>(kRieltaSeeds) : std::span<const Seed>(kAstraSeeds)) {
    Put(s.slot, s.type, s.cls, s.channel);
    settings_[1 + 3 * s.slot] = s.partition;
    settings_[2 + 3 * s.slot] = s.zone;
    settings_[3 + 3 * s.slot] = s.flags;
    owners_[1 + s.slot] = s.owner;
  }
  if (rielta) {
    table_[97] = 12;    // network number
    table_[98] = 2;     // litera
    table_[99] = 0x32;  // check-in every 30 s, 3 missed allowed
  } else {
    table_[98] = 1;   // litera
    table_[99] = 18;  // control period 180 s
  }
}

bool RadioExpander::IsRequest(const uint8_t* t) {
  if (t[0] != 0xFE || t[1] < 3 || t[2] != 0x55) return false;
  switch (t[3]) {
    case kReadTable:
    case kReadSettings:
    case kReadOwners:
    case kWriteSettings:
    case kWriteOwners:
    case kStates:
    case kOperation:
    case kNetwork: return true;
    default: return false;
  }
}

int RadioExpander::SlotOfIndex(uint8_t n) const {
  const int slot = p_.kind == ExpanderKind::kAstra ? int(n) - 1 : int(n);
  return slot >= 0 && slot < int(kSlots) ? slot : -1;
}

bool RadioExpander::SlotEmpty(size_t slot) const {
  const uint8_t type = table_[1 + 3 * slot], cls = table_[2 + 3 * slot];
  return p_.kind == ExpanderKind::kAstra ? type == 0 : type == 0 && cls == 0;
}

void RadioExpander::Put(size_t slot, uint8_t type, uint8_t cls, uint8_t channel) {
  table_[1 + 3 * slot] = type;
  table_[2 + 3 * slot] = cls;
  table_[3 + 3 * slot] = channel;
}

void RadioExpander::Clear(size_t slot) {
  Put(slot, 0, 0, 0);
  std::fill_n(settings_.begin() + 1 + 3 * slot, 3, 0);
  owners_[1 + slot] = 0;
}

std::vector<uint8_t> RadioExpander::Handle(const uint8_t* t, int64_t nowMs, std::string* note) {
  if (p_.kind == ExpanderKind::kNone) {
    *note = "expander request " + std::to_string(t[3]) + ": no radio expander";
    return {};
  }
  const size_t L = t[1];
  if (p_.silentCommand != 0 && t[3] == p_.silentCommand) {
    *note = "expander request " + std::to_string(t[3]) + ": left unanswered";
    return {};
  }
  auto later = [&](Op op, uint8_t a, uint8_t b, uint8_t c) {
    pending_.push_back({nowMs + p_.delayMs, op, a, b, c});
    return std::vector<uint8_t>{};
  };
  switch (t[3]) {
    case kReadTable:
      *note = "expander: detector table read";
      return MaintenanceAnswer(kReadTable, {table_.begin(), table_.end()});
    case kReadSettings:
      *note = "expander: detector settings read";
      return MaintenanceAnswer(kReadSettings, {settings_.begin(), settings_.end()});
    case kReadOwners:
      *note = "expander: owner numbers read";
      return MaintenanceAnswer(kReadOwners, {owners_.begin(), owners_.end()});
    case kWriteSettings:
      if (L != 3 + kSettingsSize) break;
      std::copy_n(t + 4, kSettingsSize, settings_.begin());
      *note = "expander: detector settings written";
      return MaintenanceAnswer(kWriteSettings);
    case kWriteOwners:
      if (L != 3 + kOwnersSize) break;
      std::copy_n(t + 4, kOwnersSize, owners_.begin());
      *note = "expander: owner numbers written";
      return MaintenanceAnswer(kWriteOwners);
    case kStates: {
      // Per slot: activations, the status bits of its flag byte, the signal level.
      std::vector<uint8_t> s(3 * kSlots, 0);
      for (size_t k = 0; k < kSlots; ++k) {
        if (SlotEmpty(k)) continue;
        s[3 * k] = uint8_t(k + 1);
        s[3 * k + 1] = settings_[3 + 3 * k] & 0x79;
        s[3 * k + 2] = uint8_t(35 + 2 * k);
      }
      *note = "expander: detector states";
      return MaintenanceAnswer(kStates, s);
    }
    case kOperation:
      if (L == 5 && t[4] == 0 && t[5] == kModeEnd) {
        const size_t before = pending_.size();
        std::erase_if(pending_, [](const Pending& p) { return p.op == Op::kRegister; });
        *note = std::string("expander: registration ended") +
                (pending_.size() < before ? ", nothing was registered" : "");
        return {};
      }
      if (L == 5 && t[4] == 0) {
        *note = "expander: registration started, mode " + std::to_string(t[5]);
        return later(Op::kRegister, t[5], 0, 0);
      }
      if (L == 5 && t[4] == 0x9A && t[5] == 0xFF) {
        *note = "expander: deletion of all devices started";
        return later(Op::kDeleteAll, 0, 0, 0);
      }
      if (L == 4) {
        *note = "expander: deletion of index " + std::to_string(t[4]) + " started";
        return later(Op::kDelete, t[4], 0, 0);
      }
      break;
    case kNetwork:
      if (L != 6) break;
      *note = "expander: network parameters started";
      return later(Op::kNetwork, t[4], t[5], t[6]);
  }
  *note = "expander request " + std::to_string(t[3]) + " with L = " + std::to_string(L) + " not played";
  return {};
}

std::string RadioExpander::Run(const Pending& p) {
  switch (p.op) {
    case Op::kRegister: {
      size_t slot = 0;
      while (slot < kSlots && !SlotEmpty(slot)) ++slot;
      if (slot == kSlots) return "no empty slot, nothing registered";
      const NewDevice d = Registered(p_.kind, p.a);
      Clear(slot);
      Put(slot, d.type, d.cls, uint8_t(slot + 1));
      return "registered type " + std::to_string(d.type) + " class " + std::to_string(d.cls) + " in slot " +
             std::to_string(slot);
    }
    case Op::kDelete: {
      const int slot = SlotOfIndex(p.a);
      if (slot < 0) return "index " + std::to_string(p.a) + " names no slot, nothing deleted";
      Clear(size_t(slot));
      return "slot " + std::to_string(slot) + " deleted";
    }
    case Op::kDeleteAll:
      for (size_t k = 0; k < kSlots; ++k) Clear(k);
      return "all slots deleted";
    case Op::kNetwork:
      if (p_.kind == ExpanderKind::kRielta) {
        table_[97] = p.a, table_[98] = p.b, table_[99] = p.c;  // network, litera, period + 16 x missed
      } else {
        table_[98] = p.a, table_[99] = p.b;  // litera, control period
      }
      return "network parameters set";
  }
  return {};
}

std::vector<Delayed> RadioExpander::Due(int64_t nowMs) {
  std::stable_sort(pending_.begin(), pending_.end(),
                   [](const Pending& a, const Pending& b) { return a.dueMs < b.dueMs; });
  std::vector<Delayed> out;
  size_t k = 0;
  for (; k < pending_.size() && pending_[k].dueMs <= nowMs; ++k)
    out.push_back(
        {pending_[k].dueMs, MaintenanceAnswer(kOperation), "expander: " + Run(pending_[k]) + ", notice"});
  pending_.erase(pending_.begin(), pending_.begin() + ptrdiff_t(k));
  return out;
}

int64_t RadioExpander::NextDue() const {
  int64_t t = kNoneDue;
  for (const Pending& p : pending_) t = std::min(t, p.dueMs);
  return t;
}

}  // namespace devsim
