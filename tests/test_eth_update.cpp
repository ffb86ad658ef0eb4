// The Ethernet controller's firmware update on the maintenance session: the
// TFTP transfer through the real device worker and hand-off, against a
// scripted loader and against devsim's 87J60 loader over loopback; and curl's
// TFTP upload as an outside client of devsim's loader.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "maintenance/actions.h"
#include "maintenance/session.h"
#include "platform/udp_server.h"
#include "tests/device_link_fixture.h"
#include "tests/support/child_process.h"
#include "tools/devsim/simulator.h"

namespace {

using namespace std::chrono_literals;
using namespace dltest;
using maintenance::Event;
using Lines = std::vector<std::string>;

constexpr char kDevice[] = "10.0.0.5";
constexpr uint16_t kDevicePort = 4001;
constexpr uint16_t kLoaderPort = 40001;  // where the scripted loader's ACK 0 comes from
constexpr char kName[] = "fw87j60.hex";

const std::string kJump = "Команда-\"Перейти в загрузчик 87J60\".";
const std::string kAck0 = "Init.Block-OK.";
const std::string kDone = "Обновление 87J60 успешно завершено!";
const Lines kFailed = {"Ошибка при Обновлении 87J60, или запрещено обновление.",
                       "Загрузка 87J60 прервана!"};

Lines Try(int n) { return {"Init.Block0 N=" + std::to_string(n) + ".", "Ожидание ответа."}; }

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Firmware-like text: Intel HEX lines ending in CR LF, which a netascii
// server would turn into LF; the loader must keep them.
std::vector<uint8_t> HexText(size_t n) {
  const std::string line = ":10010000214601360121470136007EFE09D2190140\r\n";
  std::vector<uint8_t> v;
  while (v.size() < n) v.push_back(uint8_t(line[v.size() % line.size()]));
  return v;
}

Bytes Ack(uint16_t block) { return {0, 4, uint8_t(block >> 8), uint8_t(block)}; }
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// What a job told its watcher.
struct Outcome {
  bool ok = false;
  Lines log;              // after the login, which logs nothing when accepted
  int opMax = 0, opPos = 0;  // the last operation progress
};

// Runs `job` on the session to its end; `poll` runs while it waits.
Outcome RunJob(maintenance::Maintenance& session, const maintenance::Maintenance::Job& job,
               const std::function<void()>& poll = {}) {
  std::string error;
  EXPECT_TRUE(session.Start(3, "обновление 87J60", job, &error)) << error;
  Outcome o;
  for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
    if (poll) poll();
    for (const Event& e : session.Events().Drain(20)) {
      if (e.kind == Event::Kind::kLog) o.log.push_back(e.text);
      if (e.kind == Event::Kind::kOperation) o.opMax = e.max, o.opPos = e.pos;
      if (e.kind == Event::Kind::kFinished) {
        o.ok = e.ok;
        return o;
      }
    }
  }
  ADD_FAILURE() << "the job did not end";
  session.Abort();
  session.Wait();
  return o;
}

maintenance::Maintenance::Job Update(std::optional<std::vector<uint8_t>> file,
                                     const std::string& name = kName) {
  return maintenance::UpdateEthJob({"admin", "admin"}, name, std::move(file));
}

// ---- against a scripted loader, through the device worker and hand-off ----

struct Reply {
  Bytes bytes;
  std::string from = kDevice;
  uint16_t port = kLoaderPort;
};

// The device's main firmware accepts the login; its loader answers the
// transfer's datagrams from a script, synchronously inside the send, as a
// fast device on loopback would: the replies are in the intake before the
// sender starts to wait.
class ScriptedDevice final : public testsupport::StubEndpoint {
 public:
  // Replies to a transfer datagram; `copy` is 1 for its first sending.
  using Script = std::function<std::vector<Reply>(const Bytes& sent, int copy)>;
  Script loader;
  std::function<void(const Reply&)> deliver;

  struct Out {
    std::string address;
    uint16_t port;
    Bytes bytes;
  };
  std::mutex m;
  std::vector<Out> out;

