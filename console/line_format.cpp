#include "console/line_format.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace console {

std::string TimeStamp(const platform::LocalTime& t) {
  return std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second);
}

std::string HexDump(const uint8_t* p, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(3 * n);
  for (size_t k = 0; k < n; ++k) {
    s += kDigits[p[k] >> 4];
    s += kDigits[p[k] & 15];
    s += ' ';
  }
  return s;
}

size_t DeviceTraceCount(const uint8_t* t, bool padded) {
  size_t L = t[1];
  if (padded) L += (4 - L % 4) % 4;
  return std::min<size_t>(L + 2, 128);
}

std::string DeviceTraceLine(const platform::LocalTime& t, const uint8_t* telegram, bool sent,
                            std::string_view peer, uint16_t port, bool padded) {
  std::string s = TimeStamp(t);
  s += sent ? "(E)W" : "(E)R";
  s += peer;
  s += '[';
  s += std::to_string(port);
  s += "]:";
  s += HexDump(telegram, DeviceTraceCount(telegram, padded));
  return s;
}

std::string ComTraceLine(const platform::LocalTime& t, const uint8_t* frame, bool fromWorkstation) {
  std::string s = TimeStamp(t);
  s += fromWorkstation ? "(COM)W:" : "(COM)R:";
  s += HexDump(frame, std::min<size_t>(size_t(frame[1]) + 2, 128));
  return s;
}

std::string Format(const char* fmt, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return n < 0 ? std::string() : std::string(buf, std::min<size_t>(size_t(n), sizeof buf - 1));
}

}  // namespace console
