#include "netsup/interface_management.h"

namespace netsup {

ManagementCounts CountStatistics(const devlink::ClientTable& table) {
  ManagementCounts c;
  for (size_t i = 0; i < table.Size(); ++i) {
    const devlink::ClientRecord& r = table[i];
    if (r.inUse == 0) continue;
    ++c.registered;
    bool heard = false;
    for (int j = 0; j < 3; ++j) {
      if (r.contactCount[j] > 0 || r.unansweredCount[j] > 0) heard = true;
      if (r.contactCount[j] > 0) ++c.contacts[j];
      if (r.unansweredCount[j] > 3) ++c.unanswered[j];
      if (r.sentCount[j] > 0) ++c.sent[j];
      if (r.sentFlag[j] != 0) ++c.flagged[j];
    }
    if (!heard) ++c.silent;
  }
  return c;
}

ManagementDecision DecideManagement(const ManagementCounts& counts,
                                    std::array<bool, 3>& selected) {
  ManagementDecision d;
  // More than half of the active devices decide; with none active, any one does.
  const uint16_t half = uint16_t(uint16_t(counts.registered - counts.silent) / 2);
  for (int j = 0; j < 3 && d.chosen < 0; ++j) {
    if (counts.unanswered[j] > half) {
      selected[j] = false;
      d.clearUnanswered = true;
    }
    if (counts.contacts[j] > half && !selected[j]) {
      selected[j] = true;
      d.chosen = j;
    } else if (counts.sent[j] > half && !selected[j]) {
      selected[j] = true;
      d.hold = counts.flagged[j] > half;
      d.chosen = j;
    }
  }
  if (d.chosen >= 0)
    for (int k = 0; k < 3; ++k)
      if (k != d.chosen) selected[k] = false;
  return d;
}

void ClearStatistics(devlink::ClientTable& table, bool unanswered) {
  for (size_t i = 0; i < table.Size(); ++i) {
    devlink::ClientRecord& r = table[i];
    if (unanswered)  // every record's, in use or not
      for (int j = 0; j < 3; ++j) r.unansweredCount[j] = 0;
    if (r.inUse == 0) continue;
    for (int j = 0; j < 3; ++j) r.contactCount[j] = r.sentCount[j] = 0;
  }
}

}  // namespace netsup
