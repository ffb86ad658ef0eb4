// "Удаленное обслуживание." offscreen, driven by its controls' names, against
// a devsim device that answers maintenance: the login panel, versions, new
// credentials, the session held while the window is open, and its closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFrame>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>

#include "app/server.h"
#include "maintenance/gui/maintenance_window.h"
#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"
#include "tests/support/sim_output.h"
#include "tests/support/scripted_asker.h"
#include "tests/support/socat_pair.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;

const std::string kBin = RELAY_BIN_DIR;

class MaintWindow : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string ports = dir.File("ports");
  std::unique_ptr<testsupport::SocatPair> pair;
  unsigned short port = testsupport::FreeUdpPort();
  // The devices' own port, apart from other tests' devices that run meanwhile.
  unsigned short devicePort = testsupport::FreeUdpPort();
  std::unique_ptr<app::Server> server;
  std::unique_ptr<ChildProcess> devsim;
  testsupport::ScriptedAsker asker;
  testsupport::ScriptedChooser files;
  std::unique_ptr<maintenance::gui::MaintenanceWindow> window;
  QTimer frontEnd;

  void SetUp() override {
    ::mkdir(ports.c_str(), 0755);
    pair = std::make_unique<testsupport::SocatPair>(ports);
    testsupport::WriteFile(dir.File("relay-server.ini"),
                           testsupport::SafeNetworkIni("[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\n"
                                                       "EditPortServ1=" +
                                                       std::to_string(port) + "\r\n"));
    ASSERT_EQ(ChildProcess(kBin + "/devsim", {"--make-ndx", dir.File("relay-server.ndx"),
                                              "--devices", "1", "--first", "1/0/1", "--port",
                                              std::to_string(devicePort)})
                  .Wait(10s),
              0);
    app::ServerConfig cfg;
    cfg.dataDir = dir.Path();
    cfg.portsDir = ports;
    cfg.tickMs = 10;  // 15 s waits of the maintenance last 750 ms
    server = std::make_unique<app::Server>(cfg);
    std::string error;
    ASSERT_TRUE(server->Start(&error)) << error;
    connect();
    devsim = std::make_unique<ChildProcess>(
        kBin + "/devsim",
        std::vector<std::string>{"--server", "127.0.0.1:" + std::to_string(port), "--ndx",
                                 dir.File("relay-server.ndx"), "--port", std::to_string(devicePort), "--maint",
                                 "--verbose",
                                 "--maint-user", "oper", "--maint-password", "secret",
                                 "--maint-versions", "70.10/41.39", "--maint-eth-out",
                                 dir.File("eth.out"), "--maint-image-out", dir.File("main.out"),
                                 "--heartbeat-ms", "500", "--duration-ms", "60000"},
        /*withStderr=*/true);
    ASSERT_TRUE(testsupport::DeviceUp(*devsim)) << testsupport::Joined(devsim->Lines());
    window = std::make_unique<maintenance::gui::MaintenanceWindow>(*server, asker, files);
    ASSERT_TRUE(window->OpenFor({0, {1, 0, 1}}));
  }
  void TearDown() override {
    if (window) window->close();
    window.reset();
    frontEnd.stop();
    if (server) server->Stop();
  }

  // The server's front end, as the console's timer runs it.
  void connect() {
    QObject::connect(&frontEnd, &QTimer::timeout, [this] { server->FrontEndWork(); });
    frontEnd.start(5);
  }

  template <typename T>
  T* W(const char* name) {
    T* w = window->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString Log() { return W<QPlainTextEdit>("Memo1")->toPlainText(); }

  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      QTest::qWait(10);
    }
    return true;
  }

  void Login(const char* button, const QString& user, const QString& password) {
    W<QPushButton>(button)->click();
    ASSERT_TRUE(W<QFrame>("PanelOld")->isVisible());
    W<QLineEdit>("edtOldUser")->setText(user);
    W<QLineEdit>("edtOldPassword")->setText(password);
    W<QPushButton>("OldOk")->click();
  }

  bool ActionsEnabled() {
    for (const char* b : {"btnLoad", "btnPassw", "NetNastrButton", "BitBtn4"})
      if (!W<QPushButton>(b)->isEnabled()) return false;
    return true;
  }

  uint8_t Notice() {
    std::lock_guard<std::mutex> lock(server->Link().Lock);
    return server->Store().Table()[0].maintNotice;
  }
};

TEST_F(MaintWindow, ShowsTheDeviceAndAsksForTheLoginFirst) {
  EXPECT_EQ(W<QLineEdit>("edtHost")->text(), "1/0/1");
  EXPECT_EQ(Notice(), 1) << "the workstation hears of the start";
  // Without a user name nothing is sent.
  W<QPushButton>("BitBtn4")->click();
  EXPECT_FALSE(ActionsEnabled());
  W<QPushButton>("OldOk")->click();
  EXPECT_EQ(Log(), "Не введен \"Пользователь\"");
  W<QLineEdit>("edtOldUser")->setText("oper");
  W<QPushButton>("OldOk")->click();
  EXPECT_EQ(Log(), "Не введен \"Пароль\"");
  W<QPushButton>("OldCancel")->click();
  EXPECT_TRUE(ActionsEnabled());
}

