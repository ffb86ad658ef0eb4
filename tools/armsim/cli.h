// The armsim command line.
#pragma once

#include <string>

#include "tools/armsim/session.h"

namespace armsim {

struct CliConfig {
  bool help = false;
  std::string port;
  bool jsonSummary = false;
  int gapMs = 10;  // quiet time that ends a read of the port
  SessionOptions session;
};

// Fills `out` from the arguments; returns an empty string, or the error.
std::string ParseCommandLine(int argc, const char* const* argv, CliConfig* out);

std::string UsageText();

}  // namespace armsim
