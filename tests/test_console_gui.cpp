// The operator console driven by its controls' names, offscreen, over a real
// server on a temporary data folder with loopback ports and a socat pair.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QKeySequence>
#include <QTest>

#include <cstdio>
#include <cstdlib>

#include <sys/file.h>
#include <sys/stat.h>

#include <deque>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "app/server.h"
#include "console/gui/asker.h"
#include "console/gui/device_table_model.h"
#include "console/gui/main_window.h"
#include "tests/support/child_process.h"
#include "tests/support/netns.h"
#include "tests/support/safe_network_ini.h"
#include "tests/support/scripted_asker.h"
#include "tests/support/socat_pair.h"

namespace {

using namespace std::chrono_literals;
using console::gui::MainWindow;
using testsupport::InternetCheck;

const std::string kBin = RELAY_BIN_DIR;
constexpr size_t kRecordBytes = 3166;

using testsupport::ScriptedAsker;

// Types `text` into `w` key by key, letters of any alphabet included (the
// test library's own typing takes ASCII only).
void Type(QWidget* w, const QString& text) {
  for (const QChar ch : text) {
    const int key = ch.unicode() < 0x80 ? QKeySequence(QString(ch))[0].key() : Qt::Key_unknown;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(ch));
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

class Console : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string ports = dir.File("ports");
  std::unique_ptr<testsupport::SocatPair> pair;
  unsigned short port = testsupport::FreeUdpPort();
  std::unique_ptr<app::Server> server;
  ScriptedAsker asker;
  std::unique_ptr<MainWindow> window;

  void SetUp() override {
    ::mkdir(ports.c_str(), 0755);
    pair = std::make_unique<testsupport::SocatPair>(ports);
  }
  void TearDown() override {
    if (window) window->Shutdown(false);
    window.reset();
    server.reset();
  }

  std::string Ndx() const { return dir.File("relay-server.ndx"); }
  std::string Ini() const { return dir.File("relay-server.ini"); }

  // The internet check is off unless the test is about it.
  void WriteSettings(const std::string& extra = "", InternetCheck check = InternetCheck::kOff) {
    const std::string form1 = "[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\nEditPortServ1=" +
                              std::to_string(port) + "\r\n" + extra;
    testsupport::WriteFile(Ini(), testsupport::SafeNetworkIni(form1, check));
  }

  void MakeRegistry(int devices) {
    ASSERT_EQ(testsupport::ChildProcess(kBin + "/devsim",
                                        {"--make-ndx", Ndx(), "--devices", std::to_string(devices),
                                         "--first", "1/0/1", "--port", "4001"})
                  .Wait(10s),
              0);
  }

  // The server and its window, shown: the start-up runs.
  void Open(const std::string& dataDir = "") {
    app::ServerConfig cfg;
    cfg.dataDir = dataDir.empty() ? dir.Path() : dataDir;
    cfg.portsDir = ports;
    // Ticks ten times as fast as the operator's: the five-minute timer runs out
    // after 30 s, longer than any test waits for a device or a line.
    cfg.tickMs = 100;
    server = std::make_unique<app::Server>(cfg);
    std::string error;
    ASSERT_TRUE(server->LoadSettings(&error)) << error;
    window = std::make_unique<MainWindow>(*server, asker);
    window->show();
    window->Poll();
  }

  template <typename T>
  T* W(const char* name) {
    T* w = window->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QAction* A(const char* name) { return W<QAction>(name); }

  QString MemoText() {
    window->Poll();
    return W<QPlainTextEdit>("Memo1")->toPlainText();
  }

  devlink::ClientRecord Record(size_t i) {
    std::lock_guard<std::mutex> lock(server->Link().Lock);
    return server->Store().Table()[i];
  }

  // Model row showing client index `index`, or -1.
  int RowOf(int index) {
    auto* view = W<QTableView>("StringGridIpAdr");
    for (int r = 0; r < view->model()->rowCount(); ++r)
      if (view->model()->index(r, 3).data().toString() == QString::number(index)) return r;
    return -1;
  }

  // Waits while events run until `done` holds.
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      QTest::qWait(10);
    }
    return true;
  }

  // relayctl on this console's data folder; its exit status, and what it
  // printed in `output`.
  int Relayctl(std::vector<std::string> args) {
    QStringList list = {"--data-dir", QString::fromStdString(dir.Path()), "--yes"};
    for (const auto& a : args) list << QString::fromStdString(a);
    QProcess p;
    p.start(QString::fromStdString(kBin + "/relayctl"), list);
    // The console serves the socket from its own event loop, which runs here.
    EXPECT_TRUE(WaitFor([&] { return p.state() == QProcess::NotRunning; }, 10s));
    output = p.readAllStandardOutput().toStdString() + p.readAllStandardError().toStdString();
    return p.exitCode();
  }
  std::string output;
};

// ---- start-up, defaults and the window ----------------------------------------

// A settings file with only the deployment's probe host: the console's settings are defaults.
TEST_F(Console, DefaultsWithoutConsoleSettings) {
  testsupport::WriteFile(Ini(), testsupport::SafeNetworkIni("", InternetCheck::kAsWritten));
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(window->width(), MainWindow::kWidth);
  auto* tabs = W<QTabWidget>("PageControl1");
  ASSERT_EQ(tabs->count(), 6);
  const QStringList titles = {"Трафик", "Обслуживание", "Отладка", "Регистрация", "Настройки",
                              "SurGard"};
  for (int k = 0; k < 6; ++k) EXPECT_EQ(tabs->tabText(k), titles[k]);
  EXPECT_FALSE(tabs->isTabVisible(5)) << "the SurGard tab stays hidden";

  EXPECT_TRUE(W<QCheckBox>("SetKarta_11")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("SetKarta_22")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("GSM_Modem")->isChecked());
  EXPECT_EQ(W<QComboBox>("IpAdrrServ_1")->currentText(), "0.0.0.0");
  EXPECT_EQ(W<QLineEdit>("EditPortServ1")->text(), "5000");
  EXPECT_TRUE(W<QCheckBox>("CheckBox_Internet")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("CheckPOVTORTLG")->isChecked());
  EXPECT_EQ(W<QComboBox>("BoxNPovtor")->currentText(), " 2 повтора");
  EXPECT_EQ(W<QComboBox>("BoxTimePovtor")->currentText(), " 10 сек.");
  const console::ConsoleSettings& s = server->Settings();
  EXPECT_EQ(s.GlNaruchUO, 10);
  EXPECT_EQ(s.GlNPovtor, 3);
  EXPECT_EQ(s.GlTimePovtor, 15);
  EXPECT_EQ(s.GlTraficLines, 999);
  EXPECT_EQ(W<QLineEdit>("Edit2")->text(), "999");
  EXPECT_FALSE(s.GlTraficRun);
  EXPECT_TRUE(W<QPushButton>("ButtonStop")->isChecked());
  EXPECT_TRUE(W<QCheckBox>("CheckOutEthern")->isChecked());
  EXPECT_TRUE(W<QCheckBox>("CheckDopFunc")->isChecked());
  EXPECT_FALSE(W<QCheckBox>("CheckBox3")->isChecked());
  EXPECT_FALSE(W<QLabel>("LabelRegPermanent")->isVisibleTo(window.get()));
  EXPECT_TRUE(W<QLabel>("LabelVersion")->text().startsWith(" Версия "));
  EXPECT_EQ(W<QLabel>("LabelGrid")->text(), "Зарегистрированные приборы");
  EXPECT_TRUE(MemoText().contains("CNCB0 - Успешно открыт."));
}

