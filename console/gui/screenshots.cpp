// Renders the console's main window, one PNG per tab, for docs/: the window
// over a real server on the given data folder, as an operator sees it.
//   console_screenshots [--debug] --data-dir DIR --ports-dir DIR --out DIR
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <cstdio>
#include <string>

#include "app/server.h"
#include "console/gui/asker.h"
#include "console/gui/main_window.h"
#include "maintenance/gui/maintenance_window.h"

namespace {

// Answers every question with Yes: the pictures need no operator.
class YesAsker final : public console::gui::Asker {
 public:
  bool Ask(QWidget*, const QString&, const QString&) override { return true; }
  void Notice(QWidget*, const QString&, const QString&) override {}
};

void Settle(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  app::ServerConfig cfg;
  QString out = "docs";
  bool debug = false;
  for (int k = 1; k < argc && std::string(argv[k]) == "--debug"; ++k) debug = true;
  for (int k = debug ? 2 : 1; k + 1 < argc; k += 2) {
    const std::string flag = argv[k];
    if (flag == "--data-dir") cfg.dataDir = argv[k + 1];
    else if (flag == "--ports-dir") cfg.portsDir = argv[k + 1];
    else if (flag == "--out") out = argv[k + 1];
  }
  if (cfg.dataDir.empty()) {
    std::fputs("usage: console_screenshots --data-dir DIR [--ports-dir DIR] [--out DIR]\n", stderr);
    return 2;
  }
  app::Server server(cfg);
  std::string error;
  if (!server.LoadSettings(&error)) {
    std::fprintf(stderr, "console_screenshots: %s\n", error.c_str());
    return 1;
  }
  YesAsker asker;
  console::gui::MainWindow window(server, asker);
  window.show();
  Settle(1500);  // start-up, then the window goes to the tray
  window.ShowFromTray();
  // The traffic monitor runs while the devices of the data folder send.
  window.findChild<QPushButton*>("ButtonPusk")->click();
  Settle(2500);
  // With --debug the pictures show debug mode and its extra controls.
  if (debug) window.findChild<QCheckBox*>("CheckOtladka")->click();
  QDir().mkpath(out);
  auto* tabs = window.findChild<QTabWidget*>("PageControl1");
  const char* names[] = {"traffic", "service", "debug", "registration", "settings"};
  for (int k = 0; k < 5; ++k) {
    tabs->setCurrentIndex(k);
    Settle(200);
    const QString file = out + "/console-" + names[k] + ".png";
    if (!window.grab().save(file)) {
      std::fprintf(stderr, "console_screenshots: cannot write %s\n", file.toUtf8().constData());
      return 1;
    }
    std::printf("%s\n", file.toUtf8().constData());
  }
  // The help window as "Справка" opens it.
  window.findChild<QPushButton*>("ButtonHelp")->click();
  Settle(300);
  QWidget* help = window.findChild<QWidget*>("THelp_1");
  const QString file = out + "/console-help.png";
  if (!help || !help->grab().save(file)) {
    std::fprintf(stderr, "console_screenshots: cannot write %s\n", file.toUtf8().constData());
    return 1;
  }
  std::printf("%s\n", file.toUtf8().constData());
  help->close();
  // The maintenance window of the first device, its login panel open.
  auto* maint = window.findChild<maintenance::gui::MaintenanceWindow*>("TfrmMain");
  const auto devices = server.Devices(false);
  if (!maint || devices.empty() || !maint->OpenFor({devices[0].index, devices[0].number})) {
    std::fprintf(stderr, "console_screenshots: the maintenance window did not open\n");
    return 1;
  }
  maint->findChild<QPushButton*>("BitBtn4")->click();
  Settle(300);
  const QString maintFile = out + "/maintenance.png";
  if (!maint->grab().save(maintFile)) {
    std::fprintf(stderr, "console_screenshots: cannot write %s\n", maintFile.toUtf8().constData());
    return 1;
  }
  std::printf("%s\n", maintFile.toUtf8().constData());
  maint->close();
  window.Shutdown(false);
  return 0;
}
