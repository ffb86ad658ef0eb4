#include "maintenance/network_exchange.h"

#include "console/line_format.h"
#include "maintenance/identity.h"
#include "maintenance/settings_telegrams.h"

namespace maintenance {

std::optional<FieldError> SettingsFromFields(const NetworkFields& network, const SmsFields& sms,
                                             const NtpFields& ntp, DeviceSettings& s) {
  DeviceSettings out = s;
  if (auto bad = FieldsIntoBlock(network, out.main)) return bad;
  if (out.smsRead)
    if (auto bad = FieldsIntoBlock(sms, out.sms)) return bad;
  if (out.ntpRead)
    if (auto bad = FieldsIntoBlock(ntp, out.ntp)) return bad;
  s = out;
  return std::nullopt;
}

namespace {

using Line = Event::Line;
using Colour = Event::Colour;

void ReadNtp(Exchange& x, DeviceSettings& s) {
  x.Operation(10, 0);
  for (int attempt = 1; attempt <= 2; ++attempt) {
    x.Operation(10, attempt);
    const bool answered = x.Request(BuildNtpReadRequest(), kReadNtpCode, 8000);
    if (x.Aborted()) return;
    if (!answered) {
      x.Log(console::Format("На запрос настроек \"SMS сервис NTP\" нет ответа N-%d", attempt));
      continue;
    }
    NtpBlock b{};
    switch (CheckNtpReadAnswer(x.Answer(), &b)) {
      case AnswerCheck::kNtpOff:
        x.Log("Настройки \"SMS сервис NTP\" не включены или не поддерживаются.\"");
        s.ntpOff = true;
        return;
      case AnswerCheck::kAccepted:
        x.Log("Настройки \"SMS сервис NTP+Запр.Баланса\" успешно считаны.\"");
        s.ntp = b;
        s.ntpRead = true;
        return;
      case AnswerCheck::kWrongLength:  // a failed try: nothing of it is kept
        x.Log("Ответ:\"Не верный формат чтения SMS сервис NTP+Запр.Баланса\"");
        continue;
      default:
        x.Log("Ответ:\"Не верный формат чтения SMS сервис NTP+Запр.Баланса\"");
        return;
    }
  }
  x.Log("Попытки соединения прерваны");
}

void ReadSms(Exchange& x, DeviceSettings& s) {
  x.Status(Line::kSms1, "", Colour::kPlain);
  x.Status(Line::kSms2, "", Colour::kPlain);
  s.smsRead = false;
  s.ntpRead = false;
  s.ntpOff = false;
  bool versions = false, supported = false;
  for (int attempt = 1; attempt <= 3 && !versions; ++attempt) {
    const bool answered = x.Request(BuildTelegram(kPlainFE, 0x15, nullptr, 0), false, 0x15, 8000);
    if (x.Aborted()) return;
    if (!answered) {
      x.Log("Нет ответа на запрос N-версии.");
      continue;
    }
    const auto a = x.Answer();
    if (!ValidAnswer(a) || a[3] != 0x15) continue;
    uint8_t chip = 0;  // GlChipKind stays as the version query left it
    const std::string line = VersionLine(a, &chip);
    if (!line.empty()) x.Log(line);
    supported = SmsVersionsSupported(a);
    x.Shared().GlAbort = false;
    versions = true;
  }
  if (!versions) {
    x.Log("Обрыв связи с прибором");
    x.Log("Процедура прервана, попробуйте вновь.");
    x.Status(Line::kSms1, "Ошибка считывания!", Colour::kFailed);
    x.Status(Line::kSms2, "Процедура прервана, попробуйте вновь.", Colour::kFailed);
    x.Status(Line::kMain, "Ош.SMS", Colour::kFailed, true);
    x.SetAbort();
    return;
  }
  if (!supported) {
    x.Log("Внимание!С этими версиями прошивки прибора");
    x.Log("функции SMS не доступны!");
    x.Status(Line::kSms1, "Внимание!С этими версиями прошивки прибора", Colour::kFailed);
    x.Status(Line::kSms2, "функции SMS не доступны!", Colour::kFailed);
    x.Status(Line::kMain, "Ош.SMS", Colour::kFailed, true);
    return;
  }
  x.Operation(10, 0);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    x.Operation(10, attempt);
    const bool answered = x.Request(BuildSmsReadRequest(), kReadSmsCode, 8000);
    if (x.Aborted()) return;
    if (!answered) {
      x.Log(console::Format("На запрос настроек \"SMS сервис\" нет ответа N-%d", attempt));
      continue;
    }
    SmsBlock b{};
    const AnswerCheck r = CheckSmsReadAnswer(x.Answer(), &b);
    if (r == AnswerCheck::kAccepted) {
      x.Log("Настройки \"SMS сервис\" успешно считаны.\"");
      s.sms = b;
      x.Status(Line::kSms1, "Успешно считано.", Colour::kDone);
      s.smsRead = true;
      ReadNtp(x, s);
      return;
    }
    x.Log("Ответ:\"Не верный формат чтения SMS сервис.\"");
    if (r != AnswerCheck::kWrongLength) return;
  }
  x.Log("Попытки соединения прерваны");
  x.Status(Line::kSms1, "Ошибка считывания.", Colour::kFailed);
}

bool WriteNtp(Exchange& x, const DeviceSettings& s) {
  x.Operation(10, 0);
  const NtpBlock block = BuildNtpWriteRequest(s.ntp);
  for (int attempt = 1; attempt <= 2; ++attempt) {
    x.Operation(10, attempt);
    const bool answered = x.Request(block, kWriteNtpCode, 8000);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log(console::Format("При записи SMS настр. NTP нет ответа N-%d", attempt));
      continue;
    }
    if (CheckNtpWriteAnswer(x.Answer()) == AnswerCheck::kAccepted) {
      x.Log("Настройки \"SMS сервис NTP+Запр.Баланса\" успешно записаны.\"");
      return true;
    }
    x.Log("Ответ:Не верный формат ответа на запись \"SMS сервис NTP+Запр.Баланса\".");
    return false;
  }
  x.Log("Попытки соединения прерваны");
  return false;
}

