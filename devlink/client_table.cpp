#include "devlink/client_table.h"

#include <algorithm>
#include <cstring>

namespace devlink {

ClientTable::ClientTable() {
  records_.reserve(kMaxRecords);
  records_.resize(kInitialRecords);
  unseen_.reserve(kMaxRecords);
  unseen_.resize(kInitialRecords);
}

void ClientTable::Resize(size_t n) {
  records_.resize(std::clamp<size_t>(n, 1, kMaxRecords));
  unseen_.resize(records_.size());
  Touch();
}

void ClientTable::Assign(const ClientRecord* records, size_t n) {
  Resize(n);
  std::memcpy(records_.data(), records, records_.size() * sizeof(ClientRecord));
  unseen_.assign(records_.size(), 0);
}

void ClientTable::Swap(std::vector<ClientRecord>& records) {
  if (records.empty()) records.resize(1);
  if (records.size() > kMaxRecords) records.resize(kMaxRecords);
  records.reserve(kMaxRecords);
  records_.swap(records);
  unseen_.assign(records_.size(), 0);
  Touch();
}

}  // namespace devlink
