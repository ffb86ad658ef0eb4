// How relayctl prints the server's answers for a person: Russian lines.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace relayctl {

// The lines of a successful answer to a request of `verb`.
std::vector<std::string> AnswerLines(const std::string& verb, const nlohmann::json& answer);

// The outcome of one device of a batch: the last line is the session's last
// log line, or why the server refused the request.
struct BatchResult {
  std::string device;
  bool ok = false;
  double seconds = 0;
  std::string lastLine;
};

// The table that ends a batch, and the count of devices done.
std::vector<std::string> BatchLines(const std::vector<BatchResult>& results);

// One item of a stream ({"line":...} or {"missed":n}).
std::string StreamLine(const nlohmann::json& item);

// "1 ч 02 мин 05 с" and the like.
std::string UptimeText(int64_t seconds);

// `text` padded with spaces to `width` characters (not bytes).
std::string Pad(const std::string& text, size_t width);

}  // namespace relayctl
