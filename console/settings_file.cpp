#include "console/settings_file.h"

namespace console {
namespace {

constexpr const char* kSec = "Form1";

// A combo index outside its list would select nothing, so it takes the default.
int ReadItem(const platform::IniFile& ini, const char* key, int def, int last) {
  const int v = ini.GetInt(kSec, key, def);
  return v >= 0 && v <= last ? v : def;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Form1Settings ReadForm1(const platform::IniFile& ini) {
  const Form1Settings d;
  Form1Settings f;
  f.Left = ini.GetInt(kSec, "Left", d.Left);
  f.Top = ini.GetInt(kSec, "Top", d.Top);
  f.Width = ini.GetInt(kSec, "Width", d.Width);
  f.Height = ini.GetInt(kSec, "Height", d.Height);
  f.NnPort = ReadItem(ini, "NnPort", d.NnPort, 7);
  f.PortArm = ReadItem(ini, "PortArm", d.PortArm, 14);
  f.NaruchUO = ReadItem(ini, "NaruchUO", d.NaruchUO, 1);
  f.EditPortServ1 = ini.GetString(kSec, "EditPortServ1", d.EditPortServ1);
  f.EditPortServ2 = ini.GetString(kSec, "EditPortServ2", d.EditPortServ2);
  f.EditPortGSM = ini.GetString(kSec, "EditPortGSM", d.EditPortGSM);
  f.IpAdrrServ_1 = ini.GetString(kSec, "IpAdrrServ_1", d.IpAdrrServ_1);
  f.IpAdrrServ_2 = ini.GetString(kSec, "IpAdrrServ_2", d.IpAdrrServ_2);
  f.IpAdrrGsm = ini.GetString(kSec, "IpAdrrGSM", d.IpAdrrGsm);
  f.GateWay1 = ini.GetString(kSec, "GateWay1", d.GateWay1);
  f.GateWay2 = ini.GetString(kSec, "GateWay2", d.GateWay2);
  f.GateWayGSM = ini.GetString(kSec, "GateWayGSM", d.GateWayGSM);
  f.CheckBoxMetric = ini.GetBool(kSec, "CheckBoxMetric", d.CheckBoxMetric);
  f.CheckPOVTORTLG = ini.GetBool(kSec, "CheckPOVTORTLG", d.CheckPOVTORTLG);
  f.BoxNPovtor = ReadItem(ini, "BoxNPovtor", d.BoxNPovtor, 2);
  f.BoxTimePovtor = ReadItem(ini, "BoxTimePovtor", d.BoxTimePovtor, 2);
  f.CheckSostAvar = ini.GetBool(kSec, "CheckSostAvar", d.CheckSostAvar);
  f.CheckMoteKTS = ini.GetBool(kSec, "CheckMoteKTS", d.CheckMoteKTS);
  f.CheckBox_Internet = ini.GetBool(kSec, "CheckBox_Internet", d.CheckBox_Internet);
  f.CheckAvarOrvane = ini.GetBool(kSec, "CheckAvarOrvane", d.CheckAvarOrvane);
  f.SetKarta_11 = ini.GetBool(kSec, "SetKarta_11", d.SetKarta_11);
  f.SetKarta_22 = ini.GetBool(kSec, "SetKarta_22", d.SetKarta_22);
  f.GSM_Modem = ini.GetBool(kSec, "GSM_Modem", d.GSM_Modem);
  f.TmpStrPort = ini.GetString(kSec, "TmpStrPort", d.TmpStrPort);
  f.TmpStrIp = ini.GetString(kSec, "TmpStrIp", d.TmpStrIp);
  f.CheckBoxBalanseGsm = ini.GetBool(kSec, "CheckBoxBalanseGsm", d.CheckBoxBalanseGsm);
  f.SurGard_Com_En = ini.GetBool(kSec, "SurGard_Com_En", d.SurGard_Com_En);
  f.ComboBoxSurGard_IP = ini.GetString(kSec, "ComboBoxSurGard_IP", d.ComboBoxSurGard_IP);
  f.SurGard_Port_TCP = ini.GetString(kSec, "SurGard_Port_TCP", d.SurGard_Port_TCP);
  f.SurGard_COM_PortName = ini.GetInt(kSec, "SurGard_COM_PortName", d.SurGard_COM_PortName);
  f.SurGard_COM_BaudRate = ini.GetString(kSec, "SurGard_COM_BaudRate", d.SurGard_COM_BaudRate);
  f.SurGard_channel_Edit = ini.GetString(kSec, "SurGard_channel_Edit", d.SurGard_channel_Edit);
  f.SurGard_line_Edit = ini.GetString(kSec, "SurGard_line_Edit", d.SurGard_line_Edit);
  f.SurGard_timeout_Edit = ini.GetString(kSec, "SurGard_timeout_Edit", d.SurGard_timeout_Edit);
  return f;
}

void WriteForm1(platform::IniFile& ini, const Form1Settings& f) {
  ini.SetInt(kSec, "Left", f.Left);
  ini.SetInt(kSec, "Top", f.Top);
  ini.SetInt(kSec, "Width", f.Width);
  ini.SetInt(kSec, "Height", f.Height);
  ini.SetInt(kSec, "NnPort", f.NnPort);
  ini.SetInt(kSec, "PortArm", f.PortArm);
  ini.SetInt(kSec, "NaruchUO", f.NaruchUO);
  ini.SetString(kSec, "EditPortServ1", f.EditPortServ1);
  ini.SetString(kSec, "EditPortServ2", f.EditPortServ2);
  ini.SetString(kSec, "EditPortGSM", f.EditPortGSM);
  ini.SetString(kSec, "IpAdrrServ_1", f.IpAdrrServ_1);
  ini.SetString(kSec, "IpAdrrServ_2", f.IpAdrrServ_2);
  ini.SetString(kSec, "IpAdrrGsm", f.IpAdrrGsm);
  ini.SetString(kSec, "GateWay1", f.GateWay1);
  ini.SetString(kSec, "GateWay2", f.GateWay2);
  ini.SetString(kSec, "GateWayGSM", f.GateWayGSM);
  ini.SetBool(kSec, "CheckBox3", f.CheckBox3);
  ini.SetBool(kSec, "CheckBoxMetric", f.CheckBoxMetric);
  ini.SetBool(kSec, "CheckPOVTORTLG", f.CheckPOVTORTLG);
  ini.SetInt(kSec, "BoxNPovtor", f.BoxNPovtor);
  ini.SetInt(kSec, "BoxTimePovtor", f.BoxTimePovtor);
  ini.SetBool(kSec, "CheckSostAvar", f.CheckSostAvar);
  ini.SetBool(kSec, "CheckMoteKTS", f.CheckMoteKTS);
  ini.SetBool(kSec, "CheckBox_Internet", f.CheckBox_Internet);
  ini.SetBool(kSec, "CheckAvarOrvane", f.CheckAvarOrvane);
  ini.SetBool(kSec, "SetKarta_11", f.SetKarta_11);
  ini.SetBool(kSec, "SetKarta_22", f.SetKarta_22);
  ini.SetBool(kSec, "GSM_Modem", f.GSM_Modem);
  ini.SetString(kSec, "TmpStrPort", f.TmpStrPort);
  ini.SetString(kSec, "TmpStrIp", f.TmpStrIp);
  ini.SetBool(kSec, "CheckBoxBalanseGsm", f.CheckBoxBalanseGsm);
  ini.SetBool(kSec, "SurGardEn", false);
  ini.SetBool(kSec, "SurGard_Com_En", f.SurGard_Com_En);
  ini.SetString(kSec, "ComboBoxSurGard_IP", f.ComboBoxSurGard_IP);
  ini.SetString(kSec, "SurGard_Port_TCP", f.SurGard_Port_TCP);
  ini.SetInt(kSec, "SurGard_COM_PortName", f.SurGard_COM_PortName);
  ini.SetString(kSec, "SurGard_COM_BaudRate", f.SurGard_COM_BaudRate);
  ini.SetString(kSec, "SurGard_channel_Edit", f.SurGard_channel_Edit);
  ini.SetString(kSec, "SurGard_line_Edit", f.SurGard_line_Edit);
  ini.SetString(kSec, "SurGard_timeout_Edit", f.SurGard_timeout_Edit);
}

void ApplyControl(Form1Control control, Form1Settings& f, ConsoleSettings& cs) {
  switch (control) {
    case Form1Control::kNaruchUO: cs.GlNaruchUO = NaruchUOFromItem(f.NaruchUO); break;
    case Form1Control::kBoxNPovtor: cs.GlNPovtor = NPovtorFromItem(f.BoxNPovtor); break;
    case Form1Control::kBoxTimePovtor: cs.GlTimePovtor = TimePovtorOnExit(f.BoxTimePovtor); break;
    case Form1Control::kCheckPOVTORTLG: cs.GlPovtorOn = f.CheckPOVTORTLG; break;
    case Form1Control::kCheckBoxBalanseGsm: cs.GlBalanseOff = f.CheckBoxBalanseGsm; break;
    case Form1Control::kCheckSostAvar: cs.GlSostAvar = f.CheckSostAvar; break;
    case Form1Control::kCheckMoteKTS: cs.GlMoteKTS = f.CheckMoteKTS; break;
    case Form1Control::kCheckBox_Internet:
      if (!f.CheckBox_Internet) f.CheckAvarOrvane = false;
      cs.GlAvarInetBlock = f.CheckBox_Internet && f.CheckAvarOrvane;
      break;
    case Form1Control::kCheckAvarOrvane:
      cs.GlAvarInetBlock = f.CheckBox_Internet && f.CheckAvarOrvane;
      break;
    case Form1Control::kCheckBoxMetric: cs.GlMetricActive = f.CheckBoxMetric; break;
    case Form1Control::kOther: break;
  }
}

void ApplyForm1(const Form1Settings& f, ConsoleSettings& cs) {
  cs.GlNaruchUO = NaruchUOFromItem(f.NaruchUO);
  cs.GlNPovtor = NPovtorFromItem(f.BoxNPovtor);
  cs.GlTimePovtor = TimePovtorOnRead(f.BoxTimePovtor);
  cs.GlMetricActive = f.CheckBoxMetric;
  cs.GlPovtorOn = f.CheckPOVTORTLG;
  cs.GlBalanseOff = f.CheckBoxBalanseGsm;
  cs.GlSostAvar = f.CheckSostAvar;
  cs.GlMoteKTS = f.CheckMoteKTS;
  cs.GlAvarInetBlock = f.CheckBox_Internet && f.CheckAvarOrvane;
}

namespace {
constexpr const char* kDeploySec = "Deployment";
}  // namespace

std::optional<devlink::Key10> ReadRegKeyBase(const platform::IniFile& ini, std::string* error) {
  constexpr const char* kKey = "RegKeyBase";
  if (!ini.HasKey(kDeploySec, kKey)) return kDefaultRegKeyBase;
  const std::string v = ini.GetString(kDeploySec, kKey, "");
  devlink::Key10 key{};
  bool ok = v.size() == 2 * key.size();
  for (size_t i = 0; ok && i < key.size(); ++i) {
    const int hi = HexDigit(v[2 * i]), lo = HexDigit(v[2 * i + 1]);
    ok = hi >= 0 && lo >= 0;
    key[i] = uint8_t(hi * 16 + lo);
  }
  if (ok) return key;
  if (error) *error = "RegKeyBase в секции [Deployment]: ожидается 20 шестнадцатеричных цифр";
  return std::nullopt;
}

std::optional<std::string> ReadInetProbeHost(const platform::IniFile& ini, std::string* error) {
  constexpr const char* kKey = "InetProbeHost";
  if (!ini.HasKey(kDeploySec, kKey)) return std::string(kDefaultInetProbeHost);
  const std::string v = ini.GetString(kDeploySec, kKey, "");
  const bool blank = v.find_first_of(" \t") != std::string::npos;
  if (!v.empty() && !blank) return v;
  if (error) *error = "InetProbeHost в секции [Deployment]: ожидается имя или адрес узла без пробелов";
  return std::nullopt;
}

}  // namespace console
