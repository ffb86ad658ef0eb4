#include "console/device_grid.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "console/line_format.h"

namespace console {

using devlink::ClientRecord;
using devlink::ClientTable;

int ToIntDef(std::string_view s, int def) {
  size_t k = 0;
  bool negative = false;
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) negative = s[k++] == '-';
  if (k == s.size()) return def;
  int64_t v = 0;
  for (; k < s.size(); ++k) {
    if (s[k] < '0' || s[k] > '9') return def;
    v = v * 10 + (s[k] - '0');
    if (v > int64_t(std::numeric_limits<int>::max()) + 1) return def;
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<int>::max()) return def;
  return int(v);
}

GridRecord GridRecordOf(const ClientTable& t, uint16_t index) {
  GridRecord g;
  g.index = index;
  if (!t.Valid(index)) return g;
  const ClientRecord& r = t[index];
  g.inUse = r.inUse != 0;
  g.addr = r.peerAddr;
  g.port = devlink::PeerPort(r);
  g.number = devlink::NumberOf(r);
  g.switchedOff = r.switchedOff != 0;
  return g;
}

GridSnapshot SnapshotOf(const ClientTable& t) {
  GridSnapshot s;
  s.records = t.Size();
  for (size_t i = 0; i < t.Size(); ++i)
    if (t[i].inUse != 0) s.inUse.push_back(GridRecordOf(t, uint16_t(i)));
  return s;
}

namespace {

DeviceGrid::Row CellsOf(const GridRecord& r) {
  return {std::string(devlink::PStrView(r.addr)), std::to_string(r.port),
          Format("%d/%d/%d", r.number.n1, r.number.n2, r.number.n3), std::to_string(r.index),
          r.switchedOff ? "1" : ""};
}

// "1/0/9" as 0x010009; each part a number or 0, cut to a byte; missing parts are 0.
int32_t NumberKey(std::string_view cell) {
  int32_t key = 0;
  for (int part = 0; part < 3; ++part) {
    const size_t slash = cell.find('/');
    key = (key << 8) | uint8_t(ToIntDef(cell.substr(0, slash), 0));
    cell = slash == std::string_view::npos ? std::string_view{} : cell.substr(slash + 1);
  }
  return key;
}

}  // namespace

const DeviceGrid::Row& DeviceGrid::Header() {
  static const Row header = {"IP Адрес", "Порт прибора", "Пультовой N", "N стр.", "Выкл."};
  return header;
}

DeviceGrid::DeviceGrid() : rows_{Header()} {}

const std::string& DeviceGrid::Cell(size_t row, int column) const {
  static const std::string empty;
  if (row >= rows_.size() || column < 0 || column >= kColumns) return empty;
  return rows_[row][size_t(column)];
}

namespace {

// Tells the observer, if any, that the rows change as a whole.
class WholeChange {
 public:
  explicit WholeChange(DeviceGrid::Observer* o) : o_(o) {
    if (o_) o_->RowsAboutToChange();
  }
  ~WholeChange() {
    if (o_) o_->RowsChanged();
  }

 private:
  DeviceGrid::Observer* o_;
};

}  // namespace

void DeviceGrid::Fill(const GridSnapshot& s) {
  WholeChange change(observer_);
  rows_.assign(s.records + 1, Row{});
  rows_[0] = Header();
  rowOf_.assign(s.records, 0);
  size_t next = 1;
  for (const GridRecord& r : s.inUse) {
    if (!r.inUse || next >= rows_.size() || r.index >= s.records) continue;
    rows_[next] = CellsOf(r);
    rowOf_[r.index] = uint32_t(next++);
  }
}

size_t DeviceGrid::RowOf(uint16_t index) const {
  if (index >= rowOf_.size()) return 0;
  const size_t row = rowOf_[index];
  return row > 0 && row < rows_.size() && rows_[row][kIndexColumn] == std::to_string(index) ? row
                                                                                           : 0;
}

