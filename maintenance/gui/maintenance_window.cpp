#include "maintenance/gui/maintenance_window.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QVBoxLayout>
#include <optional>
#include <vector>
#include <tuple>
#include <utility>

#include "configurator/gui/config_window.h"
#include "console/gui/widgets.h"
#include "console/line_format.h"
#include "maintenance/firmware_file.h"
#include "maintenance/identity.h"
#include "maintenance/gui/network_settings_window.h"
#include "maintenance/gui/test_window.h"

namespace maintenance::gui {

namespace {

using console::gui::Button;
using console::gui::Field;
using console::gui::Label;

constexpr int kWidth = 632;
const char kSection[] = "frmMain";
const QString kHexFilter = "Intel *.hex/*.crp (*.hex *.crp)";

// A hidden panel of the form with a caption, two fields and two buttons.
QFrame* Panel(QWidget* parent, const char* name, const QString& caption) {
  auto* p = new QFrame(parent);
  p->setObjectName(name);
  p->setFrameShape(QFrame::Panel);
  p->setFrameShadow(QFrame::Raised);
  p->setAutoFillBackground(true);
  auto* col = new QVBoxLayout(p);
  col->addWidget(new QLabel(caption, p));
  p->hide();
  return p;
}

// User name and password fields: at most 16 characters, the password shown as "*".
void CredentialFields(QFrame* panel, QLineEdit*& user, QLineEdit*& password, const char* userName,
                      const char* passwordName) {
  auto* grid = new QGridLayout;
  user = Field(panel, userName);
  password = Field(panel, passwordName);
  password->setEchoMode(QLineEdit::Password);
  for (QLineEdit* e : {user, password}) e->setMaxLength(16);
  grid->addWidget(new QLabel("Пользователь:", panel), 0, 0);
  grid->addWidget(user, 0, 1);
  grid->addWidget(new QLabel("Пароль:", panel), 1, 0);
  grid->addWidget(password, 1, 1);
  static_cast<QVBoxLayout*>(panel->layout())->addLayout(grid);
}

}  // namespace

MaintenanceWindow::MaintenanceWindow(app::Server& server, console::gui::Asker& asker,
                                     console::gui::FileChooser& files, QWidget* parent)
    : QWidget(parent, Qt::Window), server_(server), asker_(asker), files_(files) {
  setObjectName("TfrmMain");
  setWindowTitle("Удаленное обслуживание.");

  auto* col = new QVBoxLayout(this);
  auto* top = new QGridLayout;
  edtHost = Field(this, "edtHost");
  edtHost->setReadOnly(true);
  Label2 = Label(this, "Label2", "");
  top->addWidget(new QLabel(" Пультовой  номер прибора", this), 0, 0);
  top->addWidget(edtHost, 0, 1);
  top->addWidget(Label2, 1, 0, 1, 4);
  edtLocalFile2 = Field(this, "edtLocalFile2");
  SpeedButton2 = Button(this, "SpeedButton2", "...");
  edtLocalFile = Field(this, "edtLocalFile");
  SpeedButton1 = Button(this, "SpeedButton1", "...");
  top->addWidget(new QLabel(" Имя файла обновления для 4620/67k22. ", this), 2, 0);
  top->addWidget(edtLocalFile2, 2, 1, 1, 2);
  top->addWidget(SpeedButton2, 2, 3);
  top->addWidget(new QLabel(" Имя файла обновления для 87J60. ", this), 3, 0);
  top->addWidget(edtLocalFile, 3, 1, 1, 2);
  top->addWidget(SpeedButton1, 3, 3);
  top->setColumnStretch(2, 1);
  col->addLayout(top);

  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  col->addWidget(Memo1, 1);
  ProgressBar1 = new QProgressBar(this);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar2 = new QProgressBar(this);
  ProgressBar2->setObjectName("ProgressBar2");
  for (QProgressBar* b : {ProgressBar1, ProgressBar2}) {
    b->setRange(0, 10);
    b->setValue(0);
    b->setTextVisible(false);
    col->addWidget(b);
  }

  // Two rows, so that the window keeps its width of 632 with any font.
  auto* buttons = new QGridLayout;
  btnLoad = Button(this, "btnLoad", "&Обновить");
  btnLoad->setToolTip("Обновить прошивку контроллера");
  btnPassw = Button(this, "btnPassw", "&Сменить пароль");
  btnPassw->setToolTip("Смена пароля для доступа к WEB настройкам ");
  NetNastrButton = Button(this, "NetNastrButton", "&Сетевые настройки");
  NetNastrButton->setToolTip("Нвстройки параметров сети");
  ConfigPribor = Button(this, "ConfigPribor", "&Конфиг.прибора");
  ConfigPribor->setToolTip("Настр. ШС. и проч.");
  BitBtn4 = Button(this, "BitBtn4", "&Запрос N-версии");
  Test = Button(this, "Test", "&Тест");
  for (QPushButton* b : {BitBtn4, Test})
    b->setToolTip("Получить доступ к настройкам прибора(кроме Конфиг.прибора)");
  BitBtn1 = Button(this, "BitBtn1", "Очистить");
  BitBtn9 = Button(this, "BitBtn9", "Прервать");
  for (QPushButton* b : {BitBtn1, BitBtn9}) b->setToolTip("Очистить окно сообщений");
  BitBtn9->hide();
  int slot = 0;
  for (QPushButton* b : {btnLoad, btnPassw, NetNastrButton, ConfigPribor, BitBtn4, Test, BitBtn1,
                         BitBtn9}) {
    buttons->addWidget(b, slot / 4, slot % 4);
    ++slot;
  }
  col->addLayout(buttons);

  PanelOld = Panel(this, "PanelOld", " Введите пароль для доступа ");
  CredentialFields(PanelOld, edtOldUser, edtOldPassword, "edtOldUser", "edtOldPassword");
  OldOk = Button(PanelOld, "OldOk", "OK");
  OldCancel = Button(PanelOld, "OldCancel", "Отмена");
  PanelNew = Panel(this, "PanelNew", " Введите новый пароль ");
  CredentialFields(PanelNew, edtNewUser, edtNewPassword, "edtNewUser", "edtNewPassword");
  NewOk = Button(PanelNew, "NewOk", "OK");
  NewCancel = Button(PanelNew, "NewCancel", "Отмена");
  for (auto [panel, ok, cancel] : {std::tuple{PanelOld, OldOk, OldCancel},
                                   std::tuple{PanelNew, NewOk, NewCancel}}) {
    auto* row = new QHBoxLayout;
    row->addWidget(ok);
    row->addWidget(cancel);
    static_cast<QVBoxLayout*>(panel->layout())->addLayout(row);
  }
  ViborMicr = Panel(this, "ViborMicr", "Что будем обновлять?");
  RadioButton1 = new QRadioButton("Микросхема 2 (Файл 87J60)", ViborMicr);
  RadioButton1->setObjectName("RadioButton1");
  RadioButton2 = new QRadioButton("Микросхема 1 (Файл 4620 или 67k22)", ViborMicr);
  RadioButton2->setObjectName("RadioButton2");
  RadioButton2->setChecked(true);
  BitBtn6 = Button(ViborMicr, "BitBtn6", "OK");
  BitBtn8 = Button(ViborMicr, "BitBtn8", "Отмена");
  {
    auto* v = static_cast<QVBoxLayout*>(ViborMicr->layout());
    v->addWidget(RadioButton1);
    v->addWidget(RadioButton2);
    auto* row = new QHBoxLayout;
    row->addWidget(BitBtn6);
    row->addWidget(BitBtn8);
    v->addLayout(row);
  }

  connect(btnPassw, &QPushButton::clicked, this, [this] { AskLogin(Pending::kCredentials); });
  connect(BitBtn4, &QPushButton::clicked, this, [this] { AskLogin(Pending::kVersions); });
  connect(NetNastrButton, &QPushButton::clicked, this, [this] { AskLogin(Pending::kNetwork); });
  connect(ConfigPribor, &QPushButton::clicked, this, [this] { AskLogin(Pending::kConfigurator); });
  connect(Test, &QPushButton::clicked, this, [this] {
    if (JobRunning()) {
      Log("Выполняется другая операция.");
      return;
    }
    pending_ = Pending::kTest;
    Test->setEnabled(false);
    ShowPanel(PanelOld);
    edtOldUser->setFocus();
  });
  connect(btnLoad, &QPushButton::clicked, this, [this] {
    EnableActions(false);
    ShowPanel(ViborMicr);
  });
  connect(BitBtn6, &QPushButton::clicked, this, [this] {
    ViborMicr->hide();
    AskLogin(Pending::kUpdate);
  });
  connect(BitBtn8, &QPushButton::clicked, this, &MaintenanceWindow::OnLoginCancel);
  connect(OldOk, &QPushButton::clicked, this, &MaintenanceWindow::OnLoginOk);
  connect(OldCancel, &QPushButton::clicked, this, &MaintenanceWindow::OnLoginCancel);
  connect(NewOk, &QPushButton::clicked, this, &MaintenanceWindow::OnNewOk);
  connect(NewCancel, &QPushButton::clicked, this, &MaintenanceWindow::OnNewCancel);
  connect(BitBtn1, &QPushButton::clicked, this, [this] {
    ClearLog();
    SetOperation(10, 0);
  });
  connect(BitBtn9, &QPushButton::clicked, this, [this] { server_.Maint().Abort(); });
  connect(SpeedButton1, &QPushButton::clicked, this, [this] { ChooseFile(edtLocalFile); });
  connect(SpeedButton2, &QPushButton::clicked, this, [this] { ChooseFile(edtLocalFile2); });
  for (QLineEdit* e : {edtOldUser, edtOldPassword, edtNewUser, edtNewPassword})
    e->installEventFilter(this);

  const app::Server::Geometry g = server_.WindowGeometry(kSection, {27, 104, 625, 419});
  setGeometry(g.left, g.top, kWidth, g.height);
  edtLocalFile->setText(QString::fromStdString(server_.WindowText(kSection, "edtLocalFile", "c:\\")));
  edtLocalFile2->setText(
      QString::fromStdString(server_.WindowText(kSection, "edtLocalFile2", "c:\\")));

  network_ = new NetworkSettingsWindow(server_, *this, asker_, files_, this);
  test_ = new TestWindow(server_, *this, asker_, this);
  config_ = new configurator::gui::ConfigWindow(server_, asker_, files_, this);
  connect(config_, &configurator::gui::ConfigWindow::Closed, this, [this] { EnableActions(true); });
  connect(config_, &configurator::gui::ConfigWindow::Message, this, &MaintenanceWindow::Log);

  pump_.setInterval(50);
  connect(&pump_, &QTimer::timeout, this, &MaintenanceWindow::Pump);
}

MaintenanceWindow::~MaintenanceWindow() = default;

bool MaintenanceWindow::OpenFor(const console::DeviceRef& d) {
  std::string why;
  if (!server_.OpenMaintenance(d, &why)) {
    asker_.Notice(this, windowTitle(), QString::fromStdString(why));
    return false;
  }
  EnableActions(true);
  NetNastrButton->setFocus();
  edtHost->setText(QString::fromStdString(
      console::Format("%d/%d/%d", d.number.n1, d.number.n2, d.number.n3)));
  for (QLineEdit* e : {edtOldUser, edtOldPassword, edtNewUser, edtNewPassword}) e->clear();
  for (QFrame* p : {PanelOld, PanelNew, ViborMicr}) p->hide();
  BitBtn9->hide();
  Test->setVisible(server_.Settings().GlOtladka);
  Test->setEnabled(true);
  Label2->setText(QString::fromStdString(console::Format(
      "Нарушения связи с УО через - %d сек.", server_.Settings().GlNaruchUO * 10 + 20)));
  server_.Maint().Events().Clear();
  pump_.start();
  show();
  raise();
  return true;
}

void MaintenanceWindow::ShowPanel(QFrame* panel) {
  // Over the middle of the window, as the form's panels lie.
  panel->adjustSize();
  panel->move((width() - panel->width()) / 2, (height() - panel->height()) / 2);
  panel->show();
  panel->raise();
}

void MaintenanceWindow::Log(const QString& line) { Memo1->appendPlainText(line); }

void MaintenanceWindow::ClearLog() { Memo1->clear(); }

void MaintenanceWindow::SetOperation(int max, int pos) {
  ProgressBar1->setRange(0, std::max(1, max));
  ProgressBar1->setValue(std::min(pos, std::max(1, max)));
}

bool MaintenanceWindow::Run(const std::string& what, Maintenance::Job job,
                            std::function<void(bool)> done) {
  std::string why;
  if (done_ || !server_.StartWindowMaintenance(what, std::move(job), &why)) {
    Log(QString::fromStdString(why.empty() ? "Выполняется другая операция." : why));
    return false;
  }
  done_ = std::move(done);
  return true;
}

void MaintenanceWindow::EnableActions(bool on) {
  for (QPushButton* b : {btnLoad, btnPassw, NetNastrButton, ConfigPribor, BitBtn4})
    b->setEnabled(on);
}

void MaintenanceWindow::EnableTest(bool on) { Test->setEnabled(on); }

void MaintenanceWindow::AskLogin(Pending action) {
  if (JobRunning()) {
    Log("Выполняется другая операция.");
    return;
  }
  pending_ = action;
  EnableActions(false);
  ShowPanel(PanelOld);
  edtOldUser->setFocus();
}

void MaintenanceWindow::OnLoginOk() {
  ClearLog();
  if (edtOldUser->text().isEmpty()) {
    Log("Не введен \"Пользователь\"");
    edtOldUser->setFocus();
    return;
  }
  if (edtOldPassword->text().isEmpty()) {
    Log("Не введен \"Пароль\"");
    edtOldPassword->setFocus();
    return;
  }
  ClearLog();
  SetOperation(10, 0);
  PanelOld->hide();
  login_ = {edtOldUser->text().toStdString(), edtOldPassword->text().toStdString()};
  RunPending();
}

void MaintenanceWindow::RunPending() {
  // The action as it was when the login started.
  const auto afterLogin = [this, action = pending_](bool ok) {
    if (!ok) {
      EnableActions(true);
      return;
    }
    switch (action) {
      case Pending::kCredentials:
        ShowPanel(PanelNew);
        edtNewUser->setFocus();
        break;
      case Pending::kNetwork: network_->Open(); break;
      case Pending::kTest: test_->Open(); break;
      case Pending::kConfigurator: {
        // The configurator's run takes the session until its window closes.
        std::string why;
        if (!config_->Open(edtHost->text(), &why)) {
          Log(QString::fromStdString(why));
          EnableActions(true);
        }
        break;
      }
      default: EnableActions(true); break;
    }
  };
  Maintenance::Job job;
  switch (pending_) {
    case Pending::kCredentials:
    case Pending::kTest:
    case Pending::kConfigurator:
      job = WithLogin(login_, [](Exchange&) { return true; });
      break;
    case Pending::kVersions: job = VersionsJob(login_); break;
    case Pending::kNetwork:
      // The network settings window opens once the web interface is on.
      job = WithLogin(login_, [](Exchange& x) { return EnableWebInterface(x); });
      break;
    case Pending::kUpdate: {
      // The file as it is now; the job checks it whole before anything is sent.
      const bool eth = RadioButton1->isChecked();
      const std::string path = (eth ? edtLocalFile : edtLocalFile2)->text().toStdString();
      std::optional<std::vector<uint8_t>> bytes = maintenance::ReadFirmwareFile(path);
      std::optional<std::string> text;
      if (bytes) text.emplace(bytes->begin(), bytes->end());
      job = eth ? UpdateEthJob(login_, path, bytes) : UpdateMainJob(login_, path, text);
      BitBtn9->show();
      const auto done = [this](bool) {
        BitBtn9->hide();
        EnableActions(true);
      };
      if (!Run(eth ? "обновление 87J60" : "обновление прошивки", std::move(job), done)) done(false);
      return;
    }
  }
  if (!Run("окно обслуживания", std::move(job), afterLogin)) EnableActions(true);
}

void MaintenanceWindow::OnLoginCancel() {
  PanelOld->hide();
  ViborMicr->hide();
  EnableActions(true);
  EnableTest(true);
  server_.Maint().Abort();
}

void MaintenanceWindow::OnNewOk() {
  const auto check = [this](QLineEdit* e, const char* name) {
    const QString t = e->text();
    if (t.isEmpty()) Log(QString("Не введен \"%1\"").arg(name));
    else if (t.size() < 5) Log(QString("\"%1\" < 5 символов").arg(name));
    else return true;
    e->setFocus();
    return false;
  };
  if (!check(edtNewUser, "Пользователь") || !check(edtNewPassword, "Пароль")) return;
  ClearLog();
  SetOperation(10, 0);
  const Credentials fresh{edtNewUser->text().toStdString(), edtNewPassword->text().toStdString()};
  PanelNew->hide();
  // "Запрос N-версии" stays off until another path enables it.
  const auto enable = [this](bool) {
    for (QPushButton* b : {btnLoad, btnPassw, NetNastrButton, ConfigPribor}) b->setEnabled(true);
  };
  if (!Run("смена пароля",
           [fresh](Exchange& x) { return SendNewCredentials(x, fresh.user, fresh.password); },
           enable))
    enable(false);
}

void MaintenanceWindow::OnNewCancel() {
  PanelNew->hide();
  for (QPushButton* b : {btnLoad, btnPassw, NetNastrButton, ConfigPribor}) b->setEnabled(true);
  server_.Maint().Abort();
}

void MaintenanceWindow::Pump() {
  for (const Event& e : server_.Maint().Events().Drain(0)) {
    switch (e.kind) {
      case Event::Kind::kLog: Log(QString::fromStdString(e.text)); break;
      case Event::Kind::kOperation: SetOperation(e.max, e.pos); break;
      case Event::Kind::kWait:
        ProgressBar2->setRange(0, std::max(1, e.max));
        ProgressBar2->setValue(std::min(e.pos, std::max(1, e.max)));
        break;
      case Event::Kind::kStatus: network_->OnStatus(e); break;
      case Event::Kind::kFinished:
        if (done_) std::exchange(done_, nullptr)(e.ok);
        break;
    }
  }
}

void MaintenanceWindow::ChooseFile(QLineEdit* field) {
  const QString folder = QFileInfo(field->text()).path();
  const QString chosen = files_.OpenFile(this, folder, kHexFilter);
  if (!chosen.isEmpty()) field->setText(chosen);
  field->setFocus();
}

void MaintenanceWindow::SaveGeometry() {
  // The inner geometry, as setGeometry takes it back: no creep by the frame.
  const QRect g = geometry();
  server_.SetWindowGeometry(kSection, {g.x(), g.y(), g.width(), g.height()});
  server_.SetWindowText(kSection, "edtLocalFile", edtLocalFile->text().toStdString());
  server_.SetWindowText(kSection, "edtLocalFile2", edtLocalFile2->text().toStdString());
}

void MaintenanceWindow::closeEvent(QCloseEvent* e) {
  server_.Maint().Abort();
  SaveGeometry();
  if (network_->IsOpen()) network_->close();
  if (test_->IsOpen() || !Test->isEnabled()) test_->close();
  if (config_->IsOpen()) config_->close();
  pump_.stop();
  done_ = nullptr;
  server_.CloseMaintenance();
  QWidget::closeEvent(e);
}

void MaintenanceWindow::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (width() != kWidth) resize(kWidth, height());
}

bool MaintenanceWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (watched == edtOldUser) edtOldPassword->setFocus();
      else if (watched == edtNewUser) edtNewPassword->setFocus();
      else if (watched == edtOldPassword) OnLoginOk();
      else if (watched == edtNewPassword) OnNewOk();
      return true;
    }
  }
  return QWidget::eventFilter(watched, e);
}

}  // namespace maintenance::gui
