// Tab "Ключи": the 16 touch-memory keys with their arming rights, the key
// read at the device's reader or typed in, and the DS1990 and key-fob boxes.
#pragma once

#include <QWidget>
#include <span>

#include "configurator/code_tables.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace configurator::gui {

class ConfigHost;
struct FormState;

class KeyTab : public QWidget {
  Q_OBJECT

 public:
  KeyTab(FormState& form, ConfigHost& host, QWidget* parent);

  // Filled from the image (its boxes of option byte B too).
  void ShowImage();
  // Column 0: 2, 4, ..., 32 before an image is shown, 0..15 after.
  void Renumber(bool imageShown);
  // The table into the image, when it shows this image.
  void Encode();

  // Key polling started: the key panel with its prompt.
  void PollingStarted();
  // Stopped (by the operator or a change of tab): the panels go.
  void PollingStopped();
  // A key came from the reader (the answer's data bytes).
  void TakeKey(std::span<const uint8_t> data);
  bool Polling() const { return polling_; }

 signals:
  // The operator asked for a key poll (ButtonKey, or column 1 of a row).
  void PollAsked();
  // "Остановить".
  void StopAsked();
  // A key of 16 digits was typed: polling is no longer needed.
  void KeyTyped();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void ShowRows();
  void WriteKey();
  void DeleteKey();
  void ShowBoxes();
  int SelectedRow() const;

  FormState& form_;
  ConfigHost& host_;
  KeyTable keys_{};
  KeyBuffer buffer_{};
  bool polling_ = false;

 public:
  QTableWidget* StringGridKey = nullptr;
  QPushButton* ButtonKey = nullptr;
  QPushButton* Button2 = nullptr;
  QFrame* PanelKey = nullptr;
  QLineEdit* EditKey = nullptr;
  QPushButton* ButtonStopKey = nullptr;
  QPushButton* ButtonWriteKey = nullptr;
  QFrame* PanelSetKey = nullptr;
  QCheckBox* KeyDS1990 = nullptr;
  QCheckBox* BrelokCheck = nullptr;
  QLabel* Label41 = nullptr;
  QLabel* Label42 = nullptr;
};

}  // namespace configurator::gui
