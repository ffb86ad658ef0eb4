// Section "Form1" of the settings file, the console settings derived from it,
// and the deployment's registration key base.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "console/console_settings.h"
#include "devlink/telegram_cipher.h"
#include "platform/ini_file.h"

namespace console {

// One member per key of section "Form1", named as the key, with the default
// used when the key is missing or not a valid integer.
struct Form1Settings {
  int Left = 27;
  int Top = 104;
  int Width = 985;
  int Height = 375;
  int NnPort = 0;   // "CNCB0".."CNCB7"
  int PortArm = 1;  // "COM1".."COM15"
  int NaruchUO = 0;
  std::string EditPortServ1 = "5000";
  std::string EditPortServ2 = "5001";
  std::string EditPortGSM = "5002";
  std::string IpAdrrServ_1 = "0.0.0.0";
  std::string IpAdrrServ_2 = "0.0.0.0";
  std::string IpAdrrGsm = "0.0.0.0";
  std::string GateWay1 = "0.0.0.0";
  std::string GateWay2 = "0.0.0.0";
  std::string GateWayGSM = "0.0.0.0";
  bool CheckBox3 = false;  // written only: registration always starts closed
  bool CheckBoxMetric = false;
  bool CheckPOVTORTLG = false;
  int BoxNPovtor = 1;
  int BoxTimePovtor = 1;
  bool CheckSostAvar = false;
  bool CheckMoteKTS = false;
  bool CheckBox_Internet = true;
  bool CheckAvarOrvane = true;
  bool SetKarta_11 = true;
  bool SetKarta_22 = false;
  bool GSM_Modem = false;
  std::string TmpStrPort = "5000";
  std::string TmpStrIp = "0.0.0.0";
  bool CheckBoxBalanseGsm = true;
  bool SurGardEn = false;  // the SurGard output stays off
  bool SurGard_Com_En = false;
  std::string ComboBoxSurGard_IP = "127.0.0.1";
  std::string SurGard_Port_TCP = "1026";
  int SurGard_COM_PortName = 0;
  std::string SurGard_COM_BaudRate = "9600";
  std::string SurGard_channel_Edit = "99";
  std::string SurGard_line_Edit = "1";
  std::string SurGard_timeout_Edit = "3000";

  friend bool operator==(const Form1Settings&, const Form1Settings&) = default;
};

// Every key but "CheckBox3" and "SurGardEn". A combo item index outside its
// list gives the default index.
Form1Settings ReadForm1(const platform::IniFile& ini);

// Every key in file order; "SurGardEn" always "0".
void WriteForm1(platform::IniFile& ini, const Form1Settings& f);

// The console settings derived when the file is read.
void ApplyForm1(const Form1Settings& f, ConsoleSettings& cs);

// The controls of tab "Настройки" whose exit or click changes a console
// setting; every other control changes only the form's values.
enum class Form1Control {
  kNaruchUO,
  kBoxNPovtor,
  kBoxTimePovtor,
  kCheckPOVTORTLG,
  kCheckBoxBalanseGsm,
  kCheckSostAvar,
  kCheckMoteKTS,
  kCheckBox_Internet,
  kCheckAvarOrvane,
  kCheckBoxMetric,
  kOther,
};

// What leaving (or clicking) `control` does with the form's values `f`: the
// console setting it drives follows, by the operator's formulas (the repeat
// period has its own on exit). Switching the internet check off clears
// CheckAvarOrvane in `f` and the blocking with it.
void ApplyControl(Form1Control control, Form1Settings& f, ConsoleSettings& cs);

// Derived values from combo item indexes. The repeat period has one formula
// when the file is read and another when the operator leaves the box.
inline uint16_t NaruchUOFromItem(int item) { return uint16_t(item * 3 + 10); }
inline uint16_t NPovtorFromItem(int item) { return uint16_t(item + 2); }
inline uint16_t TimePovtorOnRead(int item) { return uint16_t(item * 5 + 10); }
inline uint16_t TimePovtorOnExit(int item) { return uint16_t(item * 5 + 5); }

using devlink::kDefaultRegKeyBase;

// Key "RegKeyBase" of section "Deployment": 20 hex digits. Missing gives
// kDefaultRegKeyBase; malformed gives nullopt and the reason in `error`.
std::optional<devlink::Key10> ReadRegKeyBase(const platform::IniFile& ini, std::string* error);

// The host the internet check pings, by name or dotted address.
inline constexpr const char* kDefaultInetProbeHost = "ya.ru";

// Key "InetProbeHost" of section "Deployment". Missing gives
// kDefaultInetProbeHost; empty or with blanks gives nullopt and the reason.
std::optional<std::string> ReadInetProbeHost(const platform::IniFile& ini, std::string* error);

}  // namespace console
