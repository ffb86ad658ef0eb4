// "Конфигуратор прибора": the device's configuration image read, edited tab
// by tab, written back and filed. Opened by the maintenance window after the
// login; the run with the device goes on its maintenance session, and the
// window shows what the run reports.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <memory>
#include <string>

#include "app/server.h"
#include "configurator/config_session.h"
#include "configurator/gui/config_host.h"
#include "configurator/gui/form_state.h"
#include "console/gui/asker.h"
#include "console/gui/file_chooser.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTabWidget;

namespace configurator::gui {

class CodeTab;
class DeletionWindow;
class ExpanderTab;
class KeyTab;
class ParamsTab;

class ConfigWindow : public QMainWindow, public ConfigHost {
  Q_OBJECT

 public:
  ConfigWindow(app::Server& server, console::gui::Asker& asker, console::gui::FileChooser& files,
               QWidget* parent = nullptr);
  ~ConfigWindow() override;

  // Shown for the device whose console number is `number` ("1/0/1"), and
  // its run started on the maintenance session. False, with the reason,
  // when the session is taken or the window is open already.
  bool Open(const QString& number, std::string* error);
  bool IsOpen() const { return open_; }
  // One notice of the run, as the window shows it.
  void Take(const ConfigNotice& n);

  // ConfigHost.
  void Post(ConfigCommand c) override;
  bool ReReadArmed() const override;
  void GiveButtonsBack() override;
  void Edited() override;
  void StartStateCycle() override;
  void StopStateCycle() override;
  void ActiveChanged() override;
  console::gui::Asker& Asker() override { return asker_; }

 signals:
  // The window closed: the maintenance window's actions come back.
  void Closed();
  // A line for the maintenance window's message list.
  void Message(const QString& line);

 protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  void Prepare();
  void Read();
  void Write();
  void ReadBegins();
  void WriteBegins();
  void StartKeyPolling();
  void StopKeyPolling();
  void LoadFile();
  void SaveFile();
  // The image in every control ("UpDate_1").
  void ShowImage();
  void ArrangeF();
  void TakeTransfer(const ConfigEvent& e);
  // The read, write and key buttons; the write only for an image of the
  // layout the device takes.
  void EnableTransfer(bool on);
  void RefreshWrite();
  void SettlingTick();
  void StartSettling();
  ExpanderTab* Tab(Expander e) const;
  std::optional<Expander> ActiveExpander() const;
  QString Folder();

  app::Server& server_;
  console::gui::Asker& asker_;
  console::gui::FileChooser& files_;
  std::shared_ptr<ConfigChannel> channel_;
  FormState form_;
  uint8_t deviceVariant_ = 0;
  bool open_ = false;
  bool writeOffered_ = false;
  // The Astra-RR settings write follows the image write: the buttons wait for it.
  bool astraWriteFollows_ = false;
  // "Запись - OK." of Astra-RR waits for the settling display.
  bool holdWriteOk_ = false;
  int settling_ = 0;
  QTimer pump_;
  QTimer timer2_;  // the settling display, every second
  QTimer timer3_;  // "Цикл Чт.Сост.", every ten seconds

  ParamsTab* params_ = nullptr;
  KeyTab* keys_ = nullptr;
  CodeTab* codes_ = nullptr;
  ExpanderTab* rielta_ = nullptr;
  ExpanderTab* astra_ = nullptr;
  DeletionWindow* deletion_ = nullptr;

 public:  // the controls, named as the operator's form names them
  QPushButton* ButtonRead = nullptr;
  QPushButton* ButtonWrite = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* LabelTmp = nullptr;
  QLabel* LabelBagRielta = nullptr;
  QLabel* LabelVariant = nullptr;  // why an image of another layout is shown only
  QTabWidget* PageControl1 = nullptr;
};

}  // namespace configurator::gui
