// Renders the console's main window, one PNG per tab, for docs/: the window
// over a real server on the given data folder, as an operator sees it.
//   console_screenshots [--debug] --data-dir DIR --ports-dir DIR --out DIR
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "app/server.h"
#include "configurator/gui/config_window.h"
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

bool Save(QWidget* w, const QString& file) {
  if (!w->grab().save(file)) {
    std::fprintf(stderr, "console_screenshots: cannot write %s\n", file.toUtf8().constData());
    return false;
  }
  std::printf("%s\n", file.toUtf8().constData());
  return true;
}

// What a device's run reports when it identifies and reads: an image with
// codes, a key, loops and outputs, and a Rielta expander with four devices.
void FeedConfigurator(configurator::gui::ConfigWindow& w) {
  using configurator::ConfigEvent;
  using configurator::ConfigNotice;
  ConfigNotice id;
  id.transfer = ConfigEvent::Of(ConfigEvent::Kind::kIdentified);
  id.transfer.variant = configurator::kVariantF;
  id.transfer.text = "<Пульт. номер - 1/0/1> \"Гравен-Net\"";
  w.Take(id);
  std::vector<uint8_t> im(257, 0);
  const uint8_t codes[][5] = {{0x21, 0x43, 0, 0, 0xFF}, {0x65, 0x87, 0x11, 0x11, 0x13},
                              {0x90, 0x90, 0, 0, 0x30}};
  for (size_t r = 0; r < 3; ++r) std::copy(codes[r], codes[r] + 5, im.begin() + 5 * r);
  const uint8_t key[4] = {0xC4, 0xB3, 0xA2, 0x01};
  std::copy(key, key + 4, im.begin() + 156);
  im[235] = 0x33;
  const uint8_t fields[] = {0, 2, 5, 7, 30, 0, 0, 0, 15, 0, 0, 0, 0x01, 0x02, 0x0F, 10, 255, 60,
                            0x82, 1, 0, 15, 0, 30, 0x19, 0x09};
  std::copy(std::begin(fields), std::end(fields), im.begin() + 100);
  ConfigNotice read;
  read.transfer = ConfigEvent::Of(ConfigEvent::Kind::kReadDone, 257);
  read.transfer.bytes = im;
  w.Take(read);
  ConfigNotice blocks;
  blocks.kind = ConfigNotice::Kind::kExpanderRead;
  blocks.ok = true;
  blocks.blocksArrived = 3;
  blocks.expander = configurator::Expander::kRielta;
  const uint8_t devices[][7] = {{0, 0x41, 0x11, 1, 1, 1, 0x80},
                                {1, 0x11, 0x14, 2, 1, 2, 0x00},
                                {2, 0x30, 0x31, 3, 2, 0, 0x00},
                                {4, 0x31, 0x13, 5, 2, 5, 0x80}};
  for (const auto& s : devices) {
    std::copy(s + 1, s + 4, blocks.blocks.table.begin() + 1 + 3 * s[0]);
    std::copy(s + 4, s + 7, blocks.blocks.settings.begin() + 1 + 3 * s[0]);
  }
  blocks.blocks.owners[3] = 7;
  blocks.blocks.table[97] = 12;
  blocks.blocks.table[98] = 2;
  blocks.blocks.table[99] = 0x32;
  w.Take(blocks);
  ConfigNotice status;
  status.kind = ConfigNotice::Kind::kStatus;
  status.text = "Чтение OK.";
  w.Take(status);
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
  maint->findChild<QPushButton*>("OldCancel")->click();
  // The configurator of that device, as its run reports an identify and a read.
  auto* config = maint->findChild<configurator::gui::ConfigWindow*>("TFormConfig");
  if (!config || !config->Open("1/0/1", &error)) {
    std::fprintf(stderr, "console_screenshots: the configurator did not open: %s\n", error.c_str());
    return 1;
  }
  FeedConfigurator(*config);
  auto* pages = config->findChild<QTabWidget*>("PageControl1");
  const char* configNames[] = {"params", "keys", "codes", "rielta"};
  for (int k = 0; k < 4; ++k) {
    pages->setCurrentIndex(k);
    Settle(200);
    if (!Save(config, out + "/configurator-" + configNames[k] + ".png")) return 1;
  }
  config->close();
  maint->close();
  window.Shutdown(false);
  return 0;
}
