// The fields of the device network settings window ("Сетевые настройки
// прибора."): the keys each text field takes, and the conversions between the
// fields and the settings blocks' records. Texts are UTF-8; the blocks hold
// Windows-1251 bytes.
//
// A value is checked before it goes into a block, so that nothing reaches the
// device or a settings file that the operator did not type: an address part
// above 255, an incomplete address, an empty or out-of-range port, an
// incomplete console number or a part of it above 255 is refused with a
// message naming the field, and the record is left unchanged.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "maintenance/settings_blocks.h"

namespace maintenance {

inline constexpr char32_t kBackspaceKey = U'\b';

enum class FieldKind {
  kAddress,        // a.b.c.d
  kPort,           // 0..65535
  kMac,            // six hexadecimal parts joined by ":"
  kConsoleNumber,  // N1/N2/N3
  kText24,         // APN, NTP server: no space, at most 24 characters
  kText10,         // balance request string: no space, at most 10 characters
  kPhone,          // ten digits after "+7"
  kTimeRegion,     // at most two digits
};

struct FieldInfo {
  std::string_view control;  // the control's name, e.g. "Edit2"
  std::string_view caption;  // how messages name it, e.g. "IP - прибора"
  FieldKind kind;
};

// Every text field of the window, tab by tab.
std::span<const FieldInfo> NetworkWindowFields();
// The field of that control's name, or nullptr.
const FieldInfo* FindField(std::string_view control);

struct KeyResult {
  bool accepted = true;
  std::string message;  // a line for the message log, or empty
};

// Whether a field of `kind` that holds `text` takes the typed `key`.
// Backspace is always taken. Limits count characters, not bytes.
KeyResult FieldKey(FieldKind kind, std::string_view text, char32_t key);

// Tab "Сервера", tab "Ethernet" and the SIM switches and APNs of tab "GSM":
// the network block.
struct NetworkFields {
  bool CheckEnServ1 = false, CheckEnServ2 = false, PCN_2 = false, CheckEnServ3 = false,
       CheckEnServ4 = false;
  std::string Edit8, Edit9, IpServ2, PortServ2, Edit1, Edit11, Edit21, Edit22;
  std::string Edit10;  // console number

  std::string edtHost;  // MAC address
  bool CheckBox1 = false, CheckBox2 = false, CheckBox3 = false;
  std::string Edit2, Edit3, Edit4, Edit5, Edit6, Edit7;

  bool CheckBox6 = false, CheckBox7 = false, CheckBoxPriorSIM1 = false;
  bool CheckEnGsmGprs2 = false, CheckEnIpn2 = false, CheckBoxBalMon = false;
  std::string Edit14, Ipn2;

  bool operator==(const NetworkFields&) const = default;
};

// Tab "SMS сервис" without its NTP group: the SMS block.
struct SmsFields {
  bool CheckSMSzvukPriem = false, CheckSMSTimePriem = false, CheckSMSOnly = false,
       CheckPrznVzSn = false;
  bool CheckSMS_TrPrd_1 = false, CheckSMS_VzSnPrd_1 = false, CheckSMS_ProchPrd_1 = false;
  std::string EditSMSN_1;
  bool CheckSMS_TrPrd_2 = false, CheckSMS_VzSnPrd_2 = false, CheckSMS_ProchPrd_2 = false;
  std::string EditSMSN_2;
  bool CheckSMS_TrPrd_3 = false, CheckSMS_VzSnPrd_3 = false, CheckSMS_ProchPrd_3 = false;
  std::string EditSMSN_3;

  bool operator==(const SmsFields&) const = default;
};

// The NTP group and the balance request strings of tab "GSM": the NTP block.
struct NtpFields {
  std::string Edit13;  // time region
  std::string Edit12;  // NTP server
  bool CheckBox5 = false, CheckBox8 = false;
  std::string Edit17, Edit18;

  bool operator==(const NtpFields&) const = default;
};

// A refused value: the control and the message for the operator.
struct FieldError {
  std::string control;
  std::string message;
};

// The text field or tick box of that control's name, or nullptr: for binding
// the window's controls by their names.
std::string* TextOf(NetworkFields& f, std::string_view control);
bool* BoxOf(NetworkFields& f, std::string_view control);
std::string* TextOf(SmsFields& f, std::string_view control);
bool* BoxOf(SmsFields& f, std::string_view control);
std::string* TextOf(NtpFields& f, std::string_view control);
bool* BoxOf(NtpFields& f, std::string_view control);

// Bytes to fields, after a read and after loading a file.
NetworkFields ToFields(const NetworkSettings& s);
SmsFields ToFields(const SmsSettings& s);
NtpFields ToFields(const NtpSettings& s);

// Fields to bytes, before a write and before saving a file. On refusal `out`
// is unchanged. Flag bits that no tick box sets become 0.
std::optional<FieldError> FromFields(const NetworkFields& f, NetworkSettings& out);
std::optional<FieldError> FromFields(const SmsFields& f, SmsSettings& out);
std::optional<FieldError> FromFields(const NtpFields& f, NtpSettings& out);

// Fields into a block as it was read or loaded: bytes that no field shows
// stay as they are. On refusal `block` is unchanged.
std::optional<FieldError> FieldsIntoBlock(const NetworkFields& f, NetworkBlock& block);
std::optional<FieldError> FieldsIntoBlock(const SmsFields& f, SmsBlock& block);
std::optional<FieldError> FieldsIntoBlock(const NtpFields& f, NtpBlock& block);

// Whether a block's values pass the checks of the window's fields, for a
// settings file that was not made by the window.
std::optional<FieldError> CheckNetworkBlock(const NetworkBlock& block);

}  // namespace maintenance