bool WriteSms(Exchange& x, const DeviceSettings& s) {
  x.Status(Line::kSms1, "", Colour::kPlain);
  x.Status(Line::kSms2, "", Colour::kPlain);
  x.Operation(10, 0);
  const SmsBlock block = BuildSmsWriteRequest(s.sms);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    x.Operation(10, attempt);
    const bool answered = x.Request(block, kWriteSmsCode, 8000);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log(console::Format("При записи SMS настр. нет ответа N-%d", attempt));
      continue;
    }
    if (CheckSmsWriteAnswer(x.Answer()) != AnswerCheck::kAccepted) {
      x.Log("Ответ:Не верный формат ответа на запись \"SMS сервис\".");
      return false;
    }
    x.Log("Настройки \"SMS сервис\" успешно записаны.\"");
    x.Status(Line::kSms1, "Успешно записано.", Colour::kDone);
    // An NTP block never read would overwrite the device's with zeros.
    return !s.ntpRead || WriteNtp(x, s);
  }
  x.Log("Попытки соединения прерваны");
  x.Status(Line::kSms1, "Ошибка записи.", Colour::kFailed);
  x.Status(Line::kMain, "Ош.SMS", Colour::kFailed, true);
  return false;
}

}  // namespace

bool ReadNetworkSettings(Exchange& x, DeviceSettings& s) {
  x.Shared().GlAbort = false;
  x.Operation(10, 0);
  x.Status(Line::kMain, "", Colour::kPlain);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    x.Operation(10, attempt);
    const bool answered = x.Request(BuildNetworkReadRequest(), kReadNetworkCode, 10000);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log(console::Format("На запрос WEB-стр. нет ответа N-%d", attempt));
      x.Status(Line::kMain, "Ошибка считывания.", Colour::kFailed);
      continue;
    }
    NetworkBlock b{};
    switch (CheckNetworkReadAnswer(x.Answer(), &b)) {
      case AnswerCheck::kAccepted:
        x.Log("WEB-стр. считана");
        s.main = b;
        s.mainRead = true;
        x.Status(Line::kMain, "Успешно считано.", Colour::kDone);
        ReadSms(x, s);
        return true;
      case AnswerCheck::kOtherCode:
        x.Log("WEB-стр.- Отказано в доступе(Требуется включить \"Удаленный доступ\".)");
        x.Status(Line::kMain, "Отказано в доступе!", Colour::kFailed);
        return false;
      case AnswerCheck::kWrongLength:  // a failed try: stale bytes are never shown
        x.Log("Ответ:\"Не верный формат чтения WEB-стр.\"");
        continue;
      default:
        x.Log("Ответ:\"Не верный формат чтения WEB-стр.\"");
        return false;
    }
  }
  x.Log("Попытки соединения прерваны");
  return false;
}

bool WriteNetworkSettings(Exchange& x, DeviceSettings& s) {
  x.Operation(10, 0);
  x.Status(Line::kMain, "", Colour::kPlain);
  const NetworkBlock block = BuildNetworkWriteRequest(s.main);
  for (int attempt = 1; attempt <= 3; ++attempt) {
    x.Operation(10, attempt);
    const bool answered = x.Request(block, kWriteNetworkCode, 10000);
    if (x.Aborted()) return false;
    if (!answered) {
      x.Log(console::Format("При записи Сетев.настр. нет ответа N-%d", attempt));
      x.Status(Line::kMain, "Ошибка записи.", Colour::kFailed);
      continue;
    }
    switch (CheckNetworkWriteAnswer(x.Answer())) {
      case AnswerCheck::kAccepted:
        x.Log("Сетев. настр.записаны.");
        x.Status(Line::kMain, "Успешно записано.", Colour::kDone);
        // The SMS and NTP blocks that were read go back too; theirs is the result.
        return !s.smsRead || WriteSms(x, s);
      case AnswerCheck::kOtherCode:
        x.Log("\"Сетев.настр.\"- Отказано в доступе(Требуется включить \"Удаленный доступ\".)");
        x.Status(Line::kMain, "Отказано в доступе!", Colour::kFailed);
        return false;
      default:
        x.Log("Не верный формат ответа на запись \"Сетев.настр.\"");
        return false;
    }
  }
  x.Log("Попытки соединения прерваны");
  return false;
}

bool ResetDevice(Exchange& x) {
  x.Shared().GlAbort = false;
  x.Operation(10, 0);
  for (int k = 1; k <= 3; ++k) {
    x.Operation(10, k);
    x.Request(BuildResetRequest(), 0, 0);
    x.Pause(1);
  }
  x.Log("Пересброс -OK.");
  return true;
}

}  // namespace maintenance
