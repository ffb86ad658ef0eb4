// Workstation commands: acknowledgement, the commands the server answers
// itself, the relay to the device, and the console's service requests.
#include <gtest/gtest.h>

#include "armlink/com_worker.h"
#include "armlink/commands.h"
#include "console/line_format.h"
#include "tests/arm_channel_fixture.h"

namespace dltest {
namespace {

const ConsoleNumber kA{1, 0, 5}, kB{1, 0, 6};

class CommandTest : public ChannelFixture {
 protected:
  CommandTest() {
    a = AddDevice(3, kA, "10.0.0.5", 4001, 0);
    b = AddDevice(4, kB, "10.0.0.6", 4002, 1);
    settings.GlPovtorOn = true;
    // Away from the sequence bytes the tests use.
    Rec(3).lastEventSeq = Rec(4).lastEventSeq = 0xA0;
  }

  bool ServicePass() {
    std::lock_guard<std::mutex> lock(link.Lock);
    return armlink::HandleServiceRequest(link, ch, port);
  }

  bool Service(uint16_t i, int kind) {
    std::lock_guard<std::mutex> lock(link.Lock);
    return armlink::ServiceRequest(link, ch, i, kind);
  }

  // The plain request the device finds in the one datagram sent to it.
  Bytes OpenOnly(Device& d) {
    EXPECT_EQ(sent.size(), 1u);
    if (sent.size() != 1) return {};
    const auto plain = d.Open(sent[0].bytes);
    EXPECT_TRUE(plain.has_value());
    sent.clear();
    return plain.value_or(Bytes{});
  }

  Device a, b;
};

struct SwitchCase {
  uint8_t command, initiallyOff, code, off, parameter;
};

TEST_F(CommandTest, SwitchCommandsAreAnsweredHereAndStartAServiceRequest) {
  for (const SwitchCase& c : {SwitchCase{0x69, 0, 0x08, 1, 1}, SwitchCase{0x68, 1, 0x07, 0, 2}}) {
    SCOPED_TRACE(int(c.command));
    Rec(3).switchedOff = c.initiallyOff;
    ch.serviceSeq = 0x20;
    refreshed.clear();
    const auto w = Handle(Command(kA, 0x33, c.command));
    // 0xFE, 8, 3, 1, 0, 5, 0, c, code and the check byte.
    EXPECT_EQ(w, std::vector<Bytes>{Notice(kA, 0x33, c.code)});
    EXPECT_EQ(Rec(3).switchedOff, c.off);
    EXPECT_EQ(refreshed, std::vector<uint16_t>{3});
    EXPECT_TRUE(link.armAwaitingAck);
    EXPECT_EQ(ch.lastGroup, 1);
    EXPECT_EQ(ch.lastCounter, 0x33);
    EXPECT_TRUE(sent.empty());

    ASSERT_TRUE(ch.service.Pending());
    EXPECT_TRUE(ServicePass());
    EXPECT_FALSE(ch.service.Pending());
    EXPECT_TRUE(port.TakeWrites().empty());  // a service request is not acknowledged
    EXPECT_EQ(OpenOnly(a), WithCheck({0xEA, 9, 3, 1, 0, 5, 0, 0x20, 0x7D, c.parameter, 0}));
    EXPECT_EQ(Rec(3).serviceSeq, 0x20);
    EXPECT_EQ(Rec(3).serviceAnswerExpected, 1);
    EXPECT_EQ(ch.serviceSeq, 0x21);
    EXPECT_TRUE(link.armAwaitingAck);  // the reply still waits for its acknowledgement
    EXPECT_TRUE(Handle(AckFrame(1, 0x33)).empty());
    EXPECT_FALSE(link.armAwaitingAck);
  }
}

TEST_F(CommandTest, QueryOfSwitchedOffIsAnsweredOnlyForASwitchedOffDevice) {
  Rec(3).switchedOff = 1;
  EXPECT_EQ(Handle(Command(kA, 7, 0x65)), std::vector<Bytes>{Notice(kA, 7, 0x08)});
  EXPECT_TRUE(sent.empty());
  EXPECT_FALSE(ch.service.Pending());
  EXPECT_TRUE(refreshed.empty());
  Handle(AckFrame(1, 7));

  Rec(3).switchedOff = 0;
  EXPECT_EQ(Handle(Command(kA, 8, 0x65)), std::vector<Bytes>{AckFrame(1, 8)});
  EXPECT_FALSE(ch.awaitingAck);
  EXPECT_EQ(OpenOnly(a), WithCheck({0xEA, 8, 3, 1, 0, 5, 0, 8, 0x65, 0}));
}

TEST_F(CommandTest, RelayedCommandIsStoredTracedAndSentToTheDevicesLastAddress) {
  settings.GlTraficRun = true;
  settings.GlOutCrypt = true;
  // The traffic filter follows another device; relayed requests pass it by.
  settings.GlFiltrOn = true;
  settings.GlFiltrNPult.Store({9, 9, 9});
  Rec(4).lastEventSeq = 0x10;
  const Bytes cmd = Command(kB, 0x44, 0x30, {1, 2, 3});
  EXPECT_EQ(Handle(cmd), std::vector<Bytes>{AckFrame(1, 0x44)});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].iface, 1);
  EXPECT_EQ(sent[0].addr, "10.0.0.6");
  EXPECT_EQ(sent[0].port, 4002);
  const Bytes wire = sent[0].bytes;
  Bytes want = cmd;
  want[0] = 0xEA;
  want = WithCheck(want);
  EXPECT_EQ(OpenOnly(b), want);
  EXPECT_EQ(Rec(4).sendsLeft[0], settings.GlNPovtor.load());
  EXPECT_EQ(Bytes(Rec(4).pending[0], Rec(4).pending[0] + want.size()), want);

