// devsim: plays object devices against the relay server over UDP.
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "tools/devsim/cli.h"
#include "tools/devsim/registry_file.h"
#include "tools/devsim/simulator.h"

namespace {

devsim::Simulator* g_sim = nullptr;

void OnSignal(int) {
  if (g_sim != nullptr) g_sim->RequestStop();
}

void Say(bool quiet, const std::string& line) {
  if (!quiet) std::cerr << line << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  using namespace devsim;
  CliConfig cfg;
  if (std::string e = ParseCommandLine(argc, argv, &cfg); !e.empty()) {
    std::cerr << "devsim: " << e << '\n';
    return 2;
  }
  if (cfg.mode == CliConfig::Mode::kHelp) {
    std::cout << UsageText();
    return 0;
  }
  if (cfg.mode == CliConfig::Mode::kMakeNdx) {
    std::string error;
    if (!WriteRegistry(cfg.ndxOut, cfg.sim.population, cfg.sim.regKey, &error, cfg.linkState)) {
      std::cerr << "devsim: " << error << '\n';
      return 1;
    }
    Say(cfg.quiet, "devsim: wrote " + std::to_string(cfg.sim.population.devices) + " records to " +
                       cfg.ndxOut);
    return 0;
  }
  if (std::string e = PrepareRun(&cfg); !e.empty()) {
    std::cerr << "devsim: " << e << '\n';
    return 2;
  }

  cfg.sim.log = [](std::string_view line) { std::cerr << line << '\n'; };
  std::ofstream eventLog;
  if (!cfg.eventLog.empty()) {
    eventLog.open(cfg.eventLog);
    if (!eventLog) {
      std::cerr << "devsim: cannot create " << cfg.eventLog << '\n';
      return 1;
    }
    cfg.sim.onEventSent = [&eventLog](const ConsoleNumber& n, uint8_t data, int64_t monoUs) {
      eventLog << int(n.n1) << '/' << int(n.n2) << '/' << int(n.n3) << ' ' << int(data) << ' '
               << monoUs << '\n';
    };
  }
  Simulator sim(cfg.sim);
  std::string error;
  if (!sim.Open(&error)) {
    std::cerr << "devsim: " << error << '\n';
    return 1;
  }
  const auto& p = cfg.sim.population;
  Say(cfg.quiet, "devsim: " + std::to_string(p.devices) + " devices from " +
                     (p.spread ? Ipv4Text(p.source) + (p.devices > 1 ? " up" : "") : Ipv4Text(p.source)) +
                     ", " + std::to_string(sim.LocalPorts().size()) + " socket(s) from port " +
                     std::to_string(sim.LocalPorts().front()) + ", server " + Ipv4Text(cfg.sim.serverAddr) +
                     ":" + std::to_string(cfg.sim.serverPort));

  g_sim = &sim;
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sa.sa_flags = SA_RESETHAND;  // a second signal ends the program at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);

  const SimSummary s = sim.Run();
  g_sim = nullptr;
  std::cout << (cfg.json ? SummaryJson(s) : SummaryLine(s)) << std::endl;
  return s.Ok() ? 0 : 1;
}
