#include "tools/devsim/maintained.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "devlink/crc8.h"
#include "maintenance/settings_file.h"
#include "maintenance/settings_telegrams.h"

namespace devsim {

namespace {

std::vector<uint8_t> Answer(uint8_t code, const std::vector<uint8_t>& data = {}) {
  return MaintenanceAnswer(code, data);
}

template <size_t N>
std::vector<uint8_t> Bytes(const std::array<uint8_t, N>& a) {
  return std::vector<uint8_t>(a.begin(), a.begin() + (size_t(a[1]) + 2));
}

std::string Text(const uint8_t* t) {
  return std::string(reinterpret_cast<const char*>(t + 4), t[1] >= 3 ? t[1] - 3 : 0);
}

}  // namespace

MaintainedDevice::MaintainedDevice(MaintProfile p, std::string* error)
    : p_(std::move(p)), config_(p_.config, error) {
  if (p_.netFile.empty()) return;
  // The device's own block, its MAC address included, as the file has it.
  std::ifstream f(p_.netFile, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (!f.good() && !f.eof()) bytes.clear();
  if (bytes.size() < net_.size()) {
    if (error) *error = p_.netFile + ": needs a settings file of " + std::to_string(net_.size()) + " bytes";
    return;
  }
  std::copy_n(bytes.begin(), net_.size(), net_.begin());
}

std::vector<uint8_t> MaintenanceAnswer(uint8_t code, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> t(data.size() + 5, 0);
  t[0] = 0xEF;
  t[1] = uint8_t(data.size() + 3);
  t[2] = 0x55;
  t[3] = code;
  std::copy(data.begin(), data.end(), t.begin() + 4);
  devlink::SetCheckByte(t.data());
  return t;
}

bool MaintainedDevice::IsRequest(const uint8_t* t) {
  // The jump into the main controller's loader carries 0x01 in place of the
  // marker, as the configurator's frames do, which are longer.
  if (t[0] == 0xFE && t[1] == 6 && t[2] == 0x01 && t[3] == 0x7F) return true;
  if (ConfigDevice::IsFrame(t)) return true;
  if (t[1] < 3 || t[2] != 0x55) return false;
  switch (t[0]) {
    case 0xEF:
      return t[3] == 0x01 || t[3] == 0x02 || t[3] == 0x0B || t[3] == 0x0C || t[3] == 0x24 ||
             t[3] == 0x25 || t[3] == 0xAA || t[3] == 0x11 || t[3] == 0x00;
    case 0xFE:
      return t[3] == 0x15 || t[3] == 0xF7 || t[3] == 0xF8 || t[3] == 0x13 || RadioExpander::IsRequest(t);
    case 0xE9: return t[3] == 0x04 || t[3] == 0x05 || t[3] == 0x0A || t[3] == 0x64;
    default: return false;
  }
}

std::vector<uint8_t> MaintainedDevice::Handle(const uint8_t* t, std::string* note, int64_t nowMs) {
  const uint8_t code = t[3];
  if (seen_++ < p_.silentRequests) {
    *note = "maintenance request " + std::to_string(code) + " left unanswered";
    return {};
  }
  if (ConfigDevice::IsFrame(t)) return config_.Handle(t, nowMs, note);
  if (t[0] == 0xFE && RadioExpander::IsRequest(t)) return expander_.Handle(t, nowMs, note);
  if (TestCommands::Is(t)) return test_.Handle(t, note);
  switch (code) {
    case 0x01:
      userAccepted_ = Text(t) == p_.user;
      *note = std::string("login: user ") + (userAccepted_ ? "accepted" : "refused");
      return Answer(userAccepted_ ? 0x01 : 0x81);
    case 0x02: {
      const bool ok = userAccepted_ && Text(t) == p_.password;
      *note = std::string("login: password ") + (ok ? "accepted" : "refused");
      return Answer(ok ? 0x02 : 0x82);
    }
    case 0x04:
      p_.user = Text(t);
      *note = "new user name taken";
      return Answer(0x04);
    case 0x05:
      p_.password = Text(t);
      *note = "new password taken";
      return Answer(0x05);
    case 0x0A:
      webOn_ = true;
      *note = "web interface on";
      return Answer(0x0A);
    case 0x15:
      *note = "versions";
      if (p_.oldVersions) return Answer(0x15, {p_.eth[0], p_.main[0]});
      return Answer(0x15, {p_.eth[0], p_.main[0], p_.eth[1], p_.main[1], 0, p_.chipKind});
    case 0x7F:
      main_.Jump();
      *note = "jump to the main controller's loader";
      return {};
    case 0x13:
      return main_.Erase(note);
    case 0xAA:
      ++resets_;
      *note = "reset";
      return {};
    case maintenance::kReadNetworkCode:
      *note = p_.denyNetwork ? "network settings read refused" : "network settings read";
      if (p_.denyNetwork) return Answer(0x8B);
      return Bytes(maintenance::BuildNetworkReadAnswer(net_));
    case maintenance::kWriteNetworkCode: {
      if (p_.denyNetwork) {
        *note = "network settings write refused";
        return Answer(0x8C);
      }
      std::copy(t, t + net_.size(), net_.begin());
      *note = "network settings written";
      std::string why;
      if (!p_.netOut.empty() && !maintenance::WriteSettingsFile(p_.netOut, net_, &why))
        *note += " (" + p_.netOut + ": " + why + ")";
      return Answer(maintenance::kWriteNetworkCode);
    }
    case maintenance::kReadSmsCode:
      *note = "SMS settings read";
      return Bytes(maintenance::BuildSmsReadAnswer(sms_));
    case maintenance::kWriteSmsCode:
      std::copy(t, t + sms_.size(), sms_.begin());
      *note = "SMS settings written";
      return Answer(maintenance::kWriteSmsCode);
    case maintenance::kReadNtpCode:
      *note = p_.noNtp ? "NTP not switched on" : "NTP settings read";
      if (p_.noNtp) return Answer(maintenance::kReadNtpCode);
      return Bytes(maintenance::BuildNtpReadAnswer(ntp_));
    case maintenance::kWriteNtpCode:
      std::copy(t, t + ntp_.size(), ntp_.begin());
      *note = "NTP settings written";
      return Answer(maintenance::kWriteNtpCode);
    default:
      *note = "maintenance request " + std::to_string(code) + " not played";
      return {};
  }
}

std::vector<Delayed> MaintainedDevice::Due(int64_t nowMs) {
  std::vector<Delayed> due = config_.Due(nowMs);
  for (Delayed& d : expander_.Due(nowMs)) due.push_back(std::move(d));
  return due;
}

}  // namespace devsim