TEST_F(Console, WidthStaysAndTheWindowGoesToTheTrayOrMinimises) {
  WriteSettings("Left=40\r\nTop=50\r\nHeight=420\r\n");
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(window->height(), 420);
  window->resize(1200, 500);
  QTest::qWait(20);
  EXPECT_EQ(window->width(), MainWindow::kWidth);
  // Offscreen there is no tray: the window is minimised, never hidden for good.
  ASSERT_FALSE(window->TrayAvailable());
  EXPECT_TRUE(WaitFor([&] { return window->isMinimized(); }, 2s));
  EXPECT_TRUE(window->isVisible());
  window->ShowFromTray();
  EXPECT_FALSE(window->isMinimized());
  // A restore does not start anything again.
  EXPECT_EQ(MemoText().count("CNCB0 - Успешно открыт."), 1);
}

TEST_F(Console, ClosingWithNoKeepsEverythingWithYesWritesBothFiles) {
  WriteSettings();
  MakeRegistry(3);
  ASSERT_NO_FATAL_FAILURE(Open());
  ::unlink(Ndx().c_str());
  ::unlink(Ini().c_str());
  asker.answers = {false};
  EXPECT_FALSE(window->close());
  ASSERT_EQ(asker.asked.size(), 1u);
  EXPECT_EQ(asker.asked[0],
            "Сервер-ретранслятор|Внимание - связь с приборами будет нарушена! Исполнить?");
  EXPECT_TRUE(server->Running());
  EXPECT_FALSE(window->ShutDown());

  asker.answers = {true};
  EXPECT_TRUE(window->close());
  EXPECT_FALSE(server->Running());
  EXPECT_EQ(ReadFile(Ndx()).size(), 3 * kRecordBytes);
  const std::string ini = ReadFile(Ini());
  EXPECT_NE(ini.find("EditPortServ1=" + std::to_string(port)), std::string::npos) << ini;
  EXPECT_NE(ini.find("Width=985"), std::string::npos) << ini;
}

// SIGTERM while the closing question is open ends everything once; the
// answer that comes after changes nothing.
TEST_F(Console, AStopWhileTheClosingQuestionIsOpenHappensOnce) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  asker.whileAsking = [&] { EXPECT_TRUE(window->Shutdown(false)); };
  asker.answers = {false};
  EXPECT_TRUE(window->Shutdown(true));
  EXPECT_TRUE(window->ShutDown());
  EXPECT_FALSE(server->Running());
  EXPECT_EQ(MemoText().count("CNCB0 - закрыт."), 1);
}

TEST_F(Console, TheRealQuestionBoxesSayTheirTwoAnswersAndEscapeIsNo) {
  for (const auto& [yes, no] : {std::pair<QString, QString>{"Да", "Нет"}, {"OK", "Отмена"}}) {
    auto box = yes == "Да" ? console::gui::MakeQuestionBox(nullptr, "Заголовок", "Исполнить?")
                           : console::gui::MakeQuestionBox(nullptr, "Заголовок", "Исполнить?", yes, no);
    EXPECT_EQ(box->windowTitle(), "Заголовок");
    EXPECT_EQ(box->text(), "Исполнить?");
    QStringList texts;
    for (QAbstractButton* b : box->buttons()) texts << b->text();
    EXPECT_EQ(texts.size(), 2);
    EXPECT_TRUE(texts.contains(yes) && texts.contains(no)) << texts.join(",").toStdString();
    ASSERT_NE(box->escapeButton(), nullptr);
    EXPECT_EQ(box->escapeButton()->text(), no);
    QTimer::singleShot(0, box.get(), [&] { QTest::keyClick(box.get(), Qt::Key_Escape); });
    box->exec();
    EXPECT_EQ(box->clickedButton()->text(), no);
  }
}

// ---- tab "Настройки" ----------------------------------------------------------------

struct LockCase {
  bool editing, repeat, internet;
};

class EditLock : public Console, public ::testing::WithParamInterface<LockCase> {};

TEST_P(EditLock, EnablesTheSettingsByTheirRules) {
  const LockCase c = GetParam();
  const std::string extra = std::string("CheckPOVTORTLG=") + (c.repeat ? "1" : "0") +
                            "\r\nCheckBox_Internet=" + (c.internet ? "1" : "0") + "\r\n";
  WriteSettings(extra, InternetCheck::kAsWritten);
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QTabWidget>("PageControl1")->setCurrentIndex(4);
  W<QCheckBox>("VklRedParam")->setChecked(c.editing);
  for (const char* name : {"EditPortServ1", "IpPortApply", "SpeedButton9", "ComboBox1",
                           "CheckBox_Internet", "CheckDopFunc", "SetKarta_22"})
    EXPECT_EQ(W<QWidget>(name)->isEnabled(), c.editing) << name;
  for (const char* name : {"BoxNPovtor", "BoxTimePovtor", "LabelNPovtor"})
    EXPECT_EQ(W<QWidget>(name)->isEnabled(), c.editing && c.repeat) << name;
  EXPECT_EQ(W<QWidget>("CheckAvarOrvane")->isEnabled(), c.editing && c.internet);
  EXPECT_EQ(W<QCheckBox>("CheckAvarOrvane")->isChecked(), c.internet)
      << "without the check there is no blocking";
}

INSTANTIATE_TEST_SUITE_P(Cases, EditLock,
                         ::testing::Values(LockCase{false, true, true}, LockCase{true, false, true},
                                           LockCase{true, true, false}, LockCase{true, true, true}),
                         [](const auto& info) {
                           const LockCase& c = info.param;
                           return std::string(c.editing ? "Editing" : "Locked") +
                                  (c.repeat ? "Repeat" : "NoRepeat") +
                                  (c.internet ? "Internet" : "NoInternet");
                         });

TEST_F(Console, InterfacesAndGatewaysShowByTheirBoxes) {
  WriteSettings("", InternetCheck::kAsWritten);
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QTabWidget>("PageControl1")->setCurrentIndex(4);
  W<QCheckBox>("VklRedParam")->setChecked(true);
  const auto shown = [&](const char* name) { return W<QWidget>(name)->isVisibleTo(window.get()); };
  EXPECT_TRUE(shown("IpAdrrServ_1"));
  EXPECT_FALSE(shown("IpAdrrServ_2"));
  EXPECT_FALSE(shown("GateWay1"));
  EXPECT_FALSE(shown("LabelGateWay"));
  W<QCheckBox>("SetKarta_22")->click();
  W<QCheckBox>("CheckBoxMetric")->click();
  EXPECT_TRUE(shown("IpAdrrServ_2"));
  EXPECT_TRUE(shown("EditPortServ2"));
  EXPECT_TRUE(shown("GateWay1"));
  EXPECT_TRUE(shown("GateWay2"));
  EXPECT_FALSE(shown("GateWayGSM")) << "a gateway shows only for an interface in use";
  EXPECT_TRUE(shown("LabelActive"));
  EXPECT_TRUE(server->Settings().GlMetricActive);
  // Switching the internet check off clears the blocking, box and setting.
  W<QCheckBox>("CheckBox_Internet")->click();
  EXPECT_FALSE(W<QCheckBox>("CheckAvarOrvane")->isChecked());
  EXPECT_FALSE(server->Settings().GlAvarInetBlock);
}

