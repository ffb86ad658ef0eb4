#include "armlink/group_index.h"

namespace armlink {

void GroupIndex::Rebuild(const devlink::ClientTable& table) {
  for (auto& g : groups_) g.clear();
  for (size_t i = 0; i < table.Size(); ++i) {
    const devlink::ClientRecord& r = table[i];
    if (r.inUse != 0) groups_[r.n1].push_back(uint16_t(i));
  }
  builtFor_ = table.Generation();
  built_ = true;
}

}  // namespace armlink
