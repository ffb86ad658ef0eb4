// The configurator's run inside the maintenance session against devsim over
// loopback UDP, through the real device worker and hand-off: identify, read,
// write, the link's faults, the expander chain and the re-read after an
// operation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "configurator/config_file.h"
#include "configurator/config_session.h"
#include "configurator/expander_blocks.h"
#include "configurator/image.h"
#include "maintenance/session.h"
#include "platform/udp_server.h"
#include "tests/device_link_fixture.h"
#include "tests/support/child_process.h"
#include "tools/devsim/simulator.h"

namespace {

using namespace std::chrono_literals;
using namespace dltest;
using configurator::ConfigCommand;
using configurator::ConfigEvent;
using configurator::ConfigNotice;
using NK = ConfigNotice::Kind;

constexpr char kDevsimAddress[] = "127.1.0.1";

// The device's image: every byte its offset times 7, loops and outputs in range.
configurator::Image SeedImage(uint8_t optionsA) {
  configurator::Image im{};
  for (size_t i = 0; i < 256; ++i) im[i] = uint8_t(i * 7);
  for (size_t i = 100; i <= 103; ++i) im[i] = 2;
  im[118] = 3;
  im[119] = 1;
  im[124] = optionsA;
  return im;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

struct DevsimSetup {
  std::vector<std::string> faults;
  devsim::ExpanderKind expander = devsim::ExpanderKind::kNone;
  int identifyVariant = -1;
  uint32_t keyAfter = 2;
  uint8_t expanderSilent = 0;
};

class ConfiguratorRun : public LinkFixture {
 protected:
  platform::UdpServer udp{0, [this](const uint8_t* d, size_t n, std::string_view peer,
                                    uint16_t port) { ring->Receive(0, d, n, peer, port); }};
  maintenance::Maintenance session{link};
  testsupport::TempDir dir;
  std::unique_ptr<devsim::Simulator> sim;
  std::thread simThread;

  ConfiguratorRun() {
    udp.AddBinding("127.0.0.1", 0);
    EXPECT_TRUE(udp.Start());
    sender.SetEndpoint(0, &udp);
    session.Shared().timeDivisor = 10;
    worker->Start();
  }
  ~ConfiguratorRun() override {
    session.Abort();
    session.Wait();
    StopDevice();
    worker->Stop();
    udp.Stop();
  }

  void StartDevice(uint8_t optionsA, const DevsimSetup& s = {}) {
    StartDevice(SeedImage(optionsA), s);
  }
  void StartDevice(const configurator::Image& seed, const DevsimSetup& s) {
    StopDevice();
    std::string why;
    ASSERT_TRUE(configurator::SaveConfigFile(dir.File("seed.dat"), 250, seed, &why)) << why;
    devsim::SimOptions o;
    o.serverAddr = 0x7F000001;
    o.serverPort = udp.BoundPort();
    o.registerDevices = false;
    o.heartbeatUs = 0;
    o.maintained = true;
    o.maint.eth[0] = 77;
    o.maint.main[0] = 51;
    o.maint.config.seedFile = dir.File("seed.dat");
    o.maint.config.outFile = dir.File("out.dat");
    o.maint.config.identifyVariant = s.identifyVariant;
    o.maint.config.keyAfter = s.keyAfter;
    for (const std::string& f : s.faults)
      ASSERT_TRUE(devsim::ParseConfigFault(f, &o.maint.config.faults)) << f;
    o.maint.expander.kind = s.expander;
    o.maint.expander.delayMs = 200;
    o.maint.expander.silentCommand = s.expanderSilent;
    o.durationMs = 120'000;
    sim = std::make_unique<devsim::Simulator>(o);
    ASSERT_TRUE(sim->Open(&why)) << why;
    simThread = std::thread([this] { sim->Run(); });
    // The worker reads the record meanwhile.
    std::lock_guard<std::mutex> lock(link.Lock);
    AddDevice(3, {1, 0, 5}, kDevsimAddress, sim->LocalPorts()[0], 0);
  }
  void StopDevice() {
    if (!sim) return;
    sim->RequestStop();
    if (simThread.joinable()) simThread.join();
    sim.reset();
  }
  // The image devsim wrote out at its end.
  std::vector<uint8_t> DumpedImage() {
    StopDevice();
    const std::vector<uint8_t> f = ReadAll(dir.File("out.dat"));
    return f.size() > 100 ? std::vector<uint8_t>(f.begin() + 100, f.end()) : f;
  }

  struct Outcome {
    bool ok = false;
    std::vector<ConfigNotice> notices;
    std::vector<std::string> log;
    const ConfigNotice* Find(NK k, ConfigEvent::Kind t = ConfigEvent::Kind::kProgress) const {
      for (const ConfigNotice& n : notices)
        if (n.kind == k && (k != NK::kTransfer || n.transfer.kind == t)) return &n;
      return nullptr;
    }
  };

  // Runs a scripted run to its end.
  Outcome RunScript(std::vector<ConfigCommand> steps) {
    auto ch = std::make_shared<configurator::ConfigChannel>();
    auto job = [ch, steps](maintenance::Exchange& x) {
      return configurator::RunConfigScript(x, *ch, "<Пульт. номер - 1/0/5>", steps);
    };
    return Drive(ch, job);
  }

  Outcome Drive(std::shared_ptr<configurator::ConfigChannel> ch, maintenance::Maintenance::Job job,
                const std::function<void(const ConfigNotice&)>& on = {}) {
    std::string error;
    EXPECT_TRUE(session.Start(3, "конфигуратор", job, &error)) << error;
    Outcome o;
    for (auto end = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < end;) {
      for (ConfigNotice& n : ch->Drain(10)) {
        if (on) on(n);
        o.notices.push_back(std::move(n));
      }
      for (const maintenance::Event& e : session.Events().Drain(0)) {
        if (e.kind == maintenance::Event::Kind::kLog) o.log.push_back(e.text);
        if (e.kind == maintenance::Event::Kind::kFinished) {
          o.ok = e.ok;
          for (ConfigNotice& n : ch->Drain(0)) o.notices.push_back(std::move(n));
          return o;
        }
      }
    }
    ADD_FAILURE() << "the run did not end";
    for (const std::string& l : o.log) std::fprintf(stderr, "log: %s\n", l.c_str());
    for (const ConfigNotice& n : o.notices)
      std::fprintf(stderr, "notice %d/%d ok=%d %s\n", int(n.kind), int(n.transfer.kind), int(n.ok),
                   n.text.c_str());
    session.Abort();
    session.Wait();
    return o;
  }

  static ConfigCommand Cmd(ConfigCommand::Kind k) {
    ConfigCommand c;
    c.kind = k;
    return c;
  }
  // A registration of detectors and sensors, re-read on its notice.
  static ConfigCommand Registration() {
    ConfigCommand op = Cmd(ConfigCommand::Kind::kOperation);
    op.request = configurator::StartRegistrationRequest(configurator::kDetectorsAndSensors);
    return op;
  }
  static ConfigCommand Write(const configurator::Image& im, uint8_t variant = 250) {
    ConfigCommand c = Cmd(ConfigCommand::Kind::kWrite);
    c.image.assign(im.begin(), im.end());
    c.imageVariant = variant;
    return c;
  }
};

// A read brings offsets 0..256 and a write changes exactly what was changed,
// whatever the link does to the answers.
TEST_F(ConfiguratorRun, ReadAndWriteThroughTheLinksFaults) {
  struct Case {
    const char* name;
    std::vector<std::string> faults;
    int divisor;
  } cases[] = {
      {"Clean", {}, 10},
      {"DropEveryFourth", {"drop:4"}, 10},
      {"StaleEveryThird", {"stale:3"}, 10},
      {"BadCrcEveryFifth", {"badcrc:5"}, 10},
      {"JoinedWithAStaleCopy", {"join"}, 10},
      // The hand-off passes only datagrams that hold a whole frame: a split
      // answer is lost and its request repeated.
      {"EveryThirdSplit", {"split:20:3"}, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session.Shared().timeDivisor = c.divisor;
    ASSERT_NO_FATAL_FAILURE(StartDevice(0, {c.faults}));
    const Outcome read = RunScript({Cmd(ConfigCommand::Kind::kRead)});
    ASSERT_TRUE(read.ok);
    const ConfigNotice* done = read.Find(NK::kTransfer, ConfigEvent::Kind::kReadDone);
    ASSERT_NE(done, nullptr);
    const configurator::Image seed = SeedImage(0);
    ASSERT_EQ(done->transfer.bytes.size(), 257u);
    EXPECT_TRUE(std::equal(seed.begin(), seed.begin() + 256, done->transfer.bytes.begin()));

    configurator::Image changed = seed;
    changed[101] = 4;
    changed[12] = 0x43;
    const Outcome write = RunScript({Write(changed)});
    EXPECT_TRUE(write.ok);
    const std::vector<uint8_t> dumped = DumpedImage();
    ASSERT_GE(dumped.size(), 256u);
    for (size_t i = 0; i < 256; ++i) {
      const uint8_t want = (i >= 127 && i <= 130) ? 0 : changed[i];
      EXPECT_EQ(dumped[i], want) << "offset " << i;
    }
  }
}

TEST_F(ConfiguratorRun, NothingOfAForeignLayoutIsWritten) {
  struct Case {
    const char* name;
    int deviceVariant;
    uint8_t imageVariant;
  } cases[] = {{"DeviceOfAnotherType", 251, 250}, {"ImageOf251", 250, 251}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DevsimSetup s;
    s.identifyVariant = c.deviceVariant;
    ASSERT_NO_FATAL_FAILURE(StartDevice(0, s));
    const Outcome o = RunScript({Write(SeedImage(0xFF), c.imageVariant)});
    EXPECT_FALSE(o.ok);
    ASSERT_NE(o.Find(NK::kRefused), nullptr);
    const std::vector<uint8_t> dumped = DumpedImage();
    const configurator::Image seed = SeedImage(0);
    EXPECT_TRUE(std::equal(seed.begin(), seed.begin() + 256, dumped.begin())) << "unchanged";
  }
}

// A read of an image whose Rielta box is on reads the expander's three blocks;
// a registration's notice re-reads image and settings and writes them back.
TEST_F(ConfiguratorRun, ExpanderChainAndTheReReadAfterAnOperation) {
  for (const auto& [kind, bit, expander] :
       {std::tuple{devsim::ExpanderKind::kRielta, uint8_t(0x08), configurator::Expander::kRielta},
        std::tuple{devsim::ExpanderKind::kAstra, uint8_t(0x80), configurator::Expander::kAstra}}) {
    SCOPED_TRACE(int(expander));
    DevsimSetup s;
    s.expander = kind;
    ASSERT_NO_FATAL_FAILURE(StartDevice(bit, s));
    auto ch = std::make_shared<configurator::ConfigChannel>();
    int reads = 0, writes = 0;
    const Outcome o = Drive(ch, configurator::ConfiguratorJob(ch, "<Пульт. номер - 1/0/5>"),
                            [&](const ConfigNotice& n) {
                              if (n.kind == NK::kTransfer &&
                                  n.transfer.kind == ConfigEvent::Kind::kIdentified)
                                ch->Post(Cmd(ConfigCommand::Kind::kRead));
                              if (n.kind == NK::kExpanderRead && n.ok && ++reads == 1) {
                                ch->Post(Registration());
                              }
                              if (n.kind == NK::kExpanderWritten && n.ok && ++writes == 1)
                                ch->Post(Cmd(ConfigCommand::Kind::kClose));
                            });
    EXPECT_TRUE(o.ok);
    EXPECT_EQ(reads, 2) << "the read, then the re-read after the notice";
    EXPECT_EQ(writes, 1);
    EXPECT_NE(o.Find(NK::kReReadDone), nullptr);
    EXPECT_FALSE(ch->ReReadArmed());
    const ConfigNotice* first = o.Find(NK::kExpanderRead);
    ASSERT_NE(first, nullptr);
    const auto rows = configurator::RowsFromBlocks(expander, first->blocks);
    EXPECT_FALSE(rows[0].empty) << "devsim's seeded detector";
    EXPECT_TRUE(rows[3].empty);
  }
}

// The operation's notice comes while key polling runs: the re-read starts when
// the polling ends, and what goes back is the image as the window shows it.
TEST_F(ConfiguratorRun, ANoticeDuringAnotherExchangeStartsTheReReadAfterIt) {
  configurator::Image seed = SeedImage(0x08);
  seed[configurator::off::kLoopTypes] = 200;  // no such loop type: shown, and so written, as 0
  DevsimSetup s;
  s.expander = devsim::ExpanderKind::kRielta;
  s.keyAfter = 1'000'000;  // the key never comes: polling lasts until it is stopped
  ASSERT_NO_FATAL_FAILURE(StartDevice(seed, s));
  auto ch = std::make_shared<configurator::ConfigChannel>();
  std::thread stopper;
  int reads = 0;
  const Outcome o = Drive(ch, configurator::ConfiguratorJob(ch, "<Пульт. номер - 1/0/5>"),
                          [&](const ConfigNotice& n) {
                            if (n.kind == NK::kTransfer &&
                                n.transfer.kind == ConfigEvent::Kind::kIdentified)
                              ch->Post(Cmd(ConfigCommand::Kind::kRead));
                            if (n.kind == NK::kExpanderRead && n.ok && ++reads == 1) {
                              ch->Post(Registration());
                              ch->Post(Cmd(ConfigCommand::Kind::kKeyPoll));
                              // The notice comes 200 ms after the operation.
                              stopper = std::thread([ch] {
                                std::this_thread::sleep_for(700ms);
                                ch->Post(Cmd(ConfigCommand::Kind::kStop));
                              });
                            }
                            if (n.kind == NK::kExpanderWritten)
                              ch->Post(Cmd(ConfigCommand::Kind::kClose));
                          });
  if (stopper.joinable()) stopper.join();
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.Find(NK::kTransfer, ConfigEvent::Kind::kKeyRead), nullptr);
  EXPECT_NE(o.Find(NK::kReReadStarted), nullptr);
  EXPECT_NE(o.Find(NK::kWriteBackStarted), nullptr);
  ASSERT_EQ(reads, 2);
  std::vector<uint8_t> expected(seed.begin(), seed.begin() + 256);
  expected[configurator::off::kLoopTypes] = 0;
  for (size_t i = 127; i <= 130; ++i) expected[i] = 0;
  EXPECT_EQ(DumpedImage(), expected);
}

// An expander read that fails at its last block says how many blocks came,
// so that the window keeps the rest as they were.
TEST_F(ConfiguratorRun, AFailedExpanderReadTellsWhichBlocksCame) {
  DevsimSetup s;
  s.expander = devsim::ExpanderKind::kRielta;
  s.expanderSilent = configurator::kReadOwners;
  ASSERT_NO_FATAL_FAILURE(StartDevice(0x08, s));
  const Outcome o = RunScript({Cmd(ConfigCommand::Kind::kRead)});
  EXPECT_FALSE(o.ok);
  const ConfigNotice* n = o.Find(NK::kExpanderRead);
  ASSERT_NE(n, nullptr);
  EXPECT_FALSE(n->ok);
  EXPECT_EQ(n->blocksArrived, 2);
  EXPECT_FALSE(configurator::RowsFromBlocks(configurator::Expander::kRielta, n->blocks)[0].empty)
      << "the table that came";
}

}  // namespace
