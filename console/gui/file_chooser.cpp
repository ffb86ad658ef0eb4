#include "console/gui/file_chooser.h"

#include <QFileDialog>

namespace console::gui {

QString DialogChooser::OpenFile(QWidget* parent, const QString& folder, const QString& filter) {
  return QFileDialog::getOpenFileName(parent, QString(), folder, filter);
}

QString DialogChooser::SaveFile(QWidget* parent, const QString& suggested, const QString& filter) {
  return QFileDialog::getSaveFileName(parent, QString(), suggested, filter);
}

}  // namespace console::gui
