// A radio expander's detector table: 32 rows as the core fills them, the
// owner-number fields and "В/С" labels of key fobs over their cells, the
// "ВскрСр" marks toggled by a press, and the partition and zone list placed
// over a selected cell. Never text-editable.
#pragma once

#include <QWidget>
#include <array>
#include <span>

#include "configurator/expander_blocks.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QTableWidget;

namespace configurator::gui {

class ConfigHost;
class CaptionBar;

class DetectorGrid : public QWidget {
  Q_OBJECT

 public:
  DetectorGrid(Expander e, ConfigHost& host, QWidget* parent);

  // Empty rows and no list over the table.
  void Clear();
  void Show(const DetectorRows& rows);
  void ShowStates(std::span<const uint8_t> stateData);
  const DetectorRows& Rows() const { return rows_; }
  // "Label47" / "Label53": "OK" when states arrived.
  QLabel* StateLabel() const { return stateLabel_; }

 signals:
  // A right press in the detector columns of row `slot`.
  void MenuRequested(int slot, const QPoint& globalPos);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void ShowRow(int slot);
  void OpenList(int slot, int column);
  void ListChosen(int item);
  // The fields and labels over cells follow their cells.
  void PlaceOverlays();

  Expander e_;
  ConfigHost& host_;
  DetectorRows rows_;
  QTableWidget* table_ = nullptr;
  CaptionBar* captions_ = nullptr;
  QLabel* stateLabel_ = nullptr;
  QComboBox* list_ = nullptr;
  ListKind listKind_ = ListKind::kNone;
  int listSlot_ = -1, listColumn_ = -1;
  std::array<QLineEdit*, kSlots> owners_{};
  std::array<QLabel*, kSlots> fobLabels_{};
};

}  // namespace configurator::gui
