#include "tools/armsim/cli.h"

#include <charconv>
#include <string_view>

namespace armsim {

namespace {

bool ParseInt(std::string_view t, long max, long* v) {
  if (t.empty()) return false;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), *v);
  return ec == std::errc() && p == t.data() + t.size() && *v >= 0 && *v <= max;
}

// "1,2,7": groups 0..255.
bool ParseGroups(std::string_view t, std::vector<uint8_t>* out) {
  out->clear();
  while (!t.empty()) {
    const size_t comma = t.find(',');
    long g;
    if (!ParseInt(t.substr(0, comma), 255, &g)) return false;
    out->push_back(uint8_t(g));
    if (comma == std::string_view::npos) break;
    t.remove_prefix(comma + 1);
    if (t.empty()) return false;
  }
  return !out->empty();
}

}  // namespace

std::string UsageText() {
  return R"(usage: armsim --port PATH [options]   play the monitoring workstation on a serial port
       armsim --help

  --port PATH          the workstation's port: a path (a pty such as ports/CNCA0 or
                       ports/COM5), or a name looked up in /dev
  --groups G,G,...     groups N1 to poll in turn (default 1)
  --poll-ms N          pause after each poll cycle (default 100)
  --answer-ms N        wait for the server's answer (default 500)
  --gap-ms N           quiet time in ms that ends a read of the port (default 10, as the
                       server reads; 1 lets armsim answer as soon as a frame is in)
  --timestamps         items carry "mono_us": CLOCK_MONOTONIC in microseconds at arrival
  --no-ack-every K     leave every K-th item received unacknowledged (default 0: acknowledge
                       all); the server's resends count as items
  --send HEX           a command frame in hex WITHOUT its check byte, which armsim adds;
                       byte 1 (L) must match, e.g. FE0803010005000069 (command 0x69 for
                       1/0/5). Repeatable; one goes out after each poll, in order.
  --duration-ms N      stop after N ms (default: no limit)
  --items N            stop after N items, resends included (default: no limit)
  --json-summary       print a summary line {"type":"summary",...} at the end

Output: one JSON line per item {"type":"item","group":..,"number":"1/0/5","counter":..,
"code":..,"data":"hex","resend":bool} and per acknowledgement of a command
{"type":"ack","group":..,"counter":..}. "resend" is true when an item repeats, byte for
byte, the last item left unacknowledged.
Exit status: 0 done, 1 port failure, 2 bad command line, 3 malformed frame from the server.
)";
}

std::string ParseCommandLine(int argc, const char* const* argv, CliConfig* out) {
  CliConfig c;
  for (int k = 1; k < argc; ++k) {
    const std::string_view a = argv[k];
    if (a == "--help" || a == "-h") {
      c.help = true;
      continue;
    }
    if (a == "--json-summary") {
      c.jsonSummary = true;
      continue;
    }
    if (a == "--timestamps") {
      c.session.timestamps = true;
      continue;
    }
    const bool known = a == "--port" || a == "--groups" || a == "--send" || a == "--poll-ms" ||
                       a == "--answer-ms" || a == "--no-ack-every" || a == "--duration-ms" ||
                       a == "--items" || a == "--gap-ms";
    if (!known) return "unknown option " + std::string(a);
    if (k + 1 >= argc) return "option " + std::string(a) + " needs a value";
    const std::string_view v = argv[++k];
    long n = 0;
    auto number = [&](int* dst) {
      if (!ParseInt(v, 1000000000, &n)) return false;
      *dst = int(n);
      return true;
    };
    if (a == "--port") {
      c.port = v;
    } else if (a == "--groups") {
      if (!ParseGroups(v, &c.session.groups))
        return "--groups needs numbers 0..255 separated by commas, not '" + std::string(v) + "'";
    } else if (a == "--send") {
      Bytes frame;
      std::string error;
      if (!ParseHexFrame(v, &frame, &error)) return "--send " + error;
      c.session.sends.push_back(std::move(frame));
    } else {
      int* dst = a == "--poll-ms"        ? &c.session.pollMs
                 : a == "--answer-ms"    ? &c.session.answerMs
                 : a == "--no-ack-every" ? &c.session.noAckEvery
                 : a == "--duration-ms"  ? &c.session.durationMs
                 : a == "--gap-ms"       ? &c.gapMs
                                         : &c.session.items;
      if (!number(dst)) return std::string(a) + " needs a whole number, not '" + std::string(v) + "'";
    }
  }
  if (!c.help && c.port.empty()) return "--port is required";
  *out = std::move(c);
  return {};
}

}  // namespace armsim
