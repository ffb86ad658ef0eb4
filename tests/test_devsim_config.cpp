// devsim as the configurator sees a device: the configuration image with its
// seed and dump files, the answers to the configurator's frames and the link
// faults it plays on request, both radio expanders with their blocks and
// operations, and one exchange over loopback UDP through the engine.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "configurator/frame.h"
#include "devlink/crc8.h"
#include "tests/support/child_process.h"
#include "tools/devsim/cli.h"
#include "tools/devsim/config_device.h"
#include "tools/devsim/maintained.h"
#include "tools/devsim/radio_expander.h"
#include "tools/devsim/simulator.h"

namespace {

using Bytes = std::vector<uint8_t>;
using devsim::ConfigDevice;
using devsim::ExpanderKind;
using devsim::RadioExpander;
namespace cfg = configurator;

bool CrcOk(const Bytes& frame) { return !frame.empty() && devlink::Crc8Bytes(frame.data(), frame.size()) == 0; }

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const Bytes& b) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// A configurator's file: header of length h (h, variant, 1, then a marker of
// its own so the dump's header can be told from a default one) and `image`.
Bytes DatFile(uint8_t variant, const Bytes& image, uint8_t h = 100) {
  Bytes b(h, 0);
  b[0] = h;
  b[1] = variant;
  b[2] = 1;
  b[h - 1] = 0xA5;
  b.insert(b.end(), image.begin(), image.end());
  return b;
}

Bytes Pattern(size_t n) {
  Bytes b(n);
  for (size_t k = 0; k < n; ++k) b[k] = uint8_t(k * 7 + 3);
  return b;
}

Bytes Ask(ConfigDevice& dev, const Bytes& frame, int64_t nowMs = 0) {
  std::string note;
  return dev.Handle(frame.data(), nowMs, &note);
}

// ---- the image and the transfer ----

class DevsimConfigImage : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  devsim::ConfigProfile profile;
  Bytes seed = DatFile(250, Pattern(256));

  DevsimConfigImage() {
    profile.seedFile = dir.File("seed.dat");
    profile.outFile = dir.File("out-{n}.dat");
    WriteBytes(profile.seedFile, seed);
  }
};

// Identify and programming start, a full read that returns the seed, a write
// that changes two bytes, and a dump that differs from the seed exactly there.
TEST_F(DevsimConfigImage, ReadsTheSeedAndDumpsExactlyWhatWasWritten) {
  std::string error;
  ConfigDevice dev(profile, &error);
  ASSERT_EQ(error, "");

  Bytes a = Ask(dev, cfg::IdentifyFrame(9));
  ASSERT_TRUE(CrcOk(a));
  EXPECT_EQ(Bytes(a.begin() + 4, a.end() - 1), (Bytes{9, 0, cfg::kIdentifyReply, 250, 23}));
  a = Ask(dev, cfg::ProgrammingStartFrame(9));
  EXPECT_TRUE(CrcOk(a) && a[4] == 9) << "programming start waits for any valid frame";

  Bytes image;
  uint8_t seq = 10;
  for (uint32_t at = 0; at < cfg::kReadEnd; at += cfg::kBlockSize, ++seq) {
    a = Ask(dev, cfg::ReadBlockFrame(seq, at));
    ASSERT_TRUE(CrcOk(a));
    ASSERT_EQ(a[1], 6 + cfg::kBlockSize);
    EXPECT_EQ(a[4], seq);
    EXPECT_EQ(a[6], cfg::kReadBlockReply);
    image.insert(image.end(), a.begin() + 7, a.end() - 1);
  }
  ASSERT_EQ(image.size(), 288u);
  EXPECT_EQ(Bytes(image.begin(), image.begin() + 256), Pattern(256));
  EXPECT_EQ(image[256], 0) << "offsets beyond a 250 file's image start zero";

  image[100] = 5;   // loop 1 type
  image[157] ^= 0xFF;  // a key byte
  for (uint32_t at = 0; at < cfg::kWriteEnd; at += cfg::kBlockSize) {
    const std::span<const uint8_t, cfg::kBlockSize> block(image.data() + at, cfg::kBlockSize);
    a = Ask(dev, cfg::WriteBlockFrame(seq, at, block));
    ASSERT_TRUE(CrcOk(a));
    EXPECT_EQ(a[4], seq);
    EXPECT_EQ(a[6], cfg::kWriteBlockReply);
  }
  EXPECT_TRUE(Ask(dev, cfg::ProgrammingEndFrame(seq)).empty());

  std::string note;
  ASSERT_TRUE(dev.Dump({1, 0, 7}, &note)) << note;
  const Bytes out = ReadFile(dir.File("out-1-0-7.dat"));
  ASSERT_EQ(out.size(), seed.size());
  std::vector<size_t> differ;
  for (size_t k = 0; k < out.size(); ++k)
    if (out[k] != seed[k]) differ.push_back(k);
  EXPECT_EQ(differ, (std::vector<size_t>{200, 257})) << "header kept, image changed only where written";
}

