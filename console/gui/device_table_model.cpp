#include "console/gui/device_table_model.h"

namespace console::gui {

namespace {
constexpr int kWidths[DeviceGrid::kColumns] = {151, 114, 101, 73, 42};
}  // namespace

DeviceTableModel::DeviceTableModel(DeviceGrid& grid, QObject* parent)
    : QAbstractTableModel(parent), grid_(grid) {
  grid_.SetObserver(this);
}

DeviceTableModel::~DeviceTableModel() { grid_.SetObserver(nullptr); }

int DeviceTableModel::ColumnWidth(int column) {
  return column >= 0 && column < DeviceGrid::kColumns ? kWidths[column] : 0;
}

int DeviceTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(grid_.RowCount()) - 1;
}

int DeviceTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : DeviceGrid::kColumns;
}

QVariant DeviceTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole) return {};
  return QString::fromStdString(grid_.Cell(GridRow(index.row()), index.column()));
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  if (section < 0 || section >= DeviceGrid::kColumns) return {};
  return QString::fromStdString(DeviceGrid::Header()[size_t(section)]);
}

void DeviceTableModel::RowsAboutToChange() { beginResetModel(); }

void DeviceTableModel::RowsChanged() { endResetModel(); }

void DeviceTableModel::RowChanged(size_t row) {
  if (row == 0) return;
  const int r = int(row) - 1;
  emit dataChanged(index(r, 0), index(r, DeviceGrid::kColumns - 1));
}

}  // namespace console::gui
