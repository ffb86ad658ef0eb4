// The console's responsiveness with a full registry and a busy trace, in the
// window's own event loop (offscreen):
//   1. the longest event-loop stall while the registry of 65,534 records is
//      saved from the console, against a save on the window thread;
//   2. the grid: filling it with 65,534 rows, and refreshing one row;
//   3. the traffic window fed 10,000 trace lines a second for a while: the
//      longest stall, the memory, and whether any line was lost before the cap.
//   bench_console [SECONDS_OF_TRACE]
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTextBlock>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stats.h"
#include "app/server.h"
#include "console/gui/asker.h"
#include "console/gui/main_window.h"
#include "registry/ndx_file.h"
#include "tests/support/child_process.h"
#include "tests/support/safe_network_ini.h"

namespace {

using benchstats::Clock;
using benchstats::Median;
using benchstats::Ms;

class YesAsker final : public console::gui::Asker {
 public:
  bool Ask(QWidget*, const QString&, const QString&) override { return true; }
  void Notice(QWidget*, const QString&, const QString&) override {}
};

// The longest gap between two runs of a 1 ms timer while `busy` holds.
double LongestStall(const std::function<bool()>& busy) {
  QTimer probe;
  probe.setInterval(1);
  auto last = Clock::now();
  Clock::duration longest{};
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    longest = std::max(longest, now - last);
    last = now;
  });
  probe.start();
  last = Clock::now();
  while (busy()) QApplication::processEvents(QEventLoop::AllEvents, 5);
  longest = std::max(longest, Clock::now() - last);
  return Ms(longest);
}

long RssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

