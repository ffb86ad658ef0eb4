// What end-to-end tests read from the simulators' output: armsim's JSON item
// lines, and waiting for a condition over a child's lines.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/child_process.h"

namespace testsupport {

// Polls `done` every 10 ms until it holds or the time is up.
inline bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

inline bool WaitCount(ChildProcess& p, const std::string& text, size_t n,
                      std::chrono::milliseconds timeout) {
  return WaitUntil([&] { return p.Count(text) >= n; }, timeout);
}

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  return all;
}

// ---- armsim output --------------------------------------------------------

// Value of `name` in one flat JSON line of armsim, without quotes.
inline std::string JsonField(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  size_t at = line.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  if (line[at] == '"') return line.substr(at + 1, line.find('"', at + 1) - at - 1);
  return line.substr(at, line.find_first_of(",}", at) - at);
}

struct ArmItem {
  std::string number;
  int counter = -1;
  int code = -1;
  std::string data;
  bool resend = false;
};

inline std::vector<ArmItem> Items(const std::vector<std::string>& lines) {
  std::vector<ArmItem> items;
  for (const std::string& l : lines) {
    if (JsonField(l, "type") != "item") continue;
    ArmItem it;
    it.number = JsonField(l, "number");
    it.counter = std::stoi(JsonField(l, "counter"));
    const std::string code = JsonField(l, "code");
    it.code = code == "null" ? -1 : std::stoi(code);
    it.data = JsonField(l, "data");
    it.resend = JsonField(l, "resend") == "true";
    items.push_back(it);
  }
  return items;
}

inline size_t CountItems(const std::vector<ArmItem>& items, const std::string& number, int code) {
  size_t n = 0;
  for (const ArmItem& it : items) n += it.number == number && it.code == code;
  return n;
}

// Waits until devsim, run with --verbose, has had a heartbeat answered: the
// device and the server are both up, so a maintenance request is not sent
// before the device listens.
inline bool DeviceUp(ChildProcess& devsim,
                     std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  return !devsim.WaitForLine("<- heartbeat", timeout).empty();
}

}  // namespace testsupport
