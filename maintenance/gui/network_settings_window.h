// "Сетевые настройки прибора.": the device's network, SMS and NTP settings as
// fields on four tabs, edited under an explicit switch, read and written
// through the maintenance window's session.
#pragma once

#include <QMainWindow>
#include <optional>

#include "app/server.h"
#include "console/gui/asker.h"
#include "maintenance/events.h"
#include "console/gui/file_chooser.h"
#include "maintenance/network_exchange.h"
#include "maintenance/settings_fields.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QWidget;

namespace maintenance::gui {

class MaintenanceWindow;

class NetworkSettingsWindow : public QMainWindow {
  Q_OBJECT

 public:
  NetworkSettingsWindow(app::Server& server, MaintenanceWindow& owner, console::gui::Asker& asker,
                        console::gui::FileChooser& files, QWidget* parent = nullptr);
  ~NetworkSettingsWindow() override;

  // Shown empty after the login and the web interface.
  void Open();
  bool IsOpen() const;
  // A status line's text from a running read or write.
  void OnStatus(const Event& e);

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  QWidget* ServersTab();
  QWidget* EthernetTab();
  QWidget* GsmTab();
  QWidget* SmsTab();

  // "Разрешить редактирование" ticked or not.
  void SetEditing(bool allowed);
  // While editing: the fields that hang on a tick box follow it.
  void FollowBoxes();

  void Read();
  void Write();
  void Reset();
  void LoadFile();
  void SaveFile();

  // The controls of a field set, by the controls' names, and back.
  template <class Fields>
  Fields FromControls() const;
  template <class Fields>
  void ToControls(Fields f);
  void ShowRead(const DeviceSettings& s);
  // The network fields into `block`; false, with the field named in the
  // log and shown, when a value is refused.
  bool Refused(const std::optional<FieldError>& error);
  // "Network_1" in the server's folder; empty, said in the log, on failure.
  QString Folder();

  QCheckBox* Box(const char* name) const;
  QLineEdit* Text(const char* name) const;

  app::Server& server_;
  MaintenanceWindow& owner_;
  console::gui::Asker& asker_;
  console::gui::FileChooser& files_;
  bool open_ = false;
  bool editing_ = false;
  // Grows at each showing: a job that ends after the window was closed or
  // shown anew leaves the fields alone.
  int shown_ = 0;
  // What the last read brought, the fields written into it before a write.
  DeviceSettings settings_;

  QPushButton* ButtonReadWEB = nullptr;
  QPushButton* ButtonWriteWEB = nullptr;
  QCheckBox* CheckBoxEdit = nullptr;
  QPushButton* SpeedButton2 = nullptr;
  QLabel* Label22 = nullptr;
  QLabel* Label13 = nullptr;
  QLabel* Label14 = nullptr;
  QLabel* Label15 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QTabWidget* panel = nullptr;
  QPushButton* SpeedButton3 = nullptr;
  QLineEdit* edtHost = nullptr;
  QWidget* NtpGroup = nullptr;
  QLabel* Label25 = nullptr;
  QLabel* Label27 = nullptr;
  QLabel* Label28 = nullptr;
  QLabel* Label29 = nullptr;
  QLabel* Label43 = nullptr;
  QLabel* Label44 = nullptr;
  QPushButton* SpeedButton1 = nullptr;
};

}  // namespace maintenance::gui
