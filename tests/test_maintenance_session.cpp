// The maintenance session against a scripted device behind a fake endpoint:
// the requests as they leave, the answers through the real device worker and
// hand-off, the exchanges of the device's access and identity, one session
// at a time, and the abort.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "maintenance/identity.h"
#include "maintenance/session.h"
#include "tests/device_link_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace dltest;
using maintenance::Event;

// A device that answers the server's maintenance requests from a script,
// synchronously inside the send, as a fast device on loopback would.
class ScriptedDevice final : public testsupport::StubEndpoint {
 public:
  // Request code -> the answer's code and data; a missing code stays silent.
  std::map<uint8_t, Bytes> answers;
  std::string from = "10.0.0.5";  // the address the answers come from
  std::function<void(const Bytes&)> deliver;
  Device* device = nullptr;

  std::mutex m;
  std::vector<Bytes> requests;  // as the device reads them (decrypted)

  bool SendTo(std::string_view, uint16_t, const uint8_t* data, size_t n) override {
    Bytes wire(data, data + n);
    Bytes plain = wire;
    if (wire[0] == 0xE9) plain = device->Open(wire).value_or(Bytes{});
    {
      std::lock_guard<std::mutex> g(m);
      requests.push_back(plain);
    }
    if (plain.size() < 4) return true;
    const auto it = answers.find(plain[3]);
    if (it == answers.end()) return true;
    Bytes a = {0xEF, uint8_t(it->second.size() + 2), 0x55};
    a.insert(a.end(), it->second.begin(), it->second.end());
    a.push_back(0);
    deliver(WithCheck(a));
    return true;
  }
  std::vector<Bytes> Requests() {
    std::lock_guard<std::mutex> g(m);
    return requests;
  }
};

class Session : public LinkFixture {
 protected:
  ScriptedDevice dev;
  Device device = AddDevice(3, {1, 0, 5});
  maintenance::Maintenance session{link};

  Session() {
    sender.SetEndpoint(0, &dev);
    dev.device = &device;
    dev.deliver = [this](const Bytes& a) { ring->Receive(0, a.data(), a.size(), dev.from, 4001); };
    // 15 s waits last 15 ms.
    session.Shared().timeDivisor = 1000;
    worker->Start();
  }
  ~Session() override {
    session.Abort();
    session.Wait();
    worker->Stop();
  }

  // Runs `job` to its end; the log lines it produced, and its result.
  std::vector<std::string> Run(const maintenance::Maintenance::Job& job, bool* ok = nullptr) {
    std::string error;
    EXPECT_TRUE(session.Start(3, "тест", job, &error)) << error;
    std::vector<std::string> log;
    for (auto end = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < end;) {
      for (const Event& e : session.Events().Drain(50)) {
        if (e.kind == Event::Kind::kLog) log.push_back(e.text);
        if (e.kind == Event::Kind::kFinished) {
          if (ok) *ok = e.ok;
          return log;
        }
      }
    }
    ADD_FAILURE() << "the job did not end";
    return log;
  }
};

using Lines = std::vector<std::string>;

TEST_F(Session, LoginAcceptedSendsBothTextsPlain) {
  dev.answers = {{0x01, {0x01}}, {0x02, {0x02}}};
  bool ok = false;
  const Lines log = Run([](auto& x) { return maintenance::CheckLogin(x, "oper16charsxxxxx", "пароль"); }, &ok);
  EXPECT_TRUE(ok);
  EXPECT_TRUE(log.empty());
  const auto r = dev.Requests();
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
    dev.answers = c.answers;
    dev.from = c.from;
    dev.requests.clear();
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
    dev.answers = {{0x15, c.answer}};
    bool ok = false;
    EXPECT_EQ(Run([](auto& x) { return maintenance::QueryVersions(x); }, &ok), Lines{c.line});
    EXPECT_TRUE(ok);
    EXPECT_EQ(session.Shared().GlChipKind, c.chip) << c.line;
  }
  // The query itself: 0xFE, L = 3, code 0x15.
  EXPECT_EQ(dev.Requests().back(), WithCheck({0xFE, 3, 0x55, 0x15, 0}));
}

TEST_F(Session, CredentialsAndWebInterfaceGoEncryptedWithTheDevicesOwnKey) {
  dev.answers = {{0x04, {0x04}}, {0x05, {0x05}}, {0x0A, {0x0A}}};
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
  const auto r = dev.Requests();
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
  dev.answers = {{0x15, {0x15, 7, 39}}};
  bool ok = false;
  Run([](auto& x) { return maintenance::QueryVersions(x); }, &ok);
  EXPECT_TRUE(ok);
}

TEST_F(Session, AbortInThePasswordPhaseSaysSo) {
  session.Shared().timeDivisor = 1;
  dev.answers = {{0x01, {0x01}}};
  std::string error;
  ASSERT_TRUE(session.Start(3, "вход", [](auto& x) { return maintenance::CheckLogin(x, "u", "p"); },
                            &error));
  // Wait until the password is on its way.
  for (int k = 0; k < 200 && dev.Requests().size() < 2; ++k) std::this_thread::sleep_for(5ms);
  session.Abort();
  session.Wait();
  Lines log;
  for (const Event& e : session.Events().Drain(0))
    if (e.kind == Event::Kind::kLog) log.push_back(e.text);
  EXPECT_EQ(log, Lines{"Выполнение прервано"});
}

}  // namespace
