#include "tools/relayctl/cli.h"

#include <cstdlib>

namespace relayctl {

const char kUsage[] =
    "relayctl [--data-dir КАТАЛОГ] [--json] [--yes] КОМАНДА ...\n"
    "  status                              состояние сервера\n"
    "  devices [--failed]                  зарегистрированные приборы\n"
    "  register all|off|N1/N2/N3           регистрация новых приборов\n"
    "  delete ПРИБОР | delete-all | clear-unused\n"
    "  permit-substitution ПРИБОР          разрешить подмену прибора\n"
    "  switch-off ПРИБОР | switch-on ПРИБОР   выключить за неуплату / включить\n"
    "  request channel|signal1|signal2|balance1|balance2 ПРИБОР [--wait] [--timeout С]\n"
    "  save | load | compare | export      реестр\n"
    "  settings [КЛЮЧ...] | settings КЛЮЧ=ЗНАЧЕНИЕ...   секция Form1 файла настроек\n"
    "  messages [--follow]                 окно сообщений\n"
    "  trace [start|stop] [--follow]       монитор трафика\n"
    "  maint ПРИБОР versions|web-on|reset [--credentials ФАЙЛ]\n"
    "  maint ПРИБОР net-read|net-write ФАЙЛ.dat [--credentials ФАЙЛ]\n"
    "  maint ПРИБОР credentials --new-credentials ФАЙЛ [--credentials ФАЙЛ]\n"
    "  maint ПРИБОР test --lan МАСКА --sim МАСКА [--credentials ФАЙЛ]\n"
    "                                      тест каналов: LAN 0..15, SIM 0..255 (SIM1 -\n"
    "                                      биты 0..3, SIM2 - биты 4..7); 15, 0xF или 0b1111\n"
    "  maint ПРИБОР update-main|update-eth ФАЙЛ.hex [--credentials ФАЙЛ]\n"
    "                                      обновление прошивки: основного контроллера\n"
    "                                      (4620/67k22/46k22) или Ethernet-контроллера (87J60)\n"
    "                                      удалённое обслуживание: пользователь и пароль\n"
    "                                      прибора - две строки файла или стандартного ввода\n"
    "  config ПРИБОР identify|key [--credentials ФАЙЛ]\n"
    "  config ПРИБОР read|write ФАЙЛ.dat [--credentials ФАЙЛ]\n"
    "  config ПРИБОР expander read [--credentials ФАЙЛ]\n"
    "                                      конфигуратор прибора: опознание, ключ со считывателя,\n"
    "                                      чтение и запись конфигурации, таблицы радиорасширителя\n"
    "  batch update-main|update-eth ФАЙЛ.hex ПРИБОР... [--credentials ФАЙЛ]\n"
    "                                      обновление приборов один за другим, таблица итогов;\n"
    "                                      код выхода 0, только если обновлены все\n"
    "ПРИБОР: пультовой номер N1/N2/N3 или номер записи #N.\n"
    "Коды выхода: 0 выполнено, 1 отказ или ошибка, 2 неверный вызов, 3 сервер не запущен.\n";

namespace {

struct Verb {
  const char* name;
  int minArgs, maxArgs;  // positional arguments after the verb
};

const Verb kVerbs[] = {
    {"status", 0, 0},     {"devices", 0, 0},    {"register", 1, 1},
    {"delete", 1, 1},     {"delete-all", 0, 0}, {"clear-unused", 0, 0},
    {"permit-substitution", 1, 1}, {"switch-off", 1, 1}, {"switch-on", 1, 1},
    {"request", 2, 2},    {"save", 0, 0},       {"load", 0, 0},
    {"compare", 0, 0},    {"export", 0, 0},     {"settings", 0, 1000},
    {"messages", 0, 0},   {"trace", 0, 1},      {"maint", 2, 3},
    {"config", 2, 3},     {"batch", 3, 65534},
};

// A channel mask of the test: decimal, 0x hexadecimal or 0b binary, 0..max.
std::optional<int> ParseMask(const std::string& text, int max) {
  int base = 10;
  size_t at = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) base = 16, at = 2;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'b' || text[1] == 'B')) base = 2, at = 2;
  if (at >= text.size()) return std::nullopt;
  int v = 0;
  for (size_t k = at; k < text.size(); ++k) {
    const char c = text[k];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : base;
    if (digit >= base) return std::nullopt;
    v = v * base + digit;
    if (v > max) return std::nullopt;
  }
  return v;
}

}  // namespace

