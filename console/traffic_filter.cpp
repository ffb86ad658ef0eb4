#include "console/traffic_filter.h"

#include <algorithm>
#include <string>

#include "console/message_sink.h"

namespace console {
namespace {

bool IsNumber(const uint8_t* p, ConsoleNumber n) { return p[0] == n.n1 && p[1] == n.n2 && p[2] == n.n3; }

bool DeviceType(uint8_t t0) { return t0 == 0xE9 || t0 == 0xEA || t0 == 0xEF || t0 == 0xFE; }

// A decimal number from 0 to 255, digits only.
bool ParseByte(std::string_view part, uint8_t& out) {
  if (part.empty()) return false;
  unsigned v = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + unsigned(c - '0');
    if (v > 255) return false;
  }
  out = uint8_t(v);
  return true;
}

}  // namespace

void TrafficFilter::Learn(std::string_view peer, uint16_t port) {
  ip_.assign(peer.substr(0, 16));
  port_ = port;
}

bool TrafficFilter::PassPlain(const ConsoleSettings& s, const uint8_t* t, std::string_view peer,
                              uint16_t port) {
  if (!DeviceType(t[0])) return true;
  const ConsoleNumber number = s.GlFiltrNPult.Load();
  bool pass;
  if (t[2] == 0x55 && t[3] == 4) {
    pass = FromLearned(peer, port);  // the registration test telegram carries no number
  } else if (t[2] == 0x55) {
    pass = IsNumber(t + 4, number);
  } else {
    pass = IsNumber(t + 3, number);
  }
  if (pass) Learn(peer, port);
  return pass;
}

bool TrafficFilter::PassEncrypted(const ConsoleSettings& s, const uint8_t* t,
                                  std::string_view peer, uint16_t port) {
  switch (t[0]) {
    case 0xE9:
      return FromLearned(peer, port);
    case 0xEA:
      return (t[2] << 8 | t[3]) == s.GlFiltrNStruct || FromLearned(peer, port);
    case 0xEF:
      if (t[2] != 0x55) return true;
      if (t[3] == 7 || t[3] == 0x87) {
        if (!IsNumber(t + 4, s.GlFiltrNPult.Load())) return false;
        Learn(peer, port);
        return true;
      }
      return FromLearned(peer, port);
    default:
      return true;
  }
}

bool TrafficFilter::Admit(const ConsoleSettings& s, const uint8_t* t, std::string_view peer,
                          uint16_t port, bool encrypted) {
  if (t[0] == 0xEE && t[2] == 0xAA) return false;
  if (!s.GlOutEthern || !s.GlTraficRun) return false;
  if (encrypted && !s.GlOutCrypt) return false;
  if (!s.GlFiltrOn) return true;
  return encrypted ? PassEncrypted(s, t, peer, port) : PassPlain(s, t, peer, port);
}

int ParseNumberField(std::string_view text, ConsoleNumber& n) {
  uint8_t* bytes[3] = {&n.n1, &n.n2, &n.n3};
  const bool lastCounts = std::count(text.begin(), text.end(), '/') == 2;
  int bad = 0;
  size_t stored = 0;
  size_t start = 0;
  while (stored < 3) {
    const size_t slash = text.find('/', start);
    if (slash == std::string_view::npos && !lastCounts) break;
    const std::string_view part = text.substr(start, slash == std::string_view::npos
                                                         ? std::string_view::npos
                                                         : slash - start);
    uint8_t v = 0;
    if (!ParseByte(part, v)) ++bad;
    *bytes[stored++] = v;
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  return bad;
}

void NumberFieldExit(std::string_view text, AtomicNumber& n, std::string_view field,
                     MessageSink& sink) {
  ConsoleNumber v = n.Load();
  const int bad = ParseNumberField(text, v);
  for (int k = 0; k < bad; ++k)
    sink.DebugLine("Ошибка преобразования \"" + std::string(field) + "\"");
  n.Store(v);
}

void FilterFieldExit(std::string_view text, ConsoleSettings& s, MessageSink& sink) {
  NumberFieldExit(text, s.GlFiltrNPult, "FiltrNPultExit", sink);
}

}  // namespace console
