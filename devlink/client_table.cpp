#include "devlink/client_table.h"

#include <algorithm>

namespace devlink {

ClientTable::ClientTable() {
  records_.reserve(kMaxRecords);
  records_.resize(kInitialRecords);
}

void ClientTable::Resize(size_t n) {
  records_.resize(std::clamp<size_t>(n, 1, kMaxRecords));
  Touch();
}

void ClientTable::Swap(std::vector<ClientRecord>& records) {
  if (records.empty()) records.resize(1);
  if (records.size() > kMaxRecords) records.resize(kMaxRecords);
  records.reserve(kMaxRecords);
  records_.swap(records);
  Touch();
}

}  // namespace devlink
