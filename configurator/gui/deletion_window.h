// "Удаление устройства.": shown while the expander deletes one device or all
// of them, until the re-read after the device's notice.
#pragma once

#include "configurator/gui/operation_window.h"

namespace configurator::gui {

class DeletionWindow : public OperationWindow {
  Q_OBJECT

 public:
  DeletionWindow(ConfigHost& host, QWidget* parent);
  // Shown with the counter running from 0.
  void Open();

 protected:
  void Tick() override;
};

}  // namespace configurator::gui
