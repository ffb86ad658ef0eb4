#include "registry/buff_client.h"

namespace registry {

uint16_t TBuffClient::FindFreeCell() {
  for (size_t i = 0; i < table_.Size(); ++i) {
    if (table_[i].inUse == 0) {
      lastFree_ = uint16_t(i);
      return lastFree_;
    }
  }
  const size_t h = table_.HighestIndex();
  constexpr size_t kMax = devlink::ClientTable::kMaxRecords;
  if (h > kMax - 21) {
    table_.Resize(kMax);
    if (h + 1 >= kMax) return kNoFreeCell;
  } else {
    table_.Resize(h + 1 + 20);
  }
  lastFree_ = uint16_t(h + 1);
  return lastFree_;
}

}  // namespace registry