void DeviceGrid::RebuildRowOf() {
  std::fill(rowOf_.begin(), rowOf_.end(), 0);
  for (size_t row = 1; row < rows_.size(); ++row) {
    const std::string& cell = rows_[row][kIndexColumn];
    if (cell.empty()) continue;
    const int index = ToIntDef(cell, -1);
    if (index < 0 || index > 0xFFFF) continue;
    if (size_t(index) >= rowOf_.size()) rowOf_.resize(size_t(index) + 1, 0);
    rowOf_[size_t(index)] = uint32_t(row);
  }
}

bool DeviceGrid::WriteRow(size_t row, size_t records, const GridRecord& r, MessageSink& sink) {
  if (row > records) {
    sink.Message(kWriteError);
    return false;
  }
  if (rows_.size() != records + 1) {
    WholeChange change(observer_);
    rows_.resize(records + 1);
    rows_[row] = CellsOf(r);
  } else {
    rows_[row] = CellsOf(r);
    if (observer_) observer_->RowChanged(row);
  }
  if (r.index >= rowOf_.size()) rowOf_.resize(size_t(r.index) + 1, 0);
  rowOf_[r.index] = uint32_t(row);
  return true;
}

DeviceGrid::RowUpdate DeviceGrid::UpdateRow(size_t records, const GridRecord& r,
                                            MessageSink& sink) {
  if (r.index >= records) {
    sink.Message(kWriteError);
    return RowUpdate::Refused;
  }
  size_t row = RowOf(r.index);
  if (!r.inUse) return row ? RowUpdate::NeedsFill : RowUpdate::Unchanged;
  if (!row) {
    // Not shown yet: its own row, when that row is free.
    row = size_t(r.index) + 1;
    if (!Cell(row, kIndexColumn).empty()) return RowUpdate::NeedsFill;
  }
  return WriteRow(row, records, r, sink) ? RowUpdate::Written : RowUpdate::Refused;
}

void DeviceGrid::UpdateRow(const ClientTable& t, uint16_t index, MessageSink& sink) {
  if (UpdateRow(t.Size(), GridRecordOf(t, index), sink) == RowUpdate::NeedsFill) Fill(t);
}

bool DeviceGrid::Sort(int column, bool ascending) {
  if (column != kNumberColumn && column != kIndexColumn) return false;
  sortColumn_ = column;
  ascending_ = ascending;
  struct Key {
    int32_t key;
    bool empty;
    size_t row;
  };
  std::vector<Key> keys;
  keys.reserve(rows_.size());
  for (size_t row = 1; row < rows_.size(); ++row) {
    const std::string& cell = rows_[row][size_t(column)];
    Key k{0, cell.empty(), row};
    if (column == kNumberColumn)
      k.key = k.empty ? (ascending ? 0xFFFFFF : 0) : NumberKey(cell);
    else
      k.key = k.empty ? (ascending ? 65535 : -1) : ToIntDef(cell, 0);
    keys.push_back(k);
  }
  // Equal keys put a device before an empty row: the export stops at the first empty row.
  std::stable_sort(keys.begin(), keys.end(), [ascending](const Key& a, const Key& b) {
    if (a.key != b.key) return ascending ? a.key < b.key : a.key > b.key;
    return !a.empty && b.empty;
  });
  WholeChange change(observer_);
  std::vector<Row> sorted;
  sorted.reserve(rows_.size());
  sorted.push_back(std::move(rows_[0]));
  for (const Key& k : keys) sorted.push_back(std::move(rows_[k.row]));
  rows_ = std::move(sorted);
  RebuildRowOf();
  return true;
}

RowDevice DeviceOfRow(const DeviceGrid& g, size_t row, DeviceRef* out) {
  if (row == 0 || row >= g.RowCount()) return RowDevice::kEmpty;
  const std::string& number = g.Cell(row, DeviceGrid::kNumberColumn);
  if (number.empty() || g.Cell(row, DeviceGrid::kIpColumn).empty()) return RowDevice::kEmpty;
  const int index = ToIntDef(g.Cell(row, DeviceGrid::kIndexColumn), -1);
  if (index < 0 || index > 0xFFFF) return RowDevice::kBadIndex;
  out->index = uint16_t(index);
  out->number = {uint8_t(NumberKey(number) >> 16), uint8_t(NumberKey(number) >> 8),
                 uint8_t(NumberKey(number))};
  return RowDevice::kDevice;
}

}  // namespace console
