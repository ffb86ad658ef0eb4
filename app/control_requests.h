// The requests of the control socket: parsed from one JSON line, checked, and
// carried out on the front end's thread through the same Server calls that
// the console's widgets make.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/control_server.h"
#include "console/device_grid.h"

namespace app {

class Server;
using console::DeviceRef;

struct ControlRequest {
  std::string verb;
  std::string device;                 // "N1/N2/N3" or "#index"
  std::string mode;                   // register: all|off|N1/N2/N3; request: the kind; trace: start|stop
  std::vector<std::string> keys;      // settings to show
  std::vector<std::pair<std::string, std::string>> set;  // settings to change, in order
  bool yes = false;                   // the operator's question was answered Yes
  bool wait = false;                  // request: wait for the device's answer
  bool follow = false;                // messages, trace: go on streaming
  bool failed = false;                // devices: only those whose link failed
  int timeoutSeconds = 30;            // request --wait
  // maint: the action, the device's user name and password, and for the
  // action "credentials" the new ones.
  std::string action;
  std::string user, password, newUser, newPassword;
  std::string image;  // net-write: the settings file's 110 bytes in hexadecimal
  int lan = -1, sim = -1;  // test: the channel masks, LAN 0..15 and SIM 0..255
  // update-main, update-eth: the firmware file's path as the operator gave
  // it and its bytes (base64 in the request).
  std::string fileName, firmware;
  int variant = -1;  // config write: the device type the configuration is for
};

// The maintenance actions by name.
inline constexpr const char* kMaintActions[] = {"versions", "credentials", "web-on",
                                                "net-read", "net-write",   "reset",
                                                "test",     "update-main", "update-eth"};

// The maintenance actions that carry a firmware file.
inline bool CarriesFirmware(std::string_view action) {
  return action == "update-main" || action == "update-eth";
}

// The request of a line; nullopt with the reason in `error` for anything
// else: not JSON, not an object, an unknown verb, a field of a wrong type or
// a missing one.
std::optional<ControlRequest> ParseControlRequest(std::string_view line, std::string* error);

// The kinds of service request by name, in the order of their codes 0..4.
inline constexpr const char* kRequestKinds[5] = {"channel", "signal1", "signal2", "balance1",
                                                 "balance2"};

// The question the console asks before `r`, or nullptr when it asks none.
const char* QuestionOf(const ControlRequest& r);

class ControlDispatcher : public ControlHandler {
 public:
  explicit ControlDispatcher(Server& server) : server_(server) {}
  std::unique_ptr<ControlJob> Handle(std::string_view line, std::string& out) override;

 private:
  std::unique_ptr<ControlJob> Carry(const ControlRequest& r, const std::optional<DeviceRef>& d,
                                    std::string& out);
  Server& server_;
};

}  // namespace app
