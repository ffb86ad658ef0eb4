// The workstation serial channel: poll answers, acknowledgements and resends,
// malformed input, the group index against a whole-table scan, the worker.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "armlink/com_worker.h"
#include "armlink/poll_answer.h"
#include "tests/arm_channel_fixture.h"

namespace dltest {
namespace {

using armlink::kCodeLinkFailure;
using armlink::kCodeLinkRestored;

const ConsoleNumber kA{1, 0, 5}, kB{1, 0, 6}, kOther{2, 0, 1};

// The event as the workstation must see it: byte 6 cleared, the channel's
// frame counter in byte 7, the check byte recomputed.
Bytes Forwarded(Bytes event, uint8_t counter) {
  event[6] = 0;
  event[7] = counter;
  return WithCheck(event);
}

class ArmChannelTest : public ChannelFixture {};

TEST_F(ArmChannelTest, PollOfGroupWithoutDevicesGetsNoAnswer) {
  AddDevice(0, kOther);
  EXPECT_TRUE(Handle(PollFrame(1)).empty());
  EXPECT_EQ(port.Purges(), 0);
}

TEST_F(ArmChannelTest, PollOfGroupWithNothingQueuedGetsTheEmptyAnswer) {
  AddDevice(0, kA);
  AddDevice(1, kB);
  const auto w = Handle(PollFrame(1));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], WithCheck({0xFE, 4, 1, 1, 0, 0}));
  EXPECT_FALSE(ch.awaitingAck);
  EXPECT_EQ(port.Purges(), 1);
}

TEST_F(ArmChannelTest, LinkFailureComesBeforeAQueuedEventOfTheGroup) {
  AddDevice(0, kA);
  Device b = AddDevice(1, kB);
  Rec(0).linkState = 1;
  const Bytes ev = b.Event(0x40, 0x21, {7});
  QueueEvent(1, ev);

  auto w = Handle(PollFrame(1));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], Notice(kA, 1, kCodeLinkFailure));
  EXPECT_EQ(Rec(0).linkState, 2);
  EXPECT_TRUE(settings.GlSaveRequest);
  EXPECT_TRUE(link.armAwaitingAck);

  w = Handle(Concat({AckFrame(1, 1), PollFrame(1)}));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], Forwarded(ev, 1));  // device B numbers its own frames
  EXPECT_EQ(Rec(1).lastEventSeq, 0x40);

  w = Handle(Concat({AckFrame(1, 1), PollFrame(1)}));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], PollFrame(1));
}

TEST_F(ArmChannelTest, RestorationAndMaintenanceNotices) {
  AddDevice(0, kA);
  Rec(0).linkState = 3;
  Rec(0).maintNotice = 1;
  EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{Notice(kA, 1, kCodeLinkRestored)});
  EXPECT_EQ(Rec(0).linkState, 0);
  EXPECT_EQ(Handle(Concat({AckFrame(1, 1), PollFrame(1)})),
            std::vector<Bytes>{Notice(kA, 2, armlink::kCodeMaintStart)});
  EXPECT_EQ(Rec(0).maintNotice, 0);
  Rec(0).maintNotice = 2;
  EXPECT_EQ(Handle(Concat({AckFrame(1, 2), PollFrame(1)})),
            std::vector<Bytes>{Notice(kA, 3, armlink::kCodeMaintEnd)});
  // Another value is cleared without a frame and ends the scan unanswered.
  Rec(0).maintNotice = 7;
  EXPECT_TRUE(Handle(Concat({AckFrame(1, 3), PollFrame(1)})).empty());
  EXPECT_EQ(Rec(0).maintNotice, 0);
}

TEST_F(ArmChannelTest, UnacknowledgedFrameIsWrittenAgainAtTheNextThreePolls) {
  Device a = AddDevice(0, kA);
  const Bytes ev = a.Event(0x11, 0x30);
  QueueEvent(0, ev);
  ASSERT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{Forwarded(ev, 1)});
  for (int k = 1; k <= 3; ++k) {
    EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{Forwarded(ev, 1)}) << k;
    EXPECT_EQ(ch.resendCount, k);
  }
  EXPECT_EQ(sleeps, (std::vector<int>{300, 300, 300}));
  // The fourth poll is answered as if nothing were owed; the item is gone.
  EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{PollFrame(1)});
  EXPECT_FALSE(link.armAwaitingAck);
  EXPECT_EQ(ch.resendCount, 0);
  EXPECT_EQ(sleeps.size(), 3u);
}

