#include "tests/support/safe_network_ini.h"

#include <cctype>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

namespace testsupport {
namespace {

std::string_view Trim(std::string_view s) {
  const auto b = s.find_first_not_of(" \t");
  if (b == std::string_view::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The section name of a header line "[Name]"; nothing for any other line.
std::optional<std::string_view> HeaderName(std::string_view line) {
  const std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[' || t.find(']') == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, t.find(']') - 1));
}

bool SetsKey(std::string_view line, std::string_view key) {
  const std::string_view t = Trim(line);
  const auto eq = t.find('=');
  return !t.empty() && t.front() != ';' && eq != std::string_view::npos &&
         SameName(Trim(t.substr(0, eq)), key);
}

// Adds "key=value" at the end of `section`, unless the section has the key already.
void AddKey(std::vector<std::string>& lines, std::string_view section, std::string_view key,
            std::string_view value) {
  const std::string entry = std::string(key) + "=" + std::string(value);
  size_t header = 0;
  for (; header < lines.size(); ++header) {
    const auto name = HeaderName(lines[header]);
    if (name && SameName(*name, section)) break;
  }
  if (header == lines.size()) {
    lines.push_back("[" + std::string(section) + "]");
    lines.push_back(entry);
    return;
  }
  size_t end = header + 1;
  for (; end < lines.size() && !HeaderName(lines[end]); ++end)
    if (SetsKey(lines[end], key)) return;
  // Blank lines that set off the next section stay in front of it.
  while (end > header + 1 && Trim(lines[end - 1]).empty()) --end;
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end), entry);
}

}  // namespace

std::string SafeNetworkIni(const std::string& ini, InternetCheck check) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < ini.size();) {
    size_t nl = ini.find('\n', at);
    if (nl == std::string::npos) nl = ini.size();
    std::string line = ini.substr(at, nl - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = nl + 1;
  }
  if (check == InternetCheck::kOff) AddKey(lines, "Form1", "CheckBox_Internet", "0");
  AddKey(lines, "Deployment", "InetProbeHost", "127.0.0.1");
  std::string out;
  for (const std::string& l : lines) out += l + "\r\n";
  return out;
}

}  // namespace testsupport
