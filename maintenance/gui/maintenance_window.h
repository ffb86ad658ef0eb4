// "Удаленное обслуживание.": the operator's desk for one device. Every
// action asks for the device's user name and password first; the jobs run on
// the server's maintenance session, and their log and progress show here.
#pragma once

#include <QWidget>
#include <QTimer>
#include <functional>
#include <string>

#include "app/server.h"
#include "console/gui/asker.h"
#include "maintenance/actions.h"
#include "console/gui/file_chooser.h"

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace configurator::gui {
class ConfigWindow;
}

namespace maintenance::gui {

class NetworkSettingsWindow;
class TestWindow;

class MaintenanceWindow : public QWidget {
  Q_OBJECT

 public:
  MaintenanceWindow(app::Server& server, console::gui::Asker& asker,
                    console::gui::FileChooser& files, QWidget* parent = nullptr);
  ~MaintenanceWindow() override;

  // Shown for device `d`; false, with a notice to the operator, when the
  // session is taken.
  bool OpenFor(const console::DeviceRef& d);

  // ---- for the windows it opens

  void Log(const QString& line);
  void ClearLog();
  void SetOperation(int max, int pos);
  // Runs a job on the device; `done` gets its result. False, with the reason
  // in the log, when the session is busy.
  bool Run(const std::string& what, Maintenance::Job job, std::function<void(bool)> done);
  bool JobRunning() const { return static_cast<bool>(done_); }
  // The five action buttons, and "Тест".
  void EnableActions(bool on);
  void EnableTest(bool on);
  app::Server& Server() { return server_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  enum class Pending { kCredentials = 0, kUpdate, kVersions, kConfigurator, kNetwork, kTest };

  void ShowPanel(QFrame* panel);
  void AskLogin(Pending action);
  void OnLoginOk();
  void OnLoginCancel();
  void OnNewOk();
  void OnNewCancel();
  void RunPending();
  void Pump();
  void ChooseFile(QLineEdit* field);
  void SaveGeometry();

  app::Server& server_;
  console::gui::Asker& asker_;
  console::gui::FileChooser& files_;
  QTimer pump_;
  Pending pending_ = Pending::kVersions;
  std::function<void(bool)> done_;
  Credentials login_;

  NetworkSettingsWindow* network_ = nullptr;
  TestWindow* test_ = nullptr;
  configurator::gui::ConfigWindow* config_ = nullptr;

 public:  // the controls, named as the operator's form names them
  QLineEdit* edtHost = nullptr;
  QLabel* Label2 = nullptr;
  QLineEdit* edtLocalFile2 = nullptr;
  QPushButton* SpeedButton2 = nullptr;
  QLineEdit* edtLocalFile = nullptr;
  QPushButton* SpeedButton1 = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QProgressBar* ProgressBar2 = nullptr;
  QPushButton* btnLoad = nullptr;
  QPushButton* btnPassw = nullptr;
  QPushButton* NetNastrButton = nullptr;
  QPushButton* ConfigPribor = nullptr;
  QPushButton* BitBtn4 = nullptr;
  QPushButton* Test = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn9 = nullptr;
  QFrame* PanelOld = nullptr;
  QLineEdit* edtOldUser = nullptr;
  QLineEdit* edtOldPassword = nullptr;
  QPushButton* OldOk = nullptr;
  QPushButton* OldCancel = nullptr;
  QFrame* PanelNew = nullptr;
  QLineEdit* edtNewUser = nullptr;
  QLineEdit* edtNewPassword = nullptr;
  QPushButton* NewOk = nullptr;
  QPushButton* NewCancel = nullptr;
  QFrame* ViborMicr = nullptr;
  QRadioButton* RadioButton1 = nullptr;
  QRadioButton* RadioButton2 = nullptr;
  QPushButton* BitBtn6 = nullptr;
  QPushButton* BitBtn8 = nullptr;
};

}  // namespace maintenance::gui