// A write the port refuses is reported, not traced as written, and the item
// stays due: the next frame of the workstation brings it again.
TEST_F(ArmChannelTest, AFailedWriteIsReportedAndTheItemStaysDue) {
  AddDevice(0, kA);
  Rec(0).linkState = 1;
  settings.GlOtladka = settings.GlTraficRun = settings.GlOutCom = true;
  port.SetOpen(false);
  Handle(PollFrame(1));
  EXPECT_TRUE(ch.awaitingAck);
  std::vector<console::Line> out;
  lines.Drain(out, 0);
  std::vector<std::string> texts;
  for (const auto& l : out) texts.push_back(l.text);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[0].find("(COM)W:"), std::string::npos) << texts[0];
  EXPECT_EQ(texts[1], "CNCB0 - ошибка записи.");

  port.SetOpen(true);
  const auto w = Handle(PollFrame(1));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0][8], kCodeLinkFailure);
}

TEST_F(ArmChannelTest, WrongAcknowledgementOrCommandTriggersAResendInstead) {
  Device a = AddDevice(0, kA);
  const Bytes ev = a.Event(0x11, 0x30);
  QueueEvent(0, ev);
  Handle(PollFrame(1));
  for (const Bytes& f : {AckFrame(1, 2), AckFrame(2, 1), Command(kA, 9, 0x69)}) {
    EXPECT_EQ(Handle(f), std::vector<Bytes>{Forwarded(ev, 1)});
  }
  EXPECT_EQ(Rec(0).switchedOff, 0);  // the command was not handled
  EXPECT_TRUE(Handle(AckFrame(1, 1)).empty());
  EXPECT_FALSE(ch.awaitingAck);
}

TEST_F(ArmChannelTest, PollAndAcknowledgementInOneBlockThenTheThirdFrame) {
  Device a = AddDevice(0, kA);
  const Bytes e1 = a.Event(0x11, 0x30), e2 = a.Event(0x12, 0x31);
  QueueEvent(0, e1);
  QueueEvent(0, e2);
  const auto w = Handle(Concat({PollFrame(1), AckFrame(1, 1), PollFrame(1)}));
  EXPECT_EQ(w, (std::vector<Bytes>{Forwarded(e1, 1), Forwarded(e2, 2)}));
  EXPECT_TRUE(ch.awaitingAck);
  EXPECT_EQ(ch.lastCounter, 2);
}

TEST_F(ArmChannelTest, FramesOtherThanAcknowledgementsArePassedOverWhileOneIsOwed) {
  Device a = AddDevice(0, kA);
  QueueEvent(0, a.Event(0x11, 0x30));
  QueueEvent(0, a.Event(0x12, 0x31));
  // The second poll is skipped unseen; the acknowledgement after it counts.
  const auto w = Handle(Concat({PollFrame(1), PollFrame(1), AckFrame(1, 1)}));
  EXPECT_EQ(w.size(), 1u);
  EXPECT_FALSE(ch.awaitingAck);
  EXPECT_TRUE(sleeps.empty());
}

TEST_F(ArmChannelTest, RepetitionOfTheLastForwardedEventIsDropped) {
  AddDevice(0, kA);
  Device b = AddDevice(1, kB);
  Rec(1).lastEventSeq = 0x40;
  QueueEvent(1, b.Event(0x40, 0x21));
  // Record 0 has prepared the empty answer before record 1 drops its frame.
  EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{PollFrame(1)});
  EXPECT_FALSE(ch.awaitingAck);
  uint8_t slot[128];
  EXPECT_TRUE(armlink::GetForArm(Rec(1), slot));  // consumed

  // Alone in its group the dropped repetition leaves the poll unanswered.
  Rec(0).inUse = 0;
  QueueEvent(1, b.Event(0x40, 0x22));
  EXPECT_TRUE(Handle(PollFrame(1)).empty());
  EXPECT_TRUE(armlink::GetForArm(Rec(1), slot));
}

