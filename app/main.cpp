// relay-server: the relay between object devices and the monitoring
// workstation. Until the operator console exists it runs without windows.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/line_writer.h"
#include "app/options.h"
#include "app/server.h"
#ifdef RELAY_HAS_CONSOLE
#include "console/gui/console_app.h"
#endif

namespace {

volatile std::sig_atomic_t gStop = 0;
void OnSignal(int) { gStop = 1; }

// Directory and name (without extension) of the running executable.
void ExecutableParts(std::string& dir, std::string& base) {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  path.resize(n > 0 ? size_t(n) : 0);
  const size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? "." : path.substr(0, slash);
  base = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = base.rfind('.');
  if (dot != std::string::npos && dot > 0) base.resize(dot);
  if (base.empty()) base = "relay-server";
}

// How long the end of a run waits for standard output to take the last lines.
constexpr std::chrono::seconds kFinalOutputWait{2};

// Ends the process once the last lines are out. A reader that never takes
// them leaves the writer blocked: the process then ends without waiting more,
// since the settings and the registry are written already.
[[noreturn]] void Exit(app::LineWriter& writer, int status, const char* farewell) {
  const bool flushed = writer.Finish(kFinalOutputWait);
  std::fputs(farewell, stderr);
  std::fflush(stderr);
  if (!flushed) std::_Exit(status);
  std::exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  const auto opts = app::ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!opts) {
    std::fprintf(stderr, "relay-server: %s\n%s", error.c_str(), app::kUsage);
    return 2;
  }
  if (opts->help) {
    std::fputs(app::kUsage, stdout);
    return 0;
  }
  if (!opts->headless && (opts->trace || opts->reg != app::RegisterMode::Closed)) {
    std::fputs("relay-server: --register и --trace действуют только вместе с --headless; "
               "в окне оператора это вкладки \"Регистрация\" и \"Трафик\"\n", stderr);
    return 2;
  }
#ifdef RELAY_HAS_CONSOLE
  if (!opts->headless && !console::gui::DisplayAvailable()) {
    std::fputs("relay-server: нет дисплея для окна оператора; без окон запустите "
               "relay-server --headless\n", stderr);
    return 1;
  }
#else
  if (!opts->headless)
    std::fputs("relay-server: в этой сборке нет окна оператора; работа без окон\n", stderr);
#endif

  std::string exeDir, baseName;
  ExecutableParts(exeDir, baseName);
  const std::string dataDir = opts->dataDir.empty() ? exeDir : opts->dataDir;
  if (::access(dataDir.c_str(), R_OK | X_OK) != 0) {
    std::fprintf(stderr, "relay-server: каталог данных %s недоступен\n", dataDir.c_str());
    return 1;
  }

  app::ServerConfig cfg;
  cfg.dataDir = dataDir;
  cfg.baseName = baseName;
  cfg.exeDir = exeDir;
  cfg.portsDir = opts->portsDir;
  cfg.tickMs = opts->tickMs;
  cfg.trace = opts->trace;
#ifdef RELAY_HAS_CONSOLE
  if (!opts->headless) return console::gui::RunConsole(argc, argv, cfg);
#endif

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGPIPE, SIG_IGN);
  app::Server server(cfg);
  // Lines reach standard output from a thread of their own from the start, so
  // the main tick never waits for the reader.
  app::LineWriter writer(server.Sink(), STDOUT_FILENO);
  writer.Start();
  if (!server.Start(&error)) {
    std::fprintf(stderr, "relay-server: %s\n", error.c_str());
    Exit(writer, 1, "");
  }
  if (server.SecondCopy()) {
    // The port is held by a running server. Without an operator to ask, this
    // copy ends as if the answer were Yes: the registry stays the other's.
    server.Stop();
    Exit(writer, 1, "relay-server: Внимание - Запущен второй экземпляр программы! Завершение.\n");
  }
  for (const std::string& line : server.Describe())
    std::fprintf(stderr, "relay-server: %s\n", line.c_str());
  if (opts->reg == app::RegisterMode::All) {
    server.OpenRegistrationAll();
    std::fputs("relay-server: разрешена регистрация всех новых приборов\n", stderr);
  }
  if (opts->reg == app::RegisterMode::One) {
    server.OpenRegistrationOne(opts->regNumber);
    std::fprintf(stderr, "relay-server: разрешена регистрация прибора %d/%d/%d\n",
                 opts->regNumber.n1, opts->regNumber.n2, opts->regNumber.n3);
  }
  std::fputs("relay-server: работает; далее сообщения, остановка по SIGINT или SIGTERM\n", stderr);

  // The main thread keeps the tick and answers the control socket; a signal
  // is seen within 50 ms.
  while (!gStop) {
    const int wait = server.FrontEndWork();
    server.WaitForWork(std::min(wait, 50));
  }
  server.Stop();
  Exit(writer, 0, "relay-server: остановлен\n");
}