TEST_F(Console, LeavingTheComboBoxesAppliesTheOperatorsFormulas) {
  WriteSettings("BoxTimePovtor=2\r\n");
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_EQ(server->Settings().GlTimePovtor, 20) << "read from the file: item * 5 + 10";
  const auto leave = [&](const char* name, int item) {
    auto* c = W<QComboBox>(name);
    c->setCurrentIndex(item);
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(c, &out);
  };
  leave("BoxTimePovtor", 2);
  EXPECT_EQ(server->Settings().GlTimePovtor, 15) << "left by the operator: item * 5 + 5";
  leave("ComboBoxNaruchUO", 1);
  EXPECT_EQ(server->Settings().GlNaruchUO, 13);
  leave("BoxNPovtor", 2);
  EXPECT_EQ(server->Settings().GlNPovtor, 4);
  // The file gets the items at the end of the editing.
  W<QTabWidget>("PageControl1")->setCurrentIndex(4);
  W<QCheckBox>("VklRedParam")->setChecked(true);
  W<QCheckBox>("VklRedParam")->setChecked(false);
  const std::string ini = ReadFile(Ini());
  EXPECT_NE(ini.find("NaruchUO=1\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("BoxTimePovtor=2\r\n"), std::string::npos) << ini;
}

// Leaving the settings tab ends the editing: the file is written and the
// network settings applied, so the server listens where the operator said.
TEST_F(Console, LeavingTheSettingsTabWritesAndAppliesThem) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  auto* tabs = W<QTabWidget>("PageControl1");
  tabs->setCurrentIndex(4);
  W<QCheckBox>("VklRedParam")->setChecked(true);
  const unsigned short moved = testsupport::FreeUdpPort();
  auto* field = W<QLineEdit>("EditPortServ1");
  field->setText(QString::number(moved));
  emit field->editingFinished();
  tabs->setCurrentIndex(0);
  EXPECT_FALSE(W<QCheckBox>("VklRedParam")->isChecked());
  EXPECT_FALSE(field->isEnabled());
  EXPECT_NE(ReadFile(Ini()).find("EditPortServ1=" + std::to_string(moved) + "\r\n"),
            std::string::npos);
  EXPECT_TRUE(testsupport::WaitUdpBound(moved, 2s));
}

// "Виртуальный порт" closes the port and opens the one chosen.
TEST_F(Console, ChoosingAnotherVirtualPortReopensIt) {
  WriteSettings();
  testsupport::SocatPair second(ports, "CNCB1", "CNCA1");
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QTabWidget>("PageControl1")->setCurrentIndex(4);
  W<QCheckBox>("VklRedParam")->setChecked(true);
  auto* box = W<QComboBox>("ComboBox1");
  box->setCurrentIndex(1);
  emit box->activated(1);
  const QString text = MemoText();
  EXPECT_TRUE(text.contains("CNCB0 - закрыт.\nCNCB1 - Успешно открыт.")) << text.toStdString();
  EXPECT_TRUE(server->PortOpen());
  EXPECT_EQ(server->Form1().NnPort, 1);
}

TEST_F(Console, SaveWithTheStateOptionShowsTheWarningPanel) {
  WriteSettings("CheckSostAvar=1\r\n");
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QTabWidget>("PageControl1")->setCurrentIndex(4);
  W<QCheckBox>("VklRedParam")->setChecked(true);
  W<QPushButton>("SpeedButton9")->click();
  auto* panel = W<QWidget>("PanelWarning");
  EXPECT_TRUE(panel->isVisibleTo(window.get()));
  QStringList lines;
  for (QLabel* l : panel->findChildren<QLabel*>()) lines << l->text();
  EXPECT_TRUE(lines.contains("не будут регистрироваться."));
  W<QPushButton>("ButtonCloseWarning")->click();
  EXPECT_FALSE(panel->isVisibleTo(window.get()));
}

// ---- tab "Регистрация" ----------------------------------------------------------------

struct KeysCase {
  const char* typed;
  const char* kept;
};

class NumberFieldKeys : public Console, public ::testing::WithParamInterface<KeysCase> {};

TEST_P(NumberFieldKeys, KeepOnlyWhatTheRulesAccept) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  auto* field = W<QLineEdit>("EditRegOne");
  W<QTabWidget>("PageControl1")->setCurrentIndex(3);
  field->setFocus();
  Type(field, QString::fromUtf8(GetParam().typed));
  EXPECT_EQ(field->text(), QString::fromUtf8(GetParam().kept));
}

INSTANTIATE_TEST_SUITE_P(Cases, NumberFieldKeys,
                         ::testing::Values(KeysCase{"1/123", "1/12"}, KeysCase{"/1", "1"},
                                           KeysCase{"1/2/3/4", "1/2/34"},
                                           KeysCase{"1а/b0", "1/0"}, KeysCase{"123", "12"}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

// Pasted text obeys the same rules, and touching the field by any means
// closes an open registration.
TEST_F(Console, PastingIntoTheNumberFieldFollowsTheKeyRules) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QRadioButton>("RegOll")->click();
  asker.answers = {true};
  W<QCheckBox>("CheckBox3")->click();
  ASSERT_TRUE(server->Settings().GlRegOn);
  W<QRadioButton>("RegOne")->click();
  asker.answers = {true};
  W<QCheckBox>("CheckBox3")->click();
  ASSERT_TRUE(server->Settings().GlRegOn);
  auto* field = W<QLineEdit>("EditRegOne");
  field->clear();
  field->setFocus();
  QApplication::clipboard()->setText("7/0/123");
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field->text().toStdString(), "") << "three digits in a part are refused";
  EXPECT_TRUE(server->Settings().GlRegOn) << "a refused paste changes nothing";
  QApplication::clipboard()->setText("7/0/12");
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field->text().toStdString(), "7/0/12");
  EXPECT_FALSE(server->Settings().GlRegOn);
  EXPECT_FALSE(W<QCheckBox>("CheckBox3")->isChecked());
}

