// How relayctl prints the server's answers for a person: Russian lines.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace relayctl {

// The lines of a successful answer to a request of `verb`.
std::vector<std::string> AnswerLines(const std::string& verb, const nlohmann::json& answer);

// One item of a stream ({"line":...} or {"missed":n}).
std::string StreamLine(const nlohmann::json& item);

// "1 ч 02 мин 05 с" and the like.
std::string UptimeText(int64_t seconds);

// `text` padded with spaces to `width` characters (not bytes).
std::string Pad(const std::string& text, size_t width);

}  // namespace relayctl