// A registration leaves the record without a last event: the first event is
// forwarded whatever its sequence byte, 0 included; the next repetition is not.
TEST_F(ArmChannelTest, TheFirstEventAfterARegistrationIsNeverARepetition) {
  settings.GlRegOn = true;
  RegInput in;
  in.n = kA;
  Device d;
  Feed(Registration(in, d));
  ASSERT_TRUE(Rec(0).inUse);
  Rec(0).linkState = 0;
  QueueEvent(0, d.Event(0, 0x21));
  auto w = Handle(PollFrame(1));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0][8], 0x21);
  EXPECT_TRUE(Handle(AckFrame(1, w[0][7])).empty());
  QueueEvent(0, d.Event(0, 0x21));
  EXPECT_TRUE(Handle(PollFrame(1)).empty());
}

TEST_F(ArmChannelTest, SubstitutionNoticeIsForwardedWhateverItsSequence) {
  AddDevice(0, kA);
  Rec(0).lastEventSeq = 0;
  const Bytes notice = Notice(kA, 0, armlink::kCodeSubstitution);
  QueueEvent(0, notice);
  EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{Notice(kA, 1, armlink::kCodeSubstitution)});
  EXPECT_EQ(Rec(0).lastEventSeq, 0);
}

TEST_F(ArmChannelTest, FrameCountersArePerDeviceAndWrap) {
  Device a = AddDevice(0, kA);
  Device b = AddDevice(1, kB);
  Rec(0).armFrameCounter = 254;
  Rec(1).armFrameCounter = 10;
  const Bytes a1 = a.Event(1, 0x30), a2 = a.Event(2, 0x30), b1 = b.Event(1, 0x30);
  QueueEvent(0, a1);
  QueueEvent(0, a2);
  QueueEvent(1, b1);
  EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{Forwarded(a1, 255)});
  EXPECT_EQ(Handle(Concat({AckFrame(1, 255), PollFrame(1)})), std::vector<Bytes>{Forwarded(a2, 0)});
  EXPECT_EQ(Handle(Concat({AckFrame(1, 0), PollFrame(1)})), std::vector<Bytes>{Forwarded(b1, 11)});
  EXPECT_EQ(Rec(0).armFrameCounter, 0);
  EXPECT_TRUE(Handle(AckFrame(1, 11)).empty());
  EXPECT_FALSE(ch.awaitingAck);
}

TEST_F(ArmChannelTest, TwoPanicButtonRuleTurnsCodeNineIntoOne) {
  Device a = AddDevice(0, kA);
  Bytes ev = a.Event(0x21, 9, {3});
  ev[6] = 0x5A;  // the unused byte is cleared on the way
  ev = WithCheck(ev);
  for (bool on : {false, true}) {
    settings.GlMoteKTS = on;
    QueueEvent(0, ev);
    Rec(0).lastEventSeq = 0;
    armlink::SetAwaitingAck(link, ch, false);
    const auto w = Handle(PollFrame(1));
    ASSERT_EQ(w.size(), 1u);
    Bytes want = Forwarded(ev, Rec(0).armFrameCounter);
    want[8] = on ? 1 : 9;
    EXPECT_EQ(w[0], WithCheck(want)) << on;
  }
}

TEST_F(ArmChannelTest, BlockingRuleWithholdsOnlyFramesThatAwaitNoAcknowledgement) {
  Device a = AddDevice(0, kA);
  settings.GlAvarInetBlock = true;
  link.internet = devlink::InternetState::Absent;
  EXPECT_TRUE(Handle(PollFrame(1)).empty());
  EXPECT_EQ(port.Purges(), 1);  // the port is cleared all the same
  const Bytes ev = a.Event(0x11, 0x30);
  QueueEvent(0, ev);
  EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{Forwarded(ev, 1)});
  link.internet = devlink::InternetState::Present;
  EXPECT_EQ(Handle(Concat({AckFrame(1, 1), PollFrame(1)})), std::vector<Bytes>{PollFrame(1)});
}

