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

}  // namespace devlink
