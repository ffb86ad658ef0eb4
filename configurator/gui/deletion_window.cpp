#include "configurator/gui/deletion_window.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "configurator/expander_blocks.h"
#include "configurator/gui/config_host.h"

namespace configurator::gui {

DeletionWindow::DeletionWindow(ConfigHost& host, QWidget* parent)
    : OperationWindow(host, "TFormDelIzv", "Удаление устройства.", kDeletionSeconds, parent) {
  connect(ButtonEnd, &QPushButton::clicked, this, [this] {
    timer_.stop();
    close();
    host_.GiveButtonsBack();
  });
  setMinimumWidth(320);
}

void DeletionWindow::Open() {
  Restart(true);
  show();
  raise();
}

void DeletionWindow::Tick() {
  Count();
  if (!host_.ReReadArmed()) close();
}

}  // namespace configurator::gui