TEST_F(Console, RegistrationForAllWithYesAndNo) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QRadioButton>("RegOll")->click();
  EXPECT_FALSE(W<QLineEdit>("EditRegOne")->isVisibleTo(window.get()));
  asker.answers = {false};
  W<QCheckBox>("CheckBox3")->click();
  ASSERT_EQ(asker.asked.size(), 1u);
  EXPECT_EQ(asker.asked[0],
            "Сервер-ретранслятор|Внимание - включена регистрация на 5мин.! Исполнить?");
  EXPECT_FALSE(W<QCheckBox>("CheckBox3")->isChecked());
  EXPECT_FALSE(server->Settings().GlRegOn);

  asker.answers = {true};
  W<QCheckBox>("CheckBox3")->click();
  EXPECT_TRUE(W<QCheckBox>("CheckBox3")->isChecked());
  EXPECT_TRUE(server->Settings().GlRegOn);
  EXPECT_FALSE(server->Settings().GlRegOne);
  // Touching the mode closes it again and writes the registry.
  W<QRadioButton>("RegOne")->click();
  EXPECT_FALSE(server->Settings().GlRegOn);
  EXPECT_FALSE(W<QCheckBox>("CheckBox3")->isChecked());
  EXPECT_TRUE(WaitFor([&] { return ReadFile(Ndx()).size() > 0; }));
}

TEST_F(Console, RegistrationOfOneNumberAndNoNeverClearsThePermanentState) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  auto* field = W<QLineEdit>("EditRegOne");
  field->setText("3/0/7");
  emit field->editingFinished();
  asker.answers = {true};
  W<QCheckBox>("CheckBox3")->click();
  EXPECT_EQ(asker.asked.back(),
            "Сервер-ретранслятор|Внимание - включена постоянная регистрация! Исполнить?");
  EXPECT_TRUE(server->Settings().GlRegOn);
  EXPECT_TRUE(server->Settings().GlRegOne);
  EXPECT_TRUE(server->Settings().GlRegNPult.Load() == (devlink::ConsoleNumber{3, 0, 7}));
  EXPECT_EQ(field->text(), "3/0/7");

  W<QCheckBox>("CheckBox3")->click();  // off
  server->Settings().GlRegPermanent = true;
  asker.answers = {false};
  W<QCheckBox>("CheckBox3")->click();
  EXPECT_FALSE(server->Settings().GlRegOn);
  EXPECT_TRUE(server->Settings().GlRegPermanent);
}

// ---- tab "Трафик" -----------------------------------------------------------------

struct CapCase {
  const char* typed;
  const char* shown;
  int cap;
};

class TrafficCap : public Console, public ::testing::WithParamInterface<CapCase> {};

TEST_P(TrafficCap, IsClampedAndShownAsApplied) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  auto* edit = W<QLineEdit>("Edit2");
  edit->clear();
  edit->setFocus();
  Type(edit, QString::fromUtf8(GetParam().typed));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(edit->text(), QString::fromUtf8(GetParam().shown));
  EXPECT_EQ(server->Settings().GlTraficLines, GetParam().cap);
  EXPECT_EQ(W<QPlainTextEdit>("MemoTrafic")->maximumBlockCount(), GetParam().cap + 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, TrafficCap,
                         ::testing::Values(CapCase{"70000", "65535", 65535},
                                           CapCase{"123456", "12345", 12345},
                                           CapCase{"0", "1", 1}, CapCase{"", "200", 200},
                                           CapCase{"5x0", "50", 50}),
                         [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(Console, TraceLinesReachTheTrafficWindowAndLoweringTheCapTrimsIt) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QPushButton>("ButtonPusk")->click();
  EXPECT_TRUE(server->Settings().GlTraficRun);
  for (int k = 0; k < 50; ++k)
    server->Sink().DeviceTraceUnfiltered(std::vector<uint8_t>(128, uint8_t(k)).data(), "10.0.0.1",
                                         4001, false, false, false);
  window->Poll();
  auto* memo = W<QPlainTextEdit>("MemoTrafic");
  EXPECT_EQ(memo->blockCount(), 50);
  auto* edit = W<QLineEdit>("Edit2");
  edit->setText("9");
  emit edit->editingFinished();
  EXPECT_EQ(memo->blockCount(), 10) << "the cap's lines and one more";
  // The message window keeps its last thousand lines.
  for (int k = 0; k < 1005; ++k) server->Sink().Message("строка " + std::to_string(k));
  window->Poll();
  auto* messages = W<QPlainTextEdit>("Memo1");
  EXPECT_EQ(messages->blockCount(), 1000);
  EXPECT_TRUE(messages->document()->lastBlock().text().endsWith("строка 1004"));
  // Changing the tab stops the trace.
  W<QTabWidget>("PageControl1")->setCurrentIndex(2);
  EXPECT_FALSE(server->Settings().GlTraficRun);
  EXPECT_TRUE(W<QPushButton>("ButtonStop")->isChecked());
}

// ---- the grid and its menus --------------------------------------------------------

TEST_F(Console, GridHeaderWidthsAndBothSorts) {
  WriteSettings();
  MakeRegistry(4);
  ASSERT_NO_FATAL_FAILURE(Open());
  auto* view = W<QTableView>("StringGridIpAdr");
  const QStringList header = {"IP Адрес", "Порт прибора", "Пультовой N", "N стр.", "Выкл."};
  const int widths[] = {151, 114, 101, 73, 42};
  for (int c = 0; c < 5; ++c) {
    EXPECT_EQ(view->model()->headerData(c, Qt::Horizontal).toString(), header[c]);
    EXPECT_EQ(view->columnWidth(c), widths[c]);
  }
  ASSERT_EQ(view->model()->rowCount(), 4);
  EXPECT_EQ(view->model()->index(0, 2).data().toString(), "1/0/1");

  QMenu* menu = window->PrepareHeaderMenu(0);
  EXPECT_FALSE(A("ActionSortAsc")->isEnabled()) << "only the number columns sort";
  menu = window->PrepareHeaderMenu(3);
  EXPECT_TRUE(A("ActionSortDesc")->isEnabled());
  A("ActionSortDesc")->trigger();
  EXPECT_EQ(view->model()->index(0, 3).data().toString(), "3");
  window->PrepareHeaderMenu(2);
  A("ActionSortAsc")->trigger();
  EXPECT_EQ(view->model()->index(0, 2).data().toString(), "1/0/1");
  (void)menu;
  // "Обновить таблицу" shows the records in index order, whatever the sort.
  window->PrepareHeaderMenu(3);
  A("ActionSortDesc")->trigger();
  W<QPushButton>("ButtonRefreshGrid")->click();
  EXPECT_EQ(view->model()->index(0, 3).data().toString(), "0");
}

TEST_F(Console, ADeviceRegisteringRefreshesItsRow) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(Open());
  server->OpenRegistrationAll();
  testsupport::ChildProcess devsim(
      kBin + "/devsim", {"--server", "127.0.0.1:" + std::to_string(port), "--devices", "1",
                         "--first", "2/0/9", "--heartbeats", "1"});
  ASSERT_TRUE(WaitFor([&] { return RowOf(0) >= 0; }))
      << MemoText().toStdString();
  auto* model = W<QTableView>("StringGridIpAdr")->model();
  EXPECT_EQ(model->index(RowOf(0), 2).data().toString(), "2/0/9");
  EXPECT_EQ(model->index(RowOf(0), 0).data().toString(), "127.1.0.1");
  EXPECT_EQ(devsim.Wait(10s), 0);
}

struct PopupCase {
  const char* name;
  const char* action;
  bool answer;           // to the question, for the items that ask one
  int switchedOff;       // the record's flag afterwards
  const char* offCell;   // "Выкл." afterwards
  int kind;              // service request queued, -1 for none
  bool substPermit;
};

