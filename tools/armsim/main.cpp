// armsim: plays the monitoring workstation against the relay server on a
// serial port or pty.
#include <signal.h>

#include <cstdio>
#include <iostream>

#include "platform/serial_linux.h"
#include "tools/armsim/cli.h"
#include "tools/armsim/session.h"

namespace {

armsim::Session* g_session = nullptr;

void OnSignal(int) {
  if (g_session != nullptr) g_session->Stop();
}

const char* OpenFailure(platform::TermiosPort::OpenError e) {
  using E = platform::TermiosPort::OpenError;
  switch (e) {
    case E::kNotFound: return "no such port";
    case E::kBusy: return "the port is held by another process";
    case E::kNotTerminal: return "not a serial port";
    default: return "cannot open or set up the port";
  }
}

}  // namespace

int main(int argc, char** argv) {
  armsim::CliConfig cfg;
  if (std::string e = armsim::ParseCommandLine(argc, argv, &cfg); !e.empty()) {
    std::cerr << "armsim: " << e << "\n(armsim --help shows the options)\n";
    return 2;
  }
  if (cfg.help) {
    std::cout << armsim::UsageText();
    return 0;
  }
  platform::TermiosPort port;
  if (!port.Open(cfg.port)) {
    std::cerr << "armsim: " << port.Path() << ": " << OpenFailure(port.LastError()) << '\n';
    return armsim::kExitPortFailed;
  }
  port.SetGapMs(cfg.gapMs);
  armsim::Session session(port, cfg.session, [](const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  });
  g_session = &session;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  const int code = session.Run();
  g_session = nullptr;
  if (!session.Error().empty()) std::cerr << "armsim: " << session.Error() << '\n';
  if (cfg.jsonSummary) {
    std::fputs((armsim::SummaryJson(session.Stats(), code) + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
  return code;
}
