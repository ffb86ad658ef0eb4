#include "tools/devsim/cli.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/cp1251.h"

namespace devsim {
namespace {

// Decimal, or hexadecimal with a 0x prefix.
bool ParseU64(std::string_view t, uint64_t* v) {
  int base = 10;
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    t.remove_prefix(2);
    base = 16;
  }
  if (t.empty()) return false;
  auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), *v, base);
  return ec == std::errc() && p == t.data() + t.size();
}

bool ParseHexBytes(std::string_view t, uint8_t* out, size_t n) {
  if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
  if (t.size() != 2 * n) return false;
  for (size_t k = 0; k < n; ++k) {
    auto [p, ec] = std::from_chars(t.data() + 2 * k, t.data() + 2 * k + 2, out[k], 16);
    if (ec != std::errc() || p != t.data() + 2 * k + 2) return false;
  }
  return true;
}

bool ParseNumber(std::string_view t, ConsoleNumber* n) {
  uint8_t parts[3];
  for (int k = 0; k < 3; ++k) {
    const size_t slash = k < 2 ? t.find('/') : t.size();
    if (slash == std::string_view::npos) return false;
    uint64_t v;
    if (!ParseU64(t.substr(0, slash), &v) || v > 255) return false;
    parts[k] = uint8_t(v);
    t.remove_prefix(k < 2 ? slash + 1 : slash);
  }
  *n = {parts[0], parts[1], parts[2]};
  return true;
}

bool ParseEndpoint(std::string_view t, uint32_t* addr, uint16_t* port) {
  const size_t colon = t.rfind(':');
  if (colon == std::string_view::npos) return false;
  uint64_t p;
  if (!ParseU64(t.substr(colon + 1), &p) || p == 0 || p > 65535) return false;
  std::string_view host = t.substr(0, colon);
  if (host == "localhost") host = "127.0.0.1";
  if (!ParseIpv4(host, addr)) return false;
  *port = uint16_t(p);
  return true;
}

std::string Num(uint64_t v) { return std::to_string(v); }

}  // namespace

