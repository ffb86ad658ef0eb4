// Link supervision and request repetition on the main tick, driven tick by tick,
// and the device worker's handling of the tick flag.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "console/line_format.h"
#include "device_link_fixture.h"
#include "devlink/cipher.h"
#include "devlink/requests.h"
#include "devlink/supervision.h"

namespace {

using namespace dltest;
using devlink::GetU32;
using devlink::InternetState;

constexpr ConsoleNumber kNum{1, 0, 5};
constexpr uint16_t kIdx = 3;

class SupervisionTest : public LinkFixture {
 protected:
  SupervisionTest() { dev = AddDevice(kIdx, kNum, "10.0.0.7", 4005, 1); }

  void Tick(int n = 1) {
    for (int k = 0; k < n; ++k) {
      std::lock_guard<std::mutex> lock(link.Lock);
      devlink::DeviceTickWork(link);
    }
  }

  // Ticks one at a time until record `i` leaves the normal link state; the
  // number of ticks, or -1 when it has not within `limit`.
  int TicksUntilFailure(uint16_t i, int limit) {
    for (int t = 1; t <= limit; ++t) {
      Tick();
      if (Rec(i).linkState != 0) return t;
    }
    return -1;
  }

  Device dev;
};

// ---- link supervision

TEST_F(SupervisionTest, SilentDeviceFailsAtTheThirteenthOrSixteenthSweep) {
  struct Case { uint16_t T; int ticks; };
  for (const Case c : {Case{10, 143}, Case{13, 176}}) {
    settings.GlNaruchUO = c.T;
    link.sweepDivider = 0;  // just after a sweep
    Rec(kIdx).linkState = 0;
    Rec(kIdx).linkFailCount = 0;
    EXPECT_EQ(TicksUntilFailure(kIdx, 400), c.ticks) << c.T;
    EXPECT_EQ(Rec(kIdx).linkState, 1);
    EXPECT_EQ(Rec(kIdx).linkFailCount, 0) << "the count restarts when the failure is declared";
  }
}

TEST_F(SupervisionTest, SweepSkipsFreeRecordsRecordsBeingRewrittenAndReportedFailures) {
  AddDevice(5, {1, 0, 6});
  Rec(5).updateMark = 1;
  Rec(7).inUse = 0;
  Rec(7).linkFailCount = 4;
  AddDevice(8, {1, 0, 8});
  Rec(8).linkState = 2;  // failure already reported: nothing more to declare
  Rec(8).linkFailCount = 12;

  Tick(143);
  EXPECT_EQ(Rec(kIdx).linkState, 1);
  EXPECT_EQ(Rec(5).linkState, 0);
  EXPECT_EQ(Rec(5).linkFailCount, 0);
  EXPECT_EQ(Rec(7).linkFailCount, 4);
  EXPECT_EQ(Rec(8).linkState, 2);
  EXPECT_EQ(Rec(8).linkFailCount, 12);
}

TEST_F(SupervisionTest, HeartbeatsWithAnUnchangedSequenceCountAsSilence) {
  Device fresh = AddDevice(4, {1, 0, 4}, "10.0.0.8", 4006);
  Feed(dev.Wrap(dev.Heartbeat(0x21)), "10.0.0.7", 4005, 1);
  Feed(fresh.Wrap(fresh.Heartbeat(0x21)), "10.0.0.8", 4006);
  ASSERT_EQ(Rec(kIdx).lastHbSeq, 0x21);

  uint8_t seq = 0x21;
  int failedAt = -1;
  for (int t = 1; t <= 300 && failedAt < 0; ++t) {
    Tick();
    if (Rec(kIdx).linkState != 0) failedAt = t;
    if (t % 5 == 0) {
      Feed(dev.Wrap(dev.Heartbeat(0x21)), "10.0.0.7", 4005, 1);
      Feed(fresh.Wrap(fresh.Heartbeat(++seq)), "10.0.0.8", 4006);
    }
  }
  EXPECT_EQ(failedAt, 143);
  EXPECT_EQ(Rec(4).linkState, 0) << "new sequence bytes keep the link up";
}

TEST_F(SupervisionTest, BlockingRuleHoldsFailuresBackOnlyWhenTheInternetIsKnownAbsent) {
  struct Case { bool block; InternetState net; bool awaitingAck; bool fails; };
  const Case cases[] = {
      {true, InternetState::Absent, false, false},
      {true, InternetState::Unknown, false, true},
      {true, InternetState::Present, false, true},
      {false, InternetState::Absent, false, true},
      {true, InternetState::Absent, true, true},  // a frame awaits the workstation's ack
  };
  for (const Case& c : cases) {
    settings.GlAvarInetBlock = c.block;
    link.internet = c.net;
    link.armAwaitingAck = c.awaitingAck;
    link.sweepDivider = 0;
    Rec(kIdx).linkState = 0;
    Rec(kIdx).linkFailCount = 0;
    const int at = TicksUntilFailure(kIdx, 600);
    EXPECT_EQ(at, c.fails ? 143 : -1) << c.block << " " << int(c.net) << " " << c.awaitingAck;
  }
}

TEST_F(SupervisionTest, AfterTheInternetReturnsTheCountStartsFromZero) {
  settings.GlAvarInetBlock = true;
  link.internet = InternetState::Absent;
  Rec(kIdx).linkFailCount = 11;  // one sweep short of the threshold
  Tick(11 * 30);
  EXPECT_EQ(Rec(kIdx).linkState, 0);
  EXPECT_EQ(Rec(kIdx).linkFailCount, 0);

  link.internet = InternetState::Present;
  EXPECT_EQ(TicksUntilFailure(kIdx, 400), 143);
}

// ---- request repetition

// A request as the workstation channel relays it: 0xEA, L, 3, N1..N3, 0, seq,
// command, parameter. L = 9 makes the padded dump of its encrypted form longer.
Bytes Request(uint8_t seq, uint8_t command = 0x65) {
  return WithCheck({0xEA, 9, 3, kNum.n1, kNum.n2, kNum.n3, 0, seq, command, 1, 0});
}

class RepetitionTest : public SupervisionTest {
 protected:
  RepetitionTest() {
    settings.GlPovtorOn = true;
    settings.GlTraficRun = true;
    settings.GlOutCrypt = true;
  }

