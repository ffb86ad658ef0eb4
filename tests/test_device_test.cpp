// The device test's exchanges against a scripted device behind a fake
// endpoint: the channel command as the device opens it, its answer through
// the real device worker and hand-off, the end of the test exchange, the
// failed tries and the abort they leave, and the Ethernet controller reset.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "maintenance/actions.h"
#include "maintenance/device_test.h"
#include "maintenance/session.h"
#include "tests/maintenance_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace dltest;
using maintenance::ChannelMasks;
using maintenance::Event;
using Lines = std::vector<std::string>;

// `answer` to a channel command, silence to anything else.
std::optional<Bytes> Answers(const Bytes& r, Bytes answer) {
  if (r.size() > 3 && r[3] == 0x64 && r[4] == 0x01) return answer;
  return std::nullopt;
}

class DeviceTest : public SessionFixture {
 protected:
  static maintenance::Maintenance::Job Channels(ChannelMasks m) {
    return [m](maintenance::Exchange& x) { return maintenance::RunChannelTest(x, m); };
  }
};

// The end of the test exchange, its check byte worked out by hand.
const Bytes kEndOfTest = {0xEF, 0x03, 0x55, 0x00, 0xBF};

TEST(ChannelMasks, OfTheTickBoxes) {
  struct Case {
    std::array<bool, 12> ticked;  // LAN IP1..4, SIM1 IP1..4, SIM2 IP1..4
    uint8_t lan, sim;
  };
  const Case cases[] = {
      {{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, 0x0F, 0xFF},
      {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 0x00, 0x80},
      {{1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0}, 0x0F, 0x03},
      {{0, 1, 0, 0, 0, 0, 1, 0, 1, 0, 0, 0}, 0x02, 0x14},
  };
  for (const Case& c : cases) {
    const ChannelMasks m = maintenance::MasksOf(c.ticked);
    EXPECT_EQ(m.lan, c.lan);
    EXPECT_EQ(m.sim, c.sim);
  }
}

TEST_F(DeviceTest, ChannelCommandGoesEncryptedAndItsAnswerEndsTheTest) {
  struct Case {
    ChannelMasks masks;
    Lines log;
  };
  const Case cases[] = {
      // The LAN mask in upper-case hexadecimal; the answer's register as it came.
      {{0x0F, 0xFF}, {"Отправить->\",HEX Регистр:->F", "OK \"Блок.<-\",HEX Регистр:->A5"}},
      {{0x00, 0x80}, {"Отправить->\",HEX Регистр:->0", "OK \"Блок.<-\",HEX Регистр:->A5"}},
      {{0x0A, 0x03}, {"Отправить->\",HEX Регистр:->A", "OK \"Блок.<-\",HEX Регистр:->A5"}},
  };
  dev.script = [](const Bytes& r) { return Answers(r, {0x64, 0x01, 0xA5}); };
  for (const Case& c : cases) {
    dev.Forget();
    bool ok = false;
    EXPECT_EQ(Run(Channels(c.masks), &ok), c.log);
    EXPECT_TRUE(ok);
    const auto r = dev.Requests();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].plain, WithCheck({0xE9, 6, 0x55, 0x64, 0x01, c.masks.lan, c.masks.sim, 0}))
        << "the device opens it with its own key";
    EXPECT_NE(r[0].wire, r[0].plain);
    EXPECT_EQ(r[1].wire, kEndOfTest) << "the end of the test exchange goes plain";
  }
}