  std::vector<console::Line> lines;
  this->lines.Drain(lines, 0);
  std::vector<std::string> traffic;
  for (const auto& l : lines)
    if (l.window == console::Window::Traffic) traffic.push_back(l.text);
  ASSERT_EQ(traffic.size(), 2u);
  EXPECT_EQ(traffic[0], "14:7:9(E)W10.0.0.6[4002]:" + console::HexDump(want.data(), want.size()));
  // The encrypted form, L = 11 padded to 12.
  EXPECT_EQ(traffic[1], "14:7:9(E)W10.0.0.6[4002]:" + console::HexDump(wire.data(), 14));
}

TEST_F(CommandTest, RequestNeverCarriesTheSequenceOfTheLastForwardedEvent) {
  for (uint8_t e : {uint8_t(0x50), uint8_t(0xFF)}) {
    Rec(3).lastEventSeq = e;
    EXPECT_EQ(Handle(Command(kA, e, 0x30)), std::vector<Bytes>{AckFrame(1, e)});
    EXPECT_EQ(OpenOnly(a), WithCheck({0xEA, 8, 3, 1, 0, 5, 0, uint8_t(e + 2), 0x30, 0}));
  }
}

TEST_F(CommandTest, CommandTooLongToEncryptIsAcknowledgedButNotRelayed) {
  // L = 124 is the longest request a telegram buffer can carry encrypted.
  const Bytes longest = Command(kA, 5, 0x30, Bytes(116, 0xAB));
  ASSERT_EQ(longest[1], 124);
  EXPECT_EQ(Handle(longest), std::vector<Bytes>{AckFrame(1, 5)});
  Bytes want = longest;
  want[0] = 0xEA;
  EXPECT_EQ(OpenOnly(a), WithCheck(want));

  for (size_t extra : {117u, 118u}) {
    const Bytes tooLong = Command(kA, 6, 0x30, Bytes(extra, 0xAB));
    ASSERT_GT(tooLong[1], 124);
    EXPECT_EQ(Handle(tooLong), std::vector<Bytes>{AckFrame(1, 6)});
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(Rec(3).sendsLeft[1], 0);  // not stored for repetition either
  }
}

TEST_F(CommandTest, CommandsThatGoNowhereAreStillAcknowledged) {
  Rec(4).inUse = 0;  // a freed record keeps its number
  const Bytes groupOnly = WithCheck({0xFE, 7, 1, 1, 0, 9, 0x30, 0, 0});
  for (const Bytes& cmd : {Command({1, 0, 9}, 2, 0x30), Command(kB, 3, 0x30), groupOnly}) {
    const auto w = Handle(cmd);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0], AckFrame(1, cmd[size_t(4) + cmd[2]]));
  }
  EXPECT_TRUE(sent.empty());
}

struct KindCase {
  int kind;
  uint8_t L, command, parameter;
};