std::string UsageText() {
  return R"(usage: devsim --server ADDR:PORT [options]        play object devices against the server
       devsim --make-ndx FILE [options]               write a registry of registered devices
       devsim --help

Devices
  --devices N            number of devices, 1..65534 (default 1; with --ndx: all in-use records)
  --first N1/N2/N3       number of the first device (default 1/0/1); numbers count up in N3,
                         then N2, then N1
  --seed S               seed of the per-device seed, device bytes and identity (default 1);
                         the same seed and position give the same device on every run
  --identity HHHH        force identity bytes In0 In1 for every device (e.g. 12AB), also over
                         the identities of --ndx; with --register this plays a substitution
  --reg-key HEX20        registration base constant, 20 hex digits
                         (default 5A3C96E1B4072DF8C613)
  --ndx FILE             load the devices from a server registry file: every in-use record
                         becomes a device with its index, number, key, identity and chaining
                         (device send = record C_iResiv, receive = C_iTransm); no registration
                         unless --register is given

Network
  --server ADDR:PORT     the server's device port (required to run)
  --sockets K            UDP sockets to share among the devices (default 1); device k uses
                         socket k mod K
  --port P               local port of the first socket, the others P+1..; 0 = ephemeral
                         (default 0). With --move-port the second sockets use P+K..
  --source ADDR          address of the first device (default 127.1.0.1); device k sends from
                         ADDR+k through the shared socket(s), which loopback accepts for any
                         127.x.y.z
  --no-spread            every device uses its socket's own address, bound to --source:
                         only one device per socket makes sense, so --sockets defaults to
                         --devices and must not be lower

Behaviour
  --register / --no-register
                         send the registration until answered (default on, off with --ndx);
                         without registration and without --ndx a device has no client index
                         and only sends echoes
  --reg-code C           registration code 7 or 0x87 (default 7)
  --reg-retry-ms MS      registration retry interval (default 3000)
  --heartbeat-ms MS      heartbeat period per device; 0 = no heartbeats (default 15000, or
                         devices*1000/R with --rate R)
  --heartbeats K         heartbeats per device, then stop sending them (default 0 = until the
                         run ends)
  --time-requests K      time requests per device, one after the other
  --events K             events per device, each sent until acknowledged
  --event-code C         event code in byte 8 (default 0x01)
  --event-retry-ms MS    resend an unacknowledged event after this (default 2000)
  --echo K               echo telegrams per device, one after the other (no registration needed)
  --answer-timeout-ms MS give up waiting for a heartbeat, time or echo answer (default 3000);
                         also how long the end of a run waits for answers in flight
  --answer-requests / --no-answer-requests
                         answer server requests with an event of the request's sequence byte,
                         sent until acknowledged (default on)
  --maint                every device also answers remote maintenance; the run then lasts
                         until --duration-ms or SIGINT
  --maint-user U, --maint-password P
                         credentials the login is checked against (default admin / admin)
  --maint-silent N       leave the first N maintenance requests of each device unanswered
  --maint-versions E1.E2/M1.M2
                         Ethernet and main controller firmware versions (default 2.10/4.39)
  --maint-chip K         chip kind in the version answer: 0 4620, 1 67k22, 2 46k22 (default 0)
  --maint-old-versions   the old short version answer, without minor numbers or chip kind
  --maint-net-file F.dat the device's network settings at the start (a settings file)
  --maint-net-out F.dat  each network settings block written to the device is stored here
  --maint-deny-net       refuse reading and writing the network settings (0x8B, 0x8C)
  --maint-no-ntp         the NTP and balance settings are not switched on (empty answer)
  --maint-test-silent    leave the channel test commands (0x64) unanswered
  --maint-eth-out FILE   after the jump command (0x11) the device's 87J60 loader takes a TFTP
                         write request and answers from a new port; each file it receives
                         whole is stored here, byte for byte, whatever the mode
  --maint-eth-fault F    the 87J60 loader misbehaves: oack (an option acknowledgement instead
                         of ACK 0), error or error:N (an ERROR instead of the ACK of the
                         request or of block N), silent, no-last-ack, dup-acks (every ACK twice)
  --maint-image-out F.hex
                         the main controller's loader (after the jump 0x7F and the erase)
                         writes the image it was sent here as Intel HEX once the end record
                         has come; {n} in the name becomes the device's number N1-N2-N3
  --maint-erase-silent N leave the first N erase requests of each loader unanswered
  --maint-loader-drop K[,K...]
                         lose the loader's answer to the K-th packet it receives after the
                         erase (from 1, repeats counted)
  --maint-loader-bad-sum K[,K...]
                         answer the K-th packet with a wrong checksum
  --maint-loader-late K[,K...]
                         send the answer to the K-th packet again, late: just before the
                         answer to the next packet
  --maint-loader-refuse N1/N2/N3[,N1/N2/N3...]
                         these devices' loaders take no packet (each answered as refused)
  --maint-config-file F.dat
                         the configuration image at the start, from a configurator's file
                         (header length H, variant 250/251/252, image from H); default: zeros,
                         variant 250
  --maint-config-out F.dat
                         the configuration image is written here at exit in the same format,
                         with the seed's header; {n} in the name becomes the device's number
  --maint-config-variant C
                         variant code of the identify answer, 0..255 (default: the image's)
  --maint-config-version V
                         version byte of the identify answer, 0..255 (default 23)
  --maint-key-after N    key polls answered "no key" before the key is presented (default 2);
                         after presenting it the reader is empty again for N polls
  --maint-key HEX16      the key at the reader, its 8 bytes as they come off the wire, family
                         code first (default 015A3C96E1070093)
  --maint-config-fault F the link to the configurator misbehaves, counting its answers from 1;
                         repeatable: drop:K (every K-th answer lost), late:MS (every answer
                         MS later), stale:K (every K-th answer with the request's sequence
                         byte minus 1), split:MS[:K] (every answer, or every K-th, in
                         two datagrams MS apart), join (every answer behind a stale copy of the previous one in one
                         datagram), badcrc:K (every K-th answer with a wrong check byte)
  --maint-expander E     the device carries a radio expander, rielta or astra, with 32 slots
                         seeded with four devices in slots 0, 1, 2 (a key fob) and 4. Its
                         firmware gates want --maint-versions E1 >= 77 and M1 >= 48 (Rielta)
                         or >= 51 (Astra-RR), e.g. 77.10/51.39. A deletion's index is slot n
                         for Rielta and slot n-1 for Astra-RR (table rows 1..32 = slots 0..31)
  --maint-expander-delay MS
                         registration, deletion and network parameters take effect and send
                         their notice (0xF0) this long after the request (default 3000)
  --maint-expander-silent CMD
                         the expander leaves requests of command CMD unanswered, e.g. 249
                         (owner numbers read)
  --skip K               raise the send chaining value by K without sending, once, before a
                         device's first wrapped telegram (K <= 5 stays within the server's
                         look-ahead)
  --first-seq S          first sequence byte of each device's heartbeats and time requests,
                         and of its events, 0..255 (default 1; with --ndx one past the
                         record's last ones)
  --repeat-seq           the second heartbeat of each device repeats the first one's sequence
  --bare-echo            the peer is a bare UDP echo loop (the baseline of load runs): any
                         datagram that comes back answers one awaited heartbeat; use with --ndx
  --move-port            after registration (with --ndx: after the first answer) send from a
                         second socket on another port
  --rate R               at most R telegrams per second over all devices, starts spread evenly
  --start-spread-ms MS   spread the devices' starts over MS (default: devices/R with --rate,
                         else the heartbeat period)
  --duration-ms D        stop sending after D ms, then wait up to --answer-timeout-ms for the
                         last answers (default: run until the work is done, or until SIGINT)

Registry
  --make-ndx FILE        write record k = device k for --devices devices as a fresh
                         registration leaves them on the server (in use, link state 2, chaining
                         = first 4 key bytes, peer address = device address, peer port = its
                         socket's --port); honours --first --seed --identity --reg-key --source
                         --port --sockets --no-spread; opens no socket
  --link-state S         link state of the records written (default 2, as registration
                         leaves it; 0 = link normal, so a silent device can be declared failed)

Output
  --verbose              one line per received telegram (decrypted hex) on stderr
  --quiet                no informational lines; only the summary
  --event-log FILE       one line per own event at its first send: "N1/N2/N3 DATA MONO_US"
                         (data byte in decimal, CLOCK_MONOTONIC in microseconds)
  --json-summary         print the summary as one JSON object instead of the text line

The summary line on stdout:
  devsim: devices=N registered=R heartbeats=sent/answered time=sent/answered
  events=sent/acked echoes=sent/returned requests=received/answered undecryptable=U
  unanswered=X duplicates=D unexpected=E send_errors=S elapsed_ms=T
Exit status: 0 when everything asked for was answered, nothing was undecryptable and every
datagram could be sent; 1 otherwise or on a run-time error; 2 for bad arguments.
)";
}