// A seed that cannot be used is refused with a reason and leaves a zero image
// of variant 250; a 251 file comes back byte for byte.
TEST_F(DevsimConfigImage, SeedFilesAreCheckedAndA251FileRoundTrips) {
  struct Case {
    const char* name;
    Bytes file;
  };
  Bytes headerTooLong = DatFile(250, Pattern(256));
  headerTooLong[0] = 201;
  const Case bad[] = {
      {"header length 1", DatFile(250, Pattern(256), 1)},
      {"header length 201", headerTooLong},
      {"unknown variant", DatFile(7, Pattern(256))},
      {"short 250 file", DatFile(250, Pattern(255))},
      {"short 251 file", DatFile(251, Pattern(2047))},
      {"one byte", Bytes{100}},
  };
  for (const Case& c : bad) {
    WriteBytes(profile.seedFile, c.file);
    std::string error;
    ConfigDevice dev(profile, &error);
    EXPECT_NE(error, "") << c.name;
    EXPECT_EQ(dev.Variant(), 250) << c.name;
    EXPECT_EQ(dev.Image(), (std::array<uint8_t, ConfigDevice::kImageSize>{})) << c.name;
  }

  const Bytes gsm = DatFile(251, Pattern(2048));
  WriteBytes(profile.seedFile, gsm);
  std::string error;
  ConfigDevice dev(profile, &error);
  ASSERT_EQ(error, "");
  EXPECT_EQ(dev.FileBytes(), gsm);
  EXPECT_EQ(Ask(dev, cfg::IdentifyFrame(0))[7], 251) << "the identify answer takes the image's variant";

  profile.seedFile.clear();
  profile.identifyVariant = 0x7A;
  ConfigDevice bare(profile);
  EXPECT_EQ(bare.FileBytes().size(), 356u) << "no seed: a 250 file of zeros";
  EXPECT_EQ(Ask(bare, cfg::IdentifyFrame(0))[7], 0x7A);
}

// The key is presented after N empty polls, in wire order, and then the reader is empty again.
TEST(DevsimConfigKey, PresentedAfterNPollsThenGone) {
  devsim::ConfigProfile p;
  p.keyAfter = 2;
  p.key = {1, 2, 3, 4, 5, 6, 7, 8};
  ConfigDevice dev(p);
  const std::vector<Bytes> data = {{0}, {0}, {1, 2, 3, 4, 5, 6, 7, 8}, {0}};
  for (size_t k = 0; k < data.size(); ++k) {
    const Bytes a = Ask(dev, cfg::KeyPollFrame(uint8_t(k)));
    ASSERT_TRUE(CrcOk(a));
    EXPECT_EQ(a[6], cfg::kKeyPollReply);
    EXPECT_EQ(Bytes(a.begin() + 7, a.end() - 1), data[k]) << "poll " << k + 1;
  }
}

// ---- faults ----

// What the server gets for one request: the datagrams with the time each
// leaves, relative to the request.
struct Arrival {
  int64_t afterMs;
  Bytes bytes;
};

