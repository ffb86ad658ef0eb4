// The operator console's main window TForm1: the tabs "Трафик",
// "Обслуживание", "Отладка", "Регистрация" and "Настройки", the message
// window, the tray icon. It binds its controls to the server's calls and
// shows what the server reports; the rules behind them live in the core.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <string>
#include <vector>

#include "app/server.h"
#include "console/gui/file_chooser.h"
#include "maintenance/gui/maintenance_window.h"
#include "console/device_grid.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSystemTrayIcon;
class QTabWidget;
class QTableView;

namespace console::gui {

class Asker;
class DeviceTableModel;
class HelpWindow;

class MainWindow final : public QMainWindow {
 public:
  static constexpr int kWidth = 985;

  MainWindow(app::Server& server, Asker& asker, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The closing sequence: with `ask`, the operator's Yes first (any other
  // answer leaves everything running). False when the closing was cancelled.
  bool Shutdown(bool ask);
  bool ShutDown() const { return shutDown_; }

  // Prepares the grid's popup menu for model row `row` as a click there
  // does (the row selected, the device it shows captured, the items shown
  // by their rules) and returns it; the caller runs it or triggers items.
  QMenu* PrepareGridMenu(int row);
  // The same for the header's menu and column `column`.
  QMenu* PrepareHeaderMenu(int column);

  // Hides the window to the tray, or minimises it where there is no tray.
  void HideToTray();
  // " Показать" of the tray.
  void ShowFromTray();
  bool TrayAvailable() const;

  // Drains the server's lines into the message and traffic windows and
  // brings the controls in step with the server's state (the timers and the
  // workers change some of it). Runs on a short timer; tests call it.
  void Poll();

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  // Construction of the parts.
  QWidget* BuildRightSide();
  QWidget* BuildTrafficTab();
  QWidget* BuildServiceTab();
  QWidget* BuildDebugTab();
  QWidget* BuildRegistrationTab();
  QWidget* BuildSettingsTab();
  void BuildMenus();
  void BuildTray();

  // Start-up at the first showing.
  void StartUp();
  void CheckSecondCopy();

  // Settings tab.
  void ShowForm1(const Form1Settings& f);
  Form1Settings FormFromControls() const;
  void Edit(Form1Control control);
  void ApplyEditLock();
  void SetEditLock(bool on);
  void OnTabChanged(int index);

  // Traffic tab.
  void OnPusk();
  void OnStop();
  void ApplyTrafficCap();
  void OnFilterBox(bool on);
  void FilterTouched();

  // Registration tab.
  void OnRegMode();
  void OnRegBox(bool on);
  void RegTouched();

  // Grid.
  void OnGridMenu(const QPoint& pos);
  void OnHeaderMenu(const QPoint& pos);
  // The device the open menu was prepared for; a debug line when its row's
  // "N стр." is not a number.
  bool MenuDevice();
  // A Yes/No question over the window; true for Yes.
  bool Ask(const QString& question, const QString& caption = QString());
  // The failures of a network apply, each in a box, once the window is idle.
  void ShowApplyFailures();
  // The adapters' addresses in the address box of interface `k` as it opens.
  void FillAdapters(int k);
  // Enter in a port field.
  void OnQuickRebind();
  // The "Активн." marks from the kernel's default route.
  void ShowActiveInterface();
  void RefreshGrid();

  // Debug mode shows or hides its controls.
  void ApplyDebugMode();
  void AppendLines();

  app::Server& server_;
  Asker& asker_;
  DeviceTableModel* model_ = nullptr;
  HelpWindow* help_ = nullptr;
  console::gui::DialogChooser files_;
  maintenance::gui::MaintenanceWindow* maint_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QTimer frontTimer_;
  QTimer pollTimer_;
  QTimer hideTimer_;
  int hideTicks_ = 0;
  bool startedUp_ = false;
  bool GlSkipShow = false;
  bool GlSecondCopy = false;
  bool shutDown_ = false;
  bool asking_ = false;  // a question box is open
  uint64_t settingsShown_ = 0;  // the server's settings generation on the tab
  bool showingForm_ = false;  // controls being set from the settings

  // The device and column the open menus were prepared for.
  RowDevice menuRow_ = RowDevice::kEmpty;
  DeviceRef menuDevice_;
  int headerColumn_ = -1;

  // Right side.
  QLabel* LabelVersion = nullptr;
  QPushButton* ButtonHelp = nullptr;
  QPushButton* ButtonHistory = nullptr;
  QCheckBox* CheckBoxStop = nullptr;
  QPushButton* ButtonClearMemo = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QTabWidget* PageControl1 = nullptr;

  // "Трафик".
  QPushButton* ButtonPusk = nullptr;
  QPushButton* ButtonStop = nullptr;
  QButtonGroup* traceGroup_ = nullptr;
  QCheckBox* CheckAutoStop = nullptr;
  QLineEdit* Edit2 = nullptr;
  QCheckBox* CheckFiltr = nullptr;
  QLineEdit* FiltrNPult = nullptr;
  QPushButton* ButtonClearTrafic = nullptr;
  QPlainTextEdit* MemoTrafic = nullptr;

  // "Обслуживание".
  QLabel* LabelGrid = nullptr;
  QTableView* StringGridIpAdr = nullptr;
  QPushButton* ButtonRefreshGrid = nullptr;
  QMenu* gridMenu_ = nullptr;
  QMenu* headerMenu_ = nullptr;
  QAction* ActionOpenMaint = nullptr;
  QAction* ActionDeleteReg = nullptr;
  QAction* ActionPodmena = nullptr;
  QAction* ActionRequest[5] = {};
  QAction* ActionSwitchOff = nullptr;
  QAction* ActionSwitchOn = nullptr;
  QAction* ActionSetFilter = nullptr;
  QAction* ActionSortAsc = nullptr;
  QAction* ActionSortDesc = nullptr;

  // "Отладка".
  QCheckBox* CheckOutEthern = nullptr;
  QCheckBox* CheckOutCrypt = nullptr;
  QCheckBox* CheckOutCom = nullptr;
  QCheckBox* CheckComPustOff = nullptr;
  QCheckBox* CheckOtladka = nullptr;
  QGroupBox* GroupMetric = nullptr;

  // "Регистрация".
  QRadioButton* RegOne = nullptr;
  QRadioButton* RegOll = nullptr;
  QLineEdit* EditRegOne = nullptr;
  QCheckBox* CheckBox3 = nullptr;
  QCheckBox* CheckDelOne = nullptr;
  QCheckBox* CheckPodmena = nullptr;
  QCheckBox* CheckAutoPodmena = nullptr;
  QLabel* LabelRegPermanent = nullptr;
  QCheckBox* CheckRegPermanent = nullptr;
  QPushButton* debugButtons_[5] = {};

  // "Настройки".
  QCheckBox* VklRedParam = nullptr;
  QCheckBox* SetKarta[3] = {};
  QLabel* LabelIface[3] = {};
  QComboBox* IpAdrr[3] = {};
  QLineEdit* EditPort[3] = {};
  QComboBox* GateWay[3] = {};
  QLabel* Active[3] = {};
  // Per address box: the gateway of each listed adapter address.
  std::vector<std::string> adapterGateways_[3];
  std::vector<QString> applyFailures_;
  QLabel* LabelGateWay = nullptr;
  QLabel* LabelActive = nullptr;
  QCheckBox* CheckBoxMetric = nullptr;
  QComboBox* ComboBox1 = nullptr;
  QComboBox* ComboBox2 = nullptr;
  QComboBox* ComboBoxNaruchUO = nullptr;
  QCheckBox* CheckPOVTORTLG = nullptr;
  QComboBox* BoxNPovtor = nullptr;
  QComboBox* BoxTimePovtor = nullptr;
  QLabel* LabelNPovtor = nullptr;
  QLabel* LabelTimePovtor = nullptr;
  QCheckBox* CheckDopFunc = nullptr;
  QGroupBox* FrameSostAvar = nullptr;
  QCheckBox* CheckSostAvar = nullptr;
  QCheckBox* CheckMoteKTS = nullptr;
  QCheckBox* CheckBox_Internet = nullptr;
  QCheckBox* CheckAvarOrvane = nullptr;
  QCheckBox* CheckBoxBalanseGsm = nullptr;
  QPushButton* IpPortApply = nullptr;
  QPushButton* SpeedButton9 = nullptr;
  QFrame* PanelWarning = nullptr;
  QList<QWidget*> lockedControls_;  // what "  Вкл. Редактирование" unlocks
  int lastTab_ = 0;
};

}  // namespace console::gui
