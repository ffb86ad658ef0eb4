// The registry store: owns the client table across runs and hands out free
// records to registrations.
#pragma once

#include <cstdint>

#include "devlink/client_table.h"

namespace registry {

inline constexpr uint16_t kNoFreeCell = 0xFFFF;

class TBuffClient {
 public:
  devlink::ClientTable& Table() { return table_; }
  const devlink::ClientTable& Table() const { return table_; }

  // Lowest free index; when every record is in use the table grows by 20 zero
  // records, up to 65534 records. kNoFreeCell when the table is full.
  uint16_t FindFreeCell();
  uint16_t LastFreeCell() const { return lastFree_; }

 private:
  devlink::ClientTable table_;
  uint16_t lastFree_ = 0;
};

}  // namespace registry
