// Index from group N1 to the client indices of the in-use records of that
// group, so a poll looks at its own group's records instead of the whole
// table. Rebuilt when the table's generation changes; callers hold Lock.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "devlink/client_table.h"

namespace armlink {

class GroupIndex {
 public:
  // Ascending client indices of group g as of the table's current generation.
  // An entry may be stale (freed since); callers check each record again.
  const std::vector<uint16_t>& Group(const devlink::ClientTable& table, uint8_t g) {
    if (builtFor_ != table.Generation() || !built_) Rebuild(table);
    return groups_[g];
  }

 private:
  void Rebuild(const devlink::ClientTable& table);

  std::array<std::vector<uint16_t>, 256> groups_;
  uint64_t builtFor_ = 0;
  bool built_ = false;
};

// The record i belongs to group g: a check that keeps a stale entry harmless.
inline bool InGroup(const devlink::ClientTable& table, size_t i, uint8_t g) {
  return table.Valid(i) && table[i].inUse != 0 && table[i].n1 == g;
}

}  // namespace armlink
