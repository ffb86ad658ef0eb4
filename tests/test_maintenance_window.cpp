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

#include <chrono>
#include <fstream>
#include <sstream>
#include <memory>
#include <string>

#include "tests/support/maintenance_desk.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;

class MaintWindow : public testsupport::MaintenanceDesk {
 protected:
  std::vector<std::string> DeviceArgs() override {
    return {"--maint-versions", "70.10/41.39", "--maint-eth-out", dir.File("eth.out"),
            "--maint-image-out", dir.File("main.out")};
  }

  template <typename T>
  T* W(const char* name) {
    return MaintenanceDesk::W<T>(window.get(), name);
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
  ctl.start(QString::fromStdString(Bin() + "/relayctl"),
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