void PrintTo(const PopupCase& c, std::ostream* os) { *os << c.name; }

class Popup : public Console, public ::testing::WithParamInterface<PopupCase> {};

TEST_P(Popup, ItemActsOnTheDeviceOfTheRow) {
  const PopupCase& c = GetParam();
  WriteSettings();
  MakeRegistry(3);
  ASSERT_NO_FATAL_FAILURE(Open());
  if (std::string(c.action) == "ActionSwitchOn") {
    std::lock_guard<std::mutex> lock(server->Link().Lock);
    server->Store().Table()[1].switchedOff = 1;
  }
  W<QCheckBox>("CheckPodmena")->setChecked(true);
  W<QPushButton>("ButtonPusk")->click();  // the relayed request shows in the trace
  window->PrepareGridMenu(RowOf(1));
  ASSERT_TRUE(A(c.action)->isVisible()) << c.action;
  asker.answers = {c.answer};
  A(c.action)->trigger();
  window->Poll();
  const devlink::ClientRecord r = Record(1);
  EXPECT_EQ(r.switchedOff, c.switchedOff);
  EXPECT_EQ(W<QTableView>("StringGridIpAdr")->model()->index(RowOf(1), 4).data().toString(),
            c.offCell);
  EXPECT_EQ(r.substPermit != 0, c.substPermit);
  EXPECT_EQ(r.serviceAnswerExpected != 0, c.kind >= 0);
  if (c.kind >= 0) {
    // The workstation worker relays it to the device 1/0/2 like a command.
    const char* wire[] = {"08 03 01 00 02 00 .. 80 00", "09 03 01 00 02 00 .. 7F 01",
                          "09 03 01 00 02 00 .. 7F 02", "09 03 01 00 02 00 .. 7E 01",
                          "09 03 01 00 02 00 .. 7E 02", "09 03 01 00 02 00 .. 7D 01",
                          "09 03 01 00 02 00 .. 7D 02"};
    const QRegularExpression sent(QString("\\(E\\)W127\\.1\\.0\\.2\\[4001\\]:EA ") +
                                  wire[c.kind]);
    EXPECT_TRUE(WaitFor([&] {
      window->Poll();
      return W<QPlainTextEdit>("MemoTrafic")->toPlainText().contains(sent);
    })) << W<QPlainTextEdit>("MemoTrafic")->toPlainText().toStdString();
  }
  EXPECT_EQ(Record(0).switchedOff, 0) << "other records stay as they were";
}

