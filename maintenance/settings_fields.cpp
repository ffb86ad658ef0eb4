#include "maintenance/settings_fields.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/cp1251.h"

namespace maintenance {

namespace {

using K = FieldKind;

constexpr FieldInfo kFields[] = {
    // Tab "Сервера".
    {"Edit8", "IP - Сервер 1", K::kAddress},
    {"Edit9", "Порт Сервер 1", K::kPort},
    {"IpServ2", "IP - Сервер 2", K::kAddress},
    {"PortServ2", "Порт Сервер 2", K::kPort},
    {"Edit1", "IP - Сервер 1(3)", K::kAddress},
    {"Edit11", "Порт Сервер 1(3)", K::kPort},
    {"Edit21", "IP - Сервер 2(4)", K::kAddress},
    {"Edit22", "Порт Сервер 2(4)", K::kPort},
    {"Edit10", "Пультовой номер прибора", K::kConsoleNumber},
    // Tab "Ethernet".
    {"edtHost", "МАС-адрес", K::kMac},
    {"Edit2", "IP - прибора", K::kAddress},
    {"Edit3", "Порт прибора", K::kPort},
    {"Edit4", "Шлюз", K::kAddress},
    {"Edit5", "Маска подсети", K::kAddress},
    {"Edit6", "Основная DNS", K::kAddress},
    {"Edit7", "Дополнит. DNS", K::kAddress},
    // Tab "GSM".
    {"Edit14", "APN 1 SIM", K::kText24},
    {"Edit17", "Строка Запроса Баланса 1 SIM", K::kText10},
    {"Ipn2", "APN 2 SIM", K::kText24},
    {"Edit18", "Строка Запроса Баланса 2 SIM", K::kText10},
    // Tab "SMS сервис".
    {"EditSMSN_1", "Номер телефона 1", K::kPhone},
    {"EditSMSN_2", "Номер телефона 2", K::kPhone},
    {"EditSMSN_3", "Номер телефона 3", K::kPhone},
    {"Edit12", "Домен - NTP сервера", K::kText24},
    {"Edit13", "Временной регион", K::kTimeRegion},
    {"Edit15", "Сервер по умолчанию", K::kText24},
};

template <class F>
struct TextMember {
  std::string_view control;
  std::string F::*member;
};

template <class F>
struct BoxMember {
  std::string_view control;
  bool F::*member;
};

using NF = NetworkFields;
using SF = SmsFields;
using TF = NtpFields;

constexpr TextMember<NF> kNetworkTexts[] = {
    {"Edit8", &NF::Edit8},   {"Edit9", &NF::Edit9},     {"IpServ2", &NF::IpServ2},
    {"PortServ2", &NF::PortServ2}, {"Edit1", &NF::Edit1}, {"Edit11", &NF::Edit11},
    {"Edit21", &NF::Edit21}, {"Edit22", &NF::Edit22},   {"Edit10", &NF::Edit10},
    {"edtHost", &NF::edtHost}, {"Edit2", &NF::Edit2},   {"Edit3", &NF::Edit3},
    {"Edit4", &NF::Edit4},   {"Edit5", &NF::Edit5},     {"Edit6", &NF::Edit6},
    {"Edit7", &NF::Edit7},   {"Edit14", &NF::Edit14},   {"Ipn2", &NF::Ipn2},
};

// The network block's tick boxes: the flag byte (A at 40, B at 108) and bit.
struct NetworkBox {
  std::string_view control;
  bool NF::*member;
  bool flagsB;
  uint8_t bit;
};

constexpr NetworkBox kNetworkBoxes[] = {
    {"CheckBox1", &NF::CheckBox1, false, kDhcpOn},
    {"CheckBox2", &NF::CheckBox2, false, kWebAndPingOn},
    {"CheckEnServ1", &NF::CheckEnServ1, false, kServer1On},
    {"CheckBox3", &NF::CheckBox3, false, kProgrammingOn},
    {"CheckBox6", &NF::CheckBox6, false, kSim1On},
    {"CheckBox7", &NF::CheckBox7, false, kSim1ApnGiven},
    {"CheckEnServ2", &NF::CheckEnServ2, false, kServer2On},
    {"CheckEnGsmGprs2", &NF::CheckEnGsmGprs2, true, kSim2On},
    {"CheckEnIpn2", &NF::CheckEnIpn2, true, kSim2ApnGiven},
    {"CheckEnServ3", &NF::CheckEnServ3, true, kServer3On},
    {"PCN_2", &NF::PCN_2, true, kSecondStation},
    {"CheckEnServ4", &NF::CheckEnServ4, true, kServer4On},
    {"CheckBoxPriorSIM1", &NF::CheckBoxPriorSIM1, true, kSim1Priority},
    {"CheckBoxBalMon", &NF::CheckBoxBalMon, true, kMonthlyBalance},
};

// Per telephone: its three boxes and its number.
struct SmsRow {
  bool SF::*alarms;
  bool SF::*arming;
  bool SF::*other;
  std::string SF::*number;
  std::string_view control;
};

constexpr SmsRow kSmsRows[] = {
    {&SF::CheckSMS_TrPrd_1, &SF::CheckSMS_VzSnPrd_1, &SF::CheckSMS_ProchPrd_1, &SF::EditSMSN_1,
     "EditSMSN_1"},
    {&SF::CheckSMS_TrPrd_2, &SF::CheckSMS_VzSnPrd_2, &SF::CheckSMS_ProchPrd_2, &SF::EditSMSN_2,
     "EditSMSN_2"},
    {&SF::CheckSMS_TrPrd_3, &SF::CheckSMS_VzSnPrd_3, &SF::CheckSMS_ProchPrd_3, &SF::EditSMSN_3,
     "EditSMSN_3"},
};

struct SmsOption {
  bool SF::*member;
  uint8_t bit;
};

constexpr SmsOption kSmsOptions[] = {
    {&SF::CheckSMSzvukPriem, kSmsSound},
    {&SF::CheckSMSTimePriem, kSmsTime},
    {&SF::CheckSMSOnly, kSmsAutonomous},
    {&SF::CheckPrznVzSn, kSmsArmingAfterAlarms},
};

constexpr BoxMember<SF> kSmsBoxes[] = {
    {"CheckSMSzvukPriem", &SF::CheckSMSzvukPriem},
    {"CheckSMSTimePriem", &SF::CheckSMSTimePriem},
    {"CheckSMSOnly", &SF::CheckSMSOnly},
    {"CheckPrznVzSn", &SF::CheckPrznVzSn},
    {"CheckSMS_TrPrd_1", &SF::CheckSMS_TrPrd_1},
    {"CheckSMS_VzSnPrd_1", &SF::CheckSMS_VzSnPrd_1},
    {"CheckSMS_ProchPrd_1", &SF::CheckSMS_ProchPrd_1},
    {"CheckSMS_TrPrd_2", &SF::CheckSMS_TrPrd_2},
    {"CheckSMS_VzSnPrd_2", &SF::CheckSMS_VzSnPrd_2},
    {"CheckSMS_ProchPrd_2", &SF::CheckSMS_ProchPrd_2},
    {"CheckSMS_TrPrd_3", &SF::CheckSMS_TrPrd_3},
    {"CheckSMS_VzSnPrd_3", &SF::CheckSMS_VzSnPrd_3},
    {"CheckSMS_ProchPrd_3", &SF::CheckSMS_ProchPrd_3},
};

constexpr TextMember<SF> kSmsTexts[] = {
    {"EditSMSN_1", &SF::EditSMSN_1},
    {"EditSMSN_2", &SF::EditSMSN_2},
    {"EditSMSN_3", &SF::EditSMSN_3},
};

constexpr TextMember<TF> kNtpTexts[] = {
    {"Edit13", &TF::Edit13}, {"Edit12", &TF::Edit12}, {"Edit17", &TF::Edit17},
    {"Edit18", &TF::Edit18},
};

constexpr BoxMember<TF> kNtpBoxes[] = {
    {"CheckBox5", &TF::CheckBox5},
    {"CheckBox8", &TF::CheckBox8},
};

template <class T, class F, size_t N>
auto Member(const T (&table)[N], F& f, std::string_view control) -> decltype(&(f.*table[0].member)) {
  for (const T& e : table)
    if (e.control == control) return &(f.*e.member);
  return nullptr;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsDigits(std::string_view s) { return std::all_of(s.begin(), s.end(), IsDigit); }

// A decimal number of digits only; above a million it stays a million.
uint32_t Decimal(std::string_view s) {
  uint32_t v = 0;
  for (char c : s) v = std::min<uint32_t>(v * 10 + uint32_t(c - '0'), 1'000'000);
  return v;
}

int HexDigit(char c) {
  if (IsDigit(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  for (;;) {
    const size_t at = s.find(sep);
    parts.push_back(s.substr(0, at));
    if (at == std::string_view::npos) return parts;
    s.remove_prefix(at + 1);
  }
}

size_t CharCount(std::string_view utf8) {
  return size_t(std::count_if(utf8.begin(), utf8.end(),
                              [](char c) { return (uint8_t(c) & 0xC0) != 0x80; }));
}

// Collects the fields' values into a record; after the first refusal it
// only keeps that refusal.
class Reader {
 public:
  std::optional<FieldError> error;

  void Address(std::string_view control, std::string_view text, Ipv4& out) {
    if (error) return;
    if (text.empty()) return Refuse(control, "адрес не задан");
    if (!std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '.'; }))
      return Refuse(control, "адрес задан неверно");
    const auto parts = Split(text, '.');
    if (parts.size() > 4) return Refuse(control, "адрес задан неверно");
    const bool gap = std::any_of(parts.begin(), parts.end(), [](auto p) { return p.empty(); });
    if (parts.size() < 4 || gap) return Refuse(control, "адрес не полный");
    Ipv4 v{};
    for (size_t k = 0; k < 4; ++k) {
      const uint32_t n = Decimal(parts[k]);
      if (n > 255) return Refuse(control, "часть адреса больше 255");
      v[k] = uint8_t(n);
    }
    out = v;
  }

  // A port in use (the device's, or an enabled server's) cannot be 0.
  void Port(std::string_view control, std::string_view text, bool inUse, uint16_t& out) {
    if (error) return;
    if (text.empty()) return Refuse(control, "порт не задан");
    if (!IsDigits(text)) return Refuse(control, "порт задан неверно");
    const uint32_t n = Decimal(text);
    if (n > 65535) return Refuse(control, "порт больше 65535");
    if (n == 0 && inUse) return Refuse(control, "порт 0 недопустим");
    out = uint16_t(n);
  }

  void ConsoleNumber(std::string_view control, std::string_view text,
                     std::array<uint8_t, 3>& out) {
    if (error) return;
    if (text.empty()) return Refuse(control, "номер не задан");
    if (!std::all_of(text.begin(), text.end(), [](char c) { return IsDigit(c) || c == '/'; }))
      return Refuse(control, "номер задан неверно");
    const auto parts = Split(text, '/');
    if (parts.size() > 3) return Refuse(control, "номер задан неверно");
    const bool gap = std::any_of(parts.begin(), parts.end(), [](auto p) { return p.empty(); });
    if (parts.size() < 3 || gap) return Refuse(control, "номер не полный (N1/N2/N3)");
    std::array<uint8_t, 3> v{};
    for (size_t k = 0; k < 3; ++k) {
      const uint32_t n = Decimal(parts[k]);
      if (n > 255) return Refuse(control, "часть номера больше 255");
      v[k] = uint8_t(n);
    }
    out = v;
  }

  void Mac(std::string_view control, std::string_view text, MacAddress& out) {
    if (error) return;
    const auto parts = Split(text, ':');
    MacAddress v{};
    bool ok = parts.size() == v.size();
    for (size_t k = 0; ok && k < parts.size(); ++k) {
      const std::string_view p = parts[k];
      ok = !p.empty() && p.size() <= 2 &&
           std::all_of(p.begin(), p.end(), [](char c) { return HexDigit(c) >= 0; });
      if (ok) v[k] = uint8_t(p.size() == 1 ? HexDigit(p[0]) : HexDigit(p[0]) * 16 + HexDigit(p[1]));
    }
    if (!ok) return Refuse(control, "Ошибка преобразования HEX");
    out = v;
  }

  // The text's code-page bytes, then zero bytes; an empty APN is all spaces.
  template <size_t N>
  void Text(std::string_view control, std::string_view text, bool emptyIsSpaces,
            std::array<uint8_t, N>& out) {
    if (error) return;
    const std::string bytes = platform::Utf8ToCp1251(text);
    if (platform::Cp1251ToUtf8(bytes) != text)
      return Refuse(control, "символ вне кодовой страницы Windows-1251");
    if (bytes.find(' ') != std::string::npos) return Refuse(control, "пробел недопустим");
    if (bytes.size() > N)
      return Refuse(control, "длиннее " + std::to_string(N) + " символов");
    out.fill(bytes.empty() && emptyIsSpaces ? ' ' : 0);
    std::copy(bytes.begin(), bytes.end(), out.begin());
  }

  // An empty number is all zeros; otherwise ten digits, the first in the high half.
  void Phone(std::string_view control, std::string_view text, PhoneDigits& out) {
    if (error) return;
    PhoneDigits v{};
    if (!text.empty()) {
      if (text.size() != 2 * v.size() || !IsDigits(text))
        return Refuse(control, "нужно 10 цифр номера");
      for (size_t k = 0; k < text.size(); ++k)
        v[k / 2] |= uint8_t((text[k] - '0') << (k % 2 == 0 ? 4 : 0));
    }
    out = v;
  }

  // An empty region is 255, as the device knows it.
  void TimeRegion(std::string_view control, std::string_view text, uint8_t& out) {
    if (error) return;
    if (text.empty()) {
      out = 255;
      return;
    }
    if (text.size() > 2 || !IsDigits(text)) return Refuse(control, "нужно число от 0 до 99");
    out = uint8_t(Decimal(text));
  }

 private:
  void Refuse(std::string_view control, const std::string& what) {
    const FieldInfo* info = FindField(control);
    const std::string_view caption = info ? info->caption : control;
    error = FieldError{std::string(control),
                       "Поле \"" + std::string(caption) + "\": " + what + "."};
  }
};

std::string AddressText(const Ipv4& a) {
  return std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." +
         std::to_string(a[3]);
}

std::string MacText(const MacAddress& m) {
  char s[18];
  std::snprintf(s, sizeof s, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
  return s;
}

// The characters up to the first zero byte or space.
template <size_t N>
std::string TextOfBytes(const std::array<uint8_t, N>& b) {
  const auto end = std::find_if(b.begin(), b.end(), [](uint8_t c) { return c == 0 || c == ' '; });
  return platform::Cp1251ToUtf8(std::string(b.begin(), end));
}

// Each half of each byte as a decimal number, the high half first.
std::string PhoneText(const PhoneDigits& d) {
  std::string s;
  for (uint8_t b : d) s += std::to_string(b >> 4) + std::to_string(b & 0x0F);
  return s;
}

}  // namespace

std::span<const FieldInfo> NetworkWindowFields() { return kFields; }

const FieldInfo* FindField(std::string_view control) {
  for (const FieldInfo& f : kFields)
    if (f.control == control) return &f;
  return nullptr;
}

KeyResult FieldKey(FieldKind kind, std::string_view text, char32_t key) {
  if (key == kBackspaceKey) return {};
  const bool digit = key >= U'0' && key <= U'9';
  const size_t length = CharCount(text);
  auto count = [&](char c) { return std::count(text.begin(), text.end(), c); };
  auto verdict = [](bool ok) { return KeyResult{ok, {}}; };
  switch (kind) {
    case K::kAddress:
      return verdict(digit || (key == U'.' && count('.') < 3));
    case K::kPort: {
      if (!digit || length >= 5) return verdict(false);
      if (length < 4) return {};
      const std::string whole = std::string(text) + char(key);
      if (!IsDigits(whole)) return {true, "Ош. Преобр."};
      if (Decimal(whole) > 65535) return {false, "Выход за границу диапазона.(>65535)"};
      return {};
    }
    case K::kMac: {
      const bool hex = key < 0x80 && HexDigit(char(key)) >= 0;
      return verdict(hex || (key == U':' && count(':') < 5));
    }
    case K::kConsoleNumber:
      return verdict(digit || (key == U'/' && count('/') < 2));
    case K::kText24:
      return verdict(key != U' ' && length < 24);
    case K::kText10:
      return verdict(key != U' ' && length < 10);
    case K::kPhone:
      return verdict(digit && length < 10);
    case K::kTimeRegion:
      return verdict(digit && length < 2);
  }
  return verdict(false);
}

std::string* TextOf(NetworkFields& f, std::string_view control) {
  return Member(kNetworkTexts, f, control);
}
bool* BoxOf(NetworkFields& f, std::string_view control) {
  return Member(kNetworkBoxes, f, control);
}
std::string* TextOf(SmsFields& f, std::string_view control) {
  return Member(kSmsTexts, f, control);
}
bool* BoxOf(SmsFields& f, std::string_view control) { return Member(kSmsBoxes, f, control); }
std::string* TextOf(NtpFields& f, std::string_view control) {
  return Member(kNtpTexts, f, control);
}
bool* BoxOf(NtpFields& f, std::string_view control) { return Member(kNtpBoxes, f, control); }

NetworkFields ToFields(const NetworkSettings& s) {
  NetworkFields f;
  f.Edit8 = AddressText(s.server1Ip);
  f.Edit9 = std::to_string(s.server1Port);
  f.IpServ2 = AddressText(s.server2Ip);
  f.PortServ2 = std::to_string(s.server2Port);
  f.Edit1 = AddressText(s.server3Ip);
  f.Edit11 = std::to_string(s.server3Port);
  f.Edit21 = AddressText(s.server4Ip);
  f.Edit22 = std::to_string(s.server4Port);
  f.Edit10 = std::to_string(s.consoleNumber[0]) + "/" + std::to_string(s.consoleNumber[1]) + "/" +
             std::to_string(s.consoleNumber[2]);
  f.edtHost = MacText(s.mac);
  f.Edit2 = AddressText(s.deviceIp);
  f.Edit3 = std::to_string(s.devicePort);
  f.Edit4 = AddressText(s.gateway);
  f.Edit5 = AddressText(s.subnetMask);
  f.Edit6 = AddressText(s.primaryDns);
  f.Edit7 = AddressText(s.secondaryDns);
  f.Edit14 = TextOfBytes(s.apn1);
  f.Ipn2 = TextOfBytes(s.apn2);
  for (const NetworkBox& b : kNetworkBoxes)
    f.*b.member = ((b.flagsB ? s.flagsB : s.flagsA) & b.bit) != 0;
  return f;
}

std::optional<FieldError> FromFields(const NetworkFields& f, NetworkSettings& out) {
  NetworkSettings s = out;
  Reader r;
  r.Address("Edit8", f.Edit8, s.server1Ip);
  r.Port("Edit9", f.Edit9, f.CheckEnServ1, s.server1Port);
  r.Address("IpServ2", f.IpServ2, s.server2Ip);
  r.Port("PortServ2", f.PortServ2, f.CheckEnServ2, s.server2Port);
  r.Address("Edit1", f.Edit1, s.server3Ip);
  r.Port("Edit11", f.Edit11, f.CheckEnServ3, s.server3Port);
  r.Address("Edit21", f.Edit21, s.server4Ip);
  r.Port("Edit22", f.Edit22, f.CheckEnServ4, s.server4Port);
  r.ConsoleNumber("Edit10", f.Edit10, s.consoleNumber);
  r.Mac("edtHost", f.edtHost, s.mac);
  r.Address("Edit2", f.Edit2, s.deviceIp);
  r.Port("Edit3", f.Edit3, true, s.devicePort);
  r.Address("Edit4", f.Edit4, s.gateway);
  r.Address("Edit5", f.Edit5, s.subnetMask);
  r.Address("Edit6", f.Edit6, s.primaryDns);
  r.Address("Edit7", f.Edit7, s.secondaryDns);
  r.Text("Edit14", f.Edit14, true, s.apn1);
  r.Text("Ipn2", f.Ipn2, true, s.apn2);
  if (r.error) return r.error;
  s.flagsA = 0;
  s.flagsB = 0;
  for (const NetworkBox& b : kNetworkBoxes)
    if (f.*b.member) (b.flagsB ? s.flagsB : s.flagsA) |= b.bit;
  out = s;
  return std::nullopt;
}

SmsFields ToFields(const SmsSettings& s) {
  SmsFields f;
  for (const SmsOption& o : kSmsOptions) f.*o.member = (s.options & o.bit) != 0;
  for (size_t k = 0; k < s.phones.size(); ++k) {
    const SmsRow& row = kSmsRows[k];
    const SmsPhone& p = s.phones[k];
    f.*row.alarms = (p.flags & kSmsAlarms) != 0;
    f.*row.arming = (p.flags & kSmsArming) != 0;
    f.*row.other = (p.flags & kSmsOther) != 0;
    f.*row.number = PhoneText(p.digits);
  }
  return f;
}

std::optional<FieldError> FromFields(const SmsFields& f, SmsSettings& out) {
  SmsSettings s;
  Reader r;
  for (const SmsOption& o : kSmsOptions)
    if (f.*o.member) s.options |= o.bit;
  for (size_t k = 0; k < s.phones.size(); ++k) {
    const SmsRow& row = kSmsRows[k];
    SmsPhone& p = s.phones[k];
    p.flags = uint8_t((f.*row.alarms ? kSmsAlarms : 0) | (f.*row.arming ? kSmsArming : 0) |
                      (f.*row.other ? kSmsOther : 0));
    r.Phone(row.control, f.*row.number, p.digits);
  }
  if (r.error) return r.error;
  out = s;
  return std::nullopt;
}

NtpFields ToFields(const NtpSettings& s) {
  NtpFields f;
  f.Edit13 = std::to_string(s.timeRegion);
  f.Edit12 = TextOfBytes(s.ntpServer);
  f.CheckBox5 = (s.balanceFlags & kBalance1Given) != 0;
  f.CheckBox8 = (s.balanceFlags & kBalance2Given) != 0;
  f.Edit17 = TextOfBytes(s.balance1);
  f.Edit18 = TextOfBytes(s.balance2);
  return f;
}

std::optional<FieldError> FromFields(const NtpFields& f, NtpSettings& out) {
  NtpSettings s;
  Reader r;
  r.TimeRegion("Edit13", f.Edit13, s.timeRegion);
  r.Text("Edit12", f.Edit12, false, s.ntpServer);
  r.Text("Edit17", f.Edit17, false, s.balance1);
  r.Text("Edit18", f.Edit18, false, s.balance2);
  if (r.error) return r.error;
  s.balanceFlags = uint8_t((f.CheckBox5 ? kBalance1Given : 0) | (f.CheckBox8 ? kBalance2Given : 0));
  out = s;
  return std::nullopt;
}

namespace {

template <class Fields, class Settings, class Block>
std::optional<FieldError> IntoBlock(const Fields& f, Block& block, Settings (*decode)(const Block&),
                                    void (*encode)(const Settings&, Block&)) {
  Settings v = decode(block);
  if (auto bad = FromFields(f, v)) return bad;
  encode(v, block);
  return std::nullopt;
}

}  // namespace

std::optional<FieldError> FieldsIntoBlock(const NetworkFields& f, NetworkBlock& block) {
  return IntoBlock(f, block, &DecodeNetworkSettings, &EncodeNetworkSettings);
}

std::optional<FieldError> FieldsIntoBlock(const SmsFields& f, SmsBlock& block) {
  return IntoBlock(f, block, &DecodeSmsSettings, &EncodeSmsSettings);
}

std::optional<FieldError> FieldsIntoBlock(const NtpFields& f, NtpBlock& block) {
  return IntoBlock(f, block, &DecodeNtpSettings, &EncodeNtpSettings);
}

std::optional<FieldError> CheckNetworkBlock(const NetworkBlock& block) {
  NetworkSettings v = DecodeNetworkSettings(block);
  return FromFields(ToFields(v), v);
}

}  // namespace maintenance
