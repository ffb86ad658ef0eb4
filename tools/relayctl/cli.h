// relayctl's command line: the request it sends and how it prints the answer.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace relayctl {

struct Command {
  std::string dataDir;     // empty: the folder of relayctl itself
  bool json = false;       // print the server's answers as they come
  bool yes = false;        // the console's question is answered Yes in advance
  bool help = false;
  nlohmann::json request;  // the request line's object
  bool follow = false;     // the answer is followed by a stream
  int waitSeconds = 0;     // how long the request itself may wait (request --wait)
  // maint: files holding a user name and a password on two lines; without
  // --credentials they are read from standard input.
  std::string credentialsFile, newCredentialsFile;
  // maint net-read / net-write: the device network settings file.
  std::string settingsFile;
  // config read / write: the configuration file.
  std::string configFile;
  // maint update-main / update-eth and batch: the firmware file.
  std::string firmwareFile;
  // batch: the devices updated one after another; the request is a maint
  // request whose device is each of them in turn.
  std::vector<std::string> batchDevices;
};

// User name and password from the first two lines of `text` (CR LF or LF);
// false with the reason when either is missing.
bool ParseCredentials(const std::string& text, std::string* user, std::string* password,
                      std::string* error);

// The command of the arguments after the program name; nullopt with the
// reason in `error` for bad usage.
std::optional<Command> ParseCommand(const std::vector<std::string>& args, std::string* error);

extern const char kUsage[];

}  // namespace relayctl
