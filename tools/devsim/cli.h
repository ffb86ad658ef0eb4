// The devsim command line: options, help, and the summary it prints.
#pragma once

#include <string>

#include "tools/devsim/simulator.h"

namespace devsim {

struct CliConfig {
  enum class Mode { kRun, kMakeNdx, kHelp };
  Mode mode = Mode::kRun;
  SimOptions sim;
  std::string ndxIn;   // --ndx
  std::string ndxOut;  // --make-ndx
  std::string eventLog;  // --event-log
  uint8_t linkState = 2;  // --link-state of the records --make-ndx writes
  bool quiet = false;
  bool json = false;
  bool serverGiven = false;
  bool devicesGiven = false;
  bool heartbeatGiven = false;
  bool registerGiven = false;
};

// Fills `out` from the arguments; returns an empty string, or the error.
std::string ParseCommandLine(int argc, const char* const* argv, CliConfig* out);

// Loads the --ndx registry and applies the defaults that depend on the
// device count; returns an empty string, or the error.
std::string PrepareRun(CliConfig* c);

std::string UsageText();
std::string SummaryLine(const SimSummary& s);
std::string SummaryJson(const SimSummary& s);

}  // namespace devsim
