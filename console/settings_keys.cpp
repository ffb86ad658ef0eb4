#include "console/settings_keys.h"

#include <strings.h>

#include "console/field_rules.h"
#include "platform/ipv4_text.h"

namespace console {

namespace {

constexpr const char* kSection = "Form1";

enum class Kind { kBool, kItem, kAddress, kPort };

struct KeyRule {
  const char* key;
  Kind kind;
  int last;  // the last item of a combo box
  Form1Control control;
  bool Form1Settings::*flag;
  int Form1Settings::*item;
  std::string Form1Settings::*text;
};

constexpr KeyRule Flag(const char* k, bool Form1Settings::*m, Form1Control c = Form1Control::kOther) {
  return {k, Kind::kBool, 1, c, m, nullptr, nullptr};
}
constexpr KeyRule Item(const char* k, int Form1Settings::*m, int last,
                       Form1Control c = Form1Control::kOther) {
  return {k, Kind::kItem, last, c, nullptr, m, nullptr};
}
constexpr KeyRule Text(const char* k, Kind kind, std::string Form1Settings::*m) {
  return {k, kind, 0, Form1Control::kOther, nullptr, nullptr, m};
}

// The keys that tab "Настройки" edits; the rest are window places, written
// only, or belong to the output that stays off.
const KeyRule kRules[] = {
    Flag("SetKarta_11", &Form1Settings::SetKarta_11),
    Flag("SetKarta_22", &Form1Settings::SetKarta_22),
    Flag("GSM_Modem", &Form1Settings::GSM_Modem),
    Text("IpAdrrServ_1", Kind::kAddress, &Form1Settings::IpAdrrServ_1),
    Text("IpAdrrServ_2", Kind::kAddress, &Form1Settings::IpAdrrServ_2),
    Text("IpAdrrGsm", Kind::kAddress, &Form1Settings::IpAdrrGsm),
    Text("GateWay1", Kind::kAddress, &Form1Settings::GateWay1),
    Text("GateWay2", Kind::kAddress, &Form1Settings::GateWay2),
    Text("GateWayGSM", Kind::kAddress, &Form1Settings::GateWayGSM),
    Text("EditPortServ1", Kind::kPort, &Form1Settings::EditPortServ1),
    Text("EditPortServ2", Kind::kPort, &Form1Settings::EditPortServ2),
    Text("EditPortGSM", Kind::kPort, &Form1Settings::EditPortGSM),
    Item("NnPort", &Form1Settings::NnPort, 7),
    Item("PortArm", &Form1Settings::PortArm, 14),
    Item("NaruchUO", &Form1Settings::NaruchUO, 1, Form1Control::kNaruchUO),
    Item("BoxNPovtor", &Form1Settings::BoxNPovtor, 2, Form1Control::kBoxNPovtor),
    Item("BoxTimePovtor", &Form1Settings::BoxTimePovtor, 2, Form1Control::kBoxTimePovtor),
    Flag("CheckPOVTORTLG", &Form1Settings::CheckPOVTORTLG, Form1Control::kCheckPOVTORTLG),
    Flag("CheckBoxBalanseGsm", &Form1Settings::CheckBoxBalanseGsm,
         Form1Control::kCheckBoxBalanseGsm),
    Flag("CheckSostAvar", &Form1Settings::CheckSostAvar, Form1Control::kCheckSostAvar),
    Flag("CheckMoteKTS", &Form1Settings::CheckMoteKTS, Form1Control::kCheckMoteKTS),
    Flag("CheckBox_Internet", &Form1Settings::CheckBox_Internet, Form1Control::kCheckBox_Internet),
    Flag("CheckAvarOrvane", &Form1Settings::CheckAvarOrvane, Form1Control::kCheckAvarOrvane),
    Flag("CheckBoxMetric", &Form1Settings::CheckBoxMetric, Form1Control::kCheckBoxMetric),
};

std::optional<int> Decimal(std::string_view v) {
  if (v.empty() || v.size() > 6) return std::nullopt;
  int n = 0;
  for (char c : v) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

bool SameForm1Key(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<std::pair<std::string, std::string>> Form1Values(const Form1Settings& f) {
  platform::IniFile ini;
  WriteForm1(ini, f);
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& key : ini.Keys(kSection))
    out.emplace_back(key, ini.GetString(kSection, key, ""));
  return out;
}

std::optional<Form1Control> SetForm1Key(Form1Settings& f, std::string_view key,
                                        std::string_view value, std::string* error) {
  const KeyRule* rule = nullptr;
  for (const KeyRule& r : kRules)
    if (SameForm1Key(r.key, key)) rule = &r;
  if (!rule) {
    bool known = false;
    for (const auto& kv : Form1Values(f)) known = known || SameForm1Key(kv.first, key);
    *error = known ? "ключ " + std::string(key) + " не меняется на вкладке \"Настройки\""
                   : "в секции Form1 нет ключа " + std::string(key);
    return std::nullopt;
  }
  const std::string name = rule->key;
  switch (rule->kind) {
    case Kind::kBool:
      if (value != "0" && value != "1") {
        *error = name + ": ожидается 0 или 1";
        return std::nullopt;
      }
      // The tab offers the blocking box only while the internet check is on.
      if (rule->control == Form1Control::kCheckAvarOrvane && value == "1" && !f.CheckBox_Internet) {
        *error = name + " включается только при CheckBox_Internet=1";
        return std::nullopt;
      }
      f.*(rule->flag) = value == "1";
      break;
    case Kind::kItem: {
      const auto n = Decimal(value);
      if (!n || *n > rule->last) {
        *error = name + ": ожидается номер пункта от 0 до " + std::to_string(rule->last);
        return std::nullopt;
      }
      f.*(rule->item) = *n;
      break;
    }
    case Kind::kAddress: {
      uint32_t address;
      if (!platform::ParseDottedIPv4(value, address)) {
        *error = name + ": ожидается адрес IPv4 вида 192.168.0.1";
        return std::nullopt;
      }
      f.*(rule->text) = std::string(value);
      break;
    }
    case Kind::kPort: {
      std::string typed;
      for (char c : value) {
        if (!PortKeyAccepted(typed, c)) {
          typed.clear();
          break;
        }
        typed += c;
      }
      if (typed.empty()) {
        *error = name + ": ожидается номер порта, не более шести цифр";
        return std::nullopt;
      }
      f.*(rule->text) = typed;
      break;
    }
  }
  return rule->control;
}

}  // namespace console