INSTANTIATE_TEST_SUITE_P(
    Items, Popup,
    ::testing::Values(PopupCase{"SwitchOffYes", "ActionSwitchOff", true, 1, "1", 5, false},
                      PopupCase{"SwitchOffNo", "ActionSwitchOff", false, 0, "", -1, false},
                      PopupCase{"SwitchOn", "ActionSwitchOn", true, 0, "", 6, false},
                      PopupCase{"Balance", "ActionReqBalance1", true, 0, "", 3, false},
                      PopupCase{"Substitution", "ActionPodmena", true, 0, "", -1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Console, TheFilterAndTheDeletionFollowTheRow) {
  WriteSettings();
  MakeRegistry(3);
  ASSERT_NO_FATAL_FAILURE(Open());
  window->PrepareGridMenu(RowOf(2));
  A("ActionSetFilter")->trigger();
  EXPECT_EQ(W<QLineEdit>("FiltrNPult")->text(), "1/0/3");
  EXPECT_EQ(server->Settings().GlFiltrNStruct, 2);
  EXPECT_FALSE(server->Settings().GlFiltrOn) << "the filter is set, not switched on";

  window->PrepareGridMenu(RowOf(2));
  EXPECT_FALSE(A("ActionDeleteReg")->isVisible());
  W<QCheckBox>("CheckDelOne")->click();
  window->PrepareGridMenu(RowOf(2));
  EXPECT_TRUE(A("ActionDeleteReg")->isVisible());
  asker.answers = {true};
  A("ActionDeleteReg")->trigger();
  window->Poll();
  EXPECT_EQ(Record(2).inUse, 0);
  EXPECT_EQ(RowOf(2), -1);
  EXPECT_FALSE(W<QCheckBox>("CheckDelOne")->isChecked()) << "one deletion per permission";
}

// The rows may change while a question is on the screen: the action then
// finds another device in the record and does nothing to it.
TEST_F(Console, AQuestionAnsweredAfterTheRecordChangedActsOnNoOtherDevice) {
  WriteSettings();
  MakeRegistry(3);
  ASSERT_NO_FATAL_FAILURE(Open());
  window->PrepareGridMenu(RowOf(1));
  asker.whileAsking = [&] {
    std::lock_guard<std::mutex> lock(server->Link().Lock);
    devlink::ClientRecord& r = server->Store().Table()[1];
    r.n3 = 77;  // another device registered into the record meanwhile
  };
  asker.answers = {true};
  A("ActionSwitchOff")->trigger();
  EXPECT_EQ(Record(1).switchedOff, 0);
  EXPECT_EQ(Record(1).serviceAnswerExpected, 0) << "no request was queued";
  EXPECT_TRUE(MemoText().contains("Прибор Пульт.N=1/0/2 больше не в строке N стр. 1"));
}

// ---- a second copy ----------------------------------------------------------------

class SecondCopy : public Console, public ::testing::WithParamInterface<bool> {};

// Another server holds the workstation port (true) or the data folder (false):
// two seconds after the start the copy asks, and ends without writing the
// registry; its settings are still written.
TEST_P(SecondCopy, AsksAndLeavesTheRegistryByteIdentical) {
  WriteSettings();
  MakeRegistry(3);
  const std::string before = ReadFile(Ndx());
  int held = -1;
  app::ServerConfig first;
  first.dataDir = dir.Path();
  first.portsDir = dir.File("nowhere");
  std::unique_ptr<app::Server> other;
  if (GetParam()) {
    held = ::open(pair->A().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  } else {
    other = std::make_unique<app::Server>(first);
    std::string error;
    ASSERT_TRUE(other->LoadSettings(&error)) << error;
  }
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_TRUE(server->SecondCopy());
  {
    // The copy's table no longer matches the file: a write would show.
    std::lock_guard<std::mutex> lock(server->Link().Lock);
    server->Store().Table()[0].switchedOff = 1;
  }
  asker.answers = {true};
  EXPECT_TRUE(WaitFor([&] { return window->ShutDown(); }, 4s));
  ASSERT_FALSE(asker.asked.empty());
  EXPECT_EQ(asker.asked.back(),
            "Сервер-ретранслятор|Внимание - Запущен второй экземпляр программы! Закрыть?");
  EXPECT_EQ(ReadFile(Ndx()), before);
  if (held >= 0) ::close(held);
}

INSTANTIATE_TEST_SUITE_P(Held, SecondCopy, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Port" : "DataFolder"; });

TEST_F(Console, ASecondCopyAnsweredNoRunsOnAndStillWritesNoRegistry) {
  WriteSettings();
  MakeRegistry(2);
  const std::string before = ReadFile(Ndx());
  app::ServerConfig first;
  first.dataDir = dir.Path();
  app::Server other(first);
  std::string error;
  ASSERT_TRUE(other.LoadSettings(&error)) << error;
  ASSERT_NO_FATAL_FAILURE(Open());
  {
    std::lock_guard<std::mutex> lock(server->Link().Lock);
    server->Store().Table()[1].switchedOff = 1;
  }
  asker.answers = {false};
  EXPECT_TRUE(WaitFor([&] { return !asker.asked.empty(); }, 4s));
  EXPECT_FALSE(window->ShutDown());
  EXPECT_TRUE(server->Settings().GlRegPermanent);
  W<QCheckBox>("CheckOtladka")->click();
  W<QPushButton>("ButtonSave")->click();  // "Записать на диск после регистрации"
  server->WaitForSaves();
  EXPECT_TRUE(MemoText().contains(app::Server::kSecondCopyRefusal));
  asker.answers = {true};
  window->Shutdown(true);
  EXPECT_EQ(ReadFile(Ndx()), before);
}

// ---- one action, two front ends ----------------------------------------------
// Each action of the console that is not about the window itself, done once
// through the widgets and once through relayctl against the same running
// console: both must leave the server in the same state.

enum class FrontEnd { kWindow, kRelayctl };

struct TwinCase {
  const char* name;
  int devices;                                // registry records made before the start
  std::function<void(class Twin&)> before;    // after the start, before the action; may be empty
  std::function<void(class Twin&)> widgets;   // the action through the window
  std::vector<std::string> relayctl;          // the same through relayctl (with --yes)
  std::function<void(class Twin&)> check;     // what either must leave
  InternetCheck internet = InternetCheck::kOff;  // kAsWritten: on, for a case that switches it
};

// Cases print as their names in the test list.
void PrintTo(const TwinCase& c, std::ostream* os) { *os << c.name; }

class Twin : public Console,
             public ::testing::WithParamInterface<std::tuple<TwinCase, FrontEnd>> {
 public:
  using Console::A;
  using Console::Record;
  using Console::RowOf;
  using Console::W;
  using Console::WaitFor;
  app::Server& S() { return *server; }
  MainWindow& Window() { return *window; }
  ScriptedAsker& Asker() { return asker; }
  std::string File(const char* name) { return dir.File(name); }
  QString Memo() { return MemoText(); }

};

// A grid menu item on the row of client index `index`, answered Yes.
void MenuItem(Twin& t, int index, const char* action) {
  t.Window().PrepareGridMenu(t.RowOf(index));
  t.Asker().answers = {true};
  t.A(action)->trigger();
}

const TwinCase kTwins[] = {
    {"RegisterAll", 0, nullptr,
     [](Twin& t) {
       t.W<QRadioButton>("RegOll")->click();
       t.Asker().answers = {true};
       t.W<QCheckBox>("CheckBox3")->click();
     },
     {"register", "all"},
     [](Twin& t) {
       EXPECT_TRUE(t.S().Settings().GlRegOn);
       EXPECT_FALSE(t.S().Settings().GlRegOne);
       EXPECT_TRUE(t.W<QCheckBox>("CheckBox3")->isChecked());
     }},
    {"RegisterOne", 0, nullptr,
     [](Twin& t) {
       t.W<QLineEdit>("EditRegOne")->setText("1/0/7");
       t.Asker().answers = {true};
       t.W<QCheckBox>("CheckBox3")->click();
     },
     {"register", "1/0/7"},
     [](Twin& t) {
       EXPECT_TRUE(t.S().Settings().GlRegOn);
       EXPECT_TRUE(t.S().Settings().GlRegOne);
       EXPECT_EQ(t.S().Settings().GlRegNPult.Load(), (devlink::ConsoleNumber{1, 0, 7}));
       EXPECT_TRUE(t.W<QRadioButton>("RegOne")->isChecked());
     }},
    {"DeleteOne", 3, nullptr,
     [](Twin& t) {
       t.W<QCheckBox>("CheckDelOne")->click();
       MenuItem(t, 1, "ActionDeleteReg");
     },
     {"delete", "1/0/2"},
     [](Twin& t) {
       EXPECT_EQ(t.Record(1).inUse, 0);
       EXPECT_EQ(t.Record(0).inUse, 1);
       EXPECT_EQ(t.Record(2).inUse, 1);
     }},
    {"DeleteAll", 3, nullptr,
     [](Twin& t) {
       t.Asker().answers = {true};
       t.W<QPushButton>("ButtonDelAll")->click();
     },
     {"delete-all"},
     [](Twin& t) {
       for (size_t i = 0; i < 3; ++i) EXPECT_EQ(t.Record(i).inUse, 0) << i;
     }},
    {"PermitSubstitution", 2, nullptr,
     [](Twin& t) {
       t.W<QCheckBox>("CheckPodmena")->click();
       MenuItem(t, 1, "ActionPodmena");
     },
     {"permit-substitution", "#1"},
     [](Twin& t) {
       EXPECT_EQ(t.Record(1).substPermit, 1);
       EXPECT_EQ(t.Record(0).substPermit, 0);
     }},
    {"SwitchOff", 2, nullptr, [](Twin& t) { MenuItem(t, 0, "ActionSwitchOff"); },
     {"switch-off", "1/0/1"},
     [](Twin& t) {
       EXPECT_EQ(t.Record(0).switchedOff, 1);
       EXPECT_EQ(t.Record(1).switchedOff, 0);
     }},
    {"SaveWritesTheRegistry", 2,
     [](Twin& t) { std::remove(t.File("relay-server.ndx").c_str()); },
     [](Twin& t) {
       t.W<QCheckBox>("CheckOtladka")->click();
       t.W<QPushButton>("ButtonSave")->click();
       t.S().WaitForSaves();
     },
     {"save"},
     [](Twin& t) { EXPECT_EQ(ReadFile(t.File("relay-server.ndx")).size(), 2 * kRecordBytes); }},
    {"ExportWritesTheList", 2, nullptr,
     [](Twin& t) { t.W<QPushButton>("ButtonExport")->click(); },
     {"export"},
     [](Twin& t) {
       const std::string list = ReadFile(t.File("RegistrationObj.txt"));
       EXPECT_NE(list.find("1/0/2"), std::string::npos) << list;
     }},
    {"SettingsLikeTheTab", 0, nullptr,
     [](Twin& t) {
       t.W<QTabWidget>("PageControl1")->setCurrentIndex(4);
       t.W<QCheckBox>("VklRedParam")->setChecked(true);
       auto* c = t.W<QComboBox>("ComboBoxNaruchUO");
       c->setCurrentIndex(1);
       QFocusEvent out(QEvent::FocusOut);
       QApplication::sendEvent(c, &out);
       t.W<QCheckBox>("CheckBox_Internet")->click();
       t.W<QCheckBox>("VklRedParam")->setChecked(false);
     },
     {"settings", "NaruchUO=1", "CheckBox_Internet=0"},
     [](Twin& t) {
       EXPECT_EQ(t.S().Settings().GlNaruchUO, 13);
       EXPECT_FALSE(t.S().Settings().GlAvarInetBlock);
       EXPECT_FALSE(t.S().Form1().CheckAvarOrvane) << "cleared with the internet check";
       const std::string ini = ReadFile(t.File("relay-server.ini"));
       EXPECT_NE(ini.find("NaruchUO=1\r\n"), std::string::npos) << ini;
       EXPECT_NE(ini.find("CheckBox_Internet=0\r\n"), std::string::npos) << ini;
       t.Window().Poll();  // the tab shows what the server holds
       EXPECT_EQ(t.W<QComboBox>("ComboBoxNaruchUO")->currentIndex(), 1);
       EXPECT_FALSE(t.W<QCheckBox>("CheckBox_Internet")->isChecked());
     },
     InternetCheck::kAsWritten},
    {"RegisterOff", 0,
     [](Twin& t) {
       t.S().OpenRegistrationAll();
       t.Window().Poll();
     },
     [](Twin& t) { t.W<QCheckBox>("CheckBox3")->click(); },
     {"register", "off"},
     [](Twin& t) {
       EXPECT_FALSE(t.S().Settings().GlRegOn);
       EXPECT_FALSE(t.W<QCheckBox>("CheckBox3")->isChecked());
       t.S().WaitForSaves();
       const size_t written = ReadFile(t.File("relay-server.ndx")).size();
       EXPECT_TRUE(written > 0 && written % kRecordBytes == 0) << "closing writes the registry";
     }},
    {"SwitchOn", 2, [](Twin& t) { t.S().SwitchOff({0, {1, 0, 1}}); },
     [](Twin& t) { MenuItem(t, 0, "ActionSwitchOn"); }, {"switch-on", "#0"},
     [](Twin& t) { EXPECT_EQ(t.Record(0).switchedOff, 0); }},
    {"CompareSaysEqual", 2, nullptr,
     [](Twin& t) {
       t.W<QCheckBox>("CheckOtladka")->click();
       t.W<QPushButton>("ButtonCompare")->click();
     },
     {"compare"},
     [](Twin& t) { EXPECT_TRUE(t.Memo().contains("ФАЙЛ.NDX и БУФЕР-OK!")) << t.Memo().toStdString(); }},
    {"LoadRestoresTheFile", 3, [](Twin& t) { t.S().DeleteAllRegistrations(); },
     [](Twin& t) {
       t.W<QCheckBox>("CheckOtladka")->click();
       t.W<QPushButton>("ButtonLoad")->click();
     },
     {"load"},
     [](Twin& t) {
       for (size_t i = 0; i < 3; ++i) EXPECT_EQ(t.Record(i).inUse, 1) << i;
       EXPECT_GE(t.RowOf(2), 0) << "the grid shows them again";
     }},
    {"ClearUnusedShortensTheTable", 3, [](Twin& t) { t.S().DeleteRegistration({2, {1, 0, 3}}); },
     [](Twin& t) {
       t.W<QCheckBox>("CheckOtladka")->click();
       t.W<QPushButton>("ButtonClearUnused")->click();
     },
     {"clear-unused"},
     [](Twin& t) { EXPECT_EQ(t.S().Store().TableLength(t.S().Link().Lock), 5u); }},
    {"TraceStop", 0, [](Twin& t) { t.S().TraceStart(); },
     [](Twin& t) { t.W<QPushButton>("ButtonStop")->click(); }, {"trace", "stop"},
     [](Twin& t) {
       EXPECT_FALSE(t.S().Settings().GlTraficRun);
       t.Window().Poll();
       EXPECT_TRUE(t.W<QPushButton>("ButtonStop")->isChecked());
     }},
    {"TraceStart", 0, nullptr, [](Twin& t) { t.W<QPushButton>("ButtonPusk")->click(); },
     {"trace", "start"},
     [](Twin& t) {
       EXPECT_TRUE(t.S().Settings().GlTraficRun);
       t.Window().Poll();
       EXPECT_TRUE(t.W<QPushButton>("ButtonPusk")->isChecked());
     }},
};

TEST_P(Twin, LeavesTheSameState) {
  const auto& [c, front] = GetParam();
  WriteSettings("", c.internet);
  if (c.devices) {
    ASSERT_NO_FATAL_FAILURE(MakeRegistry(c.devices));
  }
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(WaitFor([&] { return server->Running(); }));
  if (c.before) c.before(*this);
  if (front == FrontEnd::kWindow) {
    c.widgets(*this);
  } else {
    EXPECT_EQ(Relayctl(c.relayctl), 0) << output;
  }
  window->Poll();
  c.check(*this);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, Twin,
    ::testing::Combine(::testing::ValuesIn(kTwins),
                       ::testing::Values(FrontEnd::kWindow, FrontEnd::kRelayctl)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == FrontEnd::kWindow ? "ThroughTheWindow"
                                                           : "ThroughRelayctl");
    });

// What relayctl reads from a console: the same state and lines the window shows.
TEST_F(Console, RelayctlReadsTheConsolesStateAndLines) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(2));
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(WaitFor([&] { return server->Running(); }));
  EXPECT_EQ(Relayctl({"status"}), 0) << output;
  EXPECT_NE(output.find("Зарегистрировано приборов: 2"), std::string::npos) << output;
  EXPECT_NE(output.find("Порт АРМ: CNCB0 открыт"), std::string::npos) << output;
  EXPECT_EQ(Relayctl({"devices"}), 0) << output;
  EXPECT_NE(output.find("1/0/2"), std::string::npos) << output;
  EXPECT_EQ(Relayctl({"messages"}), 0) << output;
  EXPECT_NE(output.find("CNCB0 - Успешно открыт."), std::string::npos) << output;
  EXPECT_TRUE(MemoText().contains("CNCB0 - Успешно открыт.")) << "the window keeps its lines too";
  EXPECT_EQ(Relayctl({"settings", "EditPortServ1"}), 0) << output;
  EXPECT_EQ(output, "EditPortServ1=" + std::to_string(port) + "\n");
  // While the operator edits the settings tab, changes from outside wait.
  W<QTabWidget>("PageControl1")->setCurrentIndex(4);
  W<QCheckBox>("VklRedParam")->setChecked(true);
  EXPECT_EQ(Relayctl({"settings", "NaruchUO=1"}), 1) << output;
  EXPECT_NE(output.find("правит оператор"), std::string::npos) << output;
  W<QCheckBox>("VklRedParam")->setChecked(false);
  EXPECT_EQ(Relayctl({"settings", "NaruchUO=1"}), 0) << output;
  EXPECT_EQ(server->Settings().GlNaruchUO, 13);
}

// A request that arrives while the operator answers a question waits for the
// answer: nothing changes under an open question.
TEST_F(Console, AControlRequestWaitsWhileAQuestionIsOpen) {
  WriteSettings();
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(2));
  ASSERT_NO_FATAL_FAILURE(Open());
  ASSERT_TRUE(WaitFor([&] { return server->Running(); }));
  QProcess p;
  bool doneWhileAsked = true;
  asker.whileAsking = [&] {
    p.start(QString::fromStdString(kBin + "/relayctl"),
            {"--data-dir", QString::fromStdString(dir.Path()), "--yes", "delete", "#0"});
    // The box's own event loop runs for a while: the request must stay unserved.
    QTest::qWait(700);
    doneWhileAsked = p.state() == QProcess::NotRunning || Record(0).inUse == 0;
  };
  asker.answers = {false};
  W<QCheckBox>("CheckBox3")->click();
  EXPECT_FALSE(doneWhileAsked);
  EXPECT_TRUE(WaitFor([&] { return p.state() == QProcess::NotRunning; }, 10s));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_EQ(Record(0).inUse, 0) << "served once the question was answered";
}


