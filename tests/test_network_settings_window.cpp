// "Сетевые настройки прибора." offscreen, driven by its controls' names,
// opened from the maintenance window after the login, against a devsim device
// that keeps its network settings in a file and writes what it is sent to another.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/server.h"
#include "maintenance/gui/maintenance_window.h"
#include "maintenance/settings_blocks.h"
#include "maintenance/settings_file.h"
#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"
#include "tests/support/sim_output.h"
#include "tests/support/maintenance_desk.h"
#include "tests/support/scripted_asker.h"
#include "tests/support/socat_pair.h"

namespace {

using namespace std::chrono_literals;
using maintenance::NetworkBlock;
using maintenance::NetworkSettings;
using testsupport::ChildProcess;


// What the device holds: server 1 on, SIM 1 with its APN, programming access on.
NetworkSettings DeviceSettings() {
  NetworkSettings s;
  s.deviceIp = {192, 0, 2, 10};
  s.subnetMask = {255, 255, 255, 0};
  s.gateway = {192, 0, 2, 1};
  s.primaryDns = {192, 0, 2, 53};
  s.secondaryDns = {198, 51, 100, 53};
  s.server1Ip = {203, 0, 113, 5};
  s.server2Ip = {203, 0, 113, 6};
  s.server3Ip = {198, 51, 100, 7};
  s.server4Ip = {198, 51, 100, 8};
  s.flagsA = maintenance::kServer1On | maintenance::kSim1On | maintenance::kSim1ApnGiven |
             maintenance::kWebAndPingOn | maintenance::kProgrammingOn;
  s.flagsB = maintenance::kSim1Priority;
  s.mac = {0x02, 0x00, 0x5E, 0x10, 0x20, 0x30};
  s.devicePort = 4001;
  s.server1Port = 5000;
  s.server2Port = 5001;
  s.server3Port = 5002;
  s.server4Port = 5003;
  s.consoleNumber = {1, 0, 1};
  s.apn1.fill(0);
  const std::string apn = "internet";
  std::copy(apn.begin(), apn.end(), s.apn1.begin());
  s.apn2.fill(' ');
  return s;
}

void WriteDat(const std::string& path, const NetworkSettings& s) {
  NetworkBlock b{};
  maintenance::EncodeNetworkSettings(s, b);
  std::string why;
  ASSERT_TRUE(maintenance::WriteSettingsFile(path, b, &why)) << why;
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

NetworkSettings Decoded(const std::string& bytes) {
  NetworkBlock b{};
  std::copy_n(bytes.begin(), std::min(bytes.size(), b.size()), b.begin());
  return maintenance::DecodeNetworkSettings(b);
}

// Types `text` into `w` key by key, as the operator's keyboard does.
void Type(QWidget* w, const QString& text) {
  for (const QChar ch : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
  }
}

using testsupport::MaintenanceDesk;

// ---- "Сетевые настройки прибора." -------------------------------------------

class NetworkWindow : public MaintenanceDesk {
 protected:
  QMainWindow* net = nullptr;

  void Prepare() override { ASSERT_NO_FATAL_FAILURE(WriteDat(dir.File("device.dat"), DeviceSettings())); }
  std::vector<std::string> DeviceArgs() override {
    return {"--maint-versions", "70.10/41.39", "--maint-net-file", dir.File("device.dat"),
            "--maint-net-out", dir.File("written.dat")};
  }

  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(MaintenanceDesk::SetUp());
    net = window->findChild<QMainWindow*>("TNetNastr");
    ASSERT_NE(net, nullptr);
    ASSERT_NO_FATAL_FAILURE(Login("NetNastrButton"));
    ASSERT_TRUE(WaitFor([&] { return net->isVisible(); })) << Log().toStdString();
  }

  QLineEdit* E(const char* name) { return W<QLineEdit>(net, name); }
  QCheckBox* C(const char* name) { return W<QCheckBox>(net, name); }
  QPushButton* B(const char* name) { return W<QPushButton>(net, name); }
  QLabel* L(const char* name) { return W<QLabel>(net, name); }

  void Read() {
    B("ButtonReadWEB")->click();
    ASSERT_TRUE(JobEnds());
    ASSERT_EQ(L("Label22")->text(), "Успешно считано.") << Log().toStdString();
  }
  void AllowEditing() {
    ASSERT_TRUE(C("CheckBoxEdit")->isEnabled());
    C("CheckBoxEdit")->click();
    ASSERT_TRUE(B("ButtonWriteWEB")->isEnabled());
  }
  bool Written() { return ::access(dir.File("written.dat").c_str(), F_OK) == 0; }
};

TEST_F(NetworkWindow, ReadFillsTheFieldsAndEditingIsAllowedOnlyAfterARead) {
  EXPECT_FALSE(W<QTabWidget>(net, "panel")->isVisible()) << "empty until a read";
  EXPECT_FALSE(C("CheckBoxEdit")->isEnabled());
  EXPECT_FALSE(B("ButtonWriteWEB")->isEnabled());
  ASSERT_NO_FATAL_FAILURE(Read());
  EXPECT_TRUE(W<QTabWidget>(net, "panel")->isVisible());
  EXPECT_EQ(L("Label22")->styleSheet(), "color: #800000;") << "maroon for success";
  EXPECT_EQ(L("Label43")->text(), "Успешно считано.");
  const std::pair<const char*, const char*> shown[] = {
      {"Edit2", "192.0.2.10"},  {"Edit3", "4001"},       {"Edit5", "255.255.255.0"},
      {"Edit7", "198.51.100.53"}, {"Edit8", "203.0.113.5"}, {"Edit9", "5000"},
      {"Edit22", "5003"},       {"Edit10", "1/0/1"},     {"edtHost", "02:00:5E:10:20:30"},
      {"Edit14", "internet"},   {"Ipn2", ""},            {"EditSMSN_1", "0000000000"},
      {"Edit13", "0"}};
  for (const auto& [name, text] : shown) EXPECT_EQ(E(name)->text(), text) << name;
  for (const char* on : {"CheckEnServ1", "CheckBox6", "CheckBox7", "CheckBox2", "CheckBox3",
                         "CheckBoxPriorSIM1"})
    EXPECT_TRUE(C(on)->isChecked()) << on;
  EXPECT_FALSE(C("CheckEnServ2")->isChecked());
  // Read, not yet editable.
  EXPECT_TRUE(C("CheckBoxEdit")->isEnabled());
  EXPECT_FALSE(C("CheckBoxEdit")->isChecked());
  EXPECT_FALSE(E("Edit10")->isEnabled());
  EXPECT_FALSE(L("Label13")->isVisible());

  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  EXPECT_FALSE(B("ButtonReadWEB")->isEnabled());
  EXPECT_TRUE(L("Label13")->isVisible());
  EXPECT_TRUE(E("Edit10")->isEnabled());
  EXPECT_TRUE(E("Edit8")->isEnabled()) << "server 1 is on";
  EXPECT_FALSE(E("IpServ2")->isEnabled()) << "server 2 is off";
  EXPECT_TRUE(E("Edit14")->isEnabled()) << "SIM 1 with its APN";
  EXPECT_FALSE(E("Ipn2")->isEnabled()) << "SIM 2 is off";
  EXPECT_FALSE(E("edtHost")->isEnabled()) << "set by the maker";
  // A server box and a SIM box take their fields along.
  C("CheckEnServ2")->click();
  EXPECT_TRUE(E("IpServ2")->isEnabled());
  EXPECT_TRUE(E("PortServ2")->isEnabled());
  C("CheckBox6")->click();
  EXPECT_FALSE(E("Edit14")->isEnabled());
  EXPECT_FALSE(C("CheckBox7")->isEnabled());

  // Unticked, the box itself goes off until the next read.
  C("CheckBoxEdit")->click();
  EXPECT_FALSE(C("CheckBoxEdit")->isEnabled());
  EXPECT_FALSE(E("Edit10")->isEnabled());
  EXPECT_FALSE(E("Edit8")->isEnabled());
  EXPECT_TRUE(B("ButtonReadWEB")->isEnabled());
  EXPECT_FALSE(B("ButtonWriteWEB")->isEnabled());
  ASSERT_NO_FATAL_FAILURE(Read());
  EXPECT_TRUE(C("CheckBoxEdit")->isEnabled());
}

TEST_F(NetworkWindow, AReadWithoutAnAnswerIsShownInRed) {
  devsim->Terminate();
  B("ButtonReadWEB")->click();
  ASSERT_TRUE(JobEnds());
  EXPECT_EQ(L("Label22")->text(), "Ошибка считывания.");
  EXPECT_EQ(L("Label22")->styleSheet(), "color: #ff0000;");
  EXPECT_TRUE(Log().contains("Попытки соединения прерваны")) << Log().toStdString();
  EXPECT_FALSE(W<QTabWidget>(net, "panel")->isVisible());
  EXPECT_FALSE(C("CheckBoxEdit")->isEnabled());
}

TEST_F(NetworkWindow, KeysEachFieldTakes) {
  ASSERT_NO_FATAL_FAILURE(Read());
  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  C("CheckBox5")->click();  // the balance request string of SIM 1 is given
  struct Case {
    const char* field;
    QString before, typed, after;
    QString logged;  // the log's last line afterwards
  };
  const Case cases[] = {
      {"Edit3", "1234", "5", "12345", ""},
      {"Edit3", "12345", "6", "12345", ""},  // a sixth digit
      {"Edit3", "6553", "6", "6553", "Выход за границу диапазона.(>65535)"},
      {"Edit3", "6553", "5", "65535", ""},
      {"Edit9", "", "a.", "", ""},
      {"Edit2", "192.0.2.1", ".", "192.0.2.1", ""},  // a fourth dot
      {"Edit2", "192.0", "x.2", "192.0.2", ""},
      {"Edit10", "1/0/", "/2", "1/0/2", ""},
      {"EditSMSN_1", "912345678", "90", "9123456789", ""},
      {"Edit14", "apn", " x", "apnx", ""},
      {"Edit17", "*100", "#12345", "*100#12345", ""},
      {"Edit17", "*100#12345", "6", "*100#12345", ""},
      {"Edit13", "3", "14", "31", ""},
  };
  for (const Case& c : cases) {
    QLineEdit* e = E(c.field);
    ASSERT_TRUE(e->isEnabled()) << c.field;
    e->setText(c.before);
    W<QPlainTextEdit>(window.get(), "Memo1")->clear();
    Type(e, c.typed);
    EXPECT_EQ(e->text(), c.after) << c.field << " " << c.before.toStdString();
    EXPECT_EQ(Log(), c.logged) << c.field << " " << c.before.toStdString();
  }
}

TEST_F(NetworkWindow, ProgrammingAccessCanOnlyBeSwitchedOff) {
  ASSERT_NO_FATAL_FAILURE(Read());
  ASSERT_TRUE(C("CheckBox3")->isChecked()) << "as the device has it";
  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  C("CheckBox3")->click();
  EXPECT_FALSE(C("CheckBox3")->isChecked());
  C("CheckBox3")->click();
  EXPECT_FALSE(C("CheckBox3")->isChecked()) << "ticked only at the device's keypad";
}

// A file saved from another device, with DHCP on: the address fields stay
// off while editing, and what is written keeps this device's MAC address.
TEST_F(NetworkWindow, ALoadedFileIsWrittenWithTheDevicesOwnMac) {
  ASSERT_NO_FATAL_FAILURE(Read());
  NetworkSettings other = DeviceSettings();
  other.flagsA |= maintenance::kDhcpOn;
  other.mac = {0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F};
  other.server1Ip = {203, 0, 113, 99};
  other.consoleNumber = {2, 0, 5};
  const QString path = QString::fromStdString(dir.File("other.dat"));
  ASSERT_NO_FATAL_FAILURE(WriteDat(path.toStdString(), other));
  files.open = path;
  W<QAction>(net, "N2")->trigger();
  EXPECT_TRUE(files.folders.back().endsWith("/Network_1")) << files.folders.back().toStdString();
  EXPECT_EQ(E("Edit8")->text(), "203.0.113.99");
  EXPECT_EQ(E("edtHost")->text(), "02:00:5E:10:20:30");
  EXPECT_TRUE(C("CheckBox1")->isChecked());

  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  for (const char* address : {"Edit2", "Edit3", "Edit4", "Edit5", "Edit6", "Edit7"})
    EXPECT_FALSE(E(address)->isEnabled()) << address;
  C("CheckBox1")->click();
  EXPECT_TRUE(E("Edit2")->isEnabled());
  C("CheckBox1")->click();
  EXPECT_FALSE(E("Edit2")->isEnabled());

  B("ButtonWriteWEB")->click();
  ASSERT_TRUE(JobEnds());
  EXPECT_EQ(L("Label22")->text(), "Успешно записано.") << Log().toStdString();
  EXPECT_TRUE(Log().contains("Настройки \"SMS сервис\" успешно записаны.")) << Log().toStdString();
  EXPECT_TRUE(B("ButtonReadWEB")->isEnabled());
  const NetworkSettings written = Decoded(ReadFile(dir.File("written.dat")));
  NetworkSettings expected = other;
  expected.mac = DeviceSettings().mac;
  EXPECT_EQ(written, expected);
}

// The operator's edits reach the device; autonomous operation is written only
// after a Yes.
TEST_F(NetworkWindow, WritesTheEditedFieldsAfterTheAutonomousQuestion) {
  ASSERT_NO_FATAL_FAILURE(Read());
  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  E("Edit8")->setText("203.0.113.77");
  E("Edit10")->setText("3/1/250");
  W<QTabWidget>(net, "panel")->setCurrentIndex(3);
  C("CheckSMSOnly")->click();
  EXPECT_TRUE(W<QWidget>(net, "NtpGroup")->isVisible()) << "the NTP group comes with it";
  asker.answers = {false, true};
  B("ButtonWriteWEB")->click();
  ASSERT_EQ(asker.asked.size(), 1u);
  EXPECT_EQ(asker.asked[0],
            "Приложение-\"Сетевые настройки прибора\".|Внимание - Включена \"Автономная "
            "работа\"! Работа с АРМ запрещена! Исполнить?");
  EXPECT_FALSE(window->JobRunning()) << "No sends nothing";
  B("ButtonWriteWEB")->click();
  ASSERT_TRUE(JobEnds());
  EXPECT_EQ(L("Label22")->text(), "Успешно записано.") << Log().toStdString();
  NetworkSettings expected = DeviceSettings();
  expected.server1Ip = {203, 0, 113, 77};
  expected.consoleNumber = {3, 1, 250};
  EXPECT_EQ(Decoded(ReadFile(dir.File("written.dat"))), expected);
}

// A value that the device must not get refuses the write, naming the field
// in the maintenance window's log and showing its tab.
TEST_F(NetworkWindow, ABadValueRefusesTheWriteAndSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(Read());
  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  struct Case {
    const char* field;
    QString text;
    QString logged;
    int tab;
  };
  const Case cases[] = {
      {"Edit2", "192.0.2", "Поле \"IP - прибора\": адрес не полный.", 1},
      {"Edit8", "203.0.113.300", "Поле \"IP - Сервер 1\": часть адреса больше 255.", 0},
      {"Edit9", "", "Поле \"Порт Сервер 1\": порт не задан.", 0},
      {"Edit10", "1/0", "Поле \"Пультовой номер прибора\": номер не полный (N1/N2/N3).", 0},
      {"EditSMSN_2", "12345", "Поле \"Номер телефона 2\": нужно 10 цифр номера.", 3},
  };
  for (const Case& c : cases) {
    const QString good = E(c.field)->text();
    E(c.field)->setText(c.text);
    W<QTabWidget>(net, "panel")->setCurrentIndex(2);
    B("ButtonWriteWEB")->click();
    EXPECT_FALSE(window->JobRunning()) << c.field;
    EXPECT_TRUE(Log().endsWith(c.logged)) << Log().toStdString();
    EXPECT_EQ(W<QTabWidget>(net, "panel")->currentIndex(), c.tab) << c.field;
    E(c.field)->setText(good);
  }
  // Nor is such a value saved to a file.
  E("Edit2")->setText("192.0.2.");
  files.save = QString::fromStdString(dir.File("refused.dat"));
  W<QAction>(net, "N3")->trigger();
  EXPECT_TRUE(Log().endsWith("Поле \"IP - прибора\": адрес не полный.")) << Log().toStdString();
  EXPECT_TRUE(files.folders.empty()) << "no dialog for a refused value";
  EXPECT_NE(::access(dir.File("refused.dat").c_str(), F_OK), 0);
  EXPECT_FALSE(Written()) << "the device got nothing";
}

TEST_F(NetworkWindow, SavesAndLoadsSettingsFiles) {
  ASSERT_NO_FATAL_FAILURE(Read());
  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  E("Edit4")->setText("192.0.2.254");
  const std::string saved = dir.File("Network_1/saved.dat");
  files.save = QString::fromStdString(saved);
  W<QAction>(net, "N3")->trigger();
  ASSERT_EQ(files.folders.size(), 1u);
  EXPECT_EQ(files.folders[0], QString::fromStdString(dir.File("Network_1/Untitled.dat")));
  const std::string bytes = ReadFile(saved);
  ASSERT_EQ(bytes.size(), 110u);
  EXPECT_EQ(bytes.substr(0, 4), std::string("\xEF\x6C\x55\x0C"));
  NetworkSettings expected = DeviceSettings();
  expected.gateway = {192, 0, 2, 254};
  EXPECT_EQ(Decoded(bytes), expected);

  // Loaded back over other values; a cancelled dialog changes nothing.
  E("Edit4")->setText("192.0.2.1");
  files.open.clear();
  W<QAction>(net, "N2")->trigger();
  EXPECT_EQ(E("Edit4")->text(), "192.0.2.1");
  files.open = QString::fromStdString(saved);
  W<QAction>(net, "N2")->trigger();
  EXPECT_EQ(E("Edit4")->text(), "192.0.2.254");

  // A short file is reported and changes nothing; one that cannot be written is a notice.
  testsupport::WriteFile(dir.File("short.dat"), std::string(50, '\x01'));
  files.open = QString::fromStdString(dir.File("short.dat"));
  W<QAction>(net, "N2")->trigger();
  EXPECT_TRUE(Log().contains("short.dat")) << Log().toStdString();
  EXPECT_EQ(E("Edit4")->text(), "192.0.2.254");
  files.save = QString::fromStdString(dir.File("absent/x.dat"));
  W<QAction>(net, "N3")->trigger();
  ASSERT_EQ(asker.notices.size(), 1u);
  EXPECT_TRUE(asker.notices[0].endsWith("|File access error"));
}

TEST_F(NetworkWindow, ClosingKeepsTheGeometryAndGivesTheActionsBack) {
  ASSERT_NO_FATAL_FAILURE(Read());
  net->setGeometry(40, 60, 610, 670);
  for (const char* b : {"btnLoad", "btnPassw", "NetNastrButton", "BitBtn4"})
    ASSERT_FALSE(W<QPushButton>(window.get(), b)->isEnabled()) << b;
  net->close();
  for (const char* b : {"btnLoad", "btnPassw", "NetNastrButton", "BitBtn4"})
    EXPECT_TRUE(W<QPushButton>(window.get(), b)->isEnabled()) << b;
  EXPECT_EQ(W<QProgressBar>(window.get(), "ProgressBar1")->value(), 0);
  const app::Server::Geometry g = server->WindowGeometry("NetNastr", {0, 0, 0, 0});
  EXPECT_EQ(g.left, net->geometry().x());
  EXPECT_EQ(g.top, net->geometry().y());
  EXPECT_EQ(g.width, 610);
  EXPECT_EQ(g.height, 670);
}

// Every caption fits its control on every tab. With RELAY_SCREENSHOT_DIR set,
// the window is saved there as pictures, one per tab and one with the help.
TEST_F(NetworkWindow, CaptionsFitTheirControls) {
  ASSERT_NO_FATAL_FAILURE(Read());
  EXPECT_EQ(net->size(), QSize(599, 663)) << "the window's size as the settings give it";
  ASSERT_NO_FATAL_FAILURE(AllowEditing());
  W<QTabWidget>(net, "panel")->setCurrentIndex(3);
  C("CheckSMSOnly")->click();  // the NTP group shown
  auto* tabs = W<QTabWidget>(net, "panel");
  for (int k = 0; k < tabs->count(); ++k) {
    tabs->setCurrentIndex(k);
    QTest::qWait(20);
    for (QWidget* w : net->findChildren<QWidget*>()) {
      if (!w->isVisible()) continue;
      // A push button's own size is its style's; its text must fit inside.
      const int needs = qobject_cast<QPushButton*>(w)
                            ? w->fontMetrics().horizontalAdvance(w->property("text").toString()) + 6
                        : qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)
                            ? w->sizeHint().width()
                            : 0;
      if (needs == 0) continue;
      EXPECT_GE(w->width(), needs) << tabs->tabText(k).toStdString() << ": "
                                   << w->objectName().toStdString() << " "
                                   << w->property("text").toString().toStdString();
      EXPECT_GE(w->height(), w->minimumSizeHint().height()) << w->objectName().toStdString();
    }
    for (QLineEdit* e : net->findChildren<QLineEdit*>()) {
      if (!e->isVisible()) continue;
      EXPECT_GE(e->width(), e->fontMetrics().horizontalAdvance(e->text()))
          << e->objectName().toStdString();
    }
  }
  const QString shots = qEnvironmentVariable("RELAY_SCREENSHOT_DIR");
  if (shots.isEmpty()) return;
  const char* names[] = {"servers", "ethernet", "gsm", "sms"};
  for (int k = 0; k < tabs->count(); ++k) {
    tabs->setCurrentIndex(k);
    QTest::qWait(50);
    EXPECT_TRUE(net->grab().save(shots + "/maintenance-network-" + names[k] + ".png"));
  }
  B("SpeedButton2")->click();
  QTest::qWait(50);
  EXPECT_TRUE(net->grab().save(shots + "/maintenance-network-help.png"));
  B("SpeedButton2")->click();
  tabs->setCurrentIndex(0);
  QTest::qWait(50);
  EXPECT_TRUE(net->grab().save(shots + "/maintenance-network.png"));
}

}  // namespace