TEST_F(MaintWindow, VersionsAfterTheLoginAndARefusedLogin) {
  ASSERT_NO_FATAL_FAILURE(Login("BitBtn4", "oper", "secret"));
  EXPECT_TRUE(WaitFor([&] { return Log().contains("N-версии 87J60->70.10; 4620->41.39"); }))
      << Log().toStdString();
  EXPECT_TRUE(WaitFor([&] { return ActionsEnabled(); }));

  ASSERT_NO_FATAL_FAILURE(Login("BitBtn4", "oper", "wrong"));
  EXPECT_TRUE(WaitFor([&] { return Log().contains("Не верный Пользователь или Пароль."); }))
      << Log().toStdString();
  EXPECT_TRUE(WaitFor([&] { return ActionsEnabled(); }));
}

TEST_F(MaintWindow, NewCredentialsAreCheckedThenSent) {
  ASSERT_NO_FATAL_FAILURE(Login("btnPassw", "oper", "secret"));
  ASSERT_TRUE(WaitFor([&] { return W<QFrame>("PanelNew")->isVisible(); })) << Log().toStdString();
  W<QLineEdit>("edtNewUser")->setText("новый");
  W<QLineEdit>("edtNewPassword")->setText("abcd");
  W<QPushButton>("NewOk")->click();
  EXPECT_TRUE(Log().endsWith("\"Пароль\" < 5 символов")) << Log().toStdString();
  W<QLineEdit>("edtNewPassword")->setText("abcde");
  W<QPushButton>("NewOk")->click();
  EXPECT_TRUE(WaitFor([&] { return Log().contains("Новый \"Password\" принят."); }))
      << Log().toStdString();
  ASSERT_TRUE(WaitFor([&] { return W<QPushButton>("btnPassw")->isEnabled(); }));
  EXPECT_FALSE(W<QPushButton>("BitBtn4")->isEnabled()) << "stays off until another path";
  // The device now takes the new credentials only.
  W<QPushButton>("NetNastrButton")->click();
  W<QLineEdit>("edtOldUser")->setText("новый");
  W<QLineEdit>("edtOldPassword")->setText("abcde");
  W<QPushButton>("OldOk")->click();
  EXPECT_TRUE(WaitFor([&] { return Log().contains("\"WEB-интерфейс\"- включен"); }))
      << Log().toStdString();
}

// "Обновить": the controller chosen in "Что будем обновлять?", its file from
// the field, "Прервать" shown while the update runs.
TEST_F(MaintWindow, UpdatesEitherControllerFromItsFileField) {
  const std::string hex = ":0400000001020304F2\r\n:00000001FF\r\n";
  testsupport::WriteFile(dir.File("fw87j60.hex"), hex);
  testsupport::WriteFile(dir.File("fw4620.hex"), hex);
  struct Case {
    const char* radio;
    const char* field;
    std::string file, out;
  };
  const Case cases[] = {{"RadioButton1", "edtLocalFile", dir.File("fw87j60.hex"), "eth.out"},
                        {"RadioButton2", "edtLocalFile2", dir.File("fw4620.hex"), "main.out"}};
  for (const Case& c : cases) {
    W<QLineEdit>(c.field)->setText(QString::fromStdString(c.file));
    W<QPushButton>("btnLoad")->click();
    ASSERT_TRUE(W<QFrame>("ViborMicr")->isVisible());
    W<QRadioButton>(c.radio)->setChecked(true);
    W<QPushButton>("BitBtn6")->click();
    W<QLineEdit>("edtOldUser")->setText("oper");
    W<QLineEdit>("edtOldPassword")->setText("secret");
    W<QPushButton>("OldOk")->click();
    EXPECT_TRUE(W<QPushButton>("BitBtn9")->isVisible()) << "\"Прервать\" while it runs";
    ASSERT_TRUE(WaitFor([&] { return ActionsEnabled(); }, 30s)) << Log().toStdString();
    EXPECT_FALSE(W<QPushButton>("BitBtn9")->isVisible());
    std::ifstream f(dir.File(c.out), std::ios::binary);
    std::ostringstream got;
    got << f.rdbuf();
    EXPECT_NE(got.str().find(":0400000001020304F2"), std::string::npos)
        << c.out << "\n" << Log().toStdString();
  }
}

TEST_F(MaintWindow, HoldsTheSessionUntilItClosesAndClosingEndsTheJob) {
  // relayctl is refused while the operator has the device.
  testsupport::WriteFile(dir.File("login"), "oper\nsecret\n");
  QProcess ctl;
  ctl.start(QString::fromStdString(kBin + "/relayctl"),
            {"--data-dir", QString::fromStdString(dir.Path()), "maint", "1/0/1", "versions",
             "--credentials", QString::fromStdString(dir.File("login"))});
  ASSERT_TRUE(WaitFor([&] { return ctl.state() == QProcess::NotRunning; }));
  EXPECT_EQ(ctl.exitCode(), 1);
  EXPECT_TRUE(QString(ctl.readAllStandardError()).contains("окно \"Удаленное обслуживание\" открыто"));

  // A job waiting for a silent device ends when the window closes.
  devsim->Terminate();
  ASSERT_NO_FATAL_FAILURE(Login("BitBtn4", "oper", "secret"));
  ASSERT_TRUE(server->Maint().Busy());
  window->close();
  EXPECT_TRUE(WaitFor([&] { return !server->Maint().Busy(); }, 2s));
  EXPECT_EQ(Notice(), 2) << "the workstation hears of the end";
  EXPECT_FALSE(server->MaintenanceOpen());
}

}  // namespace