  bool SendTo(std::string_view address, uint16_t port, const uint8_t* data, size_t n) override {
    const Bytes b(data, data + n);
    int copy = 0;
    {
      std::lock_guard<std::mutex> g(m);
      if (b[0] == 0xEF && (b[3] == 0x01 || b[3] == 0x02)) {
        const uint8_t code = b[3];
        deliver({WithCheck({0xEF, 3, 0x55, code, 0}), kDevice, kDevicePort});
        return true;
      }
      out.push_back({std::string(address), port, b});
      for (const Out& o : out) copy += o.bytes == b;
    }
    if (b[0] == 0 && loader)
      for (const Reply& r : loader(b, copy)) deliver(r);
    return true;
  }

  // The transfer as letters: J the jump command, W the write request, Dn DATA n.
  std::string Trace() {
    std::lock_guard<std::mutex> g(m);
    std::string t;
    for (const Out& o : out) {
      if (!t.empty()) t += ' ';
      if (o.bytes[0] == 0xEF) {
        t += 'J';
      } else if (o.bytes[1] == 2) {
        t += 'W';
      } else {
        t += 'D' + std::to_string(o.bytes[2] << 8 | o.bytes[3]);
      }
    }
    return t;
  }
};

// Every write request acknowledged with ACK 0, every block with its ACK.
std::vector<Reply> GoodLoader(const Bytes& sent, int) {
  if (sent[1] == 2) return {{Ack(0)}};
  return {{Ack(uint16_t(sent[2] << 8 | sent[3]))}};
}

class EthUpdate : public LinkFixture {
 protected:
  ScriptedDevice dev;
  // The device talks to the server's second interface: everything must go there.
  Device device = AddDevice(3, {1, 0, 5}, kDevice, kDevicePort, 1);
  maintenance::Maintenance session{link};

  EthUpdate() {
    sender.SetEndpoint(1, &dev);
    dev.deliver = [this](const Reply& r) {
      ring->Receive(1, r.bytes.data(), r.bytes.size(), r.from, r.port);
    };
    worker->Start();
  }
  ~EthUpdate() override {
    session.Abort();
    session.Wait();
    worker->Stop();
  }
};

TEST_F(EthUpdate, FileGoesOutBlockByBlockAndSucceedsOnTheLastAck) {
  session.Shared().timeDivisor = 10;
  dev.loader = GoodLoader;
  const std::vector<uint8_t> file = HexText(1024);
  const Outcome o = RunJob(session, Update(file));
  EXPECT_TRUE(o.ok);
  EXPECT_EQ(o.log, Join({{kJump}, Try(1), {kAck0, kDone}}));
  // A multiple of 512 ends with an empty block.
  EXPECT_EQ(dev.Trace(), "J W D1 D2 D3");
  EXPECT_EQ(o.opMax, 1024);
  EXPECT_EQ(o.opPos, 1024);

  std::vector<uint8_t> received;
  for (const ScriptedDevice::Out& d : dev.out) {
    if (d.bytes[0] == 0xEF) {
      EXPECT_EQ(d.bytes, WithCheck({0xEF, 3, 0x55, 0x11, 0}));
    } else if (d.bytes[1] == 2) {
      // To the device's recorded address and port, not to port 69.
      EXPECT_EQ(d.address + ":" + std::to_string(d.port), "10.0.0.5:4001");
      EXPECT_EQ(d.bytes, Text(std::string("\0\2fw87j60.hex\0netascii\0blksize\0002048\0", 36)));
    } else {
      EXPECT_EQ(d.address + ":" + std::to_string(d.port), "10.0.0.5:40001") << "the port of ACK 0";
      received.insert(received.end(), d.bytes.begin() + 4, d.bytes.end());
    }
  }
  EXPECT_EQ(received, file) << "the file's bytes unchanged, CR LF included";
  EXPECT_TRUE(sent.empty()) << "nothing went out another interface";
  // The loader's ACK moved the maintenance target to the loader's port.
  EXPECT_EQ(link.handoff.GlTargetPort, kLoaderPort);
  EXPECT_EQ(int(session.Shared().GlTargetIface), 1);
}

