// Tab "Коды": the 20 user codes with their arming and disarming rights.
#pragma once

#include <QWidget>

#include "configurator/code_tables.h"

class QTableWidget;
class QTableWidgetItem;

namespace configurator::gui {

class ConfigHost;
struct FormState;

class CodeTab : public QWidget {
  Q_OBJECT

 public:
  CodeTab(FormState& form, ConfigHost& host, QWidget* parent);

  void ShowImage();

  QTableWidget* StringGridCode = nullptr;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void ShowRows();
  void CellEdited(QTableWidgetItem* item);
  void Toggle(int row, int column);
  // The whole table into the image, when it shows this image.
  void Encode();

  FormState& form_;
  ConfigHost& host_;
  CodeTable codes_{};
  bool showing_ = false;
};

}  // namespace configurator::gui