// A registry of `n` registered devices, written as the server writes it.
void WriteRegistry(const std::string& path, size_t n) {
  std::vector<devlink::ClientRecord> records(n);
  for (size_t i = 0; i < n; ++i) {
    devlink::ClientRecord& r = records[i];
    r.inUse = 1;
    r.n1 = uint8_t(1 + i % 250);
    r.n2 = uint8_t(i / 250);
    r.n3 = uint8_t(i % 7);
    devlink::SetPStr(r.peerAddr, "10." + std::to_string(i / 65536) + "." +
                                     std::to_string(i / 256 % 256) + "." + std::to_string(i % 256));
    devlink::PutU16(r.peerPort, uint16_t(4000 + i % 1000));
  }
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(records.data()), std::streamsize(n * sizeof records[0]));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);
  const int traceSeconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  constexpr size_t kRecords = devlink::ClientTable::kMaxRecords;

  testsupport::TempDir dir;
  WriteRegistry(dir.File("relay-server.ndx"), kRecords);
  const std::string form1 = "[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\nEditPortServ1=" +
                            std::to_string(testsupport::FreeUdpPort()) + "\r\n";
  testsupport::WriteFile(dir.File("relay-server.ini"), testsupport::SafeNetworkIni(form1));
  app::ServerConfig cfg;
  cfg.dataDir = dir.Path();
  cfg.portsDir = dir.File("none");
  app::Server server(cfg);
  std::string error;
  if (!server.LoadSettings(&error)) {
    std::fprintf(stderr, "bench_console: %s\n", error.c_str());
    return 1;
  }
  YesAsker asker;
  console::gui::MainWindow window(server, asker);
  const auto startT = Clock::now();
  window.show();
  std::printf("start-up with %zu records (load, fill, sort): %.0f ms\n", kRecords,
              Ms(Clock::now() - startT));
  // The window goes to the tray (or minimises) after its start; it is measured shown.
  const auto settle = Clock::now() + std::chrono::milliseconds(400);
  while (Clock::now() < settle) QApplication::processEvents(QEventLoop::AllEvents, 20);
  window.ShowFromTray();
  auto* tabs = window.findChild<QTabWidget*>("PageControl1");
  tabs->setCurrentIndex(1);  // "Обслуживание", where the grid is painted

  // 1. Saving the registry from the console, against saving on the window thread.
  const double baseline = LongestStall([&, done = false]() mutable {
    if (done) return false;
    registry::SaveNdx(server.Store(), server.Link().Lock, server.NdxPath(), server.Sink());
    done = true;
    return true;
  });
  std::atomic<bool> saving{true};
  auto* save = window.findChild<QPushButton*>("ButtonSave");
  const auto saveT = Clock::now();
  save->click();
  std::thread waiter([&] {
    server.WaitForSaves();
    saving = false;
  });
  const double stall = LongestStall([&] { return saving.load(); });
  waiter.join();
  std::printf("registry save of %zu records: %.0f ms; longest event-loop stall %.1f ms "
              "(saved on the window thread: %.0f ms)\n",
              kRecords, Ms(Clock::now() - saveT), stall, baseline);

  // 2. The grid: a whole fill through the model and the view, and one row.
  auto* view = window.findChild<QTableView*>("StringGridIpAdr");
  QElapsedTimer t;
  t.start();
  server.Store().RefreshTable(server.Link().Lock);
  view->viewport()->repaint();
  const double fill = double(t.nsecsElapsed()) / 1e6;
  std::vector<double> rows;
  for (uint16_t i : {17, 30000, 65533, 4242, 100}) {
    {
      std::lock_guard<std::mutex> lock(server.Link().Lock);
      server.Store().Table()[i].switchedOff ^= 1;
    }
    view->scrollTo(view->model()->index(int(i), 0));  // the row is on the screen
    QApplication::processEvents();
    t.restart();
    server.Store().RefreshRow(server.Link().Lock, i, server.Sink());
    view->viewport()->repaint();
    rows.push_back(double(t.nsecsElapsed()) / 1e6);
  }
  std::sort(rows.begin(), rows.end());
  std::printf("grid of %d rows: fill %.1f ms; one row refresh (repainted) %.3f ms median, "
              "%.3f ms max\n",
              view->model()->rowCount(), fill, rows[rows.size() / 2], rows.back());

  // 3. 10,000 trace lines a second into the traffic window, as the device
  // worker would hand them over; the window drains them on its own timer.
  server.Settings().GlOutEthern = true;
  tabs->setCurrentIndex(0);
  window.findChild<QPushButton*>("ButtonPusk")->click();
  const long rss0 = RssKb();
  std::atomic<bool> tracing{true};
  std::atomic<uint64_t> sent{0};
  std::thread producer([&] {
    uint8_t telegram[128] = {0xEA, 30};
    const auto begin = Clock::now();
    for (uint64_t k = 0; tracing; ++k) {
      std::this_thread::sleep_until(begin + std::chrono::microseconds(100 * k));
      devlink::PutU32(telegram + 2, uint32_t(k));
      server.Sink().DeviceTraceUnfiltered(telegram, "10.0.0.1", 4001, false, false, false);
      sent = k + 1;
    }
  });
  const auto traceEnd = Clock::now() + std::chrono::seconds(traceSeconds);
  const double traceStall = LongestStall([&] { return Clock::now() < traceEnd; });
  tracing = false;
  producer.join();
  window.Poll();
  auto* memo = window.findChild<QPlainTextEdit*>("MemoTrafic");
  const QString last = memo->document()->lastBlock().text();
  char expected[16];
  const uint32_t k = uint32_t(sent - 1);
  std::snprintf(expected, sizeof expected, "%02X %02X %02X %02X", k & 0xFF, (k >> 8) & 0xFF,
                (k >> 16) & 0xFF, k >> 24);
  const bool lastShown = last.contains(expected);
  const bool dropped =
      window.findChild<QPlainTextEdit*>("Memo1")->toPlainText().contains("Вывод не успевал");
  std::printf("trace: %llu lines in %d s; longest event-loop stall %.1f ms; resident memory "
              "%ld -> %ld kB; window holds %d lines (cap 999 + 1); last line shown: %s; "
              "lines dropped before the cap: %s\n",
              (unsigned long long)sent.load(), traceSeconds, traceStall, rss0, RssKb(),
              memo->blockCount(), lastShown ? "yes" : "no", dropped ? "yes" : "none");
  window.Shutdown(false);
  return 0;
}
