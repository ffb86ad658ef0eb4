// A device as remote maintenance sees it: the answers to the server's
// maintenance requests, from the device's own state. Free of I/O; the
// engine sends what it returns from the device's socket.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "maintenance/settings_blocks.h"
#include "tools/devsim/config_device.h"
#include "tools/devsim/delayed.h"
#include "tools/devsim/main_loader.h"
#include "tools/devsim/radio_expander.h"
#include "tools/devsim/test_commands.h"

namespace devsim {

struct MaintProfile {
  // Credentials the login is checked against, in the devices' code page.
  std::string user = "admin";
  std::string password = "admin";
  // Maintenance requests left unanswered first, as a device out of reach.
  uint32_t silentRequests = 0;
  // Version answer: the long form (L = 9) with a chip kind, or the old short one.
  bool oldVersions = false;
  uint8_t chipKind = 0;  // 0 PIC18F4620, 1 PIC18F67K22, 2 PIC18F46K22
  uint8_t eth[2] = {2, 10};   // 87J60 firmware major, minor
  uint8_t main[2] = {4, 39};  // main controller firmware major, minor
  // Network settings: the main block the device starts with (a settings
  // file's 110 bytes; empty for a block of zeros), where each written block
  // is stored, and whether reads and writes are refused (0x8B, 0x8C).
  std::string netFile;
  std::string netOut;
  bool denyNetwork = false;
  bool noNtp = false;  // the NTP read answers "not switched on"
  MainLoaderProfile mainLoader;  // the main controller's loader
  bool testSilent = false;  // the channel test commands go unanswered
  ConfigProfile config;      // the configuration image and the configurator's link
  ExpanderProfile expander;  // the radio expander, if any
};

// A plain maintenance answer: 0xEF, L, 0x55, the code, the data, check byte.
std::vector<uint8_t> MaintenanceAnswer(uint8_t code, const std::vector<uint8_t>& data = {});

class MaintainedDevice {
 public:
  // Loads the profile's settings file; a file that cannot be read leaves
  // the block zero and says why in `error`.
  explicit MaintainedDevice(MaintProfile p, std::string* error = nullptr);

  // Whether a plain telegram (check byte right) is a maintenance request.
  static bool IsRequest(const uint8_t* t);

  // Answers one request, plain or already decrypted (check byte right),
  // received at `nowMs`: the datagram to send back now, empty for none;
  // `note` says what happened. Late answers and notices wait for Due.
  std::vector<uint8_t> Handle(const uint8_t* t, std::string* note, int64_t nowMs = 0);
  // The datagrams due by `nowMs`, and when the next one is (kNoneDue: none).
  std::vector<Delayed> Due(int64_t nowMs);
  int64_t NextDue() const { return std::min(config_.NextDue(), expander_.NextDue()); }

  const std::string& User() const { return p_.user; }
  const std::string& Password() const { return p_.password; }
  bool WebOn() const { return webOn_; }
  uint32_t Resets() const { return resets_; }
  const maintenance::NetworkBlock& Network() const { return net_; }
  // The main controller's loader: its packets are no telegrams.
  MainLoader& MainController() { return main_; }
  const TestCommands& Test() const { return test_; }
  const ConfigDevice& Config() const { return config_; }
  const RadioExpander& Expander() const { return expander_; }

 private:
  MaintProfile p_;
  uint32_t seen_ = 0;
  bool userAccepted_ = false;
  bool webOn_ = false;
  uint32_t resets_ = 0;
  maintenance::NetworkBlock net_{};
  maintenance::SmsBlock sms_{};
  maintenance::NtpBlock ntp_{};
  MainLoader main_{p_.mainLoader};
  TestCommands test_{p_.testSilent};
  ConfigDevice config_;
  RadioExpander expander_{p_.expander};
};

}  // namespace devsim
