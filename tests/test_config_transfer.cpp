// The configuration image exchange as a state machine: a scripted device
// answers its frames, time passes in 50 ms ticks.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "configurator/frame.h"
#include "configurator/transfer.h"

namespace {

using configurator::ConfigEvent;
using configurator::ConfigTransfer;
using Bytes = std::vector<uint8_t>;
using Kind = ConfigEvent::Kind;

// The device's image: byte i holds i * 3 + 1.
uint8_t DeviceByte(uint32_t i) { return uint8_t(i * 3 + 1); }

// A device behind the transfer: answers each request at once unless the
// script says otherwise; what it answers can be replaced per test.
struct Device {
  ConfigTransfer t;
  std::vector<Bytes> sent;  // every frame the transfer sent
  std::vector<ConfigEvent> events;
  std::function<std::optional<Bytes>(const Bytes&)> answer = [](const Bytes& r) {
    return Answer(r);
  };
  Bytes written = Bytes(288, 0xEE);

  static std::optional<Bytes> Answer(const Bytes& r) {
    const uint8_t seq = r[4];
    switch (r[6]) {
      case configurator::kReadBlock: {
        const uint32_t a = r[7] | r[8] << 8 | r[9] << 16;
        Bytes d;
        for (uint32_t i = 0; i < r[10]; ++i) d.push_back(DeviceByte(a + i));
        return configurator::BuildFrame(seq, configurator::kReadBlockReply, d);
      }
      case configurator::kWriteBlock:
        return configurator::BuildFrame(seq, configurator::kWriteBlockReply, Bytes{});
      case configurator::kIdentify:
        return configurator::BuildFrame(seq, configurator::kIdentifyReply, Bytes{250, 12});
      case configurator::kProgrammingStart:
        return configurator::BuildFrame(seq, configurator::kProgrammingStart, Bytes{0});
      default:
        return std::nullopt;
    }
  }

  void Send(const ConfigTransfer::Frames& frames) {
    for (const Bytes& f : frames) {
      sent.push_back(f);
      if (f[6] == configurator::kWriteBlock) {
        const uint32_t a = f[7] | f[8] << 8;
        std::copy(f.begin() + 10, f.begin() + 58, written.begin() + a);
      }
      if (const auto a = answer(f)) Send(t.Deliver(*a));
    }
    for (ConfigEvent& e : t.TakeEvents()) events.push_back(std::move(e));
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) Send(t.Tick());
  }
  size_t Count(Kind k) const {
    return size_t(std::count_if(events.begin(), events.end(), [k](auto& e) { return e.kind == k; }));
  }
  const ConfigEvent* Last(Kind k) const {
    for (auto it = events.rbegin(); it != events.rend(); ++it)
      if (it->kind == k) return &*it;
    return nullptr;
  }
  size_t SentOf(uint8_t command) const {
    return size_t(std::count_if(sent.begin(), sent.end(), [&](auto& f) { return f[6] == command; }));
  }
};

TEST(ConfigTransfer, ReadsOffsetsUpTo256InSixBlocks) {
  Device d;
  d.Send(d.t.Read());
  ASSERT_EQ(d.sent.size(), 6u);
  for (size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(d.sent[k][7], uint8_t(48 * k)) << k;
    EXPECT_EQ(d.sent[k][4], uint8_t(k)) << "the sequence moves on with each block";
  }
  const ConfigEvent* done = d.Last(Kind::kReadDone);
  ASSERT_NE(done, nullptr);
  ASSERT_EQ(done->bytes.size(), 257u);
  for (uint32_t i = 0; i <= 256; ++i) ASSERT_EQ(done->bytes[i], DeviceByte(i)) << i;
  EXPECT_FALSE(d.t.Outstanding());
}

TEST(ConfigTransfer, WritesSixBlocksWith127To130Zeroed) {
  Device d;
  Bytes image(2048);
  for (size_t i = 0; i < image.size(); ++i) image[i] = uint8_t(i ^ 0x5A);
  d.Send(d.t.Write(image));
  EXPECT_EQ(d.SentOf(configurator::kWriteBlock), 6u);
  EXPECT_EQ(d.Count(Kind::kWriteDone), 1u);
  for (size_t i = 0; i < 288; ++i) {
    const uint8_t want = (i >= 127 && i <= 130) ? 0 : image[i];
    ASSERT_EQ(d.written[i], want) << i;
  }
}

