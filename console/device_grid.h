// The grid "Зарегистрированные приборы": one header row and one row per
// client record, filled from the table, updated a row at a time and sorted.
// Only the front-end thread touches it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "console/message_sink.h"
#include "devlink/client_record.h"
#include "devlink/client_table.h"

namespace console {

// The fields of one client record that the grid shows. They are copied out
// of the table while Lock is held, so the grid itself is built without it.
struct GridRecord {
  uint16_t index = 0;
  bool inUse = false;
  devlink::PStr17 addr{};
  uint16_t port = 0;
  devlink::ConsoleNumber number;
  bool switchedOff = false;
};

// A record beyond the table gives a free record with that index.
GridRecord GridRecordOf(const devlink::ClientTable& t, uint16_t index);

// What filling needs: the table length and the records in use, in index order.
struct GridSnapshot {
  size_t records = 0;
  std::vector<GridRecord> inUse;
};

GridSnapshot SnapshotOf(const devlink::ClientTable& t);

class DeviceGrid {
 public:
  // Told of every change, so that a view follows the grid a row at a time.
  class Observer {
   public:
    virtual ~Observer() = default;
    // Around a change of the row count or of the order of the rows.
    virtual void RowsAboutToChange() = 0;
    virtual void RowsChanged() = 0;
    // One row written in place; `row` counts the header as row 0.
    virtual void RowChanged(size_t row) = 0;
  };

  enum Column : int { kIpColumn, kPortColumn, kNumberColumn, kIndexColumn, kOffColumn };
  static constexpr int kColumns = 5;
  using Row = std::array<std::string, kColumns>;

  static const Row& Header();
  static constexpr const char* kWriteError = "Ошибка записи в Таблицу \"Зарегистр. приборов\".";

  DeviceGrid();

  // One observer at a time; nullptr for none.
  void SetObserver(Observer* o) { observer_ = o; }

  // Row 0 is the header; data rows follow.
  size_t RowCount() const { return rows_.size(); }
  const Row& RowAt(size_t row) const { return rows_[row]; }
  // An empty text for a row beyond the grid.
  const std::string& Cell(size_t row, int column) const;

  // One row per record plus the header; the records in use fill the first
  // data rows in index order, the rest stay empty. Does not sort.
  void Fill(const GridSnapshot& s);
  void Fill(const devlink::ClientTable& t) { Fill(SnapshotOf(t)); }

  enum class RowUpdate { Written, Unchanged, Refused, NeedsFill };
  // Writes record `r` of a table of `records` records into the row that shows
  // it, or into its own row (index + 1) when no row shows it and that row is
  // empty, so a record is never shown twice. NeedsFill when neither is
  // possible or when a free record is shown; Refused, with the message, for a
  // record or row beyond the table.
  RowUpdate UpdateRow(size_t records, const GridRecord& r, MessageSink& sink);
  // The whole rule with the table at hand: UpdateRow, then Fill if needed.
  void UpdateRow(const devlink::ClientTable& t, uint16_t index, MessageSink& sink);

  // Sorts every data row by column "Пультовой N" or "N стр." and remembers
  // the choice; false (nothing done) for any other column. Empty rows end last.
  bool Sort(int column, bool ascending);
  // Sorts again with the remembered column and order.
  void Resort() { Sort(sortColumn_, ascending_); }
  // Back to the start state, "Пультовой N" ascending, and sorts.
  void SortDefault() { Sort(kNumberColumn, true); }
  int SortColumn() const { return sortColumn_; }
  bool SortAscending() const { return ascending_; }

 private:
  // The row count follows the table; false with the message beyond it.
  bool WriteRow(size_t row, size_t records, const GridRecord& r, MessageSink& sink);
  // The data row showing client index `index`, or 0.
  size_t RowOf(uint16_t index) const;
  void RebuildRowOf();

  std::vector<Row> rows_;
  // Client index to the row showing it (0 for none), so that a row update
  // during a burst of registrations needs no search of the whole grid.
  std::vector<uint32_t> rowOf_;
  int sortColumn_ = kNumberColumn;
  bool ascending_ = true;
  Observer* observer_ = nullptr;
};

// A cell's text as a number: an optional sign and decimal digits within int,
// anything else `def`.
int ToIntDef(std::string_view s, int def);

// The device a grid row showed when the operator chose an action on it. The
// action is carried out only while the record still holds that device: rows
// move and change while a question is on the screen.
struct DeviceRef {
  uint16_t index = 0;
  ConsoleNumber number;
};

enum class RowDevice {
  kEmpty,     // "Пультовой N" or "IP Адрес" empty (or no such row)
  kBadIndex,  // "N стр." is not a client index
  kDevice,
};
// What data row `row` shows; `out` is set for kDevice.
RowDevice DeviceOfRow(const DeviceGrid& g, size_t row, DeviceRef* out);

}  // namespace console