TEST_F(ArmChannelTest, InternetNewsReplacesTheEmptyAnswer) {
  AddDevice(0, kA);
  ch.lastCounter = 41;
  ch.internet.cameOnline = true;
  auto w = Handle(PollFrame(1));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], WithCheck({0xFE, 8, 1, 1, 0, 42, 0x33, 1, 0, 0}));
  EXPECT_EQ(Messages(), std::vector<std::string>{"\"Глобальная сеть OK!\""});
  EXPECT_FALSE(ch.internet.cameOnline);
  EXPECT_TRUE(Handle(AckFrame(1, 42)).empty());
  EXPECT_FALSE(ch.awaitingAck);

  ch.internet.cameOnline = true;
  ch.internet.wentOffline = true;
  w = Handle(PollFrame(1));
  ASSERT_EQ(w.size(), 1u);
  EXPECT_EQ(w[0], WithCheck({0xFE, 8, 1, 1, 0, 43, 0x33, 2, 0, 0}));
  EXPECT_EQ(Messages(), (std::vector<std::string>{"\"Глобальная сеть OK!\"",
                                                  "\"Нет Глобальной сети!\""}));
  // News waits for an empty answer; a group with no devices gives none.
  Handle(AckFrame(1, 43));
  ch.internet.wentOffline = true;
  EXPECT_TRUE(Handle(PollFrame(9)).empty());
  EXPECT_TRUE(ch.internet.wentOffline);
}

// Blocks that must change nothing: no write, no purge, no record touched.
struct BadBlock {
  const char* name;
  Bytes bytes;
  size_t count;
};

Bytes Corrupt(Bytes b, size_t at) {
  b[at] ^= 0x5A;
  return b;
}

Bytes Filled(size_t n, uint8_t v) { return Bytes(n, v); }

std::vector<BadBlock> BadBlocks() {
  Bytes longL = PollFrame(1);
  longL[1] = 200;
  Bytes maxL = Filled(128, 0xFE);
  Bytes cmdBadAddress = Command(kA, 3, 0x30);
  cmdBadAddress[2] = 200;  // the counter would lie far beyond the frame
  cmdBadAddress = WithCheck(cmdBadAddress);
  Bytes cmdShort = WithCheck({0xFE, 6, 3, 1, 0, 5, 0, 0});  // counter is the check byte
  return {
      {"wrong start byte", Corrupt(PollFrame(1), 0), 6},
      {"bad check byte", Corrupt(PollFrame(1), 5), 6},
      {"length beyond the read", PollFrame(1), 5},
      {"length beyond the block", longL, 128},
      {"all FE", maxL, 128},
      {"single byte", {0xFE}, 1},
      {"zeros", Filled(128, 0), 128},
      {"address length past the frame", cmdBadAddress, cmdBadAddress.size()},
      {"command without counter", cmdShort, cmdShort.size()},
      {"ack while none is owed", AckFrame(1, 0), 7},
      {"length 0", {0xFE, 0}, 2},
  };
}

TEST_F(ArmChannelTest, MalformedBlocksChangeNothing) {
  Device a = AddDevice(0, kA);
  QueueEvent(0, a.Event(0x11, 0x30));
  const Bytes before = TableBytes();
  for (const BadBlock& b : BadBlocks()) {
    EXPECT_TRUE(Handle(b.bytes, b.count).empty()) << b.name;
    EXPECT_EQ(port.Purges(), 0) << b.name;
    EXPECT_EQ(TableBytes(), before) << b.name;
    EXPECT_FALSE(ch.awaitingAck) << b.name;
    EXPECT_EQ(ch.inputCount, 0u) << b.name;
    EXPECT_EQ(Bytes(ch.input, ch.input + 128), Filled(128, 0)) << b.name;
  }
  EXPECT_TRUE(sent.empty());
}

TEST_F(ArmChannelTest, OnlyTheBytesOfThisReadAreFrames) {
  AddDevice(0, kA);
  AddDevice(1, {2, 0, 1});
  // A whole poll of group 2 lies behind the read, and one of group 2 follows
  // a frame that reaches past the read.
  EXPECT_EQ(Handle(Concat({PollFrame(1), PollFrame(2)}), 6), std::vector<Bytes>{PollFrame(1)});
  Bytes cut = Concat({PollFrame(1), Command(kA, 1, 0x30), PollFrame(2)});
  EXPECT_EQ(Handle(cut, 6 + 5), std::vector<Bytes>{PollFrame(1)});
  // Garbage between two frames ends the block.
  EXPECT_EQ(Handle(Concat({PollFrame(1), {0x00}, PollFrame(2)})), std::vector<Bytes>{PollFrame(1)});
}

