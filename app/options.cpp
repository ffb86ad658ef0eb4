#include "app/options.h"

#include <charconv>

namespace app {

const char kUsage[] =
    "Запуск: relay-server [--data-dir КАТАЛОГ] [--ports-dir КАТАЛОГ] [--tick-ms N]\n"
    "        relay-server --headless [--data-dir КАТАЛОГ] [--ports-dir КАТАЛОГ]\n"
    "                     [--register all|N1/N2/N3] [--tick-ms N] [--trace]\n"
    "  без --headless    окно оператора (нужен дисплей)\n"
    "  --headless        работа без окон: сообщения выводятся на стандартный вывод\n"
    "  --data-dir КАТАЛОГ  где лежат relay-server.ini и relay-server.ndx\n"
    "                    (по умолчанию каталог программы)\n"
    "  --register all    разрешить регистрацию всех новых приборов\n"
    "  --register N/N/N  разрешить регистрацию одного прибора с этим пультовым номером\n"
    "  --ports-dir КАТАЛОГ  где искать порт АРМ (CNCB0..CNCB7), по умолчанию /dev\n"
    "  --tick-ms N       период основного такта в мс, 1..1000 (по умолчанию 1000);\n"
    "                    проверка Интернета идёт каждые 5 тактов с ожиданием ответа 2 такта\n"
    "  --trace           выводить и трафик: телеграммы приборов и АРМ\n";

std::optional<devlink::ConsoleNumber> ParseConsoleNumber(const std::string& text) {
  uint8_t parts[3];
  size_t pos = 0;
  for (int k = 0; k < 3; ++k) {
    if (k > 0) {
      if (pos >= text.size() || text[pos] != '/') return std::nullopt;
      ++pos;
    }
    unsigned v = 0;
    const char* first = text.data() + pos;
    const auto [end, ec] = std::from_chars(first, text.data() + text.size(), v);
    if (ec != std::errc() || end == first || v > 255) return std::nullopt;
    parts[k] = uint8_t(v);
    pos = size_t(end - text.data());
  }
  if (pos != text.size()) return std::nullopt;
  return devlink::ConsoleNumber{parts[0], parts[1], parts[2]};
}

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string* error) {
  Options o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        *error = a + ": нужно значение";
        return false;
      }
      out = args[++i];
      return true;
    };
    if (a == "--headless") {
      o.headless = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--data-dir") {
      if (!value(o.dataDir)) return std::nullopt;
      if (o.dataDir.empty()) {
        *error = "--data-dir: нужен каталог";
        return std::nullopt;
      }
    } else if (a == "--ports-dir") {
      if (!value(o.portsDir)) return std::nullopt;
      if (o.portsDir.empty()) {
        *error = "--ports-dir: нужен каталог";
        return std::nullopt;
      }
    } else if (a == "--tick-ms") {
      std::string v;
      if (!value(v)) return std::nullopt;
      int ms = 0;
      const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), ms);
      if (ec != std::errc() || end != v.data() + v.size() || ms < 1 || ms > 1000) {
        *error = "--tick-ms: ожидается число от 1 до 1000, а не \"" + v + "\"";
        return std::nullopt;
      }
      o.tickMs = ms;
    } else if (a == "--trace") {
      o.trace = true;
    } else if (a == "--register") {
      std::string v;
      if (!value(v)) return std::nullopt;
      if (v == "all") {
        o.reg = RegisterMode::All;
      } else if (auto n = ParseConsoleNumber(v)) {
        o.reg = RegisterMode::One;
        o.regNumber = *n;
      } else {
        *error = "--register: ожидается \"all\" или пультовой номер N1/N2/N3 (каждое число "
                 "0..255), а не \"" + v + "\"";
        return std::nullopt;
      }
    } else {
      *error = "неизвестный параметр \"" + a + "\"";
      return std::nullopt;
    }
  }
  return o;
}

}  // namespace app