  // Stores the request and sends it once, as the caller of AddRequest does.
  bool Store(const Bytes& req) {
    uint8_t buf[128] = {};
    std::memcpy(buf, req.data(), req.size());
    std::lock_guard<std::mutex> lock(link.Lock);
    if (!devlink::AddRequest(Rec(kIdx), buf, settings)) return false;
    const uint8_t n = devlink::EncryptForSend(link.cipher, buf, Rec(kIdx));
    EXPECT_TRUE(dev.Open(Bytes(buf, buf + n)));
    return true;
  }

  // Lines of both windows since the last call, without their time stamps.
  void Drain(std::vector<std::string>& messages, std::vector<std::string>& traffic) {
    std::vector<console::Line> got;
    lines.Drain(got, 0);
    for (const auto& l : got) {
      if (l.window == console::Window::Message) {
        messages.push_back(l.text.substr(l.text.find(' ') + 1));
      } else {
        traffic.push_back(l.text.substr(l.text.find("(E)")));
      }
    }
  }
};

TEST_F(RepetitionTest, ResendsEveryPeriodPlusOneAndReportsAfterTheLastSend) {
  struct Case { uint16_t S, P; std::vector<int> resends; int message; };
  const Case cases[] = {
      {4, 10, {11, 22, 33}, 44},
      {2, 5, {6}, 12},
      {3, 20, {21, 42}, 63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "S=" << c.S << " P=" << c.P);
    settings.GlNPovtor = c.S;
    settings.GlTimePovtor = c.P;
    const Bytes req = Request(0x41);
    ASSERT_TRUE(Store(req));
    sent.clear();
    std::vector<std::string> messages, traffic;
    Drain(messages, traffic);
    messages.clear();

    std::vector<int> resendTicks;
    int messageTick = -1;
    for (int t = 1; t <= c.message + 40; ++t) {
      const uint32_t transm = GetU32(Rec(kIdx).C_iTransm);
      Tick();
      traffic.clear();
      Drain(messages, traffic);
      if (!sent.empty()) {
        resendTicks.push_back(t);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].iface, 1);
        EXPECT_EQ(sent[0].addr, "10.0.0.7");
        EXPECT_EQ(sent[0].port, 4005);
        // A fresh encryption under the next chaining value, of the stored request.
        const auto plain = dev.Open(sent[0].bytes);
        ASSERT_TRUE(plain) << "tick " << t;
        EXPECT_EQ(*plain, req);
        EXPECT_EQ(GetU32(Rec(kIdx).C_iTransm), transm + 1);
        EXPECT_EQ(Bytes(Rec(kIdx).pending[0], Rec(kIdx).pending[0] + req.size()), req);
        ASSERT_EQ(traffic.size(), 2u);
        EXPECT_EQ(traffic[0], "(E)W10.0.0.7[4005]:" + console::HexDump(req.data(), req.size()));
        EXPECT_EQ(traffic[1], "(E)W10.0.0.7[4005]:" +
                                  console::HexDump(sent[0].bytes.data(), sent[0].bytes.size()));
        sent.clear();
      }
      if (!messages.empty() && messageTick < 0) messageTick = t;
    }
    EXPECT_EQ(resendTicks, c.resends);
    EXPECT_EQ(messageTick, c.message);
    EXPECT_EQ(messages, std::vector<std::string>{"Запрос Пульт.N=1/0/5 - не Выполнен."});
    EXPECT_EQ(Rec(kIdx).sendsLeft[0], 0);
    EXPECT_EQ(Rec(kIdx).requestsPending, 0) << "a record with no active slot is passed over";
  }
}

