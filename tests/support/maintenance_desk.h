// The maintenance windows' test bench: the server in this process on
// loopback, one devsim device (1/0/1) that answers maintenance, and the
// maintenance window opened for it, with a scripted operator.
#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/server.h"
#include "maintenance/gui/maintenance_window.h"
#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"
#include "tests/support/scripted_asker.h"
#include "tests/support/sim_output.h"
#include "tests/support/socat_pair.h"

namespace testsupport {

class MaintenanceDesk : public ::testing::Test {
 protected:
  TempDir dir;
  std::string ports = dir.File("ports");
  std::unique_ptr<SocatPair> pair;
  unsigned short port = FreeUdpPort();
  // The devices' own port, apart from other tests' devices that run meanwhile.
  unsigned short devicePort = FreeUdpPort();
  std::unique_ptr<app::Server> server;
  std::unique_ptr<ChildProcess> devsim;
  ScriptedAsker asker;
  ScriptedChooser files;
  std::unique_ptr<maintenance::gui::MaintenanceWindow> window;
  QTimer frontEnd;

  // What a fixture adds: files made before the start, devsim's options,
  // the console's state before the window is made.
  virtual void Prepare() {}
  virtual std::vector<std::string> DeviceArgs() { return {}; }
  virtual void BeforeWindow() {}

  void SetUp() override {
    ::mkdir(ports.c_str(), 0755);
    pair = std::make_unique<SocatPair>(ports);
    WriteFile(dir.File("relay-server.ini"),
              SafeNetworkIni("[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\nEditPortServ1=" +
                             std::to_string(port) + "\r\n"));
    ASSERT_EQ(ChildProcess(Bin() + "/devsim",
                           {"--make-ndx", dir.File("relay-server.ndx"), "--devices", "1",
                            "--first", "1/0/1", "--port", std::to_string(devicePort)})
                  .Wait(std::chrono::seconds(10)),
              0);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    app::ServerConfig cfg;
    cfg.dataDir = dir.Path();
    cfg.portsDir = ports;
    cfg.tickMs = 10;  // the maintenance waits last a twentieth
    server = std::make_unique<app::Server>(cfg);
    std::string error;
    ASSERT_TRUE(server->Start(&error)) << error;
    QObject::connect(&frontEnd, &QTimer::timeout, [this] { server->FrontEndWork(); });
    frontEnd.start(5);
    std::vector<std::string> args = {"--server", "127.0.0.1:" + std::to_string(port), "--ndx",
                                     dir.File("relay-server.ndx"), "--port",
                                     std::to_string(devicePort), "--maint", "--verbose",
                                     "--maint-user", "oper", "--maint-password", "secret",
                                     "--heartbeat-ms", "500", "--duration-ms", "60000"};
    for (const std::string& a : DeviceArgs()) args.push_back(a);
    devsim = std::make_unique<ChildProcess>(Bin() + "/devsim", args, /*withStderr=*/true);
    ASSERT_TRUE(DeviceUp(*devsim)) << Joined(devsim->Lines());
    BeforeWindow();
    window = std::make_unique<maintenance::gui::MaintenanceWindow>(*server, asker, files);
    ASSERT_TRUE(window->OpenFor({0, {1, 0, 1}}));
  }
  void TearDown() override {
    if (window) window->close();
    window.reset();
    frontEnd.stop();
    if (server) server->Stop();
  }

  static std::string Bin() { return RELAY_BIN_DIR; }

  template <typename T>
  T* W(QWidget* root, const char* name) {
    T* w = root->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QString Log() { return W<QPlainTextEdit>(window.get(), "Memo1")->toPlainText(); }

  // Runs the events until `done` holds.
  bool WaitFor(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      QTest::qWait(10);
    }
    return true;
  }
  bool JobEnds() { return WaitFor([&] { return !window->JobRunning(); }); }

  // An action button of the maintenance window, then the login panel filled and confirmed.
  void Login(const char* button, const QString& user = "oper", const QString& password = "secret") {
    W<QPushButton>(window.get(), button)->click();
    W<QLineEdit>(window.get(), "edtOldUser")->setText(user);
    W<QLineEdit>(window.get(), "edtOldPassword")->setText(password);
    W<QPushButton>(window.get(), "OldOk")->click();
  }
};

}  // namespace testsupport
