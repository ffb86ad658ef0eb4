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
    "                                      удалённое обслуживание: пользователь и пароль\n"
    "                                      прибора - две строки файла или стандартного ввода\n"
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
};

}  // namespace

std::optional<Command> ParseCommand(const std::vector<std::string>& args, std::string* error) {
  Command c;
  std::vector<std::string> words;
  bool failed = false, wait = false;
  int timeout = 0;
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
      !only(!c.credentialsFile.empty(), "--credentials", verb == "maint") ||
      !only(!c.newCredentialsFile.empty(), "--new-credentials",
            verb == "maint" && n == 2 && words[2] == "credentials"))
    return std::nullopt;
  const bool withFile = verb == "maint" && (words[2] == "net-read" || words[2] == "net-write");
  if (verb == "maint" && (n == 3) != withFile) {
    *error = withFile ? "maint " + words[2] + ": нужен файл настроек .dat"
                      : "maint " + words[2] + ": лишний аргумент";
    return std::nullopt;
  }
  if (withFile) c.settingsFile = words[3];
  if (verb == "maint" && words[2] == "credentials" && c.newCredentialsFile.empty()) {
    *error = "maint credentials: нужен --new-credentials ФАЙЛ с новыми пользователем и паролем";
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
  if (verb == "maint") {
    r["device"] = words[1];
    r["action"] = words[2];
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
  if (c.follow && verb != "maint") r["follow"] = true;
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
