// The workstation simulator: its frame splitting and JSON, its command line,
// its exchange against a scripted port, and the program against a scripted
// server on a socat pty pair.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "armlink/arm_frame.h"
#include "devlink/crc8.h"
#include "platform/serial_linux.h"
#include "tests/support/child_process.h"
#include "tests/support/socat_pair.h"
#include "tools/armsim/arm_codec.h"
#include "tools/armsim/cli.h"
#include "tools/armsim/session.h"

namespace {

using namespace armsim;
using namespace std::chrono_literals;

Bytes Poll(uint8_t g) {
  Bytes b(10);
  b.resize(armlink::BuildPoll(b.data(), g));
  return b;
}
Bytes Ack(uint8_t g, uint8_t c) {
  Bytes b(10);
  b.resize(armlink::BuildAck(b.data(), g, c));
  return b;
}
Bytes Notice(uint8_t n1, uint8_t n2, uint8_t n3, uint8_t c, uint8_t code) {
  Bytes b(10);
  b.resize(armlink::BuildNotice(b.data(), n1, n2, n3, c, code));
  return b;
}
// Any frame from its bytes before the check byte.
Bytes Framed(Bytes b) {
  b.push_back(0);
  devlink::SetCheckByte(b.data());
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// ---- frames ---------------------------------------------------------------

TEST(ArmsimCodec, ClassifiesTheServersFrames) {
  const Bytes status = Framed({0xFE, 8, 1, 4, 0, 9, 0x33, 2, 0});
  const Bytes event = Framed({0xFE, 10, 3, 1, 0, 5, 0, 0x41, 0x03, 0xAA, 0x0B});
  const Bytes all = Cat({Poll(1), Notice(1, 0, 5, 7, 0x16), Ack(2, 200), status, event});
  const SplitResult r = SplitFrames(all.data(), all.size());
  ASSERT_EQ(r.status, SplitStatus::kOk) << r.error;
  EXPECT_EQ(r.used, all.size());
  ASSERT_EQ(r.frames.size(), 5u);

  EXPECT_EQ(r.frames[0].kind, FrameKind::kEmpty);
  EXPECT_EQ(r.frames[0].group, 1);
  EXPECT_EQ(r.frames[0].bytes, Poll(1));

  EXPECT_EQ(r.frames[1].kind, FrameKind::kItem);
  EXPECT_EQ(ItemJson(r.frames[1], false),
            R"({"type":"item","group":1,"number":"1/0/5","counter":7,"code":22,"data":"","resend":false})");

  EXPECT_EQ(r.frames[2].kind, FrameKind::kAck);
  EXPECT_EQ(AckJson(r.frames[2]), R"({"type":"ack","group":2,"counter":200})");

  EXPECT_EQ(ItemJson(r.frames[3], true),
            R"({"type":"item","group":4,"number":"4","counter":9,"code":51,"data":"0200","resend":true})");
  EXPECT_EQ(ItemJson(r.frames[4], false),
            R"({"type":"item","group":1,"number":"1/0/5","counter":65,"code":3,"data":"aa0b","resend":false})");
}

TEST(ArmsimCodec, ReportsWhatIsWrongAfterTheGoodFrames) {
  Bytes badCheck = Notice(1, 0, 5, 7, 0x16);
  badCheck.back() ^= 1;
  struct Case {
    const char* what;
    Bytes after;  // follows one good empty answer
    SplitStatus status;
    const char* says;
  } cases[] = {
      {"start byte", {0xFF, 4, 1, 1, 0, 0}, SplitStatus::kMalformed, "bad start byte 0xFF at offset 6"},
      {"check byte", badCheck, SplitStatus::kMalformed, "bad check byte"},
      {"L too long", {0xFE, 8, 3, 1, 0}, SplitStatus::kIncomplete, "L 8 beyond the 5 bytes"},
      {"start only", {0xFE}, SplitStatus::kIncomplete, "cut"},
      {"L too short", Framed({0xFE, 2, 1}), SplitStatus::kMalformed, "too short"},
      {"address length", Framed({0xFE, 6, 2, 1, 0, 0, 5}), SplitStatus::kMalformed,
       "address length 2"},
      {"3-byte address, no counter", Framed({0xFE, 5, 3, 1, 0, 5}), SplitStatus::kMalformed,
       "too short"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes all = Cat({Poll(3), c.after});
    const SplitResult r = SplitFrames(all.data(), all.size());
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
    ASSERT_EQ(r.frames.size(), 1u);
    EXPECT_EQ(r.frames[0].group, 3);
    EXPECT_EQ(r.used, 6u);
  }
}

TEST(ArmsimCodec, CommandFramesGetTheirCheckByte) {
  Bytes f;
  std::string error;
  ASSERT_TRUE(ParseHexFrame("FE 08 03 01:00:05 00 00 69", &f, &error)) << error;
  EXPECT_EQ(f, Framed({0xFE, 8, 3, 1, 0, 5, 0, 0, 0x69}));
  ASSERT_TRUE(ParseHexFrame("fe04010100", &f, &error)) << error;
  EXPECT_EQ(f.size(), 6u);
  EXPECT_EQ(f[0], 0xFE);

  for (const char* bad : {"FE08030100050000", "FE0803010005000069AA", "FE 0G", "FE0", "FE", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(ParseHexFrame(bad, &f, &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(ArmsimCli, OptionsAndErrors) {
  const char* ok[] = {"armsim", "--port", "/tmp/p/CNCA0", "--groups", "1,2,200", "--poll-ms", "5",
                      "--no-ack-every", "3", "--send", "FE0803010005000069", "--send",
                      "FE0803010005000065", "--items", "4", "--duration-ms", "900",
                      "--json-summary"};
  CliConfig c;
  ASSERT_EQ(ParseCommandLine(int(std::size(ok)), ok, &c), "");
  EXPECT_EQ(c.port, "/tmp/p/CNCA0");
  EXPECT_EQ(c.session.groups, (std::vector<uint8_t>{1, 2, 200}));
  EXPECT_EQ(c.session.pollMs, 5);
  EXPECT_EQ(c.session.noAckEvery, 3);
  ASSERT_EQ(c.session.sends.size(), 2u);
  EXPECT_EQ(c.session.sends[1][8], 0x65);
  EXPECT_EQ(c.session.items, 4);
  EXPECT_EQ(c.session.durationMs, 900);
  EXPECT_EQ(c.session.answerMs, 500);
  EXPECT_TRUE(c.jsonSummary);

  struct Bad {
    std::vector<const char*> args;
    const char* says;
  } bad[] = {
      {{"armsim"}, "--port is required"},
      {{"armsim", "--port"}, "needs a value"},
      {{"armsim", "--port", "x", "--groups", "1,,2"}, "--groups"},
      {{"armsim", "--port", "x", "--groups", "256"}, "--groups"},
      {{"armsim", "--port", "x", "--items", "-1"}, "--items"},
      {{"armsim", "--port", "x", "--send", "FE08"}, "--send"},
      {{"armsim", "--port", "x", "--frobnicate"}, "unknown option --frobnicate"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.says);
    CliConfig out;
    const std::string e = ParseCommandLine(int(b.args.size()), b.args.data(), &out);
    EXPECT_NE(e.find(b.says), std::string::npos) << e;
  }
}

// ---- the exchange against a scripted port ---------------------------------

// Answers every write at once through `server`; reads give the answers in order.
class ScriptedPort : public platform::SerialPort {
 public:
  std::function<std::vector<Bytes>(const Bytes&)> server;
  std::vector<Bytes> written;

  bool IsOpen() const override { return true; }
  std::string Name() const override { return "scripted"; }
  size_t Read(uint8_t* buf, size_t max, int) override {
    if (reads_.empty()) return 0;
    Bytes& b = reads_.front();
    const size_t n = std::min(max, b.size());
    std::copy(b.begin(), b.begin() + long(n), buf);
    b.erase(b.begin(), b.begin() + long(n));
    if (b.empty()) reads_.pop_front();
    return n;
  }
  bool Write(const uint8_t* buf, size_t n) override {
    written.emplace_back(buf, buf + n);
    for (Bytes& r : server(written.back())) reads_.push_back(std::move(r));
    return true;
  }
  void Purge() override { reads_.clear(); }

 private:
  std::deque<Bytes> reads_;
};

// The server's acknowledgement rule in small: an item stays the answer to
// every poll until its acknowledgement arrives.
struct QueueServer {
  std::deque<Bytes> items;
  Bytes awaiting;
  std::vector<Bytes> operator()(const Bytes& f) {
    if (f[1] == 5 && !awaiting.empty() && f == Ack(awaiting[3], awaiting[7])) awaiting.clear();
    if (f[1] != 4) return {};
    if (awaiting.empty() && !items.empty()) {
      awaiting = items.front();
      items.pop_front();
    }
    return {awaiting.empty() ? Poll(f[3]) : awaiting};
  }
};

class ArmsimSession : public ::testing::Test {
 protected:
  int RunSession(SessionOptions o) {
    o.pollMs = 0;
    o.answerMs = 0;
    session = std::make_unique<Session>(port, o, [this](const std::string& l) { lines.push_back(l); });
    return session->Run();
  }
  std::vector<Bytes> AcksWritten() {
    std::vector<Bytes> acks;
    for (const Bytes& w : port.written)
      if (w[1] == 5) acks.push_back(w);
    return acks;
  }

  ScriptedPort port;
  std::vector<std::string> lines;
  std::unique_ptr<Session> session;
};

TEST_F(ArmsimSession, WithheldAcknowledgementIsResentAndThenTaken) {
  QueueServer server;
  server.items = {Notice(1, 0, 5, 1, 0x16), Notice(1, 0, 6, 1, 0x17), Notice(1, 0, 5, 2, 0x17)};
  port.server = std::ref(server);
  SessionOptions o;
  o.noAckEvery = 2;
  o.items = 5;
  ASSERT_EQ(RunSession(o), kExitOk) << session->Error();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_NE(lines[0].find(R"("number":"1/0/5","counter":1,"code":22,"data":"","resend":false)"),
            std::string::npos);
  EXPECT_NE(lines[1].find(R"("number":"1/0/6","counter":1,"code":23,"data":"","resend":false)"),
            std::string::npos);
  EXPECT_NE(lines[2].find(R"("number":"1/0/6","counter":1,"code":23,"data":"","resend":true)"),
            std::string::npos);
  EXPECT_NE(lines[3].find(R"("number":"1/0/5","counter":2,"code":23,"data":"","resend":false)"),
            std::string::npos);
  EXPECT_NE(lines[4].find(R"("number":"1/0/5","counter":2,"code":23,"data":"","resend":true)"),
            std::string::npos);
  // Items 1, 3 and 5 acknowledged; 2 and 4 not.
  EXPECT_EQ(AcksWritten(), (std::vector<Bytes>{Ack(1, 1), Ack(1, 1), Ack(1, 2)}));
  EXPECT_EQ(session->Stats().acksWithheld, 2u);
  EXPECT_EQ(session->Stats().resends, 2u);
}

TEST_F(ArmsimSession, FramesBackToBackInOneReadAreAllHandled) {
  port.server = [](const Bytes& f) -> std::vector<Bytes> {
    if (f[1] != 4) return {};
    return {Cat({Notice(f[3], 0, 1, 10, 0x16), Notice(f[3], 0, 2, 11, 0x16)})};
  };
  SessionOptions o;
  o.groups = {7};
  o.items = 2;
  ASSERT_EQ(RunSession(o), kExitOk) << session->Error();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(R"("group":7,"number":"7/0/1","counter":10)"), std::string::npos);
  EXPECT_NE(lines[1].find(R"("group":7,"number":"7/0/2","counter":11)"), std::string::npos);
  EXPECT_EQ(AcksWritten(), (std::vector<Bytes>{Ack(7, 10), Ack(7, 11)}));
}

TEST_F(ArmsimSession, GroupsInTurnAndCommandsBetweenPolls) {
  const Bytes cmd1 = Framed({0xFE, 8, 3, 1, 0, 5, 0, 0x20, 0x69});
  const Bytes cmd2 = Framed({0xFE, 9, 3, 2, 0, 9, 0, 0x21, 0x7F, 1});
  port.server = [](const Bytes& f) -> std::vector<Bytes> {
    if (f[1] == 4) return {Poll(f[3])};
    return {Ack(f[3], f[7])};
  };
  SessionOptions o;
  o.groups = {1, 2};
  o.sends = {cmd1, cmd2};
  o.durationMs = 50;
  ASSERT_EQ(RunSession(o), kExitOk) << session->Error();
  ASSERT_GE(port.written.size(), 6u);
  const std::vector<Bytes> first(port.written.begin(), port.written.begin() + 6);
  EXPECT_EQ(first, (std::vector<Bytes>{Poll(1), cmd1, Poll(2), cmd2, Poll(1), Poll(2)}));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], R"({"type":"ack","group":1,"counter":32})");
  EXPECT_EQ(lines[1], R"({"type":"ack","group":2,"counter":33})");
  EXPECT_EQ(session->Stats().commandsSent, 2u);
  EXPECT_GT(session->Stats().empty, 0u);
}

TEST_F(ArmsimSession, FrameCutAcrossReadsIsJoined) {
  const Bytes n = Notice(1, 0, 5, 3, 0x2E);
  port.server = [&](const Bytes& f) -> std::vector<Bytes> {
    if (f[1] != 4) return {};
    return {Bytes(n.begin(), n.begin() + 4), Bytes(n.begin() + 4, n.end())};
  };
  SessionOptions o;
  o.items = 1;
  ASSERT_EQ(RunSession(o), kExitOk) << session->Error();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(R"("code":46)"), std::string::npos);
}

TEST_F(ArmsimSession, MalformedFrameEndsTheRunWithCode3) {
  struct Case {
    const char* what;
    Bytes answer;
    const char* says;
  } cases[] = {
      {"bad check byte", Cat({Notice(1, 0, 5, 4, 0x16), {0xFE, 4, 1, 1, 0, 0}}), "bad check byte"},
      {"L beyond", Cat({Notice(1, 0, 5, 4, 0x16), {0xFE, 30, 3, 1}}), "L 30 beyond"},
      {"bad start byte", Cat({Notice(1, 0, 5, 4, 0x16), {0x00}}), "bad start byte 0x00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    lines.clear();
    port.written.clear();
    port.server = [&](const Bytes& f) -> std::vector<Bytes> {
      return f[1] == 4 ? std::vector<Bytes>{c.answer} : std::vector<Bytes>{};
    };
    EXPECT_EQ(RunSession(SessionOptions{}), kExitMalformed);
    EXPECT_NE(session->Error().find(c.says), std::string::npos) << session->Error();
    // The good frame before it was still reported and acknowledged.
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(AcksWritten(), std::vector<Bytes>{Ack(1, 4)});
  }
}

TEST_F(ArmsimSession, SilentServerRunsOutTheDuration) {
  port.server = [](const Bytes&) { return std::vector<Bytes>{}; };
  SessionOptions o;
  o.durationMs = 30;
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(RunSession(o), kExitOk);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 30ms);
  EXPECT_TRUE(lines.empty());
  EXPECT_GT(session->Stats().polls, 0u);
  EXPECT_EQ(session->Stats().noAnswer, session->Stats().polls);
  EXPECT_EQ(SummaryJson(session->Stats(), 0).rfind(R"({"type":"summary","polls":)", 0), 0u);
}

// ---- the program on a pty pair against a scripted server ------------------

// Reads the server's end and answers each frame from the workstation.
class PtyServer {
 public:
  using Answer = std::function<Bytes(const Frame&)>;
  PtyServer(const std::string& path, Answer answer) : answer_(std::move(answer)) {
    if (!port_.Open(path)) throw std::runtime_error(port_.ErrorText());
    thread_ = std::thread([this] { Loop(); });
  }
  ~PtyServer() {
    stop_ = true;
    thread_.join();
  }
  std::vector<Bytes> Received() {
    std::lock_guard<std::mutex> g(m_);
    return received_;
  }

 private:
  void Loop() {
    uint8_t buf[256];
    while (!stop_) {
      const size_t n = port_.Read(buf, sizeof buf, 20);
      if (n == 0) continue;
      // The workstation's frames have the same shape: a poll reads as an empty
      // answer, a command as an item.
      const SplitResult r = SplitFrames(buf, n);
      for (const Frame& f : r.frames) {
        {
          std::lock_guard<std::mutex> g(m_);
          received_.push_back(f.bytes);
        }
        const Bytes a = answer_(f);
        if (!a.empty()) port_.Write(a.data(), a.size());
      }
    }
  }

  platform::TermiosPort port_;
  Answer answer_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex m_;
  std::vector<Bytes> received_;
};

class ArmsimProgram : public ::testing::Test {
 protected:
  std::unique_ptr<testsupport::ChildProcess> Start(std::vector<std::string> args) {
    args.insert(args.begin(), {"--port", pair.B(), "--poll-ms", "10"});
    return std::make_unique<testsupport::ChildProcess>(std::string(RELAY_BIN_DIR) + "/armsim",
                                                       args, true);
  }

  testsupport::TempDir dir;
  testsupport::SocatPair pair{dir.Path()};
};

TEST_F(ArmsimProgram, ReportsANoticeAndAcknowledgesIt) {
  std::atomic<bool> sent{false};
  PtyServer server(pair.A(), [&](const Frame& f) -> Bytes {
    if (f.bytes[1] != 4) return {};
    return sent.exchange(true) ? Poll(f.group) : Notice(1, 0, 5, 7, 0x16);
  });
  auto sim = Start({"--items", "1", "--json-summary"});
  ASSERT_EQ(sim->Wait(10s), 0);
  const std::vector<std::string> lines = sim->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            R"({"type":"item","group":1,"number":"1/0/5","counter":7,"code":22,"data":"","resend":false})");
  EXPECT_NE(lines[1].find(R"("items":1,"resends":0,"acks_sent":1)"), std::string::npos) << lines[1];

  // The acknowledgement reached the server: FE 05 01 01 00 07 and its check byte.
  const Bytes ack = Ack(1, 7);
  EXPECT_EQ(ack, Framed({0xFE, 5, 1, 1, 0, 7}));
  bool seen = false;
  for (int k = 0; k < 50 && !seen; ++k) {
    for (const Bytes& b : server.Received()) seen = seen || b == ack;
    if (!seen) std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(server.Received().front(), Poll(1));
}

TEST_F(ArmsimProgram, SendsACommandAndReportsTheServersAcknowledgement) {
  PtyServer server(pair.A(), [](const Frame& f) -> Bytes {
    if (f.bytes[1] == 4) return Poll(f.group);
    if (f.kind == FrameKind::kItem) return Ack(f.group, uint8_t(f.counter));
    return {};
  });
  auto sim = Start({"--send", "FE 08 03 01 00 05 00 2A 69", "--duration-ms", "400"});
  ASSERT_EQ(sim->Wait(10s), 0);
  EXPECT_NE(sim->WaitForLine(R"({"type":"ack","group":1,"counter":42})", 0ms), "");
  const Bytes cmd = Framed({0xFE, 8, 3, 1, 0, 5, 0, 0x2A, 0x69});
  size_t commands = 0;
  for (const Bytes& b : server.Received()) commands += b == cmd;
  EXPECT_EQ(commands, 1u);
}

TEST_F(ArmsimProgram, MalformedFrameExitsWith3AndSaysWhy) {
  PtyServer server(pair.A(), [](const Frame& f) -> Bytes {
    Bytes bad = Poll(f.group);
    bad.back() ^= 0x5A;
    return f.bytes[1] == 4 ? bad : Bytes{};
  });
  auto sim = Start({"--duration-ms", "5000"});
  EXPECT_EQ(sim->Wait(10s), 3);
  EXPECT_NE(sim->WaitForLine("bad check byte", 0ms), "");
}

TEST_F(ArmsimProgram, MissingPortAndBadOptionsFail) {
  testsupport::ChildProcess missing(std::string(RELAY_BIN_DIR) + "/armsim",
                                    {"--port", dir.File("CNCA9")}, true);
  EXPECT_EQ(missing.Wait(10s), 1);
  EXPECT_NE(missing.WaitForLine("no such port", 0ms), "");
  testsupport::ChildProcess bad(std::string(RELAY_BIN_DIR) + "/armsim",
                                {"--port", pair.B(), "--no-ack-every", "x"}, true);
  EXPECT_EQ(bad.Wait(10s), 2);
}

}  // namespace