std::optional<Command> ParseCommand(const std::vector<std::string>& args, std::string* error) {
  Command c;
  std::vector<std::string> words;
  bool failed = false, wait = false;
  int timeout = 0;
  std::optional<int> lan, sim;  // maint test: the channel masks
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const auto value = [&](std::string& to) {
      if (i + 1 >= args.size()) return false;
      to = args[++i];
      return true;
    };
    if (a == "--data-dir") {
      if (!value(c.dataDir) || c.dataDir.empty()) {
        *error = "--data-dir: не указан каталог";
        return std::nullopt;
      }
    } else if (a == "--json") {
      c.json = true;
    } else if (a == "--yes" || a == "-y") {
      c.yes = true;
    } else if (a == "--follow" || a == "-f") {
      c.follow = true;
    } else if (a == "--failed") {
      failed = true;
    } else if (a == "--wait") {
      wait = true;
    } else if (a == "--timeout") {
      std::string t;
      char* end = nullptr;
      const long v = value(t) ? std::strtol(t.c_str(), &end, 10) : 0;
      if (t.empty() || *end != '\0' || v < 1 || v > 3600) {
        *error = "--timeout: ожидается число секунд от 1 до 3600";
        return std::nullopt;
      }
      timeout = int(v);
    } else if (a == "--credentials" || a == "--new-credentials") {
      std::string& to = a == "--credentials" ? c.credentialsFile : c.newCredentialsFile;
      if (!value(to) || to.empty()) {
        *error = a + ": не указан файл";
        return std::nullopt;
      }
    } else if (a == "--lan" || a == "--sim") {
      const bool isLan = a == "--lan";
      std::string t;
      std::optional<int>& to = isLan ? lan : sim;
      to = value(t) ? ParseMask(t, isLan ? 0x0F : 0xFF) : std::nullopt;
      if (!to) {
        *error = a + (isLan ? ": ожидается маска каналов LAN от 0 до 15 (0xF, 0b1111)"
                            : ": ожидается маска каналов SIM от 0 до 255 (0xFF, 0b11111111)");
        if (!t.empty()) *error += ", а не \"" + t + "\"";
        return std::nullopt;
      }
    } else if (a == "--help" || a == "-h") {
      c.help = true;
      return c;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      *error = "неизвестный флаг " + a;
      return std::nullopt;
    } else {
      words.push_back(a);
    }
  }
  if (words.empty()) {
    *error = "не указана команда";
    return std::nullopt;
  }
  const std::string verb = words[0];
  const Verb* rule = nullptr;
  for (const Verb& v : kVerbs)
    if (verb == v.name) rule = &v;
  if (!rule) {
    *error = "неизвестная команда " + verb;
    return std::nullopt;
  }
  const int n = int(words.size()) - 1;
  if (n < rule->minArgs || n > rule->maxArgs) {
    *error = verb + ": неверное число аргументов";
    return std::nullopt;
  }
  // Flags that belong to one verb only.
  const auto only = [&](bool given, const char* flag, bool allowed) {
    if (given && !allowed) *error = std::string(flag) + " не относится к команде " + verb;
    return !given || allowed;
  };
  if (!only(failed, "--failed", verb == "devices") ||
      !only(wait, "--wait", verb == "request") ||
      !only(timeout != 0, "--timeout", verb == "request" && wait) ||
      !only(c.follow, "--follow", verb == "messages" || verb == "trace") ||
      !only(!c.credentialsFile.empty(), "--credentials",
            verb == "maint" || verb == "batch" || verb == "config") ||
      !only(!c.newCredentialsFile.empty(), "--new-credentials",
            verb == "maint" && n == 2 && words[2] == "credentials") ||
      !only(lan.has_value(), "--lan", verb == "maint" && n == 2 && words[2] == "test") ||
      !only(sim.has_value(), "--sim", verb == "maint" && n == 2 && words[2] == "test"))
    return std::nullopt;
  const auto isUpdate = [](const std::string& w) { return w == "update-main" || w == "update-eth"; };
  const bool withSettings = verb == "maint" && (words[2] == "net-read" || words[2] == "net-write");
  const bool withFirmware = verb == "maint" && isUpdate(words[2]);
  if (verb == "maint" && (n == 3) != (withSettings || withFirmware)) {
    *error = withSettings   ? "maint " + words[2] + ": нужен файл настроек .dat"
             : withFirmware ? "maint " + words[2] + ": нужен файл прошивки .hex"
                            : "maint " + words[2] + ": лишний аргумент";
    return std::nullopt;
  }
  if (withSettings) c.settingsFile = words[3];
  if (withFirmware) c.firmwareFile = words[3];
  if (verb == "batch") {
    if (!isUpdate(words[1])) {
      *error = "batch: ожидается update-main или update-eth, а не \"" + words[1] + "\"";
      return std::nullopt;
    }
    c.firmwareFile = words[2];
    c.batchDevices.assign(words.begin() + 3, words.end());
  }
  std::string configAction;
  if (verb == "config") {
    const std::string& a = words[2];
    const bool withFile = a == "read" || a == "write";
    if (a == "expander" && n == 3 && words[3] == "read") {
      configAction = "expander-read";
    } else if ((a == "identify" || a == "key") && n == 2) {
      configAction = a;
    } else if (withFile && n == 3) {
      configAction = a;
      c.configFile = words[3];
    } else {
      *error = withFile ? "config " + a + ": нужен файл конфигурации .dat"
                        : "config: ожидается identify, key, read ФАЙЛ, write ФАЙЛ или expander read";
      return std::nullopt;
    }
  }
  if (verb == "maint" && words[2] == "credentials" && c.newCredentialsFile.empty()) {
    *error = "maint credentials: нужен --new-credentials ФАЙЛ с новыми пользователем и паролем";
    return std::nullopt;
  }

  if (verb == "maint" && words[2] == "test" && (!lan || !sim)) {
    *error = "maint test: нужны обе маски каналов, --lan МАСКА и --sim МАСКА";
    return std::nullopt;
  }

  nlohmann::json& r = c.request;
  r["verb"] = verb;
  if (verb == "devices" && failed) r["failed"] = true;
  if (verb == "register") r["mode"] = words[1];
  if (verb == "delete" || verb == "permit-substitution" || verb == "switch-off" ||
      verb == "switch-on")
    r["device"] = words[1];
  if (verb == "request") {
    r["mode"] = words[1];
    r["device"] = words[2];
    if (wait) {
      r["wait"] = true;
      c.waitSeconds = timeout ? timeout : 30;
      r["timeout"] = c.waitSeconds;
    }
  }
  if (verb == "trace" && n == 1) r["mode"] = words[1];
  if (verb == "batch") {
    // One maint request per device, the device filled in for each.
    r["verb"] = "maint";
    r["action"] = words[1];
    c.follow = true;
  }
  if (verb == "maint") {
    r["device"] = words[1];
    r["action"] = words[2];
    if (lan) r["lan"] = *lan;
    if (sim) r["sim"] = *sim;
    c.follow = true;  // the session's log comes as it goes, then its end
  }
  if (verb == "settings" && n > 0) {
    const bool setting = words[1].find('=') != std::string::npos;
    std::vector<std::string> list(words.begin() + 1, words.end());
    for (const std::string& w : list) {
      if ((w.find('=') != std::string::npos) != setting) {
        *error = "settings: ключи показываются или меняются, не то и другое сразу";
        return std::nullopt;
      }
    }
    r[setting ? "set" : "keys"] = list;
  }
  if (verb == "config") {
    r["device"] = words[1];
    r["action"] = configAction;
    c.follow = true;  // the session's log comes as it goes, then its end
  }
  if (c.follow && verb != "maint" && verb != "batch" && verb != "config") r["follow"] = true;
  if (c.yes) r["yes"] = true;
  return c;
}

bool ParseCredentials(const std::string& text, std::string* user, std::string* password,
                      std::string* error) {
  std::string lines[2];
  size_t at = 0;
  for (std::string& line : lines) {
    const size_t end = text.find('\n', at);
    line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    at = end == std::string::npos ? text.size() : end + 1;
  }
  if (lines[0].empty() || lines[1].empty()) {
    *error = "ожидаются две строки: пользователь и пароль";
    return false;
  }
  *user = lines[0];
  *password = lines[1];
  return true;
}

}  // namespace relayctl
