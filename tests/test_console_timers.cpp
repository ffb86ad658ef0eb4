// The console's timers without windows: the main tick, the five-minute timer and
// its effects, the delayed save of the registry and the registration controls.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "console/console_settings.h"
#include "console/console_timers.h"
#include "console/main_tick.h"
#include "console/message_sink.h"
#include "platform/clock.h"

namespace {

using console::ConsoleNumber;

// ---- main tick

TEST(MainTick, CounterGivesTheTickAndSaysWhichStepsAreDue) {
  console::ConsoleSettings s;
  int given = 0;
  console::MainTick tick([&] { ++given; });
  std::vector<int> counters, network, interface;
  for (int k = 0; k < 120; ++k) {
    const auto due = tick.Tick(s, true);
    counters.push_back(tick.Counter());
    if (due.networkStep) network.push_back(tick.Counter());
    if (due.interfaceStep) interface.push_back(tick.Counter());
  }
  EXPECT_EQ(given, 120);
  EXPECT_EQ(counters[0], 1);
  EXPECT_EQ(counters[58], 59);
  EXPECT_EQ(counters[59], 0);
  EXPECT_EQ(counters[119], 0);
  const std::vector<int> tens = {10, 20, 30, 40, 50, 0, 10, 20, 30, 40, 50, 0};
  EXPECT_EQ(network, tens);
  const std::vector<int> eights = {8, 16, 24, 32, 40, 48, 56, 0, 8, 16, 24, 32, 40, 48, 56, 0};
  EXPECT_EQ(interface, eights);
}

// A front end that comes late makes up every tick it missed, then keeps the
// rhythm of the start, not of its late arrival.
TEST(TickSchedule, LateTicksAreAllMadeUpInTheirRhythm) {
  using namespace std::chrono_literals;
  const auto t0 = console::TickSchedule::Clock::time_point{} + 1h;
  console::TickSchedule s;
  EXPECT_EQ(s.Due(t0), 0u) << "nothing is due before the start";
  s.Start(t0, 1000ms);
  EXPECT_EQ(s.Due(t0 + 999ms), 0u);
  EXPECT_EQ(s.UntilNext(t0 + 999ms), 1);
  EXPECT_EQ(s.Due(t0 + 1000ms), 1u);
  EXPECT_EQ(s.Due(t0 + 1500ms), 0u);
  EXPECT_EQ(s.Due(t0 + 7300ms), 6u) << "a stall of about six seconds";
  EXPECT_EQ(s.UntilNext(t0 + 7300ms), 700);
  EXPECT_EQ(s.Due(t0 + 8000ms), 1u);
}

TEST(MainTick, InterfaceManagementFollowsTheBoxAndTheHold) {
  console::ConsoleSettings s;
  console::MainTick tick(nullptr);
  for (int k = 0; k < 7; ++k) tick.Tick(s, true);  // counter 7: the next one is a multiple of 8

  s.GlMetricHold = 2;
  auto due = tick.Tick(s, true);  // counter 8
  EXPECT_FALSE(s.GlMetricActive);
  EXPECT_FALSE(due.interfaceStep) << "held";
  EXPECT_EQ(s.GlMetricHold, 1);
  tick.Tick(s, true);
  EXPECT_FALSE(s.GlMetricActive);
  EXPECT_EQ(s.GlMetricHold, 0);
  tick.Tick(s, true);
  EXPECT_TRUE(s.GlMetricActive);

  s.GlMetricHold = 5;
  for (int k = 0; k < 20; ++k) {
    due = tick.Tick(s, false);
    EXPECT_FALSE(s.GlMetricActive);
    EXPECT_FALSE(due.interfaceStep);
  }
  EXPECT_EQ(s.GlMetricHold, 5) << "the hold counts down only while the box is on";
}

// ---- five-minute timer

class TimersTest : public ::testing::Test {
 protected:
  console::ConsoleSettings s;
  int writes = 0;
  int wakes = 0;
  console::ConsoleTimers timers{s, [this] { ++writes; }};
  console::RegistrationControl reg{s, timers, [this] { ++writes; }, [this] { ++wakes; }};

