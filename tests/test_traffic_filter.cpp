// The traffic filter of the device telegram trace, its learned peer, its place
// in the message sink, and the parse rule of the number fields.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "console/console_settings.h"
#include "console/message_sink.h"
#include "console/traffic_filter.h"
#include "platform/clock.h"

namespace {

using console::ConsoleNumber;
using Bytes = std::vector<uint8_t>;

const std::string kLearned = "10.0.0.5";
constexpr uint16_t kLearnedPort = 4001;
const std::string kOther = "10.0.0.9";
constexpr uint16_t kOtherPort = 4002;

// A 128-byte telegram buffer starting with `head`.
std::vector<uint8_t> Telegram(const Bytes& head) {
  std::vector<uint8_t> t(128, 0);
  std::memcpy(t.data(), head.data(), head.size());
  return t;
}

struct FilterCase {
  const char* name;
  Bytes head;
  bool encrypted;
  bool fromLearned;  // else from the other peer
  bool passes;
  bool learns;       // the other peer becomes the learned one
};

class FilterRules : public ::testing::TestWithParam<FilterCase> {};

// Filter on, following 1/0/0 with client index 0x0102; the peer 10.0.0.5:4001
// learned beforehand.
TEST_P(FilterRules, PassAndLearn) {
  const FilterCase& c = GetParam();
  console::ConsoleSettings s;
  s.GlOutEthern = true;
  s.GlTraficRun = true;
  s.GlOutCrypt = true;
  s.GlFiltrOn = true;
  s.GlFiltrNPult.Store({1, 0, 0});
  s.GlFiltrNStruct = 0x0102;
  console::TrafficFilter f;
  ASSERT_TRUE(f.Admit(s, Telegram({0xFE, 8, 3, 1, 0, 0}).data(), kLearned, kLearnedPort, false));
  ASSERT_EQ(f.LearnedIp(), kLearned);

  const auto t = Telegram(c.head);
  const std::string& peer = c.fromLearned ? kLearned : kOther;
  const uint16_t port = c.fromLearned ? kLearnedPort : kOtherPort;
  EXPECT_EQ(f.Admit(s, t.data(), peer, port, c.encrypted), c.passes);
  EXPECT_EQ(f.LearnedIp(), c.learns ? kOther : kLearned);
  EXPECT_EQ(f.LearnedPort(), c.learns ? kOtherPort : kLearnedPort);
}

INSTANTIATE_TEST_SUITE_P(
    Traffic, FilterRules,
    ::testing::Values(
        // plain form
        FilterCase{"PlainOtherTypePasses", {0x12, 5, 0, 9, 9, 9}, false, false, true, false},
        FilterCase{"PlainTestTelegramFromLearnedPeer", {0xE9, 5, 0x55, 4}, false, true, true, false},
        FilterCase{"PlainTestTelegramFromOtherPeer", {0xE9, 5, 0x55, 4}, false, false, false, false},
        FilterCase{"PlainServiceWithNumber", {0xE9, 7, 0x55, 8, 1, 0, 0}, false, false, true, true},
        FilterCase{"PlainServiceWithOtherNumber", {0xE9, 7, 0x55, 8, 1, 0, 1}, false, false, false, false},
        FilterCase{"PlainRegistrationWithNumber", {0xEF, 27, 0x55, 7, 1, 0, 0}, false, false, true, true},
        FilterCase{"PlainEventWithNumber", {0xFE, 8, 3, 1, 0, 0}, false, false, true, true},
        FilterCase{"PlainEventWithOtherNumber", {0xFE, 8, 3, 2, 0, 0}, false, false, false, false},
        FilterCase{"PlainWrapperNumberAtThree", {0xEA, 9, 3, 1, 0, 0}, false, false, true, true},
        // encrypted form
        FilterCase{"EncryptedE9FromLearnedPeer", {0xE9, 8, 1, 0, 0}, true, true, true, false},
        FilterCase{"EncryptedE9FromOtherPeer", {0xE9, 8, 1, 0, 0}, true, false, false, false},
        FilterCase{"EncryptedEAWithFollowedIndex", {0xEA, 15, 0x01, 0x02}, true, false, true, false},
        FilterCase{"EncryptedEAOtherIndexLearnedPeer", {0xEA, 15, 0x02, 0x01}, true, true, true, false},
        FilterCase{"EncryptedEAOtherIndexOtherPeer", {0xEA, 15, 0x02, 0x01}, true, false, false, false},
        FilterCase{"EncryptedRegistration07", {0xEF, 27, 0x55, 7, 1, 0, 0}, true, false, true, true},
        FilterCase{"EncryptedRegistration87", {0xEF, 27, 0x55, 0x87, 1, 0, 0}, true, false, true, true},
        FilterCase{"EncryptedRegistrationOtherNumber", {0xEF, 27, 0x55, 7, 1, 1, 0}, true, false, false, false},
        FilterCase{"EncryptedEFOtherCodeLearnedPeer", {0xEF, 7, 0x55, 0x20, 1, 0, 0}, true, true, true, false},
        FilterCase{"EncryptedEFOtherCodeOtherPeer", {0xEF, 7, 0x55, 0x20, 1, 0, 0}, true, false, false, false},
        FilterCase{"EncryptedEFWithout55Passes", {0xEF, 7, 0x33, 7, 9, 9, 9}, true, false, true, false},
        FilterCase{"EncryptedFEPasses", {0xFE, 8, 3, 7, 7, 7}, true, false, true, false},
        // never traced
        FilterCase{"EEWithAAPlain", {0xEE, 5, 0xAA, 1, 0, 0}, false, true, false, false},
        FilterCase{"EEWithAAEncrypted", {0xEE, 5, 0xAA, 1, 0, 0}, true, true, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The flags that come before the filter: nothing is traced, nor learned,
// unless the trace runs; the filter off lets everything through but 0xEE/0xAA.
TEST(TrafficFilter, TraceFlagsComeFirst) {
  struct Case { bool ethern, run, crypt, filter, encrypted; Bytes head; bool passes; };
  const Case cases[] = {
      {false, true, true, false, false, {0xFE, 8, 3, 1, 0, 0}, false},
      {true, false, true, false, false, {0xFE, 8, 3, 1, 0, 0}, false},
      {true, true, false, false, true, {0xFE, 8, 3, 1, 0, 0}, false},
      {true, true, false, false, false, {0xFE, 8, 3, 1, 0, 0}, true},
      {true, true, true, false, true, {0xEA, 15, 9, 9}, true},
      {true, true, true, false, false, {0xEE, 5, 0xAA}, false},
      {true, true, true, false, false, {0xEE, 5, 0xAB}, true},
      {true, false, true, true, false, {0xFE, 8, 3, 1, 0, 0}, false},
  };
  for (const Case& c : cases) {
    console::ConsoleSettings s;
    s.GlOutEthern = c.ethern;
    s.GlTraficRun = c.run;
    s.GlOutCrypt = c.crypt;
    s.GlFiltrOn = c.filter;
    s.GlFiltrNPult.Store({1, 0, 0});
    console::TrafficFilter f;
    const auto t = Telegram(c.head);
    EXPECT_EQ(f.Admit(s, t.data(), kOther, kOtherPort, c.encrypted), c.passes)
        << c.ethern << c.run << c.crypt << c.filter << c.encrypted << " " << int(c.head[0]);
    EXPECT_EQ(f.LearnedIp(), "") << "learned only by the filter that is on";
  }
}

// The sink's two device traces: the filtered one learns and follows the device,
// the unfiltered one ignores the filter.
TEST(TrafficFilter, SinkFollowsTheLearnedPeer) {
  console::ConsoleSettings s;
  console::LineQueue q;
  platform::FixedClock clock;
  clock.now = {2024, 3, 5, 9, 5, 3};
  console::MessageSink sink(s, q, clock);
  s.GlTraficRun = true;
  s.GlOutCrypt = true;
  s.GlFiltrOn = true;
  s.GlFiltrNPult.Store({1, 0, 0});

  const auto plain = Telegram({0xE9, 7, 0x30, 1, 0, 0, 0x11, 0x22, 0x33});
  const auto enc = Telegram({0xE9, 9, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18, 0x29});
  sink.DeviceTrace(plain.data(), "10.0.0.5", 4001, false, false, false);
  EXPECT_EQ(sink.FilterIp(), "10.0.0.5");
  EXPECT_EQ(sink.FilterPort(), 4001);
  sink.DeviceTrace(enc.data(), "10.0.0.5", 4001, false, false, true);
  sink.DeviceTrace(enc.data(), "10.0.0.6", 4001, false, false, true);
  sink.DeviceTrace(enc.data(), "10.0.0.5", 4002, true, true, true);
  sink.DeviceTraceUnfiltered(enc.data(), "10.0.0.6", 4003, true, true, true);
  s.GlOutCrypt = false;
  sink.DeviceTraceUnfiltered(enc.data(), "10.0.0.6", 4003, true, true, true);

  std::vector<console::Line> lines;
  q.Drain(lines, 0);
  std::vector<std::string> texts;
  for (const auto& l : lines) {
    EXPECT_EQ(l.window, console::Window::Traffic);
    texts.push_back(l.text);
  }
  const std::vector<std::string> expected = {
      "9:5:3(E)R10.0.0.5[4001]:E9 07 30 01 00 00 11 22 33 ",
      "9:5:3(E)R10.0.0.5[4001]:E9 09 A1 B2 C3 D4 E5 F6 07 18 29 ",
      "9:5:3(E)W10.0.0.6[4003]:E9 09 A1 B2 C3 D4 E5 F6 07 18 29 00 00 00 ",
  };
  EXPECT_EQ(texts, expected);
}

// ---- number field

struct ParseCase {
  const char* text;
  ConsoleNumber before, after;
  int bad;
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class NumberField : public ::testing::TestWithParam<ParseCase> {};

TEST_P(NumberField, Parse) {
  const ParseCase& c = GetParam();
  ConsoleNumber n = c.before;
  EXPECT_EQ(console::ParseNumberField(c.text, n), c.bad) << c.text;
  EXPECT_EQ(n, c.after) << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Traffic, NumberField,
    ::testing::Values(ParseCase{"1/0/0", {7, 8, 9}, {1, 0, 0}, 0},
                      ParseCase{"1/2", {7, 8, 9}, {1, 8, 9}, 0},  // the last part needs two "/"
                      ParseCase{"12", {7, 8, 9}, {7, 8, 9}, 0},
                      ParseCase{"", {7, 8, 9}, {7, 8, 9}, 0},
                      ParseCase{"1//3", {7, 8, 9}, {1, 0, 3}, 1},
                      ParseCase{"/5/", {7, 8, 9}, {0, 5, 0}, 2},
                      ParseCase{"1/2/3/4", {7, 8, 9}, {1, 2, 3}, 0},
                      ParseCase{"001/255/0", {7, 8, 9}, {1, 255, 0}, 0},
                      ParseCase{"256/1/1", {7, 8, 9}, {0, 1, 1}, 1},
                      ParseCase{"99999999999/1/1", {7, 8, 9}, {0, 1, 1}, 1},
                      ParseCase{"a/1/1", {7, 8, 9}, {0, 1, 1}, 1}));

TEST(NumberField, FilterFieldExitAddsADebugLinePerBadPart) {
  console::ConsoleSettings s;
  console::LineQueue q;
  platform::FixedClock clock;
  console::MessageSink sink(s, q, clock);
  s.GlOtladka = true;
  s.GlFiltrNPult.Store({4, 5, 6});
  console::FilterFieldExit("1/x", s, sink);
  EXPECT_EQ(s.GlFiltrNPult.Load(), (ConsoleNumber{1, 5, 6}));
  console::FilterFieldExit("/x/3", s, sink);
  EXPECT_EQ(s.GlFiltrNPult.Load(), (ConsoleNumber{0, 0, 3}));
  std::vector<console::Line> lines;
  q.Drain(lines, 0);
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& l : lines) EXPECT_EQ(l.text, "Ошибка преобразования \"FiltrNPultExit\"");
}

}  // namespace
