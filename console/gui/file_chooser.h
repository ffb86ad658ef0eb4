// File choice for the windows that open and save files: the real dialogs,
// or an answer from a test in their place.
#pragma once

#include <QString>

class QWidget;

namespace console::gui {

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // The file the operator chose to open in `folder`, or an empty text.
  virtual QString OpenFile(QWidget* parent, const QString& folder, const QString& filter) = 0;
  // The file the operator chose to save as, starting from `suggested`, or an empty text.
  virtual QString SaveFile(QWidget* parent, const QString& suggested, const QString& filter) = 0;
};

class DialogChooser final : public FileChooser {
 public:
  QString OpenFile(QWidget* parent, const QString& folder, const QString& filter) override;
  QString SaveFile(QWidget* parent, const QString& suggested, const QString& filter) override;
};

}  // namespace console::gui