  void Seconds(int n) {
    for (int k = 0; k < n; ++k) timers.OnSecond();
  }
};

TEST_F(TimersTest, WindowForAllDevicesClosesOnTheTickAfterTheThreeHundredth) {
  s.GlTraficRun = true;
  reg.OpenAll();
  EXPECT_TRUE(s.GlRegOn);
  EXPECT_FALSE(s.GlRegOne);
  Seconds(300);
  EXPECT_TRUE(s.GlRegOn);
  EXPECT_TRUE(s.GlTraficRun);
  EXPECT_EQ(writes, 0);
  Seconds(1);
  EXPECT_FALSE(s.GlRegOn);
  EXPECT_FALSE(s.GlTraficRun) << "Автом. стоп";
  EXPECT_EQ(writes, 1);
  EXPECT_FALSE(timers.FiveMinutes().Running());
  EXPECT_EQ(timers.FiveMinutes().Count(), 0);
  Seconds(400);
  EXPECT_EQ(writes, 1);
}

TEST_F(TimersTest, OnlyTheWindowForAllDevicesIsLimited) {
  struct Case { bool one; bool permanent; bool closes; };
  for (const Case c : {Case{false, false, true}, Case{true, false, false}, Case{false, true, false}}) {
    writes = 0;
    s.GlRegPermanent = c.permanent;
    if (c.one) {
      reg.OpenOne({1, 0, 7});
    } else {
      reg.OpenAll();
    }
    Seconds(301);
    EXPECT_EQ(s.GlRegOn, !c.closes) << c.one << c.permanent;
    EXPECT_EQ(writes, c.closes ? 1 : 0) << c.one << c.permanent;
    reg.Close();
  }
}

TEST_F(TimersTest, StartingAgainWithinTheWindowDoesNotExtendIt) {
  reg.OpenAll();
  Seconds(200);
  s.GlTraficRun = true;
  timers.StartFiveMinutes();  // "Пуск" with "Автом. стоп"
  reg.AllowDeleteOne();
  EXPECT_TRUE(timers.deleteOneAllowed);
  Seconds(101);
  EXPECT_FALSE(s.GlRegOn);
  EXPECT_FALSE(s.GlTraficRun);
  EXPECT_FALSE(timers.deleteOneAllowed);

  // A start after the expiry counts afresh.
  s.GlTraficRun = true;
  timers.StartFiveMinutes();
  Seconds(300);
  EXPECT_TRUE(s.GlTraficRun);
  Seconds(1);
  EXPECT_FALSE(s.GlTraficRun);
}

TEST_F(TimersTest, AutoStopOffLeavesTheTraceRunning) {
  timers.autoStop = false;
  s.GlTraficRun = true;
  timers.StartFiveMinutes();
  Seconds(301);
  EXPECT_TRUE(s.GlTraficRun);
  EXPECT_FALSE(timers.FiveMinutes().Running());
}

TEST_F(TimersTest, OperatorActionsSetTheRegistrationSettings) {
  reg.OpenOne({1, 2, 3});
  EXPECT_EQ(s.GlRegNPult.Load(), (ConsoleNumber{1, 2, 3}));
  EXPECT_TRUE(s.GlRegOne);
  EXPECT_TRUE(s.GlRegOn);
  EXPECT_TRUE(s.GlRegOneStart);
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(writes, 0);

  reg.Close();
  EXPECT_FALSE(s.GlRegOn);
  EXPECT_EQ(writes, 1);
}

// ---- delayed save

// Seconds 0..`until` with the ten-second tick on every tenth; requests are set
// at the given seconds before that second's tick. The seconds of the writes.
std::vector<int> RunDelayedSave(const std::vector<int>& requests, int until) {
  console::ConsoleSettings s;
  std::vector<int> written;
  int now = 0;
  console::ConsoleTimers timers(s, [&] { written.push_back(now); });
  for (now = 0; now <= until; ++now) {
    for (int r : requests)
      if (r == now) s.GlSaveRequest = true;
    if (now % 10 == 0) timers.OnTenSeconds();
  }
  EXPECT_FALSE(s.GlSaveRequest);
  return written;
}

TEST(DelayedSave, WrittenThirtyToFortySecondsAfterTheRequest) {
  for (int r : {10, 11, 15, 19}) {
    const auto w = RunDelayedSave({r}, 200);
    ASSERT_EQ(w.size(), 1u) << r;
    EXPECT_GE(w[0] - r, 30) << r;
    EXPECT_LE(w[0] - r, 40) << r;
  }
}

TEST(DelayedSave, ARepeatedRequestRestartsTheCountdown) {
  EXPECT_EQ(RunDelayedSave({5, 25}, 200), std::vector<int>{60});
  EXPECT_EQ(RunDelayedSave({5, 25, 45}, 200), std::vector<int>{80});
  EXPECT_EQ(RunDelayedSave({5, 100}, 200), (std::vector<int>{40, 130}));
}

TEST(DelayedSave, WritesNothingWithoutARequest) { EXPECT_TRUE(RunDelayedSave({}, 300).empty()); }

// ---- the line queue between the server and its output

struct QueueCase {
  const char* name;
  size_t limit;
  std::vector<console::Window> pushed;  // in order; line k carries the text "k"
  std::string kept;                     // the texts drained, joined
  size_t droppedTrace, droppedMessages;
};

void PrintTo(const QueueCase& c, std::ostream* os) { *os << c.name; }

class LineQueueBound : public ::testing::TestWithParam<QueueCase> {};

// A full queue drops trace lines first, the newest ones; a message takes the
// place of the oldest trace line; and the drain ends with one line counting
// what was dropped.
TEST_P(LineQueueBound, TraceLinesGoFirstAndTheDropsAreCounted) {
  const QueueCase& c = GetParam();
  console::ConsoleSettings settings;
  console::LineQueue q(c.limit);
  platform::FixedClock clock;
  clock.now = {2026, 12, 10, 9, 5, 7};
  console::MessageSink sink(settings, q, clock);
  for (size_t k = 0; k < c.pushed.size(); ++k) q.Push({c.pushed[k], std::to_string(k)});
  std::vector<console::Line> out;
  sink.Drain(out, 0);
  std::string kept;
  const bool dropped = c.droppedTrace + c.droppedMessages > 0;
  for (size_t k = 0; k + (dropped ? 1 : 0) < out.size(); ++k) kept += out[k].text;
  EXPECT_EQ(kept, c.kept);
  if (dropped) {
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back().window, console::Window::Message);
    EXPECT_EQ(out.back().text, "9:5:7 Вывод не успевал за сервером: пропущено строк трафика: " +
                                   std::to_string(c.droppedTrace) +
                                   ", сообщений: " + std::to_string(c.droppedMessages) + ".");
  }
  // The count is taken with the drain: the next one has nothing to say.
  out.clear();
  sink.Drain(out, 0);
  EXPECT_TRUE(out.empty());
}

constexpr auto M = console::Window::Message;
constexpr auto T = console::Window::Traffic;

INSTANTIATE_TEST_SUITE_P(
    Cases, LineQueueBound,
    ::testing::Values(QueueCase{"RoomForAll", 4, {M, T, M, T}, "0123", 0, 0},
                      QueueCase{"NewTraceDropped", 3, {M, T, M, T, T}, "012", 2, 0},
                      QueueCase{"MessageTakesTheOldestTracePlace", 3, {T, M, T, M}, "123", 1, 0},
                      QueueCase{"MessagesOnlyKeepTheOldest", 2, {M, M, M, T}, "01", 1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