std::string ParseCommandLine(int argc, const char* const* argv, CliConfig* c) {
  SimOptions& o = c->sim;
  bool socketsGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    std::string_view value;
    bool hasValue = false;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string_view::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasValue = true;
    }
    auto need = [&](std::string_view* v) -> bool {
      if (hasValue) {
        *v = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    auto flag = [&]() { return !hasValue; };
    std::string_view v;
    uint64_t x = 0;
    auto number = [&](uint64_t max) -> bool { return need(&v) && ParseU64(v, &x) && x <= max; };
    const std::string bad = "bad value for " + std::string(arg);

    if (arg == "--help" || arg == "-h") {
      c->mode = CliConfig::Mode::kHelp;
      return {};
    } else if (arg == "--server") {
      if (!need(&v) || !ParseEndpoint(v, &o.serverAddr, &o.serverPort))
        return "--server needs ADDR:PORT with a dotted IPv4 address and a port 1..65535";
      c->serverGiven = true;
    } else if (arg == "--devices") {
      if (!number(kMaxDevices) || x == 0) return "--devices needs a count 1..65534";
      o.population.devices = uint32_t(x);
      c->devicesGiven = true;
    } else if (arg == "--first") {
      if (!need(&v) || !ParseNumber(v, &o.population.first)) return "--first needs N1/N2/N3, each 0..255";
    } else if (arg == "--seed") {
      if (!number(UINT64_MAX)) return bad;
      o.population.seed = x;
    } else if (arg == "--identity") {
      std::array<uint8_t, 2> id{};
      if (!need(&v) || !ParseHexBytes(v, id.data(), 2)) return "--identity needs 4 hex digits";
      o.population.identity = id;
    } else if (arg == "--reg-key") {
      if (!need(&v) || !ParseHexBytes(v, o.regKey.data(), 10)) return "--reg-key needs 20 hex digits";
    } else if (arg == "--reg-code") {
      if (!number(255) || (x != kCodeRegister && x != kCodeRegisterOpt)) return "--reg-code must be 7 or 0x87";
      o.regCode = uint8_t(x);
    } else if (arg == "--register" && flag()) {
      o.registerDevices = true;
      c->registerGiven = true;
    } else if (arg == "--no-register" && flag()) {
      o.registerDevices = false;
      c->registerGiven = true;
    } else if (arg == "--reg-retry-ms") {
      if (!number(86'400'000) || x == 0) return bad + ": 1..86400000";
      o.regRetryMs = int64_t(x);
    } else if (arg == "--heartbeat-ms") {
      if (!number(86'400'000)) return bad + ": 0..86400000";
      o.heartbeatUs = int64_t(x) * 1000;
      c->heartbeatGiven = true;
    } else if (arg == "--heartbeats") {
      if (!number(UINT32_MAX)) return bad;
      o.heartbeats = uint32_t(x);
    } else if (arg == "--time-requests") {
      if (!number(UINT32_MAX)) return bad;
      o.timeRequests = uint32_t(x);
    } else if (arg == "--events") {
      if (!number(UINT32_MAX)) return bad;
      o.events = uint32_t(x);
    } else if (arg == "--event-code") {
      if (!number(255)) return bad + ": 0..255";
      o.eventCode = uint8_t(x);
    } else if (arg == "--event-retry-ms") {
      if (!number(86'400'000) || x == 0) return bad + ": 1..86400000";
      o.eventRetryMs = int64_t(x);
    } else if (arg == "--echo") {
      if (!number(UINT32_MAX)) return bad;
      o.echoes = uint32_t(x);
    } else if (arg == "--answer-timeout-ms") {
      if (!number(86'400'000) || x == 0) return bad + ": 1..86400000";
      o.answerTimeoutMs = int64_t(x);
    } else if (arg == "--duration-ms") {
      if (!number(uint64_t(1) << 40)) return bad;
      o.durationMs = int64_t(x);
    } else if (arg == "--maint" && flag()) {
      o.maintained = true;
    } else if (arg == "--maint-user") {
      if (!need(&v) || v.empty()) return "--maint-user needs a name";
      o.maint.user = platform::Utf8ToCp1251(v);
    } else if (arg == "--maint-password") {
      if (!need(&v) || v.empty()) return "--maint-password needs a password";
      o.maint.password = platform::Utf8ToCp1251(v);
    } else if (arg == "--maint-silent") {
      if (!number(UINT32_MAX)) return bad;
      o.maint.silentRequests = uint32_t(x);
    } else if (arg == "--maint-versions") {
      unsigned e1, e2, m1, m2;
      char tail;
      if (!need(&v) || std::sscanf(std::string(v).c_str(), "%u.%u/%u.%u%c", &e1, &e2, &m1, &m2, &tail) != 4 ||
          e1 > 255 || e2 > 255 || m1 > 255 || m2 > 255)
        return "--maint-versions needs E1.E2/M1.M2, each 0..255";
      o.maint.eth[0] = uint8_t(e1), o.maint.eth[1] = uint8_t(e2);
      o.maint.main[0] = uint8_t(m1), o.maint.main[1] = uint8_t(m2);
    } else if (arg == "--maint-chip") {
      if (!number(255)) return bad + ": 0..255";
      o.maint.chipKind = uint8_t(x);
    } else if (arg == "--maint-old-versions" && flag()) {
      o.maint.oldVersions = true;
    } else if (arg == "--maint-net-file" || arg == "--maint-net-out") {
      if (!need(&v) || v.empty()) return std::string(arg) + " needs a file";
      (arg == "--maint-net-file" ? o.maint.netFile : o.maint.netOut) = std::string(v);
      if (arg == "--maint-net-file") {
        std::string why;
        MaintainedDevice probe(o.maint, &why);
        if (!why.empty()) return "--maint-net-file: " + why;
      }
    } else if (arg == "--maint-deny-net" && flag()) {
      o.maint.denyNetwork = true;
    } else if (arg == "--maint-no-ntp" && flag()) {
      o.maint.noNtp = true;
    } else if (arg == "--maint-test-silent" && flag()) {
      o.maint.testSilent = true;
    } else if (arg == "--maint-eth-out") {
      if (!need(&v) || v.empty()) return "--maint-eth-out needs a file";
      o.ethLoader.outFile = std::string(v);
    } else if (arg == "--maint-eth-fault") {
      if (!need(&v) || !ParseEthLoaderFault(v, &o.ethLoader))
        return "--maint-eth-fault needs oack, error, error:N, silent, no-last-ack or dup-acks";
    } else if (arg == "--maint-image-out") {
      if (!need(&v) || v.empty()) return "--maint-image-out needs a file";
      o.maint.mainLoader.imageOut = std::string(v);
    } else if (arg == "--maint-erase-silent") {
      if (!number(UINT32_MAX)) return bad;
      o.maint.mainLoader.eraseSilent = uint32_t(x);
    } else if (arg == "--maint-loader-drop" || arg == "--maint-loader-bad-sum" ||
               arg == "--maint-loader-late") {
      MainLoaderProfile& l = o.maint.mainLoader;
      std::set<uint32_t>& to = arg == "--maint-loader-drop"      ? l.drop
                               : arg == "--maint-loader-bad-sum" ? l.badSum
                                                                 : l.late;
      if (!need(&v) || !ParsePacketList(v, &to))
        return std::string(arg) + " needs packet numbers K[,K...], each from 1";
    } else if (arg == "--maint-loader-refuse") {
      if (!need(&v) || v.empty()) return "--maint-loader-refuse needs N1/N2/N3[,N1/N2/N3...]";
      for (std::string_view rest = v; !rest.empty();) {
        const size_t comma = rest.find(',');
        ConsoleNumber n;
        if (!ParseNumber(rest.substr(0, comma), &n))
          return "--maint-loader-refuse needs N1/N2/N3[,N1/N2/N3...], each part 0..255";
        o.maint.mainLoader.refuse.push_back(n);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      }
    } else if (arg == "--maint-config-file") {
      if (!need(&v) || v.empty()) return "--maint-config-file needs a file";
      o.maint.config.seedFile = std::string(v);
      std::string why;
      ConfigDevice probe(o.maint.config, &why);
      if (!why.empty()) return "--maint-config-file: " + why;
    } else if (arg == "--maint-config-out") {
      if (!need(&v) || v.empty()) return "--maint-config-out needs a file";
      o.maint.config.outFile = std::string(v);
    } else if (arg == "--maint-config-variant") {
      if (!number(255)) return bad + ": 0..255";
      o.maint.config.identifyVariant = int(x);
    } else if (arg == "--maint-config-version") {
      if (!number(255)) return bad + ": 0..255";
      o.maint.config.version = uint8_t(x);
    } else if (arg == "--maint-key-after") {
      if (!number(UINT32_MAX)) return bad;
      o.maint.config.keyAfter = uint32_t(x);
    } else if (arg == "--maint-key") {
      if (!need(&v) || !ParseHexBytes(v, o.maint.config.key.data(), 8))
        return "--maint-key needs 16 hex digits";
    } else if (arg == "--maint-config-fault") {
      if (!need(&v) || !ParseConfigFault(v, &o.maint.config.faults))
        return "--maint-config-fault needs drop:K, late:MS, stale:K, split:MS[:K], join or badcrc:K (K, MS from 1)";
    } else if (arg == "--maint-expander") {
      if (!need(&v) || !ParseExpanderKind(v, &o.maint.expander.kind))
        return "--maint-expander needs rielta or astra";
    } else if (arg == "--maint-expander-delay") {
      if (!number(86'400'000)) return bad + ": 0..86400000";
      o.maint.expander.delayMs = int64_t(x);
    } else if (arg == "--maint-expander-silent") {
      if (!number(255)) return bad + ": 0..255";
      o.maint.expander.silentCommand = uint8_t(x);
    } else if (arg == "--answer-requests" && flag()) {
      o.answerRequests = true;
    } else if (arg == "--no-answer-requests" && flag()) {
      o.answerRequests = false;
    } else if (arg == "--skip") {
      if (!number(UINT32_MAX)) return bad;
      o.skip = uint32_t(x);
    } else if (arg == "--first-seq") {
      if (!number(255)) return bad + ": 0..255";
      o.firstSeq = int(x);
    } else if (arg == "--repeat-seq" && flag()) {
      o.repeatSeq = true;
    } else if (arg == "--bare-echo" && flag()) {
      o.bareEcho = true;
    } else if (arg == "--move-port" && flag()) {
      o.movePort = true;
    } else if (arg == "--rate") {
      if (!need(&v)) return bad;
      const std::string t(v);
      char* end = nullptr;
      const double r = std::strtod(t.c_str(), &end);
      if (t.empty() || *end != '\0' || !(r > 0) || !std::isfinite(r)) return "--rate needs a positive number";
      o.rate = r;
    } else if (arg == "--start-spread-ms") {
      if (!number(86'400'000)) return bad + ": 0..86400000";
      o.startSpreadUs = int64_t(x) * 1000;
    } else if (arg == "--sockets") {
      if (!number(20000) || x == 0) return "--sockets needs a count 1..20000";
      o.population.sockets = uint32_t(x);
      socketsGiven = true;
    } else if (arg == "--port") {
      if (!number(65535)) return "--port needs 0..65535";
      o.population.port = uint16_t(x);
    } else if (arg == "--source") {
      if (!need(&v) || !ParseIpv4(v, &o.population.source) || o.population.source == 0)
        return "--source needs a dotted IPv4 address";
    } else if (arg == "--no-spread" && flag()) {
      o.population.spread = false;
    } else if (arg == "--ndx") {
      if (!need(&v) || v.empty()) return "--ndx needs a file name";
      c->ndxIn = std::string(v);
    } else if (arg == "--make-ndx") {
      if (!need(&v) || v.empty()) return "--make-ndx needs a file name";
      c->ndxOut = std::string(v);
      c->mode = CliConfig::Mode::kMakeNdx;
    } else if (arg == "--event-log") {
      if (!need(&v) || v.empty()) return "--event-log needs a file name";
      c->eventLog = std::string(v);
    } else if (arg == "--link-state") {
      if (!number(3)) return "--link-state needs 0..3";
      c->linkState = uint8_t(x);
    } else if (arg == "--verbose" && flag()) {
      o.verbose = true;
    } else if (arg == "--quiet" && flag()) {
      c->quiet = true;
    } else if (arg == "--json-summary" && flag()) {
      c->json = true;
    } else {
      return "unknown option " + std::string(argv[i]) + " (see --help)";
    }
  }
  if (!o.population.spread && !socketsGiven) o.population.sockets = o.population.devices;
  if (c->quiet && o.verbose) return "--quiet and --verbose exclude each other";
  if (c->mode == CliConfig::Mode::kMakeNdx) {
    if (!c->ndxIn.empty()) return "--make-ndx and --ndx exclude each other";
    if (std::string e = CheckPopulation(o.population); !e.empty()) return e;
    return {};
  }
  if (!c->serverGiven) return "--server ADDR:PORT is required (see --help)";
  if (!c->ndxIn.empty() && !c->registerGiven) o.registerDevices = false;
  return {};
}

