// Interface management: every eight ticks the devices' per-interface
// statistics are counted, and the interface through which more than half of
// the active devices are heard is chosen to carry the default route.
#pragma once

#include <array>
#include <cstdint>

#include "devlink/client_table.h"

namespace netsup {

struct ManagementCounts {
  uint16_t registered = 0;  // records in use
  uint16_t silent = 0;      // of them, no contact and nothing unanswered on any interface
  std::array<uint16_t, 3> contacts{}, unanswered{}, sent{}, flagged{};
};

// Step 1 over the records in use. The caller holds Lock.
ManagementCounts CountStatistics(const devlink::ClientTable& table);

struct ManagementDecision {
  int chosen = -1;  // 0..2, or -1: the default route stays
  // Interfaces whose unanswered devices were above half: every device's
  // unanswered counts are to be cleared.
  bool clearUnanswered = false;
  bool hold = false;  // interface management pauses for kManagementHold ticks
};

inline constexpr uint8_t kManagementHold = 60;

// Steps 2 and 3, and the selection marks of step 4: `selected` (GlKartaSel)
// is updated, a chosen interface being the only one left selected.
ManagementDecision DecideManagement(const ManagementCounts& counts,
                                    std::array<bool, 3>& selected);

// The clearing the decision asks for (unanswered counts) and step 5 (contact
// and sent counts of every record in use). The caller holds Lock.
void ClearStatistics(devlink::ClientTable& table, bool unanswered);

}  // namespace netsup
