// The registered-devices grid as a table model: the rows of the console's
// DeviceGrid (without its header row), followed a row at a time.
#pragma once

#include <QAbstractTableModel>

#include "console/device_grid.h"

namespace console::gui {

class DeviceTableModel final : public QAbstractTableModel, public DeviceGrid::Observer {
 public:
  explicit DeviceTableModel(DeviceGrid& grid, QObject* parent = nullptr);
  ~DeviceTableModel() override;

  // The column widths of the grid, in pixels.
  static int ColumnWidth(int column);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The grid's row of a model row (the grid counts its header as row 0).
  static size_t GridRow(int modelRow) { return size_t(modelRow) + 1; }

 private:
  void RowsAboutToChange() override;
  void RowsChanged() override;
  void RowChanged(size_t row) override;

  DeviceGrid& grid_;
};

}  // namespace console::gui
