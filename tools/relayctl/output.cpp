#include "tools/relayctl/output.h"

#include <algorithm>
#include <cstdio>

namespace relayctl {

namespace {

using nlohmann::json;

size_t Characters(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

std::string Str(const json& j, const char* key) {
  return j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
}

std::vector<std::string> StatusLines(const json& s) {
  std::vector<std::string> out;
  out.push_back("Версия: " + Str(s, "version"));
  out.push_back("Работает: " + UptimeText(s.value("uptime_seconds", int64_t(0))));
  const json& ifaces = s["interfaces"];
  if (ifaces.empty()) out.push_back("Интерфейсы: ни один не принимает");
  for (const json& i : ifaces)
    out.push_back("Интерфейс " + std::to_string(i.value("number", 0)) + ": " +
                  Str(i, "address") + ":" + std::to_string(i.value("port", 0)));
  const json& port = s["workstation_port"];
  out.push_back("Порт АРМ: " + Str(port, "name") +
                (port.value("open", false) ? " открыт" : " не открыт"));
  const json& reg = s["registration"];
  std::string r = "выключена";
  if (reg.value("on", false))
    r = Str(reg, "mode") == "one" ? "прибора " + Str(reg, "number") : "всех новых приборов";
  out.push_back("Регистрация: " + r);
  out.push_back("Зарегистрировано приборов: " + std::to_string(s.value("registered", 0)));
  out.push_back("Аварий связи: " + std::to_string(s.value("links_failed", 0)) +
                ", восстановлено: " + std::to_string(s.value("links_restored", 0)));
  const json check = s.value("internet_check", json::object());
  out.push_back("Интернет: " + Str(s, "internet") +
                (check.value("on", false) ? " (проверка по " + Str(check, "host") + ")"
                                          : " (проверка выключена)"));
  const json route = s.value("default_route", json());
  if (!route.is_object()) {
    out.push_back("Маршрут по умолчанию: нет");
  } else {
    const int iface = route.value("interface", 0);
    out.push_back("Маршрут по умолчанию: " +
                  (iface > 0 ? "интерфейс " + std::to_string(iface) : std::string("не через интерфейсы сервера")) +
                  ", шлюз " + Str(route, "gateway") + " (" + Str(route, "device") + ")");
  }
  return out;
}

// Rows in columns as wide as their widest cell, two spaces apart.
std::vector<std::string> TableLines(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> width(rows.front().size(), 0);
  for (const auto& row : rows)
    for (size_t k = 0; k < row.size(); ++k) width[k] = std::max(width[k], Characters(row[k]));
  std::vector<std::string> out;
  for (const auto& row : rows) {
    std::string line;
    for (size_t k = 0; k < row.size(); ++k)
      line += k + 1 < row.size() ? Pad(row[k], width[k] + 2) : row[k];
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out.push_back(line);
  }
  return out;
}

std::vector<std::string> DeviceLines(const json& list) {
  std::vector<std::vector<std::string>> rows = {{"N стр.", "IP Адрес", "Порт прибора",
                                                 "Пультовой N", "Интерфейс", "Выкл.", "Связь",
                                                 "Обслуживание"}};
  for (const json& d : list)
    rows.push_back({std::to_string(d.value("index", 0)), Str(d, "address"),
                    std::to_string(d.value("port", 0)), Str(d, "number"),
                    std::to_string(d.value("interface", 0)),
                    d.value("switched_off", false) ? "да" : "", Str(d, "link"),
                    Str(d, "maintenance")});
  std::vector<std::string> out = TableLines(rows);
  if (list.empty()) out.push_back("(нет приборов)");
  return out;
}

}  // namespace

std::vector<std::string> BatchLines(const std::vector<BatchResult>& results) {
  std::vector<std::vector<std::string>> rows = {{"Прибор", "Итог", "Время, с", "Последняя строка"}};
  size_t done = 0;
  for (const BatchResult& r : results) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", r.seconds);
    rows.push_back({r.device, r.ok ? "выполнено" : "не выполнено", seconds, r.lastLine});
    done += r.ok;
  }
  std::vector<std::string> out = TableLines(rows);
  out.push_back("Выполнено: " + std::to_string(done) + " из " + std::to_string(results.size()));
  return out;
}

std::string Pad(const std::string& text, size_t width) {
  const size_t n = Characters(text);
  return n >= width ? text : text + std::string(width - n, ' ');
}

std::string UptimeText(int64_t s) {
  char buf[64];
  if (s >= 86400)
    std::snprintf(buf, sizeof buf, "%lld сут %lld ч %02lld мин", (long long)(s / 86400),
                  (long long)(s % 86400 / 3600), (long long)(s % 3600 / 60));
  else if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lld ч %02lld мин %02lld с", (long long)(s / 3600),
                  (long long)(s % 3600 / 60), (long long)(s % 60));
  else
    std::snprintf(buf, sizeof buf, "%lld мин %02lld с", (long long)(s / 60), (long long)(s % 60));
  return buf;
}

std::vector<std::string> AnswerLines(const std::string& verb, const json& a) {
  std::vector<std::string> out;
  if (a.contains("messages") && a["messages"].is_array())
    for (const json& m : a["messages"])
      if (m.is_string()) out.push_back(m.get<std::string>());
  if (verb == "status" && a.contains("status")) {
    for (auto& l : StatusLines(a["status"])) out.push_back(l);
  } else if (verb == "devices" && a.contains("devices")) {
    for (auto& l : DeviceLines(a["devices"])) out.push_back(l);
  } else if (verb == "settings" && a.contains("settings")) {
    for (const json& kv : a["settings"])
      out.push_back(kv[0].get<std::string>() + "=" + kv[1].get<std::string>());
  } else if (a.contains("lines")) {
    for (const json& l : a["lines"]) out.push_back(l.get<std::string>());
  }
  if (verb == "trace" && a.contains("running") && !a.value("running", false))
    out.push_back("(трафик сейчас не выводится: relayctl trace start)");
  if (a.contains("answer")) out.push_back(Str(a, "answer"));
  return out;
}

std::string StreamLine(const json& item) {
  if (item.contains("missed"))
    return "... пропущено строк: " + std::to_string(item.value("missed", uint64_t(0)));
  return Str(item, "line");
}

}  // namespace relayctl
