// The registry store: owns the client table across runs, hands out free
// records to registrations, frees and trims records, and keeps the grid of
// registered devices in step with the table.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "console/device_grid.h"
#include "console/message_sink.h"
#include "devlink/client_table.h"

namespace registry {

inline constexpr uint16_t kNoFreeCell = 0xFFFF;

// Frees a record: the update mark, the in-use and switched-off flags, and what
// a device that reuses it must not inherit (queued workstation frames, pending
// requests, substitution permit, second-device mark, awaited service answer,
// maintenance notice). Every other byte stays.
void FreeRecord(devlink::ClientRecord& r);

class TBuffClient {
 public:
  devlink::ClientTable& Table() { return table_; }
  const devlink::ClientTable& Table() const { return table_; }

  // The grid of registered devices; front-end thread only.
  console::DeviceGrid& Grid() { return grid_; }
  const console::DeviceGrid& Grid() const { return grid_; }

  // Lowest free index; when every record is in use the table grows by 20 zero
  // records, up to 65534 records. kNoFreeCell when the table is full.
  // The caller holds Lock.
  uint16_t FindFreeCell();
  uint16_t LastFreeCell() const { return lastFree_; }

  // The operations below run on the front-end thread. They take `lock` (the
  // device link's Lock, not held by the caller) only while they read, resize
  // or free records, and work on the grid after releasing it.

  size_t TableLength(std::mutex& lock) const;

  // Why the registry file must not be written in this run; empty when it may
  // be. Set when a file that could not be loaded whole could not be kept under
  // a second name either, since a write would replace every device's keys with
  // what was loaded, and in a second copy of the server, whose table is not
  // the registry's. The first reason stays. Any thread.
  std::string WriteRefusal() const {
    std::lock_guard<std::mutex> g(refusalGuard_);
    return writeRefusal_;
  }
  void RefuseWrites(std::string why) {
    std::lock_guard<std::mutex> g(refusalGuard_);
    if (writeRefusal_.empty()) writeRefusal_ = std::move(why);
  }

  // Fills the grid from the table.
  void RefreshTable(std::mutex& lock);
  // Updates the grid row of record `index`, or fills the grid when no row can
  // take it; a record beyond the table gives the grid's error message.
  void RefreshRow(std::mutex& lock, uint16_t index, console::MessageSink& sink);
  // Trims the table to three records behind the last one in use (4 when none
  // is), then fills the grid.
  void ClearUnused(std::mutex& lock);
  // Frees every record, then fills the grid.
  void ClearAllRegistrations(std::mutex& lock);
  // Frees record `index`, then fills and sorts the grid. False, changing
  // nothing, for an index beyond the table, or when `expected` is given and
  // the record is no longer a registered device with that number.
  bool DeleteRegistration(std::mutex& lock, uint16_t index,
                          std::optional<devlink::ConsoleNumber> expected = {});

 private:
  // Copies what the grid shows; the caller holds Lock.
  console::GridSnapshot Snapshot() const { return console::SnapshotOf(table_); }

  devlink::ClientTable table_;
  uint16_t lastFree_ = 0;
  console::DeviceGrid grid_;
  mutable std::mutex refusalGuard_;
  std::string writeRefusal_;
};

}  // namespace registry