TEST_F(CommandTest, ServiceRequestKindsBuildTheirFrames) {
  const KindCase cases[] = {{0, 8, 0x80, 0}, {1, 9, 0x7F, 1}, {2, 9, 0x7F, 2}, {3, 9, 0x7E, 1},
                            {4, 9, 0x7E, 2}, {5, 9, 0x7D, 1}, {6, 9, 0x7D, 2}};
  ch.serviceSeq = 0xFE;
  uint8_t s = 0xFE;
  for (const KindCase& c : cases) {
    ASSERT_TRUE(Service(3, c.kind));
    uint8_t f[128];
    ASSERT_TRUE(ch.service.Take(f));
    Bytes want = {0xFE, c.L, 3, 1, 0, 5, 0, s, c.command};
    if (c.L == 9) want.push_back(c.parameter);
    want.push_back(0);
    EXPECT_EQ(Bytes(f, f + c.L + 2), WithCheck(want)) << c.kind;
    EXPECT_EQ(Rec(3).serviceSeq, s);
    ++s;
  }
  EXPECT_EQ(ch.serviceSeq, uint8_t(0xFE + 7));

  // The shared counter skips the device's last event sequence.
  Rec(3).lastEventSeq = ch.serviceSeq;
  const uint8_t skipped = uint8_t(ch.serviceSeq + 2);
  ASSERT_TRUE(Service(3, 0));
  EXPECT_EQ(Rec(3).serviceSeq, skipped);
  EXPECT_EQ(ch.serviceSeq, uint8_t(skipped + 1));
  uint8_t f[128];
  ASSERT_TRUE(ch.service.Take(f));

  Rec(3).serviceAnswerExpected = 0;
  const uint8_t before = ch.serviceSeq;
  EXPECT_FALSE(Service(3, 7));
  EXPECT_FALSE(Service(3, -1));
  EXPECT_FALSE(Service(uint16_t(link.table.Size()), 0));
  EXPECT_FALSE(ch.service.Pending());
  EXPECT_EQ(ch.serviceSeq, before);
  EXPECT_EQ(Rec(3).serviceAnswerExpected, 0);
}

TEST_F(CommandTest, ServiceRequestLeavesTheOwedAcknowledgementAlone) {
  const Bytes ev = a.Event(0x11, 0x30);
  QueueEvent(3, ev);
  const auto first = Handle(PollFrame(1));
  ASSERT_EQ(first.size(), 1u);
  ASSERT_TRUE(Service(3, 0));
  EXPECT_TRUE(ServicePass());
  EXPECT_TRUE(port.TakeWrites().empty());
  EXPECT_TRUE(sleeps.empty());
  EXPECT_EQ(ch.resendCount, 0);
  EXPECT_TRUE(ch.awaitingAck);
  EXPECT_EQ(OpenOnly(a), WithCheck({0xEA, 8, 3, 1, 0, 5, 0, 0, 0x80, 0}));
  EXPECT_TRUE(Handle(AckFrame(1, first[0][7])).empty());
  EXPECT_FALSE(ch.awaitingAck);
}

TEST_F(CommandTest, TwoSwitchCommandsInOneBlockBothReachTheirDevices) {
  Rec(4).switchedOff = 1;
  const auto w = Handle(Concat({Command(kA, 1, 0x69), AckFrame(1, 1), Command(kB, 2, 0x68)}));
  EXPECT_EQ(w, (std::vector<Bytes>{Notice(kA, 1, 0x08), Notice(kB, 2, 0x07)}));
  EXPECT_TRUE(ServicePass());
  EXPECT_EQ(OpenOnly(a), WithCheck({0xEA, 9, 3, 1, 0, 5, 0, 0, 0x7D, 1, 0}));
  EXPECT_TRUE(ServicePass());
  EXPECT_EQ(OpenOnly(b), WithCheck({0xEA, 9, 3, 1, 0, 6, 0, 1, 0x7D, 2, 0}));
  EXPECT_FALSE(ServicePass());
}

TEST_F(CommandTest, WorkerServesAServiceRequestBeforeReading) {
  armlink::TCOMThread worker(link, ch, port);
  port.Feed(PollFrame(1));
  ASSERT_TRUE(Service(4, 1));
  EXPECT_TRUE(worker.RunOnce(0));
  EXPECT_EQ(OpenOnly(b), WithCheck({0xEA, 9, 3, 1, 0, 6, 0, 0, 0x7F, 1, 0}));
  EXPECT_TRUE(port.TakeWrites().empty());
  EXPECT_TRUE(worker.RunOnce(0));
  EXPECT_EQ(port.TakeWrites(), std::vector<Bytes>{PollFrame(1)});
}

}  // namespace
}  // namespace dltest
