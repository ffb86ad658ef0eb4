// The maintenance session against a scripted device behind a fake endpoint:
// the requests as they leave, the answers through the real device worker and
// hand-off, the exchanges of the device's access and identity, one session
// at a time, and the abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "maintenance/identity.h"
#include "maintenance/settings_telegrams.h"
#include "maintenance/actions.h"
#include "maintenance/session.h"
#include "tests/maintenance_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace dltest;
using maintenance::Event;

class Session : public SessionFixture {};

using Lines = std::vector<std::string>;

TEST_F(Session, LoginAcceptedSendsBothTextsPlain) {
  dev.AnswerCodes({{0x01, {0x01}}, {0x02, {0x02}}});
  bool ok = false;
  const Lines log = Run([](auto& x) { return maintenance::CheckLogin(x, "oper16charsxxxxx", "пароль"); }, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(log.empty());
  const auto r = dev.Plain();
  ASSERT_EQ(r.size(), 2u);
  // 16 characters: L = 19, a telegram of 21 bytes.
  EXPECT_EQ(r[0].size(), 21u);
  EXPECT_EQ(r[0][1], 19);
  EXPECT_EQ(std::string(r[0].begin() + 4, r[0].end() - 1), "oper16charsxxxxx");
  // The password goes in the devices' code page, a byte per letter.
  EXPECT_EQ(r[1][1], 3 + 6);
}

TEST_F(Session, LoginOutcomes) {
  struct Case {
    const char* name;
    std::map<uint8_t, Bytes> answers;
    std::string from;
    Lines log;
    size_t requests;
  };
  const Case cases[] = {
      {"DenialEndsAtOnce", {{0x01, {0x81}}}, "10.0.0.5", {"Не верный Пользователь или Пароль."}, 1},
      {"PasswordDenied", {{0x01, {0x01}}, {0x02, {0x82}}}, "10.0.0.5",
       {"Не верный Пользователь или Пароль."}, 2},
      {"Silent", {}, "10.0.0.5",
       {"Повтор пакета N-1", "Повтор пакета N-2", "Повтор пакета N-3", "Попытки соединения прерваны"},
       3},
      // Another device's answers end no wait.
      {"AnswerFromAnotherAddress", {{0x01, {0x01}}}, "10.0.0.99",
       {"Повтор пакета N-1", "Повтор пакета N-2", "Повтор пакета N-3", "Попытки соединения прерваны"},
       3},
  };
  for (const Case& c : cases) {
    dev.AnswerCodes(c.answers);
    dev.from = c.from;
    dev.Forget();
    bool ok = true;
    EXPECT_EQ(Run([](auto& x) { return maintenance::CheckLogin(x, "user", "pass"); }, &ok), c.log)
        << c.name;
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(dev.Requests().size(), c.requests) << c.name;
  }
}

TEST_F(Session, VersionLines) {
  struct Case {
    Bytes answer;  // code and data
    std::string line;
    uint8_t chip;
  };
  const Case cases[] = {
      {{0x15, 7, 39}, "N-версии 87J60->7, 4620->39", 0},
      {{0x15, 1, 3, 2, 4, 0, 1}, "N-версии 87J60->1.2; 67k22->3.4", 1},
      {{0x15, 1, 3, 2, 4, 0, 2}, "N-версии 87J60->1.2; 46k22->3.4", 2},
      {{0x15, 1, 3, 2, 4, 0, 3}, "N-версии 87J60->1.2; Ош1", 3},
  };
  for (const Case& c : cases) {
    dev.AnswerCodes({{0x15, c.answer}});
    bool ok = false;
    EXPECT_EQ(Run([](auto& x) { return maintenance::QueryVersions(x); }, &ok), Lines{c.line});
    EXPECT_TRUE(ok);
    EXPECT_EQ(session.Shared().GlChipKind, c.chip) << c.line;
  }
  // The query itself: 0xFE, L = 3, code 0x15.
  EXPECT_EQ(dev.Plain().back(), WithCheck({0xFE, 3, 0x55, 0x15, 0}));
}

TEST_F(Session, CredentialsAndWebInterfaceGoEncryptedWithTheDevicesOwnKey) {
  dev.AnswerCodes({{0x04, {0x04}}, {0x05, {0x05}}, {0x0A, {0x0A}}});
  bool ok = false;
  EXPECT_EQ(Run([](auto& x) { return maintenance::SendNewCredentials(x, "новый", "secret1"); }, &ok),
            Lines{"Новый \"Password\" принят."});
  EXPECT_TRUE(ok);
  // Another device's use of the cipher must not leak into the web command.
  AddDevice(7, {2, 0, 9});
  {
    std::lock_guard<std::mutex> lock(link.Lock);
    devlink::LoadDeviceKey(link.cipher, link.table[7]);
  }
  EXPECT_EQ(Run([](auto& x) { return maintenance::EnableWebInterface(x); }, &ok),
            Lines{"\"WEB-интерфейс\"- включен"});
  const auto r = dev.Plain();
  ASSERT_EQ(r.size(), 3u) << "every request opened by the device with its key";
  EXPECT_EQ(r[0][3], 0x04);
  EXPECT_EQ(r[1][3], 0x05);
  EXPECT_EQ(std::string(r[1].begin() + 4, r[1].end() - 1), "secret1");
  const devlink::Key10 key = devlink::EffectiveKey(device.km.data(), 1, 0, 5);
  EXPECT_EQ(r[2], WithCheck({0xE9, 5, 0x55, 0x0A, key[0], key[1], 0}));
}

TEST_F(Session, OneSessionAtATimeAndAnAbortEndsTheWait) {
  session.Shared().timeDivisor = 1;  // the full 15 s: only the abort ends it
  std::string error;
  ASSERT_TRUE(session.Start(3, "проверка пароля",
                            [](auto& x) { return maintenance::CheckLogin(x, "u", "p"); }, &error));
  EXPECT_FALSE(session.Start(3, "версии", [](auto& x) { return maintenance::QueryVersions(x); },
                             &error));
  EXPECT_EQ(error, "идёт обслуживание прибора #3 (проверка пароля): дождитесь его конца или "
                   "прервите его");
  const auto start = std::chrono::steady_clock::now();
  session.Abort();
  session.Wait();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  EXPECT_FALSE(session.Busy());
  // A stale abort does not end the next job at once.
  session.Shared().timeDivisor = 1000;
  dev.AnswerCodes({{0x15, {0x15, 7, 39}}});
  bool ok = false;
  Run([](auto& x) { return maintenance::QueryVersions(x); }, &ok);
  EXPECT_TRUE(ok);
}

TEST_F(Session, AbortInThePasswordPhaseSaysSo) {
  session.Shared().timeDivisor = 1;
  dev.AnswerCodes({{0x01, {0x01}}});
  std::string error;
  ASSERT_TRUE(session.Start(3, "вход", [](auto& x) { return maintenance::CheckLogin(x, "u", "p"); },
                            &error));
  // Wait until the password is on its way.
  for (int k = 0; k < 200 && dev.Plain().size() < 2; ++k) std::this_thread::sleep_for(5ms);
  session.Abort();
  session.Wait();
  Lines log;
  for (const Event& e : session.Events().Drain(0))
    if (e.kind == Event::Kind::kLog) log.push_back(e.text);
  EXPECT_EQ(log, Lines{"Выполнение прервано"});
}

// The answer's code and data of a whole answer telegram (without 0xEF, L,
// 0x55 and the check byte), as the scripted device takes them.
template <size_t N>
Bytes Body(const std::array<uint8_t, N>& t) {
  return Bytes(t.begin() + 3, t.begin() + t[1] + 1);
}

// A network settings write is a success only when every block that was to go
// went; a read that ended in an abort writes nothing.
TEST_F(Session, NetworkSettingsWriteTellsTheWholeResult) {
  std::map<uint8_t, Bytes> answers = {
      {0x01, {0x01}},
      {0x02, {0x02}},
      {0x0A, {0x0A}},
      {0x15, {0x15, 70, 41, 10, 39, 0, 0}},
      {0x0B, Body(maintenance::BuildNetworkReadAnswer({}))},
      {0xF7, Body(maintenance::BuildSmsReadAnswer({}))},
      {0x24, {0x24}},  // NTP not switched on: never written
      {0x0C, {0x0C}},
  };
  // The SMS block's write is never acknowledged.
  dev.AnswerCodes(answers);
  auto settings = std::make_shared<maintenance::DeviceSettings>();
  maintenance::NetworkBlock file{};  // every server off, the device on port 4880
  file[maintenance::net::kDevicePort] = file[maintenance::net::kDevicePort + 1] = 0x13;
  bool ok = true;
  const Lines log = Run(maintenance::NetworkWriteJob({"u", "p"}, file, settings), &ok);
  EXPECT_FALSE(ok) << "the SMS block did not go";
  EXPECT_NE(std::find(log.begin(), log.end(), "Сетев. настр.записаны."), log.end());
  EXPECT_EQ(log.back(), "Попытки соединения прерваны");
  answers[0xF8] = {0xF8};
  dev.AnswerCodes(answers);
  Run(maintenance::NetworkWriteJob({"u", "p"}, file, settings), &ok);
  EXPECT_TRUE(ok);

  // A file whose server 1 is on without a port is refused before anything goes.
  maintenance::NetworkBlock bad = file;
  bad[maintenance::net::kFlagsA] = maintenance::kServer1On;
  dev.Forget();
  const Lines refused = Run(maintenance::NetworkWriteJob({"u", "p"}, bad, settings), &ok);
  EXPECT_FALSE(ok);
  ASSERT_FALSE(refused.empty());
  EXPECT_NE(refused.back().find("Порт Сервер 1"), std::string::npos) << refused.back();
  for (const Bytes& r : dev.Plain()) EXPECT_NE(r[3], 0x0C) << "nothing written from a bad file";

  // No version answer in the SMS read: the read aborts, nothing is written.
  answers.erase(0x15);
  dev.AnswerCodes(answers);
  dev.Forget();
  Run(maintenance::NetworkWriteJob({"u", "p"}, file, settings), &ok);
  EXPECT_FALSE(ok);
  for (const Bytes& r : dev.Plain()) EXPECT_NE(r[3], 0x0C) << "no write after an aborted read";
}

// Only the device's "NTP off" answer empties the window's NTP fields; a lost
// or malformed answer leaves them as they were, and neither is written back.
TEST_F(Session, NtpBlockReadOutcomes) {
  struct Case {
    const char* name;
    std::optional<Bytes> ntpAnswer;  // nothing: the device stays silent
    bool ntpRead, ntpOff;
  };
  const Case cases[] = {
      {"Block", Body(maintenance::BuildNtpReadAnswer({})), true, false},
      {"Off", Bytes{0x24}, false, true},
      {"Silent", std::nullopt, false, false},
      {"WrongLength", Bytes{0x24, 1, 2, 3}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<uint8_t, Bytes> answers = {
        {0x01, {0x01}}, {0x02, {0x02}}, {0x0A, {0x0A}}, {0x15, {0x15, 70, 41, 10, 39, 0, 0}},
        {0x0B, Body(maintenance::BuildNetworkReadAnswer({}))},
        {0xF7, Body(maintenance::BuildSmsReadAnswer({}))}};
    if (c.ntpAnswer) answers[0x24] = *c.ntpAnswer;
    dev.AnswerCodes(answers);
    auto settings = std::make_shared<maintenance::DeviceSettings>();
    bool ok = false;
    Run(maintenance::NetworkReadJob({"u", "p"}, settings), &ok);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(settings->smsRead);
    EXPECT_EQ(settings->ntpRead, c.ntpRead);
    EXPECT_EQ(settings->ntpOff, c.ntpOff);
  }
}

}  // namespace