// A stale acknowledgement (another sequence byte) and a stray frame leave the
// block outstanding; the time-out sends it again and the write completes.
TEST(ConfigTransfer, OnlyTheAwaitedAnswerEndsAWait) {
  struct Case {
    const char* name;
    std::function<Bytes(const Bytes&)> wrong;
  } cases[] = {
      {"StaleWriteReply",
       [](const Bytes& r) {
         return configurator::BuildFrame(uint8_t(r[4] - 1), configurator::kWriteBlockReply, Bytes{});
       }},
      {"StrayIdentifyReply",
       [](const Bytes& r) {
         return configurator::BuildFrame(r[4], configurator::kIdentifyReply, Bytes{250, 1});
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Device d;
    int blocks = 0;
    d.answer = [&](const Bytes& r) -> std::optional<Bytes> {
      // The third block's first send gets only the wrong answer.
      if (r[6] == configurator::kWriteBlock && r[7] == 96 && blocks++ == 0) return c.wrong(r);
      return Device::Answer(r);
    };
    d.Send(d.t.Write(Bytes(2048, 7)));
    EXPECT_EQ(d.Count(Kind::kWriteDone), 0u) << "no success with a block missing";
    EXPECT_TRUE(d.t.Outstanding());
    d.Ticks(configurator::kTimeoutTicks + 1);
    EXPECT_EQ(d.Count(Kind::kWriteDone), 1u);
    EXPECT_EQ(d.SentOf(configurator::kWriteBlock), 7u);
  }
}

TEST(ConfigTransfer, SilentDeviceGetsSevenRepeatsThenTheQuestion) {
  Device d;
  d.answer = [](const Bytes&) { return std::nullopt; };
  d.Send(d.t.Read());
  for (int k = 1; k <= 8; ++k) {
    d.Ticks(configurator::kTimeoutTicks);
    EXPECT_EQ(d.sent.size(), size_t(k)) << "nothing before the time-out";
    d.Ticks(1);
  }
  EXPECT_EQ(d.sent.size(), 8u);
  EXPECT_EQ(d.Count(Kind::kAsk), 1u);
  d.Ticks(500);
  EXPECT_EQ(d.Count(Kind::kAsk), 1u) << "one question at a time";
  // Going on sends it again; the next time-out asks again at once.
  d.Send(d.t.Answer(true));
  EXPECT_EQ(d.sent.size(), 9u);
  d.Ticks(configurator::kTimeoutTicks + 1);
  EXPECT_EQ(d.Count(Kind::kAsk), 2u);
  d.Send(d.t.Answer(false));
  EXPECT_EQ(d.Count(Kind::kGaveUp), 1u);
  EXPECT_FALSE(d.t.Outstanding());
  d.Ticks(300);
  EXPECT_EQ(d.sent.size(), 9u);
}

TEST(ConfigTransfer, SplitFrameIsAssembledOnlyWithinTwoTicks) {
  for (const int gap : {1, 3}) {
    SCOPED_TRACE(gap);
    Device d;
    d.answer = [](const Bytes&) { return std::nullopt; };
    d.Send(d.t.Read());
    const Bytes reply = *Device::Answer(d.sent.back());
    d.Send(d.t.Deliver(Bytes(reply.begin(), reply.begin() + 20)));
    d.Ticks(gap);
    d.Send(d.t.Deliver(Bytes(reply.begin() + 20, reply.end())));
    EXPECT_EQ(d.sent.size(), gap == 1 ? 2u : 1u) << "the next block follows an assembled reply";
  }
}

TEST(ConfigTransfer, KeyPollTakesTheSecondKeyAnswer) {
  Device d;
  const Bytes key = {0x01, 0xC4, 0xB3, 0xA2, 0x01, 0x00, 0x00, 0x5E};  // as read from the wire
  int polls = 0;
  d.answer = [&](const Bytes& r) -> std::optional<Bytes> {
    if (r[6] != configurator::kKeyPoll) return std::nullopt;
    ++polls;
    if (polls == 2) return configurator::BuildFrame(r[4], configurator::kKeyPollReply, Bytes{0});
    return configurator::BuildFrame(r[4], configurator::kKeyPollReply, key);
  };
  d.Send(d.t.StartKeyPoll());
  // A key that only arms the poll, no key, then the key that counts.
  EXPECT_EQ(polls, 3);
  const ConfigEvent* k = d.Last(Kind::kKeyRead);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->bytes, key);
  EXPECT_FALSE(d.t.Outstanding());
}

TEST(ConfigTransfer, IdentifyAnswersAndProgrammingStart) {
  struct Case {
    Bytes answer;
    std::string line;
  } cases[] = {
      {{250, 12}, "<Пульт. номер - 1/0/5> \"Гравен-Net\""},
      {{0x7A, 1}, "<Пульт. номер - 1/0/5> -> Отказано в доступе!"},
      {{0xFB, 23}, "Неизвестн. тип Ver.3.3"},
  };
  for (const Case& c : cases) {
    Device d;
    d.answer = [&](const Bytes& r) -> std::optional<Bytes> {
      if (r[6] == configurator::kIdentify)
        return configurator::BuildFrame(r[4], configurator::kIdentifyReply, c.answer);
      return Device::Answer(r);
    };
    d.Send(d.t.Identify("<Пульт. номер - 1/0/5>"));
    const ConfigEvent* id = d.Last(Kind::kIdentified);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->text, c.line);
    EXPECT_EQ(d.t.Variant(), c.answer[0]);
    EXPECT_EQ(d.SentOf(configurator::kProgrammingStart), 1u) << "after every identify answer";
    EXPECT_FALSE(d.t.Outstanding());
  }
}

TEST(ConfigTransfer, StoppedSendsAndTakesNothingUntilClose) {
  Device d;
  d.answer = [](const Bytes&) { return std::nullopt; };
  d.Send(d.t.StartKeyPoll());
  d.t.Stop();
  d.Ticks(300);
  EXPECT_EQ(d.sent.size(), 1u);
  d.Send(d.t.Close());
  ASSERT_EQ(d.sent.size(), 2u);
  EXPECT_EQ(d.sent.back()[6], configurator::kProgrammingEnd);
}

}  // namespace