// ---- the network on tab "Настройки" ------------------------------------------

// The console's thread in a namespace of its own with two providers, so that
// the routes it changes and the adapters it lists are the test's alone.
class ConsoleNetwork : public Console {
 protected:
  std::unique_ptr<testsupport::NetNamespace> ns, provider1, provider2;
  std::unique_ptr<testsupport::EnterNetNamespace> inside;

  void SetUp() override {
    std::string why;
    if (!testsupport::NetNamespacesUsable(&why)) GTEST_SKIP() << why;
    Console::SetUp();
    ns = std::make_unique<testsupport::NetNamespace>();
    provider1 = std::make_unique<testsupport::NetNamespace>();
    provider2 = std::make_unique<testsupport::NetNamespace>();
    ASSERT_TRUE(testsupport::LinkVeth(*ns, "s1", "198.51.100.1/24", *provider1, "p1",
                                      "198.51.100.254/24"));
    ASSERT_TRUE(testsupport::LinkVeth(*ns, "s2", "203.0.113.1/24", *provider2, "p2",
                                      "203.0.113.254/24"));
    inside = std::make_unique<testsupport::EnterNetNamespace>(*ns);
    testsupport::WriteFile(
        Ini(), testsupport::SafeNetworkIni(
                   "[Form1]\r\nSetKarta_11=1\r\nIpAdrrServ_1=198.51.100.1\r\nEditPortServ1=5000\r\n"
                   "GateWay1=198.51.100.254\r\nSetKarta_22=1\r\nIpAdrrServ_2=203.0.113.1\r\n"
                   "EditPortServ2=5001\r\nGateWay2=203.0.113.254\r\nCheckBoxMetric=1\r\n"));
  }
  void TearDown() override {
    Console::TearDown();  // the server stops inside the namespace
    inside.reset();
  }

