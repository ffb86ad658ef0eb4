// Command line of relay-server.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "devlink/client_record.h"

namespace app {

enum class RegisterMode { Closed, All, One };

struct Options {
  bool headless = false;
  std::string dataDir;  // empty: the executable's directory
  RegisterMode reg = RegisterMode::Closed;
  devlink::ConsoleNumber regNumber;
  std::string portsDir = "/dev";  // where a port name without "/" is looked up
  int tickMs = 1000;              // period of the main tick
  bool trace = false;             // traffic lines to standard output
  bool help = false;
};

// Parses the arguments after the program name; on a bad flag returns nullopt
// and the reason in `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error);

// "1/0/5" -> 1, 0, 5; each part a decimal number 0..255.
std::optional<devlink::ConsoleNumber> ParseConsoleNumber(const std::string& text);

extern const char kUsage[];

}  // namespace app