struct FaultCase {
  const char* name;
  const char* fault;
  std::vector<int> datagrams;                // per request
  std::vector<std::vector<uint8_t>> seqs;    // valid frames the assembler makes of them, per request
  int64_t lastAfterMs;                       // when the last datagram of a request leaves
  uint32_t devsim::ConfigFaultCounts::*counter;
  uint32_t count;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.fault; }

class DevsimConfigFaults : public ::testing::TestWithParam<FaultCase> {};

// Three reads with sequence bytes 10, 11, 12, one second apart; the
// assembler on the server's side shows what gets through.
TEST_P(DevsimConfigFaults, AreVisibleToTheServerAndCounted) {
  const FaultCase& c = GetParam();
  devsim::ConfigProfile p;
  ASSERT_TRUE(devsim::ParseConfigFault(c.fault, &p.faults));
  ConfigDevice dev(p);
  for (int r = 0; r < 3; ++r) {
    const int64_t t0 = 1000 * r;
    std::vector<Arrival> got;
    std::string note;
    if (Bytes now = dev.Handle(cfg::ReadBlockFrame(uint8_t(10 + r), 48 * r).data(), t0, &note); !now.empty())
      got.push_back({0, now});
    for (devsim::Delayed& d : dev.Due(t0 + 999)) got.push_back({d.dueMs - t0, d.bytes});
    ASSERT_EQ(int(got.size()), c.datagrams[r]) << "request " << r << ": " << note;
    cfg::FrameAssembler server;
    std::vector<uint8_t> seqs;
    for (const Arrival& x : got)
      for (const Bytes& f : server.Feed(x.bytes)) {
        seqs.push_back(f[4]);
        EXPECT_EQ(f[6], cfg::kReadBlockReply);
      }
    EXPECT_EQ(seqs, c.seqs[r]) << "request " << r;
    if (!got.empty()) { EXPECT_EQ(got.back().afterMs, c.lastAfterMs) << "request " << r; }
  }
  EXPECT_EQ(dev.Counts().*c.counter, c.count);
  EXPECT_EQ(dev.Counts().answers, 3u);
}