std::string PrepareRun(CliConfig* c) {
  SimOptions& o = c->sim;
  if (!c->ndxIn.empty()) {
    std::string error;
    if (!LoadRegistry(c->ndxIn, &o.preset, &error)) return error;
    if (o.preset.empty()) return "the registry " + c->ndxIn + " holds no device in use";
    if (c->devicesGiven) {
      if (o.preset.size() < o.population.devices)
        return "the registry " + c->ndxIn + " holds only " + Num(o.preset.size()) + " devices in use";
      o.preset.resize(o.population.devices);
    } else {
      if (o.preset.size() > kMaxDevices) o.preset.resize(kMaxDevices);
      o.population.devices = uint32_t(o.preset.size());
      if (!o.population.spread && o.population.sockets < o.population.devices)
        o.population.sockets = o.population.devices;
    }
  }
  if (o.rate > 0 && !c->heartbeatGiven)
    o.heartbeatUs = std::max<int64_t>(1, int64_t(double(o.population.devices) * 1e6 / o.rate));
  return CheckOptions(o);
}

std::string SummaryLine(const SimSummary& s) {
  return "devsim: devices=" + Num(s.devices) + " registered=" + Num(s.registered) +
         " heartbeats=" + Num(s.heartbeatsSent) + "/" + Num(s.heartbeatsAnswered) +
         " time=" + Num(s.timeSent) + "/" + Num(s.timeAnswered) +
         " events=" + Num(s.eventsSent) + "/" + Num(s.eventsAcked) +
         " echoes=" + Num(s.echoesSent) + "/" + Num(s.echoesReturned) +
         " requests=" + Num(s.requestsReceived) + "/" + Num(s.requestsAnswered) +
         " undecryptable=" + Num(s.undecryptable) + " unanswered=" + Num(s.unanswered) +
         " duplicates=" + Num(s.duplicates) + " unexpected=" + Num(s.unexpected) +
         " send_errors=" + Num(s.sendErrors) + " elapsed_ms=" + Num(uint64_t(s.elapsedMs));
}