TEST_F(EthUpdate, LoaderMisbehaviour) {
  struct Case {
    const char* name;
    size_t size;
    int divisor;
    ScriptedDevice::Script loader;
    bool ok;
    Lines log;
    std::string trace;
  };
  Lines eleven;
  std::string twelve = "J W";
  for (int i = 0; i < 11; ++i) eleven.push_back("Повтор пакета N-1");
  for (int i = 0; i < 12; ++i) twelve += " D1";
  // An ERROR is a failed try: the block goes again until the eleventh refusal.
  Lines refusedEleven(11, "Ошибка 5 в ответе.Повтор пакета N-1");
  std::string elevenD1 = "J W";
  for (int i = 0; i < 11; ++i) elevenD1 += " D1";
  const Case cases[] = {
      // Reading the whole file is not success: the last block must be acknowledged.
      {"LastAckWithheld", 100, 200,
       [](const Bytes& s, int copy) {
         return s[1] == 3 ? std::vector<Reply>{} : GoodLoader(s, copy);
       },
       false, Join({{kJump}, Try(1), {kAck0}, eleven, kFailed}), twelve},
      // After ACK 0 only the loader's port and the device's address count:
      // the strays end no wait, the block goes again after the time-out.
      {"AckFromAnotherPortOrAddress", 600, 10,
       [](const Bytes& s, int copy) {
         if (s[1] == 3 && s[3] == 1 && copy == 1)
           return std::vector<Reply>{{Ack(1), kDevice, kLoaderPort + 1}, {Ack(1), "10.0.0.99"}};
         return GoodLoader(s, copy);
       },
       true, Join({{kJump}, Try(1), {kAck0, "Повтор пакета N-1", kDone}}), "J W D1 D1 D2"},
      {"Error", 600, 10,
       [](const Bytes& s, int copy) {
         if (s[1] == 3) return std::vector<Reply>{{Text(std::string("\0\5\0\3Disk full\0", 14))}};
         return GoodLoader(s, copy);
       },
       false, Join({{kJump}, Try(1), {kAck0}, refusedEleven, kFailed}), elevenD1},
      // Only a plain ACK 0 starts the transfer; each option acknowledgement costs a try.
      {"OptionAcknowledgement", 600, 200,
       [](const Bytes& s, int copy) {
         if (s[1] == 2)
           return std::vector<Reply>{{Text(std::string("\0\6blksize\0002048\0", 15))}};
         return GoodLoader(s, copy);
       },
       false,
       Join({{kJump}, Try(1), {kJump}, Try(2), {kJump}, Try(3), {kJump}, Try(4),
             {"Нет ACK от Прибора.", "Запрос прерван."}, kFailed}),
       "J W J W J W J W"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session.Shared().timeDivisor = c.divisor;
    dev.out.clear();
    dev.loader = c.loader;
    const Outcome o = RunJob(session, Update(HexText(c.size)));
    EXPECT_EQ(o.ok, c.ok);
    EXPECT_EQ(o.log, c.log);
    EXPECT_EQ(dev.Trace(), c.trace);
  }
}

TEST_F(EthUpdate, AbortEndsTheWaitAtOnce) {
  session.Shared().timeDivisor = 1;  // a full 4 s wait for the ACK: only the abort ends it
  std::atomic<bool> blockSent{false};
  dev.loader = [&](const Bytes& s, int copy) {
    if (s[1] == 3) {
      blockSent = true;
      return std::vector<Reply>{};
    }
    return GoodLoader(s, copy);
  };
  // The pause after the jump command lasts 2 s at full length.
  const auto start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point abortedAt{};
  const Outcome o = RunJob(session, Update(HexText(600)), [&] {
    if (blockSent && abortedAt == std::chrono::steady_clock::time_point{}) {
      abortedAt = std::chrono::steady_clock::now();
      session.Abort();
    }
  });
  EXPECT_FALSE(o.ok);
  EXPECT_EQ(o.log, Join({{kJump}, Try(1), {kAck0}, kFailed}));
  EXPECT_EQ(dev.Trace(), "J W D1");
  ASSERT_NE(abortedAt, std::chrono::steady_clock::time_point{});
  EXPECT_LT(std::chrono::steady_clock::now() - abortedAt, 1s);
  EXPECT_GE(abortedAt - start, 1900ms) << "the pause after the jump command";
}

TEST_F(EthUpdate, FilesRefusedBeforeAnythingIsSent) {
  struct Case {
    std::optional<std::vector<uint8_t>> file;
    std::string name;
    std::string line;
  };
  const Case cases[] = {
      {std::vector<uint8_t>{}, "/fw/fw87j60.hex",
       "Загрузочный файл 87J60-> (fw87j60.hex) пуст. Передавать нечего."},
      {std::nullopt, "/nowhere/fw87j60.hex",
       "Загрузочный файл 87J60-> (/nowhere/fw87j60.hex) не найден. Уточните путь к файлу."},
      // The name test is case-sensitive, as the devices' loader expects.
      {HexText(100), "/fw/FW87J60.hex", "Файл -> (/fw/FW87J60.hex) не корректен. Ошибочный файл."},
  };
  dev.loader = GoodLoader;
  for (const Case& c : cases) {
    const Outcome o = RunJob(session, Update(c.file, c.name));
    EXPECT_FALSE(o.ok) << c.name;
    EXPECT_EQ(o.log, Lines{c.line});
    EXPECT_EQ(dev.Trace(), "") << c.name;
  }
}

// ---- against devsim's 87J60 loader over loopback UDP ----

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// One maintained devsim device on 127.1.0.1, its engine on a thread of its own.
class DevsimDevice {
 public:
  DevsimDevice(uint16_t serverPort, devsim::EthLoaderProfile loader) {
    devsim::SimOptions o;
    o.serverAddr = 0x7F000001;
    o.serverPort = serverPort;
    o.registerDevices = false;  // the test writes its record into the server's table
    o.heartbeatUs = 0;
    o.maintained = true;
    o.ethLoader = std::move(loader);
    o.durationMs = 60'000;  // a safety net: every test stops it
    sim_ = std::make_unique<devsim::Simulator>(o);
    std::string error;
    opened_ = sim_->Open(&error);
    EXPECT_TRUE(opened_) << error;
    if (opened_) thread_ = std::thread([this] { sim_->Run(); });
  }
  ~DevsimDevice() {
    sim_->RequestStop();
    if (thread_.joinable()) thread_.join();
  }
  uint16_t Port() const { return opened_ ? sim_->LocalPorts()[0] : 0; }

 private:
  std::unique_ptr<devsim::Simulator> sim_;
  bool opened_ = false;
  std::thread thread_;
};

constexpr char kDevsimAddress[] = "127.1.0.1";

class EthUpdateWithDevsim : public LinkFixture {
 protected:
  platform::UdpServer udp{0, [this](const uint8_t* d, size_t n, std::string_view peer,
                                    uint16_t port) { ring->Receive(0, d, n, peer, port); }};
  maintenance::Maintenance session{link};
  testsupport::TempDir dir;

  EthUpdateWithDevsim() {
    udp.AddBinding("127.0.0.1", 0);
    EXPECT_TRUE(udp.Start());
    sender.SetEndpoint(0, &udp);
    session.Shared().timeDivisor = 50;
    worker->Start();
  }
  ~EthUpdateWithDevsim() override {
    session.Abort();
    session.Wait();
    worker->Stop();
    udp.Stop();
  }
};

TEST_F(EthUpdateWithDevsim, StoredFileAndFaults) {
  using Fault = devsim::EthLoaderProfile::Fault;
  struct Case {
    const char* name;
    Fault fault;
    uint16_t faultBlock;
    size_t size;
    bool ok;
    bool stored;        // the loader wrote the file out whole
    std::string shows;  // a line the log must hold
  };
  const Case cases[] = {
      {"Whole", Fault::kNone, 0, 1536, true, true, kDone},
      {"DuplicateAcks", Fault::kDuplicateAcks, 0, 1300, true, true, kDone},
      // The loader has it all, but without the last ACK the server cannot know.
      {"LastAckWithheld", Fault::kNoLastAck, 0, 700, false, true, "Повтор пакета N-2"},
      {"ErrorOnBlock2", Fault::kError, 2, 1300, false, false,
       "Ошибка 5 в ответе.Повтор пакета N-2"},
      {"OptionAcknowledgement", Fault::kOack, 0, 700, false, false, "Init.Block0 N=4."},
      {"Silent", Fault::kSilent, 0, 700, false, false, "Нет ACK от Прибора."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File(std::string(c.name) + ".bin");
    DevsimDevice devsim(udp.BoundPort(), {out, c.fault, c.faultBlock});
    {
      // The worker reads the record while the last case's loader still answers.
      std::lock_guard<std::mutex> lock(link.Lock);
      AddDevice(3, {1, 0, 5}, kDevsimAddress, devsim.Port(), 0);
    }
    const std::vector<uint8_t> file = HexText(c.size);
    const Outcome o = RunJob(session, Update(file));
    EXPECT_EQ(o.ok, c.ok);
    EXPECT_EQ(o.log.empty() ? "" : o.log.back(), c.ok ? kDone : kFailed.back());
    EXPECT_NE(std::find(o.log.begin(), o.log.end(), c.shows), o.log.end()) << c.shows;
    // Stored byte for byte, CR LF kept: the request says netascii, but the
    // client sends the file's bytes and the loader writes what it gets.
    if (c.stored) {
      EXPECT_EQ(ReadAll(out), std::string(file.begin(), file.end()));
    } else {
      EXPECT_FALSE(std::ifstream(out).good());
    }
  }
}

// ---- curl's TFTP upload as an outside client of devsim's loader ----

bool CurlSpeaksTftp() {
  testsupport::ChildProcess v("/usr/bin/curl", {"--version"});
  v.Wait(5s);
  for (const std::string& l : v.Lines())
    if (l.rfind("Protocols:", 0) == 0 && l.find(" tftp") != std::string::npos) return true;
  return false;
}

// The main firmware's jump command, sent as the server would send it.
void SendJump(uint16_t port) {
  const Bytes jump = WithCheck({0xEF, 3, 0x55, 0x11, 0});
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, kDevsimAddress, &to.sin_addr);
  sendto(fd, jump.data(), jump.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  close(fd);
}

TEST(CurlUpload, DevsimLoaderTakesTheFileOnlyAfterTheJumpCommand) {
  if (access("/usr/bin/curl", X_OK) != 0 || !CurlSpeaksTftp())
    GTEST_SKIP() << "curl with TFTP is missing (Debian package curl)";
  testsupport::TempDir dir;
  const std::vector<uint8_t> file = HexText(2000);
  const std::string src = dir.File("fw87j60.hex"), out = dir.File("stored.bin");
  testsupport::WriteFile(src, std::string(file.begin(), file.end()));
  // Nothing listens on the server port: the device sends nothing there.
  DevsimDevice devsim(testsupport::FreeUdpPort(), {out, devsim::EthLoaderProfile::Fault::kNone, 0});
  const std::string url =
      "tftp://" + std::string(kDevsimAddress) + ":" + std::to_string(devsim.Port()) + "/fw87j60.hex";
  auto upload = [&](const char* maxTime) {
    testsupport::ChildProcess curl("/usr/bin/curl", {"-sS", "-m", maxTime, "-T", src, url}, true);
    return curl.Wait(15s);
  };

  // The device's main firmware has no TFTP server: a request before the jump goes unanswered.
  EXPECT_NE(upload("1"), 0);
  EXPECT_FALSE(std::ifstream(out).good());

  SendJump(devsim.Port());
  EXPECT_EQ(upload("10"), 0);
  EXPECT_EQ(ReadAll(out), std::string(file.begin(), file.end()));
}

}  // namespace