  std::string DefaultRoutes() { return ns->Output("route show default"); }
  std::vector<bool> Marks() {
    std::vector<bool> on;
    for (const char* name : {"Active1", "Active2", "Active3"})
      on.push_back(W<QLabel>(name)->property("active").toBool());
    return on;
  }
};

TEST_F(ConsoleNetwork, MetricButtonsMoveTheDefaultRouteAndTheMarksShowWhereItGoes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  EXPECT_NE(DefaultRoutes().find("via 198.51.100.254"), std::string::npos) << DefaultRoutes();
  window->Poll();
  EXPECT_EQ(Marks(), (std::vector<bool>{true, false, false}));

  W<QCheckBox>("CheckOtladka")->click();
  auto* tabs = W<QTabWidget>("PageControl1");
  for (int t = 0; t < tabs->count(); ++t)
    if (tabs->tabText(t) == "Отладка") tabs->setCurrentIndex(t);
  auto* metric2 = W<QPushButton>("ButtonMetric2");
  ASSERT_TRUE(metric2->isVisible() && metric2->isEnabled());
  metric2->click();
  EXPECT_NE(DefaultRoutes().find("via 203.0.113.254"), std::string::npos) << DefaultRoutes();
  EXPECT_EQ(DefaultRoutes().find("198.51.100.254"), std::string::npos) << DefaultRoutes();
  EXPECT_EQ(Marks(), (std::vector<bool>{false, true, false}));
  // The debug line shows what was done, as the operator's own command would read.
  EXPECT_TRUE(MemoText().contains("ip route replace default via 203.0.113.254 metric 1"));

  // Interface 3 is not in use: nothing changes, and the message says why.
  W<QPushButton>("ButtonMetric3")->click();
  EXPECT_NE(DefaultRoutes().find("via 203.0.113.254"), std::string::npos) << DefaultRoutes();
  EXPECT_TRUE(MemoText().contains("Маршрут по умолчанию не перенесён: интерфейс 3 не используется"));
}

TEST_F(ConsoleNetwork, AddressBoxListsTheAdaptersAndPortEnterRebindsAndApplyFailuresShowInBoxes) {
  ASSERT_NO_FATAL_FAILURE(Open());
  W<QCheckBox>("VklRedParam")->click();

  // The drop-down lists every address of the host; picking one fills its gateway.
  auto* box = W<QComboBox>("IpAdrrServ_1");
  box->showPopup();
  box->hidePopup();
  QStringList items;
  for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
  EXPECT_TRUE(items.contains("127.0.0.1") && items.contains("198.51.100.1") &&
              items.contains("203.0.113.1"))
      << items.join(",").toStdString();
  emit box->activated(int(items.indexOf("198.51.100.1")));
  // The default route goes via provider 1 after the start-up apply.
  EXPECT_EQ(W<QComboBox>("GateWay1")->currentText(), "198.51.100.254");
  emit box->activated(int(items.indexOf("127.0.0.1")));
  EXPECT_EQ(W<QComboBox>("GateWay1")->currentText(), "127.0.0.1") << "no gateway: the address";
  W<QComboBox>("GateWay1")->setEditText("198.51.100.254");

  // Enter in any port field: servers 1 and 2 on every address, 2 on the next port.
  auto* port1 = W<QLineEdit>("EditPortServ1");
  port1->setText(QString::number(port));
  QTest::keyClick(W<QLineEdit>("EditPortGSM"), Qt::Key_Return);
  EXPECT_EQ(W<QLineEdit>("EditPortServ2")->text(), QString::number(port + 1));
  const auto status = server->Status();
  ASSERT_EQ(status.interfaces.size(), 2u);
  EXPECT_EQ(status.interfaces[0].port, port);
  EXPECT_EQ(status.interfaces[1].port, port + 1);

  // An address the host lacks: leaving the editing applies, and the failure shows in a box.
  W<QComboBox>("IpAdrrServ_2")->setEditText("192.0.2.77");
  W<QCheckBox>("VklRedParam")->click();
  const QString conflict = QString("Ош. Конфликт карты 2 >192.0.2.77:%1.Парам. не вступили в силу!")
                               .arg(port + 1);
  EXPECT_TRUE(WaitFor([&] { return !asker.notices.empty(); }));
  ASSERT_EQ(asker.notices.size(), 1u);
  EXPECT_TRUE(asker.notices[0].endsWith("|" + conflict)) << asker.notices[0].toStdString();
  // Interface 2 is down, so the first interface keeps the default route.
  EXPECT_NE(DefaultRoutes().find("via 198.51.100.254"), std::string::npos) << DefaultRoutes();
  // The retry every ten ticks goes to the message window, not to more boxes.
  EXPECT_TRUE(WaitFor([&] { return MemoText().contains(conflict); }, 5s));
  EXPECT_EQ(asker.notices.size(), 1u);
}

}  // namespace