TEST_F(ArmChannelTest, AtMostThreeFramesOfABlockAreHandled) {
  AddDevice(0, kA);
  const auto w = Handle(Concat({PollFrame(1), PollFrame(1), PollFrame(1), PollFrame(1)}));
  EXPECT_EQ(w.size(), 3u);
}

TEST_F(ArmChannelTest, DamagedQueueSlotIsDroppedWithoutReachingOutsideIt) {
  AddDevice(0, kA);
  for (uint8_t L : {uint8_t(200), uint8_t(127), uint8_t(5)}) {
    Bytes slot = Filled(128, 0x77);
    slot[0] = 0xFE;
    slot[1] = L;
    slot[2] = 3;
    QueueEvent(0, slot);
    EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{PollFrame(1)}) << int(L);
    EXPECT_FALSE(ch.awaitingAck);
  }
  Bytes slot = Notice(kA, 3, 0x30);
  slot[2] = 120;  // an address length that would put byte 3 + n past the slot
  QueueEvent(0, WithCheck(slot));
  EXPECT_EQ(Handle(PollFrame(1)), std::vector<Bytes>{PollFrame(1)});
}

// Two links with the same random table answer the same polls, one through
// the group index and one by walking the whole table.
class ScanEquivalenceTest : public ::testing::Test {
 protected:
  struct Side {
    testsupport::LinkWorld world;
    armlink::ArmChannel ch;
  };

  static void Fill(devlink::ClientTable& t, std::mt19937& rng) {
    std::uniform_int_distribution<int> byte(0, 255);
    t.Resize(300 + size_t(byte(rng)));
    for (size_t i = 0; i < t.Size(); ++i) {
      devlink::ClientRecord& r = t[i];
      std::memset(&r, 0, sizeof r);
      r.inUse = byte(rng) < 200;
      r.n1 = uint8_t(byte(rng) % 6);
      r.n2 = uint8_t(i >> 8);
      r.n3 = uint8_t(i);
      const int kind = byte(rng) % 10;
      r.linkState = kind == 0 ? 1 : kind == 1 ? 3 : 0;
      r.maintNotice = kind == 2 ? uint8_t(1 + byte(rng) % 3) : 0;
      r.armFrameCounter = uint8_t(byte(rng));
      r.lastEventSeq = uint8_t(byte(rng) % 4);
      const int queued = byte(rng) % 4;
      for (int q = 0; q < queued; ++q) {
        uint8_t f[128] = {0xFE, 9, 3, r.n1, r.n2, r.n3, 0, uint8_t(byte(rng) % 4),
                          uint8_t(byte(rng) % 2 ? 9 : 0x10), 1};
        f[1] = f[8] == 0x10 ? 8 : 9;
        devlink::SetCheckByte(f);
        std::memcpy(r.armQueue[q], f, 128);
      }
      r.armWrite = uint8_t(queued);
    }
    t.Touch();
  }
};

TEST_F(ScanEquivalenceTest, IndexedAndWholeTableScansGiveTheSameAnswers) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    std::mt19937 rng(seed);
    auto a = std::make_unique<Side>(), b = std::make_unique<Side>();
    Fill(a->world.store.Table(), rng);
    rng.seed(seed);
    Fill(b->world.store.Table(), rng);
    a->world.settings.GlMoteKTS = b->world.settings.GlMoteKTS = seed % 2 == 0;
    for (int poll = 0; poll < 400; ++poll) {
      const uint8_t g = uint8_t(rng() % 7);
      if (poll == 200) {
        // Freed records behind the index's back: a stale index still answers right.
        for (Side* s : {a.get(), b.get()})
          for (size_t i = 0; i < s->world.store.Table().Size(); i += 3)
            s->world.store.Table()[i].inUse = 0;
      }
      const bool wa = armlink::AnswerPoll(a->world.link, a->ch, g, armlink::PollScan::Indexed);
      const bool wb = armlink::AnswerPoll(b->world.link, b->ch, g, armlink::PollScan::WholeTable);
      ASSERT_EQ(wa, wb) << seed << " " << poll;
      ASSERT_EQ(0, std::memcmp(a->ch.output, b->ch.output, 128)) << seed << " " << poll;
      ASSERT_EQ(a->ch.awaitingAck, b->ch.awaitingAck);
      ASSERT_EQ(a->ch.lastCounter, b->ch.lastCounter);
      a->ch.awaitingAck = b->ch.awaitingAck = false;
    }
    const auto& ta = a->world.store.Table();
    const auto& tb = b->world.store.Table();
    ASSERT_EQ(0, std::memcmp(ta.Data(), tb.Data(), ta.Size() * sizeof(devlink::ClientRecord)));
  }
}

