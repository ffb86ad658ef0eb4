#include "armlink/service_answer.h"

#include <optional>
#include <string>

#include "console/line_format.h"
#include "devlink/crc8.h"

namespace armlink {
namespace {

const char* SimLabel(uint8_t b) { return b == 1 ? "SIM1:" : b == 2 ? "SIM2:" : ""; }

// The text after the device number; none when the code has no message.
std::optional<std::string> AnswerText(const uint8_t* t) {
  const uint8_t L = t[1];
  std::string s;
  switch (t[8]) {
    case 0x32:
      if (L != 10) return std::nullopt;
      s = " Баланс ";
      s += t[10] == 1 ? "SIM1 :" : t[10] == 2 ? "SIM2 " : "";
      s += "Ниже допустимого!";
      break;
    case 0x44: {
      if (L != 12) return std::nullopt;
      s = " Баланс ";
      s += SimLabel(t[12]);
      const unsigned a = t[10] + 256u * t[11];
      s += a == 0 ? std::string("Не определен!")
           : a == 0xFFFF ? std::string("Выполняется!")
                         : console::Format("%u руб.", a);
      break;
    }
    case 0x45:
      if (L != 10) return std::nullopt;
      s = " Уровень сигн. ";
      s += SimLabel(t[10]);
      if (t[9] == 0) {
        s += "Не определен!";
      } else {
        s += console::Format("%d ед.", t[9]);
        s += t[9] <= 5 ? "(Плохо)" : t[9] <= 17 ? "(Удовл.)" : "(Хорошо)";
      }
      break;
    case 0x46:
      if (L != 10) return std::nullopt;
      s = t[9] == 0 ? " Тип:LAN, Канал:" : t[9] == 1 ? " Тип:GSM SIM1 Канал:"
          : t[9] == 2 ? " Тип:GSM SIM2 Канал:" : "";
      if (t[10] >= 1 && t[10] <= 4) s += console::Format("IP%d", t[10]);
      break;
    case 0x7D:
      s = " Исполнено:";
      s += t[9] == 1 ? "\"Выкл.За неуплату.\"" : t[9] == 2 ? "\"Вкл.после неуплаты.\"" : "";
      break;
    default:
      return std::nullopt;
  }
  return s;
}

}  // namespace

uint8_t AnswerSim(const uint8_t* t) {
  switch (t[8]) {
    case 0x32:
    case 0x45: return t[10];
    case 0x44: return t[12];
  }
  return 0;
}

bool DecodeServiceAnswer(const devlink::ClientRecord& r, const uint8_t* t,
                         console::MessageSink& sink, std::string* answer) {
  const bool valid = t[0] == 0xFE && devlink::CheckByteOk(t, 128);
  if (!valid) return false;
  if (r.serviceAnswerExpected) {
    if (const auto text = AnswerText(t)) {
      const std::string line = console::Format("Пульт.N-%d/%d/%d", t[3], t[4], t[5]) + *text;
      sink.Message(line);
      if (answer) *answer = line;
    }
  }
  const uint8_t L = t[1];
  return sink.Settings().GlBalanseOff && ((t[8] == 0x32 && L == 10) || (t[8] == 0x44 && L == 12));
}

}  // namespace armlink
