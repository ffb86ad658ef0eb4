#include "console/field_rules.h"

#include <algorithm>

#include "console/device_grid.h"
#include "console/traffic_filter.h"

namespace console {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool RegNumberKeyAccepted(std::string_view text, char key) {
  if (key == kBackspace) return true;
  const auto slashes = std::count(text.begin(), text.end(), '/');
  if (key == '/') return !text.empty() && slashes < 2;
  if (!IsDigit(key)) return false;
  const size_t last = text.rfind('/');
  const size_t digits = last == std::string_view::npos ? text.size() : text.size() - last - 1;
  return digits < 2;
}

bool FilterKeyAccepted(std::string_view text, char key) {
  if (key == kBackspace || IsDigit(key)) return true;
  return key == '/' && std::count(text.begin(), text.end(), '/') < 2;
}

bool PortKeyAccepted(std::string_view text, char key) {
  if (key == kBackspace) return true;
  return IsDigit(key) && text.size() < 6;
}

bool TrafficCapKeyAccepted(std::string_view text, char key) {
  if (key == kBackspace) return true;
  return IsDigit(key) && text.size() < 5;
}

uint16_t TrafficCapOf(std::string_view text) {
  const int v = ToIntDef(text, 200);
  return uint16_t(std::clamp(v, 1, 65535));
}

void RegNumberFieldExit(std::string_view text, ConsoleSettings& s, MessageSink& sink) {
  NumberFieldExit(text, s.GlRegNPult, "EditRegOneExit", sink);
}

}  // namespace console
