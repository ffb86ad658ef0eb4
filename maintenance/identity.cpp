#include "maintenance/identity.h"

#include "console/line_format.h"
#include "platform/cp1251.h"

namespace maintenance {

namespace {

constexpr int kTries = 3;

// Texts go to the device in its code page, a byte per character.
Telegram TextTelegram(uint8_t header, uint8_t code, const std::string& utf8) {
  return BuildTelegram(header, code, platform::Utf8ToCp1251(utf8));
}

void LinkLost(Exchange& x) {
  x.Log("Обрыв связи с прибором");
  x.Log("Процедура прервана, попробуйте вновь.");
}

enum class Phase { kAccepted, kRefused, kFailed };

// One phase of the login check: the text under `code`, three tries.
Phase LoginPhase(Exchange& x, uint8_t code, const std::string& text, bool advance,
                 const char* abortLine, const char* debugLine) {
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    if (advance) x.Operation(10, attempt);
    const bool answered = x.Request(TextTelegram(kPlain, code, text), false, code, 15000);
    if (x.Aborted()) {
      if (abortLine) x.Log(abortLine);
      return Phase::kFailed;
    }
    if (!answered) {
      x.Log(console::Format("Повтор пакета N-%d", attempt));
      continue;
    }
    const auto a = x.Answer();
    if (!ValidAnswer(a)) {
      x.Log("Ответ:\"Не верный формат\"");
      return Phase::kFailed;
    }
    if (a[3] == code) {
      x.DebugLog(debugLine);
      return Phase::kAccepted;
    }
    if (a[3] == (code | 0x80)) {
      x.Log("Не верный Пользователь или Пароль.");
      return Phase::kRefused;
    }
  }
  x.Log("Попытки соединения прерваны");
  return Phase::kFailed;
}

// One new credential, encrypted, three tries.
bool SendCredential(Exchange& x, uint8_t code, const std::string& text, const char* noAnswer) {
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    const bool answered = x.Request(TextTelegram(kEncrypted, code, text), true, code, 15000);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log(noAnswer);
      continue;
    }
    const auto a = x.Answer();
    if (ValidAnswer(a) && a[3] == code) return true;
  }
  LinkLost(x);
  return false;
}

}  // namespace

bool CheckLogin(Exchange& x, const std::string& user, const std::string& password) {
  x.Operation(10, 0);
  if (LoginPhase(x, 0x01, user, true, nullptr, "Совпадение UserName.") != Phase::kAccepted)
    return false;
  if (LoginPhase(x, 0x02, password, false, "Выполнение прервано", "Совпадение Password.") !=
      Phase::kAccepted)
    return false;
  x.Operation(10, 10);
  return true;
}

bool SendNewCredentials(Exchange& x, const std::string& user, const std::string& password) {
  x.Pause(100);
  if (!SendCredential(x, 0x04, user, "Нет ответа на передачу нового \"Пользователя\"")) return false;
  x.DebugLog("Новый UserName принят.");
  if (!SendCredential(x, 0x05, password, "Нет ответа на передачу нового \"Пароля\"")) return false;
  x.Log("Новый \"Password\" принят.");
  x.Operation(10, 10);
  return true;
}

bool EnableWebInterface(Exchange& x) {
  // The device's own working key, never what another device left in the cipher.
  const std::array<uint8_t, 2> k = x.WorkingKeyBytes();
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    const bool answered = x.Request(BuildTelegram(kEncrypted, 0x0A, k.data(), k.size()), true,
                                    0x0A, 15000);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log("Нет ответа на вкл. WEB");
      continue;
    }
    const auto a = x.Answer();
    if (ValidAnswer(a) && a[3] == 0x0A) {
      x.Log("\"WEB-интерфейс\"- включен");
      return true;
    }
  }
  LinkLost(x);
  x.SetAbort();
  return false;
}

std::string VersionLine(const std::array<uint8_t, 128>& a, uint8_t* chipKind) {
  *chipKind = 0;
  if (a[1] == 5) return console::Format("N-версии 87J60->%d, 4620->%d", a[4], a[5]);
  if (a[1] != 9) return {};
  *chipKind = a[9];
  std::string line = console::Format("N-версии 87J60->%d.%d", a[4], a[6]) + "; ";
  switch (a[9]) {
    case 0: line += console::Format("4620->%d.%d", a[5], a[7]); break;
    case 1: line += console::Format("67k22->%d.%d", a[5], a[7]); break;
    case 2: line += console::Format("46k22->%d.%d", a[5], a[7]); break;
    default: line += "Ош1"; break;
  }
  return line;
}

bool QueryVersions(Exchange& x) {
  for (int attempt = 1; attempt <= kTries; ++attempt) {
    const bool answered = x.Request(BuildTelegram(kPlainFE, 0x15, nullptr, 0), false, 0x15, 8000);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log("Нет ответа на запрос N-версии.");
      continue;
    }
    const auto a = x.Answer();
    if (!ValidAnswer(a) || a[3] != 0x15) continue;
    uint8_t chip = 0;
    const std::string line = VersionLine(a, &chip);
    x.Shared().GlChipKind = chip;
    if (!line.empty()) x.Log(line);
    return true;
  }
  LinkLost(x);
  x.SetAbort();
  return false;
}

std::string CredentialsRefusal(const std::string& user, const std::string& password, size_t min) {
  const auto bad = [min](const std::string& s) {
    const size_t n = platform::Utf8ToCp1251(s).size();
    return n < min || n > 16;
  };
  const std::string range = std::to_string(min) + " до 16 символов";
  if (bad(user)) return "Пользователь: от " + range;
  if (bad(password)) return "Пароль: от " + range;
  return {};
}

}  // namespace maintenance