TEST_F(ArmChannelTest, IndexFollowsRegistrationsAndResizes) {
  AddDevice(0, kA);
  ASSERT_EQ(Handle(PollFrame(7)).size(), 0u);  // builds the index
  link.table.Resize(40);
  AddDevice(33, {7, 0, 1});  // AddDevice raises the generation as registration does
  EXPECT_EQ(Handle(PollFrame(7)), std::vector<Bytes>{PollFrame(7)});
  link.table.Resize(20);  // the record is gone with the end of the table
  EXPECT_TRUE(Handle(PollFrame(7)).empty());
}

// A registration through the device path makes the new device known to the
// polls of its group, even when the group's list was built before.
TEST_F(ArmChannelTest, ADeviceRegisteredAfterAPollIsServedAtTheNext) {
  AddDevice(0, {7, 0, 1});
  ASSERT_EQ(Handle(PollFrame(7)), std::vector<Bytes>{PollFrame(7)});  // builds the list
  settings.GlRegOn = true;
  RegInput in;
  in.n = {7, 0, 2};
  Device d;
  Feed(Registration(in, d));
  int index = -1;
  for (size_t i = 0; i < link.table.Size(); ++i)
    if (Rec(i).inUse && Rec(i).n1 == 7 && Rec(i).n3 == 2) index = int(i);
  ASSERT_GT(index, 0);
  Rec(size_t(index)).linkState = 1;  // as the sweep leaves a silent device
  const auto written = Handle(PollFrame(7));
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written[0][8], 0x16);
  EXPECT_EQ(written[0][5], 2);
}

// The worker: service requests first, then one read per pass.
class ComWorkerTest : public ChannelFixture {};

TEST_F(ComWorkerTest, RunOnceHandlesOneReadAndReportsIdle) {
  AddDevice(0, kA);
  armlink::TCOMThread worker(link, ch, port);
  EXPECT_FALSE(worker.RunOnce(0));
  port.Feed(PollFrame(1));
  EXPECT_TRUE(worker.RunOnce(0));
  EXPECT_EQ(port.TakeWrites(), std::vector<Bytes>{PollFrame(1)});
}

TEST_F(ComWorkerTest, ThreadAnswersPollsAndStopsPromptly) {
  AddDevice(0, kA);
  link.armAwaitingAck = ch.awaitingAck = true;  // cleared at start
  port.Feed(PollFrame(1));
  armlink::TCOMThread worker(link, ch, port);
  worker.Start();
  std::vector<Bytes> w;
  for (int k = 0; k < 200 && w.empty(); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    w = port.TakeWrites();
  }
  EXPECT_EQ(w, std::vector<Bytes>{PollFrame(1)});
  const auto t0 = std::chrono::steady_clock::now();
  worker.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
  EXPECT_TRUE(worker.Finished());
  EXPECT_EQ(port.Purges(), 2);  // at start and before the answer
}

TEST_F(ComWorkerTest, ClosedPortDoesNotSpin) {
  port.SetOpen(false);
  armlink::TCOMThread worker(link, ch, port);
  worker.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  worker.Stop();
  // One read per wait of 50 ms, not thousands.
  EXPECT_LE(port.Reads(), 12);
  EXPECT_GE(port.Reads(), 2);
}

}  // namespace
}  // namespace dltest