TEST_F(DeviceTest, FailedTriesEndInALostLinkAndTheAbortDoesNotStickToTheNextTest) {
  const Lines lost = {"Обрыв связи с прибором", "Процедура прервана, попробуйте вновь."};
  const std::string sent = "Отправить->\",HEX Регистр:->5";
  const std::string silent = "Нет ответа на ком.(Тест)\"Блок. ответа Сервера по каналам.\"";
  struct Case {
    const char* name;
    Bytes answer;  // empty: silence
    std::string from;
    Lines log;
  };
  const Case cases[] = {
      {"Silent", {}, "10.0.0.5", {sent, silent, sent, silent, sent, silent}},
      {"AnotherDevicesAnswer", {0x64, 0x01, 0x05}, "10.0.0.99", {sent, silent, sent, silent, sent, silent}},
      // Answers that are not the channel command's are tried again without a word.
      {"OtherSubCommand", {0x64, 0x02, 0x05}, "10.0.0.5", {sent, sent, sent}},
      {"NoRegister", {0x64, 0x01}, "10.0.0.5", {sent, sent, sent}},
  };
  for (const Case& c : cases) {
    dev.Forget();
    dev.from = c.from;
    dev.script = [&c](const Bytes& r) {
      return c.answer.empty() ? std::nullopt : Answers(r, c.answer);
    };
    Lines log = c.log;
    log.insert(log.end(), lost.begin(), lost.end());
    bool ok = true;
    EXPECT_EQ(Run(Channels({0x05, 0x00}), &ok), log) << c.name;
    EXPECT_FALSE(ok) << c.name;
    EXPECT_TRUE(session.Shared().GlAbort) << c.name;
    EXPECT_EQ(dev.Requests().size(), 3u) << c.name << ": no end of the test without an answer";
  }

  // The operator tries again: the abort the failure left ends nothing.
  dev.from = "10.0.0.5";
  int seen = 0;
  dev.script = [&seen](const Bytes& r) {
    return ++seen == 1 ? std::nullopt : Answers(r, {0x64, 0x01, 0x05});
  };
  bool ok = false;
  EXPECT_EQ(Run(Channels({0x05, 0x00}), &ok),
            (Lines{sent, silent, sent, "OK \"Блок.<-\",HEX Регистр:->5"}));
  EXPECT_TRUE(ok);
}

TEST_F(DeviceTest, AnAbortEndsTheWaitWithoutAMessage) {
  session.Shared().timeDivisor = 1;  // the full 15 s: only the abort ends it
  std::string error;
  ASSERT_TRUE(session.Start(3, "тест", Channels({0x0F, 0xFF}), &error)) << error;
  for (int k = 0; k < 200 && dev.Requests().empty(); ++k) std::this_thread::sleep_for(5ms);
  const auto start = std::chrono::steady_clock::now();
  session.Abort();
  session.Wait();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  Lines log;
  for (const Event& e : session.Events().Drain(0))
    if (e.kind == Event::Kind::kLog) log.push_back(e.text);
  EXPECT_EQ(log, Lines{"Отправить->\",HEX Регистр:->F"});
  EXPECT_EQ(dev.Requests().size(), 1u);
}

TEST_F(DeviceTest, EthernetResetGoesOnceEncryptedAndAwaitsNothing) {
  session.Shared().timeDivisor = 1;  // a wait would last 15 s
  const auto start = std::chrono::steady_clock::now();
  bool ok = false;
  EXPECT_EQ(Run([](auto& x) { return maintenance::ResetEthernetController(x); }, &ok), Lines{});
  EXPECT_TRUE(ok);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  const auto r = dev.Requests();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].plain, WithCheck({0xE9, 5, 0x55, 0x64, 0x05, 0x7B, 0}));
  EXPECT_NE(r[0].wire, r[0].plain);
}

TEST_F(DeviceTest, TheJobLogsInFirst) {
  struct Case {
    uint8_t passwordAnswer;
    Bytes codes;  // of the requests, as sent
    bool ok;
  };
  const Case cases[] = {
      {0x02, {0x01, 0x02, 0x64, 0x00}, true},
      {0x82, {0x01, 0x02}, false},  // refused: no test command
  };
  for (const Case& c : cases) {
    dev.Forget();
    dev.script = [&c](const Bytes& r) -> std::optional<Bytes> {
      if (r[3] == 0x01) return Bytes{0x01};
      if (r[3] == 0x02) return Bytes{c.passwordAnswer};
      return Answers(r, {0x64, 0x01, 0x03});
    };
    bool ok = !c.ok;
    Run(maintenance::TestJob({"user", "pass"}, {0x03, 0x30}), &ok);
    EXPECT_EQ(ok, c.ok);
    Bytes codes;
    for (const auto& r : dev.Requests()) codes.push_back(r.plain[3]);
    EXPECT_EQ(codes, c.codes);
  }
}

}  // namespace