TEST_F(RepetitionTest, RepetitionOffNeverRepeatsNorReports) {
  settings.GlNPovtor = 2;
  settings.GlTimePovtor = 5;
  ASSERT_TRUE(Store(Request(0x41)));
  settings.GlPovtorOn = false;
  EXPECT_FALSE(Store(Request(0x42)));
  sent.clear();
  Tick(100);
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(Rec(kIdx).sendsLeft[0], 2);
}

TEST_F(RepetitionTest, AnAnswerPausesTheOtherSlotsUntilTheNextRequest) {
  settings.GlNPovtor = 3;
  settings.GlTimePovtor = 5;
  ASSERT_TRUE(Store(Request(0x41)));
  ASSERT_TRUE(Store(Request(0x42)));
  Tick(3);
  sent.clear();
  Feed(dev.Wrap(dev.Event(0x41, 0x20)), "10.0.0.7", 4005, 1);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_TRUE(dev.Open(sent[0].bytes)) << "the event's acknowledgement";
  EXPECT_EQ(Rec(kIdx).sendsLeft[0], 0);
  EXPECT_EQ(Rec(kIdx).requestsPending, 0);
  sent.clear();

  Tick(60);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(Rec(kIdx).repeatTicks[1], 3);

  ASSERT_TRUE(Store(Request(0x43)));
  std::vector<std::pair<int, uint8_t>> resends;  // tick after the new request, sequence byte
  for (int t = 1; t <= 7; ++t) {
    Tick();
    for (const Sent& s : sent) {
      const auto plain = dev.Open(s.bytes);
      ASSERT_TRUE(plain);
      resends.push_back({t, (*plain)[7]});
    }
    sent.clear();
  }
  const std::vector<std::pair<int, uint8_t>> expected = {{3, 0x42}, {6, 0x43}};
  EXPECT_EQ(resends, expected);
}

// ---- the device worker's tick

TEST_F(SupervisionTest, GiveTickWakesTheWorkerForOneTickAfterTheRingEntry) {
  const uint32_t seen = signal.Seen();
  devlink::GiveTick(link, signal);
  EXPECT_EQ(link.FlI_GivTimer, 1u);
  EXPECT_NE(signal.Seen(), seen);
  EXPECT_TRUE(worker->RunOnce());
  EXPECT_EQ(link.FlI_GivTimer, 0u);
  EXPECT_EQ(link.sweepDivider, 1);
  EXPECT_FALSE(worker->RunOnce()) << "one tick per tick given";

  // Ticks given while the worker was busy are each worked.
  devlink::GiveTick(link, signal);
  devlink::GiveTick(link, signal);
  devlink::GiveTick(link, signal);
  EXPECT_TRUE(worker->RunOnce());
  EXPECT_EQ(link.sweepDivider, 4);

  // The datagram of the same pass is processed before the tick: the heartbeat
  // resets the count and the sweep then counts one period.
  link.sweepDivider = 10;
  Rec(kIdx).linkFailCount = 11;
  Rec(kIdx).lastHbSeq = 0x20;
  const Bytes hb = dev.Wrap(dev.Heartbeat(0x21));
  ring->Receive(1, hb.data(), hb.size(), "10.0.0.7", 4005);
  devlink::GiveTick(link, signal);
  EXPECT_TRUE(worker->RunOnce());
  EXPECT_EQ(Rec(kIdx).linkFailCount, 1);
  EXPECT_EQ(Rec(kIdx).linkState, 0);
}

TEST_F(SupervisionTest, SleepingWorkerRunsTheTickWhenGiven) {
  worker->Start();
  devlink::GiveTick(link, signal);
  bool done = false;
  for (int k = 0; k < 2000 && !done; ++k) {
    {
      std::lock_guard<std::mutex> lock(link.Lock);
      done = link.sweepDivider == 1;
    }
    if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  worker->Stop();
  EXPECT_TRUE(done);
}

}  // namespace
