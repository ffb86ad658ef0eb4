#include "maintenance/gui/network_settings_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <initializer_list>
#include <memory>

#include "console/gui/widgets.h"
#include "maintenance/gui/maintenance_window.h"
#include "maintenance/gui/network_help_text.h"
#include "maintenance/settings_file.h"

namespace maintenance::gui {

namespace {

using console::gui::Button;
using console::gui::Check;
using console::gui::Field;
using console::gui::Label;

const char kSection[] = "NetNastr";
const QString kFilter = "Сетевые настройки (*.dat)";
// Put into the NTP fields at each showing, until a read brings the device's own.
const QString kDefaultNtpServer = "pool.ntp.org";
const QString kAutonomousCaption = "Приложение-\"Сетевые настройки прибора\".";
const QString kAutonomousQuestion =
    "Внимание - Включена \"Автономная работа\"! Работа с АРМ запрещена! Исполнить?";

// Field widths by what they hold.
constexpr int kAddressWidth = 120, kPortWidth = 64, kTextWidth = 190;

void Colour(QLabel* l, Event::Colour c) {
  switch (c) {
    case Event::Colour::kPlain: l->setStyleSheet(QString()); break;
    case Event::Colour::kDone: l->setStyleSheet("color: #800000;"); break;  // maroon
    case Event::Colour::kFailed: l->setStyleSheet("color: #ff0000;"); break;
  }
}

// A field of a fixed width with its caption before it, on one row of `grid`.
QLineEdit* Row(QWidget* parent, QGridLayout* grid, int row, int column, const QString& caption,
               const char* name, int width) {
  QLineEdit* e = Field(parent, name);
  e->setFixedWidth(width);
  grid->addWidget(new QLabel(caption, parent), row, column);
  grid->addWidget(e, row, column + 1, Qt::AlignLeft);
  return e;
}

void Enable(std::initializer_list<QWidget*> widgets, bool on) {
  for (QWidget* w : widgets) w->setEnabled(on);
}

}  // namespace

NetworkSettingsWindow::NetworkSettingsWindow(app::Server& server, MaintenanceWindow& owner,
                                             console::gui::Asker& asker,
                                             console::gui::FileChooser& files, QWidget* parent)
    : QMainWindow(parent, Qt::Window), server_(server), owner_(owner), asker_(asker),
      files_(files) {
  setObjectName("TNetNastr");
  setWindowTitle("Сетевые настройки прибора.");

  const auto [load, save] = console::gui::AddFileMenu(this);

  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* col = new QVBoxLayout(central);

  auto* buttons = new QHBoxLayout;
  ButtonReadWEB = Button(central, "ButtonReadWEB", "Считать");
  ButtonWriteWEB = Button(central, "ButtonWriteWEB", "Сохранить");
  CheckBoxEdit = Check(central, "CheckBoxEdit", "Разрешить редактирование");
  SpeedButton2 = Button(central, "SpeedButton2", "?");
  SpeedButton2->setFixedWidth(32);
  buttons->addWidget(ButtonReadWEB);
  buttons->addWidget(ButtonWriteWEB);
  buttons->addSpacing(8);
  buttons->addWidget(CheckBoxEdit);
  buttons->addStretch();
  buttons->addWidget(SpeedButton2);
  col->addLayout(buttons);

  auto* status = new QHBoxLayout;
  Label22 = Label(central, "Label22", "");
  status->addWidget(Label22, 1, Qt::AlignTop);
  auto* warning = new QVBoxLayout;
  warning->setSpacing(0);
  Label13 = Label(central, "Label13", "Внимание! Необдуманное изменение");
  Label14 = Label(central, "Label14", "настроек-может привести к потере ");
  Label15 = Label(central, "Label15", "связи с прибором.");
  for (QLabel* l : {Label13, Label14, Label15}) {
    l->setStyleSheet("color: #ff0000;");
    // The lines come and go with editing; the layout keeps their place.
    QSizePolicy p = l->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    l->setSizePolicy(p);
    warning->addWidget(l);
  }
  status->addLayout(warning);
  col->addLayout(status);

  // The guide lies over the tabs while it is shown.
  auto* stack = new QGridLayout;
  panel = new QTabWidget(central);
  panel->setObjectName("panel");
  panel->addTab(ServersTab(), "Сервера");
  panel->addTab(EthernetTab(), "Ethernet");
  panel->addTab(GsmTab(), "GSM");
  panel->addTab(SmsTab(), "SMS сервис");
  Memo1 = new QPlainTextEdit(central);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setPlainText(kNetworkHelpText);
  stack->addWidget(panel, 0, 0);
  stack->addWidget(Memo1, 0, 0);
  col->addLayout(stack, 1);
  panel->hide();
  Memo1->hide();

  for (const FieldInfo& f : NetworkWindowFields())
    if (QLineEdit* e = Text(std::string(f.control).c_str())) e->installEventFilter(this);
  edtHost->setReadOnly(true);

  connect(ButtonReadWEB, &QPushButton::clicked, this, &NetworkSettingsWindow::Read);
  connect(ButtonWriteWEB, &QPushButton::clicked, this, &NetworkSettingsWindow::Write);
  connect(SpeedButton3, &QPushButton::clicked, this, &NetworkSettingsWindow::Reset);
  connect(load, &QAction::triggered, this, &NetworkSettingsWindow::LoadFile);
  connect(save, &QAction::triggered, this, &NetworkSettingsWindow::SaveFile);
  connect(CheckBoxEdit, &QCheckBox::toggled, this, &NetworkSettingsWindow::SetEditing);
  connect(SpeedButton2, &QPushButton::clicked, this, [this] {
    Memo1->setVisible(!Memo1->isVisible());
    Memo1->raise();
  });
  connect(SpeedButton1, &QPushButton::clicked, this,
          [this] { Text("Edit12")->setText(Text("Edit15")->text()); });
  // Programming access is switched on only at the device's keypad.
  connect(Box("CheckBox3"), &QCheckBox::clicked, this, [this](bool on) {
    if (on) Box("CheckBox3")->setChecked(false);
  });
  connect(Box("CheckSMSOnly"), &QCheckBox::toggled, NtpGroup, &QWidget::setVisible);
  for (const char* name : {"CheckBox1", "CheckEnServ1", "CheckEnServ2", "PCN_2", "CheckEnServ3",
                           "CheckEnServ4", "CheckBox6", "CheckBox7", "CheckBox5",
                           "CheckEnGsmGprs2", "CheckEnIpn2", "CheckBox8"})
    connect(Box(name), &QCheckBox::toggled, this, [this] {
      if (editing_) FollowBoxes();
    });

  const app::Server::Geometry g = server_.WindowGeometry(kSection, {27, 104, 599, 663});
  setGeometry(g.left, g.top, g.width, g.height);
  SetEditing(false);
}

NetworkSettingsWindow::~NetworkSettingsWindow() = default;

QWidget* NetworkSettingsWindow::ServersTab() {
  auto* tab = new QWidget;
  auto* col = new QVBoxLayout(tab);

  auto* main = new QGroupBox("Основные", tab);
  auto* g = new QGridLayout(main);
  g->addWidget(Check(main, "CheckEnServ1", "Разрешить 1 сервер"), 0, 0, 1, 2);
  Row(main, g, 1, 0, "  IP - Cервер 1: ", "Edit8", kAddressWidth);
  Row(main, g, 2, 0, "Порт Сервер 1: ", "Edit9", kPortWidth);
  g->addWidget(Check(main, "CheckEnServ2", "Разрешить 2 сервер"), 0, 2, 1, 2);
  Row(main, g, 1, 2, " IP - Cервер 2: ", "IpServ2", kAddressWidth);
  Row(main, g, 2, 2, "Порт Сервер 2: ", "PortServ2", kPortWidth);
  g->setColumnStretch(1, 1);
  g->setColumnStretch(3, 1);
  col->addWidget(main);

  auto* alt = new QGroupBox("Альтернативные", tab);
  g = new QGridLayout(alt);
  g->addWidget(Check(alt, "PCN_2", "ПЦН - 2"), 0, 0, 1, 4);
  g->addWidget(Check(alt, "CheckEnServ3", "Разрешить 1(3) сервер"), 1, 0, 1, 2);
  Row(alt, g, 2, 0, " IP - Cервер 1(3):", "Edit1", kAddressWidth);
  Row(alt, g, 3, 0, "Порт Сервер 1(3):", "Edit11", kPortWidth);
  g->addWidget(Check(alt, "CheckEnServ4", "Разрешить 2(4) сервер"), 1, 2, 1, 2);
  Row(alt, g, 2, 2, " IP - Cервер 2(4):", "Edit21", kAddressWidth);
  Row(alt, g, 3, 2, "Порт Сервер 2(4):", "Edit22", kPortWidth);
  g->setColumnStretch(1, 1);
  g->setColumnStretch(3, 1);
  col->addWidget(alt);

  auto* bottom = new QGridLayout;
  Row(tab, bottom, 0, 0, "Пультовой номер\nприбора: ", "Edit10", 90);
  SpeedButton3 = Button(tab, "SpeedButton3", "Reset");
  bottom->setColumnStretch(2, 1);
  bottom->addWidget(SpeedButton3, 0, 3);
  bottom->addWidget(new QLabel(" Удаленный пересброс прибора.", tab), 0, 4);
  col->addLayout(bottom);
  col->addStretch();
  return tab;
}

QWidget* NetworkSettingsWindow::EthernetTab() {
  auto* tab = new QWidget;
  auto* g = new QGridLayout(tab);
  edtHost = Row(tab, g, 0, 0, " МАС-адрес: ", "edtHost", 150);
  g->addWidget(Check(tab, "CheckBox1", "Разрешить DHCP"), 1, 0, 1, 2);
  Row(tab, g, 2, 0, " IP - прибора: ", "Edit2", kAddressWidth);
  Row(tab, g, 3, 0, " Порт прибора: ", "Edit3", kPortWidth);
  Row(tab, g, 4, 0, " Шлюз: ", "Edit4", kAddressWidth);
  Row(tab, g, 5, 0, " Маска подсети: ", "Edit5", kAddressWidth);
  Row(tab, g, 6, 0, " Основная DNS:", "Edit6", kAddressWidth);
  Row(tab, g, 7, 0, " Дополнит. DNS: ", "Edit7", kAddressWidth);
  g->addWidget(Check(tab, "CheckBox2", "Разрешить ICMP(Ping)"), 8, 0, 1, 2);
  g->addWidget(Check(tab, "CheckBox3", "Разрешить прогр.прибора(конфиг.) "), 9, 0, 1, 2);
  g->setColumnStretch(1, 1);
  g->setRowStretch(10, 1);
  return tab;
}

QWidget* NetworkSettingsWindow::GsmTab() {
  auto* tab = new QWidget;
  auto* col = new QVBoxLayout(tab);
  struct Sim {
    const char *title, *on, *onText, *apnOn, *apnOnText, *apnCaption, *apn, *balanceOn,
        *autoLabel, *balanceLabel, *balance;
  };
  const Sim sims[] = {
      {"SIM 1", "CheckBox6", "Разрешить 1 SIM", "CheckBox7", "Разрешить APN 1 SIM (строка иниц.)",
       "APN 1 SIM:", "Edit14", "CheckBox5", "Label25", "Label27", "Edit17"},
      {"SIM 2", "CheckEnGsmGprs2", "Разрешить 2 SIM", "CheckEnIpn2",
       "Разрешить APN 2 SIM(строка иниц.)", "APN 2 SIM:", "Ipn2", "CheckBox8", "Label29",
       "Label28", "Edit18"},
  };
  for (const Sim& s : sims) {
    auto* box = new QGroupBox(s.title, tab);
    auto* g = new QGridLayout(box);
    g->addWidget(Check(box, s.on, s.onText), 0, 0, 1, 3);
    g->addWidget(Check(box, s.apnOn, s.apnOnText), 1, 0, 1, 3);
    Row(box, g, 2, 0, s.apnCaption, s.apn, kTextWidth);
    int row = 3;
    if (s.on == std::string_view("CheckBox6"))
      g->addWidget(Check(box, "CheckBoxPriorSIM1", "Приоритет 1 SIM (возврат после отказа)"),
                   row++, 0, 1, 3);
    g->addWidget(Check(box, s.balanceOn, "Разрешить задавать Строку запроса Баланса"), row++, 0,
                 1, 3);
    QLabel* otherwise = Label(box, s.autoLabel, "(Иначе-Автомат.Моск.Регион)");
    otherwise->setIndent(24);  // under the box's text
    g->addWidget(otherwise, row++, 0, 1, 3);
    g->addWidget(Label(box, s.balanceLabel, "Строка Запроса Баланса:"), row, 0);
    QLineEdit* balance = Field(box, s.balance);
    balance->setFixedWidth(kPortWidth * 2);
    g->addWidget(balance, row, 1, Qt::AlignLeft);
    g->setColumnStretch(2, 1);
    col->addWidget(box);
  }
  Label25 = tab->findChild<QLabel*>("Label25");
  Label27 = tab->findChild<QLabel*>("Label27");
  Label28 = tab->findChild<QLabel*>("Label28");
  Label29 = tab->findChild<QLabel*>("Label29");
  col->addWidget(
      Check(tab, "CheckBoxBalMon", "Автоматический запрос баланса SIM карт 1 раз в месяц"));
  col->addStretch();
  return tab;
}

QWidget* NetworkSettingsWindow::SmsTab() {
  auto* tab = new QWidget;
  auto* col = new QVBoxLayout(tab);
  col->addWidget(Check(tab, "CheckSMSzvukPriem", "Звук при приеме SMS"));

  auto* table = new QGroupBox("-Передача SMS-", tab);
  auto* g = new QGridLayout(table);
  const QString heads[] = {"Тр.", "Вз/Сн.", "Проч."};
  for (int c = 0; c < 3; ++c) g->addWidget(new QLabel(heads[c], table), 0, c, Qt::AlignCenter);
  g->addWidget(new QLabel("Номера телефонов хозорг.", table), 0, 3, 1, 2);
  for (int k = 1; k <= 3; ++k) {
    const std::string n = std::to_string(k);
    const std::string names[] = {"CheckSMS_TrPrd_" + n, "CheckSMS_VzSnPrd_" + n,
                                 "CheckSMS_ProchPrd_" + n};
    for (int c = 0; c < 3; ++c)
      g->addWidget(Check(table, names[c].c_str(), QString()), k, c, Qt::AlignCenter);
    g->addWidget(new QLabel("+7", table), k, 3, Qt::AlignRight);
    QLineEdit* phone = Field(table, ("EditSMSN_" + n).c_str());
    phone->setFixedWidth(kAddressWidth);
    g->addWidget(phone, k, 4, Qt::AlignLeft);
  }
  g->setColumnStretch(4, 1);
  col->addWidget(table);

  col->addWidget(Check(tab, "CheckSMSTimePriem", "Время в SMS"));
  col->addWidget(Check(tab, "CheckPrznVzSn", "Вз./Сн. только после Тр.сообщ."));
  col->addWidget(Check(tab, "CheckSMSOnly", "Разрешить прибору \"Автономную работу\""));

  auto* ntp = new QGroupBox(tab);
  ntp->setObjectName("NtpGroup");
  NtpGroup = ntp;
  g = new QGridLayout(ntp);
  g->addWidget(Label(ntp, "Label21", " Домен - NTP сервера : "), 0, 0);
  g->addWidget(Label(ntp, "Label45", "(точного времени). "), 1, 0);
  QLineEdit* server = Field(ntp, "Edit12");
  server->setFixedWidth(kTextWidth);
  g->addWidget(server, 0, 1, Qt::AlignLeft);
  g->addWidget(Label(ntp, "Label46", " Временной регион : "), 2, 0);
  g->addWidget(Label(ntp, "Label47", "(Москва-3 рег.) "), 3, 0);
  QLineEdit* region = Field(ntp, "Edit13", "3");
  region->setFixedWidth(40);
  g->addWidget(region, 2, 1, Qt::AlignLeft);
  g->addWidget(Label(ntp, "Label30", "Сервер по умолчанию "), 4, 0);
  QLineEdit* fallback = Field(ntp, "Edit15", kDefaultNtpServer);
  fallback->setFixedWidth(kTextWidth);
  g->addWidget(fallback, 4, 1, Qt::AlignLeft);
  SpeedButton1 = Button(ntp, "SpeedButton1", "Установить");
  g->addWidget(SpeedButton1, 4, 2);
  g->setColumnStretch(3, 1);
  col->addWidget(ntp);
  ntp->hide();

  Label43 = Label(tab, "Label43", "");
  Label44 = Label(tab, "Label44", "");
  col->addWidget(Label43);
  col->addWidget(Label44);
  col->addStretch();
  return tab;
}

QCheckBox* NetworkSettingsWindow::Box(const char* name) const {
  return findChild<QCheckBox*>(name);
}

QLineEdit* NetworkSettingsWindow::Text(const char* name) const {
  return findChild<QLineEdit*>(name);
}

void NetworkSettingsWindow::Open() {
  open_ = true;
  ++shown_;
  settings_ = DeviceSettings{};
  panel->hide();
  for (QLabel* l : {Label22, Label43, Label44}) {
    l->clear();
    Colour(l, Event::Colour::kPlain);
  }
  CheckBoxEdit->setChecked(false);
  SetEditing(false);
  Text("Edit12")->setText(kDefaultNtpServer);
  Text("Edit15")->setText(kDefaultNtpServer);
  show();
  raise();
  activateWindow();
}

bool NetworkSettingsWindow::IsOpen() const { return open_; }

void NetworkSettingsWindow::OnStatus(const Event& e) {
  QLabel* l = e.line == Event::Line::kMain ? Label22
              : e.line == Event::Line::kSms1 ? Label43
                                             : Label44;
  const QString text = QString::fromStdString(e.text);
  l->setText(e.append ? l->text() + text : text);
  Colour(l, e.colour);
}

void NetworkSettingsWindow::SetEditing(bool allowed) {
  editing_ = allowed;
  for (QLabel* l : {Label13, Label14, Label15}) l->setVisible(allowed);
  for (const char* name :
       {"CheckBox1", "CheckBox2", "CheckBox3", "CheckBox6", "CheckEnGsmGprs2", "PCN_2",
        "CheckEnServ1", "CheckEnServ2", "CheckEnServ3", "CheckEnServ4", "CheckSMSzvukPriem",
        "CheckSMSTimePriem", "CheckPrznVzSn", "CheckSMSOnly", "CheckSMS_TrPrd_1",
        "CheckSMS_VzSnPrd_1", "CheckSMS_ProchPrd_1", "CheckSMS_TrPrd_2", "CheckSMS_VzSnPrd_2",
        "CheckSMS_ProchPrd_2", "CheckSMS_TrPrd_3", "CheckSMS_VzSnPrd_3", "CheckSMS_ProchPrd_3"})
    Box(name)->setEnabled(allowed);
  for (const char* name :
       {"Edit10", "EditSMSN_1", "EditSMSN_2", "EditSMSN_3", "Edit12", "Edit13", "Edit15"})
    Text(name)->setEnabled(allowed);
  SpeedButton1->setEnabled(allowed);
  edtHost->setEnabled(false);  // set by the maker
  FollowBoxes();
  ButtonReadWEB->setEnabled(!allowed);
  ButtonWriteWEB->setEnabled(allowed);
  // Editing is allowed again only after the next read from the device.
  if (!allowed) CheckBoxEdit->setEnabled(false);
}

void NetworkSettingsWindow::FollowBoxes() {
  const auto on = [this](const char* name) { return editing_ && Box(name)->isChecked(); };
  const bool sim1 = on("CheckBox6"), sim2 = on("CheckEnGsmGprs2");
  Enable({Text("Edit2"), Text("Edit3"), Text("Edit4"), Text("Edit5"), Text("Edit6"),
          Text("Edit7")},
         editing_ && !Box("CheckBox1")->isChecked());
  Enable({Text("Edit8"), Text("Edit9")}, on("CheckEnServ1"));
  Enable({Text("IpServ2"), Text("PortServ2")}, on("CheckEnServ2"));
  Enable({Text("Edit1"), Text("Edit11")}, on("CheckEnServ3"));
  Enable({Text("Edit21"), Text("Edit22")}, on("CheckEnServ4"));
  Enable({Box("CheckBox7"), Box("CheckBoxPriorSIM1"), Box("CheckBox5"), Label25}, sim1);
  Enable({Text("Edit14")}, sim1 && on("CheckBox7"));
  Enable({Text("Edit17"), Label27}, sim1 && on("CheckBox5"));
  Enable({Box("CheckEnIpn2"), Box("CheckBox8"), Label29}, sim2);
  Enable({Text("Ipn2")}, sim2 && on("CheckEnIpn2"));
  Enable({Text("Edit18"), Label28}, sim2 && on("CheckBox8"));
  Enable({Box("CheckBoxBalMon")}, sim1 || sim2);
}

template <class Fields>
Fields NetworkSettingsWindow::FromControls() const {
  Fields f;
  for (QLineEdit* e : findChildren<QLineEdit*>())
    if (std::string* t = TextOf(f, e->objectName().toStdString())) *t = e->text().toStdString();
  for (QCheckBox* c : findChildren<QCheckBox*>())
    if (bool* b = BoxOf(f, c->objectName().toStdString())) *b = c->isChecked();
  return f;
}

template <class Fields>
void NetworkSettingsWindow::ToControls(Fields f) {
  for (QLineEdit* e : findChildren<QLineEdit*>())
    if (std::string* t = TextOf(f, e->objectName().toStdString()))
      e->setText(QString::fromStdString(*t));
  for (QCheckBox* c : findChildren<QCheckBox*>())
    if (bool* b = BoxOf(f, c->objectName().toStdString())) c->setChecked(*b);
}

void NetworkSettingsWindow::ShowRead(const DeviceSettings& s) {
  settings_ = s;
  ToControls(ToFields(DecodeNetworkSettings(s.main)));
  // The balance strings come with the NTP block or not at all.
  for (const char* name : {"CheckBox5", "CheckBox8"}) Box(name)->setChecked(false);
  for (const char* name : {"Edit17", "Edit18"}) Text(name)->clear();
  if (s.smsRead) {
    ToControls(ToFields(DecodeSmsSettings(s.sms)));
    NtpGroup->setVisible(Box("CheckSMSOnly")->isChecked());
    if (s.ntpRead) {
      ToControls(ToFields(DecodeNtpSettings(s.ntp)));
    } else if (s.ntpOff) {
      Text("Edit12")->clear();
      Text("Edit13")->clear();
    }
  }
  panel->show();
  SetEditing(CheckBoxEdit->isChecked());
  CheckBoxEdit->setEnabled(true);
  Text("Edit14")->setEnabled(false);
}

void NetworkSettingsWindow::Read() {
  const int shown = shown_;
  auto s = std::make_shared<DeviceSettings>();
  owner_.Run(
      "чтение сетевых настроек", [s](Exchange& x) { return ReadNetworkSettings(x, *s); },
      [this, s, shown](bool) {
        if (open_ && shown == shown_ && s->mainRead) ShowRead(*s);
      });
}

bool NetworkSettingsWindow::Refused(const std::optional<FieldError>& error) {
  if (!error) return false;
  owner_.Log(QString::fromStdString(error->message));
  if (auto* w = findChild<QWidget*>(QString::fromStdString(error->control))) {
    for (int k = 0; k < panel->count(); ++k)
      if (panel->widget(k)->isAncestorOf(w)) panel->setCurrentIndex(k);
    w->setFocus();
  }
  return true;
}

void NetworkSettingsWindow::Write() {
  owner_.SetOperation(10, 0);
  Label22->clear();
  if (Box("CheckSMSOnly")->isChecked() &&
      !asker_.Ask(this, kAutonomousCaption, kAutonomousQuestion))
    return;
  // Every value is checked before anything is sent.
  auto s = std::make_shared<DeviceSettings>(settings_);
  if (Refused(SettingsFromFields(FromControls<NetworkFields>(), FromControls<SmsFields>(),
                                 FromControls<NtpFields>(), *s)))
    return;
  settings_ = *s;
  const int shown = shown_;
  owner_.Run(
      "запись сетевых настроек", [s](Exchange& x) { return WriteNetworkSettings(x, *s); },
      [this, shown](bool ok) {
        if (open_ && shown == shown_ && ok) ButtonReadWEB->setEnabled(true);
      });
}

void NetworkSettingsWindow::Reset() {
  owner_.Run("пересброс прибора", [](Exchange& x) { return ResetDevice(x); }, [](bool) {});
}

QString NetworkSettingsWindow::Folder() {
  const std::string dataDir =
      QFile::encodeName(QFileInfo(QString::fromStdString(server_.IniPath())).absolutePath())
          .toStdString();
  std::string why;
  const std::string folder = SettingsFolder(dataDir, &why);
  if (folder.empty()) owner_.Log(QString::fromStdString(why));
  return QFile::decodeName(folder.c_str());
}

void NetworkSettingsWindow::LoadFile() {
  const QString folder = Folder();
  if (folder.isEmpty()) return;
  const QString path = files_.OpenFile(this, folder, kFilter);
  if (path.isEmpty()) return;
  NetworkBlock block = settings_.main;  // its MAC address stays
  std::string why;
  switch (ReadSettingsFile(QFile::encodeName(path).toStdString(), block, &why)) {
    case DatLoad::kLoaded: break;
    case DatLoad::kNotOpened: return;
    default: owner_.Log(QString::fromStdString(why)); return;
  }
  settings_.main = block;
  ToControls(ToFields(DecodeNetworkSettings(block)));
  panel->show();
  if (editing_) {
    FollowBoxes();
  } else {
    Enable({Box("CheckBox7"), Box("CheckEnIpn2")}, false);
  }
}

void NetworkSettingsWindow::SaveFile() {
  const QString folder = Folder();
  if (folder.isEmpty()) return;
  NetworkBlock block = settings_.main;
  if (Refused(FieldsIntoBlock(FromControls<NetworkFields>(), block))) return;
  QString path = files_.SaveFile(this, folder + "/" + kDefaultSettingsFileName, kFilter);
  if (path.isEmpty()) return;
  if (QFileInfo(path).suffix().isEmpty()) path += ".dat";
  std::string why;
  if (!WriteSettingsFile(QFile::encodeName(path).toStdString(), block, &why)) {
    owner_.Log(QString::fromStdString(why));
    asker_.Notice(this, windowTitle(), kFileAccessError);
    return;
  }
  settings_.main = block;
}

void NetworkSettingsWindow::closeEvent(QCloseEvent* e) {
  if (open_) {
    const QRect g = geometry();
    server_.SetWindowGeometry(kSection, {g.x(), g.y(), g.width(), g.height()});
    open_ = false;
    owner_.SetOperation(10, 0);
    owner_.EnableActions(true);
  }
  QMainWindow::closeEvent(e);
}

bool NetworkSettingsWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, e);
  auto* edit = qobject_cast<QLineEdit*>(watched);
  const FieldInfo* info = edit ? FindField(edit->objectName().toStdString()) : nullptr;
  if (!info) return QMainWindow::eventFilter(watched, e);
  auto* k = static_cast<QKeyEvent*>(e);
  char32_t key = 0;
  if (k->key() == Qt::Key_Backspace) {
    key = kBackspaceKey;
  } else {
    const QList<uint> typed = k->text().toUcs4();
    // Keys that type nothing (arrows, Delete, shortcuts) are the field's own.
    if (typed.isEmpty() || typed.front() < 0x20) return QMainWindow::eventFilter(watched, e);
    key = char32_t(typed.front());
  }
  const KeyResult r = FieldKey(info->kind, edit->text().toStdString(), key);
  if (!r.message.empty()) owner_.Log(QString::fromStdString(r.message));
  return !r.accepted;
}

}  // namespace maintenance::gui
