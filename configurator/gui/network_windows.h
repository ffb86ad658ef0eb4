// "Установка параметров сети.": the radio network parameters of either
// expander, sent as one request; the window waits for the re-read after the
// device's notice.
#pragma once

#include "configurator/expander_blocks.h"
#include "configurator/gui/operation_window.h"

class QComboBox;
class QLabel;
class QSpinBox;

namespace configurator::gui {

// Rielta: network number, litera, check-in period and missed check-ins.
class RieltaNetworkWindow : public OperationWindow {
  Q_OBJECT

 public:
  RieltaNetworkWindow(ConfigHost& host, QWidget* parent);
  // Shown with the fields from the detector table block.
  void Open(const ExpanderBlocks& blocks);

  QSpinBox* EditNet = nullptr;     // "Номер сети:"
  QSpinBox* EditLitera = nullptr;  // "Литера:"
  QComboBox* ComboSeans = nullptr; // "Сеанс связи:"
  QSpinBox* EditMissed = nullptr;  // "Допуст. кол. пропущенных подряд сеансов связи.:"
  QLabel* LabelPeriod = nullptr;   // "Период контроля:" computed
  QLabel* LabelMes = nullptr;      // the window's message line
  QPushButton* ButtonSet = nullptr;  // "Установить"

 protected:
  void Tick() override;

 private:
  void ShowPeriod();
  void Set();
  // A field's value, or the last one converted with the field's message.
  int Value(QSpinBox* field, int which);
  int last_[3] = {1, 1, 1};
  int storedPeriod_ = 0;  // the index as stored, used while no list item is selected
};

// Astra-RR: litera and control period.
class AstraNetworkWindow : public OperationWindow {
  Q_OBJECT

 public:
  AstraNetworkWindow(ConfigHost& host, QWidget* parent);
  // Shown with the litera and period texts of the Astra-RR tab.
  void Open(const QString& litera, const QString& period);

  QSpinBox* EditLitera = nullptr;  // "Литера:"
  QSpinBox* EditPeriod = nullptr;  // "Период контроля (*10 сек) :"
  QLabel* LabelMes = nullptr;
  QPushButton* ButtonSet = nullptr;

 protected:
  void Tick() override;
  bool eventFilter(QObject* watched, QEvent* e) override;
};

}  // namespace configurator::gui