std::string SummaryJson(const SimSummary& s) {
  std::string j = "{";
  auto field = [&](const char* name, uint64_t v) {
    if (j.size() > 1) j += ",";
    j += "\"";
    j += name;
    j += "\":" + Num(v);
  };
  field("devices", s.devices);
  field("registered", s.registered);
  field("registrations_sent", s.registrationsSent);
  field("heartbeats_sent", s.heartbeatsSent);
  field("heartbeats_answered", s.heartbeatsAnswered);
  field("time_sent", s.timeSent);
  field("time_answered", s.timeAnswered);
  field("events_sent", s.eventsSent);
  field("events_acked", s.eventsAcked);
  field("event_resends", s.eventResends);
  field("echoes_sent", s.echoesSent);
  field("echoes_returned", s.echoesReturned);
  field("requests_received", s.requestsReceived);
  field("requests_answered", s.requestsAnswered);
  field("undecryptable", s.undecryptable);
  field("duplicates", s.duplicates);
  field("unexpected", s.unexpected);
  field("stray", s.stray);
  field("datagrams_sent", s.datagramsSent);
  field("datagrams_received", s.datagramsReceived);
  field("send_errors", s.sendErrors);
  field("unanswered", s.unanswered);
  field("elapsed_ms", uint64_t(s.elapsedMs));
  j += std::string(",\"ok\":") + (s.Ok() ? "true" : "false") + "}";
  return j;
}

}  // namespace devsim