using C = devsim::ConfigFaultCounts;
INSTANTIATE_TEST_SUITE_P(
    Cases, DevsimConfigFaults,
    ::testing::Values(
        FaultCase{"Dropped", "drop:2", {1, 0, 1}, {{10}, {}, {12}}, 0, &C::dropped, 1},
        FaultCase{"Late", "late:200", {1, 1, 1}, {{10}, {11}, {12}}, 200, &C::late, 3},
        FaultCase{"Stale", "stale:2", {1, 1, 1}, {{10}, {10}, {12}}, 0, &C::stale, 1},
        FaultCase{"Split", "split:50", {2, 2, 2}, {{10}, {11}, {12}}, 50, &C::split, 3},
        FaultCase{"Joined", "join", {1, 1, 1}, {{10}, {10, 11}, {11, 12}}, 0, &C::joined, 2},
        FaultCase{"BadCrc", "badcrc:3", {1, 1, 1}, {{10}, {11}, {}}, 0, &C::badCrc, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the radio expanders ----

// The bytes with their check byte appended.
Bytes Plain(Bytes t) {
  t.push_back(0);
  devlink::SetCheckByte(t.data());
  return t;
}

// A plain request as the configurator sends it: FE L 55 code data CRC.
Bytes Request(uint8_t code, const Bytes& data = {}) {
  Bytes t = {0xFE, uint8_t(3 + data.size()), 0x55, code};
  t.insert(t.end(), data.begin(), data.end());
  return Plain(t);
}

Bytes Ask(RadioExpander& x, const Bytes& request, int64_t nowMs = 0) {
  std::string note;
  return x.Handle(request.data(), nowMs, &note);
}

// The device's notice that an operation has finished.
const Bytes kNotice = Plain({0xEF, 3, 0x55, 0xF0});

class DevsimExpander : public ::testing::TestWithParam<ExpanderKind> {
 protected:
  RadioExpander x{{GetParam(), 500}};
  bool rielta = GetParam() == ExpanderKind::kRielta;

  // What the operation sends at the chosen delay, and nothing before.
  void ExpectNoticeAfterDelay(int64_t t0) {
    EXPECT_TRUE(x.Due(t0 + 499).empty());
    const std::vector<devsim::Delayed> due = x.Due(t0 + 500);
    ASSERT_EQ(due.size(), 1u);
    EXPECT_EQ(due[0].bytes, kNotice);
  }
  std::vector<size_t> Filled() const {
    std::vector<size_t> s;
    for (size_t k = 0; k < RadioExpander::kSlots; ++k)
      if (!x.SlotEmpty(k)) s.push_back(k);
    return s;
  }
};

// Each block comes back as EF L 55 code block CRC with L = 3 + its size;
// written blocks are kept and acknowledged with their code.
TEST_P(DevsimExpander, AnswersTheBlocksAndKeepsWhatIsWritten) {
  EXPECT_EQ(Filled(), (std::vector<size_t>{0, 1, 2, 4}));
  // The key fob in slot 2: Rielta type 0x30 class 0x31, Astra-RR type 21.
  EXPECT_EQ(x.Table()[7], rielta ? 0x30 : 21);
  if (rielta) { EXPECT_EQ(x.Table()[8], 0x31); }

  struct Block {
    uint8_t code;
    size_t size;
  };
  for (const Block b : {Block{0xF1, 100}, Block{0xF5, 97}, Block{0xF9, 33}, Block{0xF4, 96}}) {
    const Bytes a = Ask(x, Request(b.code, b.code == 0xF4 ? Bytes{0} : Bytes{}));
    ASSERT_EQ(a.size(), b.size + 5) << int(b.code);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 4), (Bytes{0xEF, uint8_t(3 + b.size), 0x55, b.code}));
    EXPECT_TRUE(CrcOk(a));
    if (b.code == 0xF1) { EXPECT_TRUE(std::equal(x.Table().begin(), x.Table().end(), a.begin() + 4)); }
    if (b.code == 0xF4) {
      EXPECT_NE(a[4 + 3 * 4 + 2], 0) << "a detector in slot 4 has a signal";
      EXPECT_EQ(Bytes(a.begin() + 4 + 9, a.begin() + 4 + 12), (Bytes{0, 0, 0})) << "slot 3 is empty";
    }
  }

  Bytes settings(97), owners(33);
  for (size_t k = 0; k < settings.size(); ++k) settings[k] = uint8_t(k);
  owners[3] = 42;
  EXPECT_EQ(Ask(x, Request(0xF6, settings)), Plain({0xEF, 3, 0x55, 0xF6}));
  EXPECT_TRUE(std::equal(settings.begin(), settings.end(), x.Settings().begin()));
  EXPECT_EQ(Ask(x, Request(0xF2, owners)), Plain({0xEF, 3, 0x55, 0xF2}));
  EXPECT_EQ(x.Owners()[3], 42);
  EXPECT_TRUE(Ask(x, Request(0xF2, Bytes(32, 9))).empty()) << "a block of the wrong size is not taken";
  EXPECT_EQ(x.Owners()[3], 42);
}

// Registration fills the first empty slot when its delay is over; the end of
// registration before then cancels it.
TEST_P(DevsimExpander, RegistrationFillsTheFirstEmptySlotAfterTheDelay) {
  EXPECT_TRUE(Ask(x, Request(0xF0, {0, 3}), 1000).empty());
  EXPECT_TRUE(x.SlotEmpty(3)) << "nothing happens before the delay";
  ExpectNoticeAfterDelay(1000);
  EXPECT_EQ(x.Table()[10], rielta ? 0x11 : 2) << "a detector in slot 3";
  EXPECT_EQ(x.Table()[12], 4) << "its channel";

  Ask(x, Request(0xF0, {0, 0x43}), 2000);
  ExpectNoticeAfterDelay(2000);
  EXPECT_EQ(x.Table()[16], rielta ? 0x30 : 21) << "the interface mode binds a key fob, in slot 5";

  Ask(x, Request(0xF0, {0, 3}), 3000);
  EXPECT_TRUE(Ask(x, Request(0xF0, {0, 4}), 3100).empty());
  EXPECT_TRUE(x.Due(4000).empty());
  EXPECT_TRUE(x.SlotEmpty(6));
}

// Rielta's index n is slot n (the table's row minus 1), Astra-RR's slot n-1 (the row).
TEST_P(DevsimExpander, DeletionClearsTheSlotTheServersIndexNames) {
  const uint8_t row5 = rielta ? 4 : 5;
  Ask(x, Request(0xF0, {row5}), 0);
  ExpectNoticeAfterDelay(0);
  EXPECT_EQ(Filled(), (std::vector<size_t>{0, 1, 2}));
  EXPECT_EQ(x.Settings()[13], 0) << "its settings go too";

  Ask(x, Request(0xF0, {uint8_t(rielta ? 32 : 0)}), 1000);
  ExpectNoticeAfterDelay(1000);
  EXPECT_EQ(Filled(), (std::vector<size_t>{0, 1, 2})) << "an index that names no slot deletes nothing";

  Ask(x, Request(0xF0, {0x9A, 0xFF}), 2000);
  ExpectNoticeAfterDelay(2000);
  EXPECT_EQ(Filled(), std::vector<size_t>{});
}

// The network parameters land in the table's bytes 97..99 as each expander lays them out.
TEST_P(DevsimExpander, NetworkParametersAreStoredByLayout) {
  const std::array<uint8_t, 3> before = {x.Table()[97], x.Table()[98], x.Table()[99]};
  Ask(x, Request(0xEE, {0x21, 3, 0x45}), 0);
  EXPECT_EQ(x.Table()[98], before[1]) << "not before the delay";
  ExpectNoticeAfterDelay(0);
  const std::array<uint8_t, 3> after = {x.Table()[97], x.Table()[98], x.Table()[99]};
  const std::array<uint8_t, 3> want = rielta ? std::array<uint8_t, 3>{0x21, 3, 0x45}    // net, litera, period
                                             : std::array<uint8_t, 3>{before[0], 0x21, 3};  // litera, period
  EXPECT_EQ(after, want);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DevsimExpander, ::testing::Values(ExpanderKind::kRielta, ExpanderKind::kAstra),
                         [](const auto& info) {
                           return info.param == ExpanderKind::kRielta ? "Rielta" : "Astra";
                         });

// ---- the command line and the maintained device ----

// The options reach the profile; bad values are refused; the version answer
// that --maint-versions makes passes the Astra-RR gate (byte 4 >= 77, byte 5 >= 51).
TEST(DevsimConfigCommandLine, OptionsReachTheDevice) {
  testsupport::TempDir dir;
  const std::string seed = dir.File("seed.dat");
  WriteBytes(seed, DatFile(252, Pattern(256)));
  const char* args[] = {"devsim", "--server", "127.0.0.1:5000", "--maint", "--maint-config-file", seed.c_str(),
                        "--maint-config-variant", "250", "--maint-key-after", "0", "--maint-key",
                        "0102030405060708", "--maint-config-fault", "drop:2", "--maint-config-fault", "join",
                        "--maint-expander", "astra", "--maint-expander-delay", "100",
                        "--maint-versions", "77.10/51.39"};
  devsim::CliConfig c;
  ASSERT_EQ(devsim::ParseCommandLine(int(std::size(args)), args, &c), "");
  devsim::MaintainedDevice dev(c.sim.maint);
  EXPECT_EQ(dev.Config().Variant(), 252);
  EXPECT_EQ(c.sim.maint.config.faults.dropEvery, 2u);
  EXPECT_TRUE(c.sim.maint.config.faults.join);
  EXPECT_EQ(dev.Expander().Kind(), ExpanderKind::kAstra);

  std::string note;
  Bytes a = dev.Handle(cfg::IdentifyFrame(1).data(), &note);
  EXPECT_EQ(a[7], 250) << note;
  a = dev.Handle(Request(0x15).data(), &note);
  ASSERT_GE(a.size(), 6u);
  EXPECT_EQ(a[3], 0x15);
  EXPECT_GE(a[4], 77);
  EXPECT_GE(a[5], 51);

  const std::vector<std::vector<const char*>> bad = {
      {"--maint-config-fault", "drop:0"}, {"--maint-config-fault", "split"},
      {"--maint-config-fault", "slow:5"}, {"--maint-expander", "rieltaa"},
      {"--maint-key", "0102"},            {"--maint-config-file", "/nonexistent/x.dat"},
      {"--maint-config-variant", "256"},
  };
  for (const auto& opt : bad) {
    const char* argv[] = {"devsim", "--server", "127.0.0.1:5000", opt[0], opt[1]};
    devsim::CliConfig b;
    EXPECT_NE(devsim::ParseCommandLine(5, argv, &b), "") << opt[0] << " " << opt[1];
  }
}

// ---- over loopback UDP ----

// The engine answers from the device's address, sends a split answer's second
// part later, sends the expander's notice after its delay, and dumps the image
// at the end of the run.
TEST(DevsimConfigEngine, AnswersOverUdpAndDumpsAtExit) {
  testsupport::TempDir dir;
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in me{};
  me.sin_family = AF_INET;
  me.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&me), sizeof me), 0);
  socklen_t len = sizeof me;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&me), &len);

  devsim::SimOptions o;
  o.serverAddr = 0x7F000001;
  o.serverPort = ntohs(me.sin_port);
  o.registerDevices = false;
  o.heartbeatUs = 0;
  o.maintained = true;
  o.maint.config.outFile = dir.File("out.dat");
  ASSERT_TRUE(devsim::ParseConfigFault("split:60", &o.maint.config.faults));
  o.maint.expander = {ExpanderKind::kRielta, 100};
  o.durationMs = 30'000;  // a safety net: the test stops it
  devsim::Simulator sim(o);
  std::string error;
  ASSERT_TRUE(sim.Open(&error)) << error;
  std::thread run([&] { sim.Run(); });

  sockaddr_in device{};
  device.sin_family = AF_INET;
  device.sin_addr.s_addr = htonl(0x7F010001);  // 127.1.0.1, the first device
  device.sin_port = htons(sim.LocalPorts()[0]);
  auto send = [&](const Bytes& b) {
    ::sendto(fd, b.data(), b.size(), 0, reinterpret_cast<const sockaddr*>(&device), sizeof device);
  };
  using Clock = std::chrono::steady_clock;
  auto receive = [&](Clock::time_point* at) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 3000) <= 0) return Bytes{};
    uint8_t b[256];
    sockaddr_in from{};
    socklen_t fl = sizeof from;
    const ssize_t n = ::recvfrom(fd, b, sizeof b, 0, reinterpret_cast<sockaddr*>(&from), &fl);
    *at = Clock::now();
    EXPECT_EQ(ntohl(from.sin_addr.s_addr), 0x7F010001u) << "answers come from the device's address";
    return n > 0 ? Bytes(b, b + n) : Bytes{};
  };

  Bytes block(48);
  for (size_t k = 0; k < block.size(); ++k) block[k] = uint8_t(0xC0 + k);
  send(cfg::WriteBlockFrame(4, 48, std::span<const uint8_t, 48>(block.data(), 48)));
  Clock::time_point t1, t2;
  const Bytes first = receive(&t1), second = receive(&t2);
  cfg::FrameAssembler server;
  EXPECT_TRUE(server.Feed(first).empty()) << "the first part alone is no frame";
  const auto frames = server.Feed(second);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0][6], cfg::kWriteBlockReply);
  EXPECT_GE(t2 - t1, std::chrono::milliseconds(40));

  const Clock::time_point asked = Clock::now();
  send(Request(0xF0, {0, 3}));
  Clock::time_point noticed;
  EXPECT_EQ(receive(&noticed), kNotice);
  EXPECT_GE(noticed - asked, std::chrono::milliseconds(90));

  sim.RequestStop();
  run.join();
  ::close(fd);
  const Bytes out = ReadFile(dir.File("out.dat"));
  ASSERT_EQ(out.size(), 356u);
  EXPECT_EQ(Bytes(out.begin() + 100 + 48, out.begin() + 100 + 96), block);
  EXPECT_EQ(out[100 + 47], 0);
}

}  // namespace
