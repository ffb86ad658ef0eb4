// The main controller's firmware update against a scripted loader behind a
// fake endpoint, its answers through the real device worker and hand-off:
// what goes to the loader and where, the tries of the erase and of each
// packet, answers that are lost, wrong or stale, the file and chip checks
// that keep everything from being sent, and the abort.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "maintenance/intel_hex.h"
#include "maintenance/actions.h"
#include "maintenance/session.h"
#include "tests/device_link_fixture.h"

namespace {

using namespace std::chrono_literals;
using namespace dltest;
using maintenance::Event;
using Lines = std::vector<std::string>;

// One Intel HEX record with its checksum, digits in upper case.
std::string Record(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
  return maintenance::HexRecordText(address, type, data);
}

// Data line `i` of the test firmware: 16 bytes, 43 characters.
std::string DataLine(int i) {
  Bytes data(16);
  for (int k = 0; k < 16; ++k) data[size_t(k)] = uint8_t(i * 31 + k * 7);
  return Record(uint16_t(i * 16), 0x00, data);
}

// An extended address, `lines` data lines and the end record. The first
// packet holds the address and eleven data lines (488 characters), the next
// ones eleven data lines each.
std::string Firmware(int lines) {
  std::string f = ":020000040000FA\r\n";
  for (int i = 0; i < lines; ++i) f += DataLine(i) + "\r\n";
  return f + ":00000001FF\r\n";
}

uint8_t LastSum(const std::string& line) {
  return uint8_t(std::stoi(line.substr(line.size() - 2), nullptr, 16));
}

Bytes Answer(Bytes codeAndData) {
  Bytes a = {0xEF, uint8_t(codeAndData.size() + 2), 0x55};
  a.insert(a.end(), codeAndData.begin(), codeAndData.end());
  a.push_back(0);
  return WithCheck(a);
}

bool IsPacket(const Bytes& b) { return !b.empty() && b[0] == ':'; }
bool IsCode(const Bytes& b, uint8_t code) { return b.size() > 3 && b[0] != ':' && b[3] == code; }

// A device that answers the login and the version query, and whose main
// controller's loader answers the jump, the erase and the packets as its
// script says, synchronously inside the send, as a fast device on loopback.
class ScriptedLoader final : public testsupport::StubEndpoint {
 public:
  struct Received {
    std::string addr;
    uint16_t port;
    Bytes bytes;
  };
  // The version answer's chip kind; silent when false.
  bool answersVersions = true;
  uint8_t chip = 0;
  int eraseSilent = 0;  // erase requests left unanswered first
  using PacketAnswers = std::function<std::vector<Bytes>(size_t k, uint8_t sum)>;
  std::function<void(const Bytes&)> deliver;

  bool SendTo(std::string_view addr, uint16_t port, const uint8_t* data, size_t n) override {
    const Bytes b(data, data + n);
    std::lock_guard<std::mutex> g(m_);
    received_.push_back({std::string(addr), port, b});
    for (const Bytes& a : AnswersTo(b, IsPacket(b) ? packets_++ : 0)) deliver(a);
    return true;
  }

  std::vector<Received> All() {
    std::lock_guard<std::mutex> g(m_);
    return received_;
  }
  std::vector<Bytes> Sent() {
    std::vector<Bytes> out;
    for (const auto& r : All()) out.push_back(r.bytes);
    return out;
  }

  // The answers to the packet received `k`-th from now on (from 0, repeats
  // counted), given the checksum of its last line; by default that
  // checksum, taken.
  void Script(PacketAnswers answers) {
    std::lock_guard<std::mutex> g(m_);
    packetAnswers_ = std::move(answers);
    packets_ = 0;
  }

  static Bytes Taken(uint8_t sum) { return Answer({0x13, 0x00, sum}); }

 private:
  std::vector<Bytes> AnswersTo(const Bytes& b, size_t packet) {
    if (IsPacket(b)) {
      const uint8_t sum = uint8_t(HexValue(b[b.size() - 2]) * 16 + HexValue(b.back()));
      return packetAnswers_ ? packetAnswers_(packet, sum) : std::vector<Bytes>{Taken(sum)};
    }
    if (b.size() < 4) return {};
    switch (b[3]) {
      case 0x01: return {Answer({0x01})};
      case 0x02: return {Answer({0x02})};
      case 0x15:
        if (!answersVersions) return {};
        return {Answer({0x15, 2, 4, 10, 39, 0, chip})};
      case 0x13:
        if (eraseSilent > 0) {
          --eraseSilent;
          return {};
        }
        return {Answer({0x12})};
      default: return {};  // the jump is not answered
    }
  }
  static int HexValue(uint8_t c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

  std::mutex m_;
  PacketAnswers packetAnswers_;
  std::vector<Received> received_;
  size_t packets_ = 0;
};

class MainUpdate : public LinkFixture {
 protected:
  ScriptedLoader loader;
  // Recorded on interface 1, port 4002: the loader's packets must go there.
  Device device = AddDevice(3, {1, 0, 5}, "10.0.0.5", 4002, 1);
  maintenance::Maintenance session{link};

  MainUpdate() {
    sender.SetEndpoint(1, &loader);
    loader.deliver = [this](const Bytes& a) {
      ring->Receive(1, a.data(), a.size(), "10.0.0.5", 4002);
    };
    // A target left over from elsewhere, which the update must not use.
    devlink::SetPStr(link.handoff.GlTargetHost, "10.9.9.9");
    link.handoff.GlTargetPort = 69;
    // Waits of 10 s last 10 ms.
    session.Shared().timeDivisor = 1000;
    worker->Start();
  }
  ~MainUpdate() override {
    session.Abort();
    session.Wait();
    worker->Stop();
  }

  void Start(const std::string& name, const std::optional<std::string>& file) {
    std::string error;
    ASSERT_TRUE(session.Start(3, "обновление",
                              maintenance::UpdateMainJob({"user", "pass"}, name, file), &error))
        << error;
  }

  // The log lines of the job started, until its end; its result in `ok`.
  Lines Finish(bool* ok = nullptr, std::vector<Event>* all = nullptr) {
    Lines log;
    for (auto end = std::chrono::steady_clock::now() + 20s; std::chrono::steady_clock::now() < end;) {
      for (const Event& e : session.Events().Drain(50)) {
        if (all) all->push_back(e);
        if (e.kind == Event::Kind::kLog) log.push_back(e.text);
        if (e.kind == Event::Kind::kFinished) {
          if (ok) *ok = e.ok;
          return log;
        }
      }
    }
    ADD_FAILURE() << "the update did not end";
    return log;
  }

  Lines Run(const std::string& name, const std::optional<std::string>& file, bool* ok = nullptr,
            std::vector<Event>* all = nullptr) {
    Start(name, file);
    return Finish(ok, all);
  }

  // Waits until the loader has received something that `pred` picks.
  bool AwaitSent(const std::function<bool(const Bytes&)>& pred) {
    for (int k = 0; k < 400; ++k) {
      for (const Bytes& b : loader.Sent())
        if (pred(b)) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
  }
};

const std::string kVersions = "N-версии 87J60->2.10; 4620->4.39";
const Lines kStart = {kVersions, "Команда-\"Перейти в загрузчик 4620/67k22\".", "Команда-\"Очистить\".",
                      "Очистка-OK.", "Программирование."};

Lines Then(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(MainUpdate, SendsTheFileInPacketsToTheDevicesRecordedTarget) {
  // Lower-case digits are read right and go out in upper case.
  std::string file = Firmware(25);
  for (char& c : file)
    if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
  bool ok = false;
  std::vector<Event> events;
  EXPECT_EQ(Run("/srv/fw/main_4620.hex", file, &ok, &events),
            Then(kStart, {"Обновление успешно завершено."}));
  EXPECT_TRUE(ok);

  const auto got = loader.All();
  // User name, password, versions, jump, erase, three packets.
  ASSERT_EQ(got.size(), 8u);
  for (const auto& r : got) {
    EXPECT_EQ(r.addr, "10.0.0.5");
    EXPECT_EQ(r.port, 4002);
  }
  EXPECT_TRUE(sent.empty()) << "nothing goes out on another interface";
  EXPECT_EQ(got[3].bytes, (Bytes{0xFE, 0x06, 0x01, 0x7F, 0x00, 0x00, 0xD9, 0xBD}));
  EXPECT_EQ(got[4].bytes, (Bytes{0xFE, 0x03, 0x55, 0x13, 0x77}));
  std::string packets, lines;
  for (size_t k = 5; k < got.size(); ++k) {
    EXPECT_LE(got[k].bytes.size(), 511u);
    packets += std::string(got[k].bytes.begin(), got[k].bytes.end());
  }
  for (const char c : Firmware(25))
    if (c != '\r' && c != '\n') lines += c;
  EXPECT_EQ(packets, lines);
  EXPECT_EQ(got[5].bytes.size(), 15u + 11 * 43);

  // The operation progress ends at the file's size.
  int last = -1, max = -1;
  for (const Event& e : events)
    if (e.kind == Event::Kind::kOperation) max = e.max, last = e.pos;
  EXPECT_EQ(max, int(file.size()));
  EXPECT_EQ(last, int(file.size()));
}

// What the loader does wrong, and what the update makes of it.
TEST_F(MainUpdate, LoaderFaults) {
  using Answers = ScriptedLoader::PacketAnswers;
  struct Case {
    const char* name;
    int eraseSilent;
    Answers answers;
    Lines log;
    bool ok;
  };
  // The last lines of the first and the second packet.
  const uint8_t firstSum = LastSum(DataLine(10));
  ASSERT_NE(firstSum, LastSum(DataLine(21)));
  const auto second = [](size_t k, std::vector<Bytes> wrong) -> Answers {
    return [k, wrong](size_t n, uint8_t sum) {
      return n == k ? wrong : std::vector<Bytes>{ScriptedLoader::Taken(sum)};
    };
  };
  const Lines jumpErase = {"Команда-\"Перейти в загрузчик 4620/67k22\".", "Команда-\"Очистить\"."};
  Lines eraseThrice, eraseNever;
  for (int t = 1; t <= 4; ++t) {
    const Lines tryLines = Then(
        jumpErase, {"Обновление 4620/67k22 запрещено или нет ответа от прибора N-" + std::to_string(t)});
    if (t < 4) eraseThrice = Then(eraseThrice, tryLines);
    eraseNever = Then(eraseNever, tryLines);
  }
  Lines neverTaken;
  for (int i = 0; i < 7; ++i) {
    if (i > 0) neverTaken.push_back("Повтор пакета N-0");
    neverTaken.push_back("Не сошлась контрольная сумма в пакете N-0");
  }
  const Case cases[] = {
      {"EraseAnsweredOnTheFourthTry", 3, nullptr,
       Then(Then(Then({kVersions}, eraseThrice), jumpErase),
            {"Очистка-OK.", "Программирование.", "Обновление успешно завершено."}),
       true},
      {"EraseNeverAnswered", 4, nullptr,
       Then(Then({kVersions}, eraseNever), {"Попытки соединения прерваны"}), false},
      {"AnAnswerLost", 0, second(1, {}),
       Then(kStart, {"Повтор пакета N-1", "Обновление успешно завершено."}), true},
      {"AWrongChecksum", 0, second(1, {ScriptedLoader::Taken(0x00)}),
       Then(kStart, {"Не сошлась контрольная сумма в пакете N-1", "Повтор пакета N-1",
                     "Обновление успешно завершено."}),
       true},
      {"ALineRefusedByTheLoader", 0, second(1, {Answer({0x13, 0x01, 0x00})}),
       Then(kStart, {"Не сошлась контрольная сумма в пакете N-1", "Повтор пакета N-1",
                     "Обновление успешно завершено."}),
       true},
      // The first packet's answer comes again, late, while the second waits.
      {"ALateDuplicate", 0, second(1, {ScriptedLoader::Taken(firstSum)}),
       Then(kStart, {"Не сошлась контрольная сумма в пакете N-1", "Повтор пакета N-1",
                     "Обновление успешно завершено."}),
       true},
      {"NeverTaken", 0, [](size_t, uint8_t) { return std::vector<Bytes>{ScriptedLoader::Taken(0)}; },
       Then(Then(kStart, neverTaken), {"Неудачное завершение Обновления 4620/67k22."}), false},
      {"Silent", 0, [](size_t, uint8_t) { return std::vector<Bytes>{}; },
       Then(kStart, {"Повтор пакета N-0", "Повтор пакета N-0", "Повтор пакета N-0",
                     "Повтор пакета N-0", "Повтор пакета N-0", "Повтор пакета N-0",
                     "Неудачное завершение Обновления 4620/67k22."}),
       false},
  };
  const std::string file = Firmware(25);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    loader.eraseSilent = c.eraseSilent;
    loader.Script(c.answers);
    const size_t before = loader.Sent().size();
    bool ok = !c.ok;
    EXPECT_EQ(Run("main_4620.hex", file, &ok), c.log);
    EXPECT_EQ(ok, c.ok);
    const auto sentNow = loader.Sent();
    size_t packets = 0;
    for (size_t k = before; k < sentNow.size(); ++k) packets += IsPacket(sentNow[k]);
    if (c.eraseSilent == 4) {
      EXPECT_EQ(packets, 0u) << "nothing programmed unerased";
    }
  }
}

// A file that is not sound, or not for this device's chip, sends nothing to
// the loader; a bad file sends nothing at all, not even the login.
TEST_F(MainUpdate, RefusedBeforeTheLoaderHearsAnything) {
  struct Case {
    const char* name;
    std::string fileName;
    std::optional<std::string> file;  // nothing: it could not be read
    uint8_t chip;
    bool answersVersions;
    Lines log;
    size_t sent;  // requests that went out
  };
  const std::string good = Firmware(3);
  const Case cases[] = {
      {"MissingFile", "/fw/main_4620.hex", std::nullopt, 0, true,
       {"Загрузочный файл 4620/67k22-> (/fw/main_4620.hex) не найден. Уточните путь к файлу."}, 0},
      {"EmptyFile", "main_4620.hex", "", 0, true,
       {"Ош.Не верный формат HEX файла.", "Строка 1: файл пуст.",
        "Неудачное завершение Обновления 4620/67k22."},
       0},
      {"LfOnly", "main_4620.hex", ":020000040000FA\n:00000001FF\n", 0, true,
       {"Ош.Не верный формат HEX файла.", "Строка 1: строка кончается на LF без CR.",
        "Неудачное завершение Обновления 4620/67k22."},
       0},
      {"BadLastChecksum", "main_4620.hex", good.substr(0, good.size() - 13) + ":00000001FE\r\n", 0,
       true,
       {"Ош.Не верный формат HEX файла.", "Строка 5: неверная контрольная сумма FE, должна быть FF.",
        "Неудачное завершение Обновления 4620/67k22."},
       0},
      {"NoVersionAnswer", "main_4620.hex", good, 0, false,
       {"Нет ответа на запрос N-версии.", "Нет ответа на запрос N-версии.",
        "Нет ответа на запрос N-версии.", "Обрыв связи с прибором",
        "Процедура прервана, попробуйте вновь."},
       5},
      {"UnknownChip", "main_4620.hex", good, 3, true,
       {"N-версии 87J60->2.10; Ош1", "Неизвестный тип микросхемы прибора (3). Обновление запрещено."},
       3},
      {"A67k22DeviceAndA4620File", "/home/op/fw/main_4620.hex", good, 1, true,
       {"N-версии 87J60->2.10; 67k22->4.39",
        "Файл -> (/home/op/fw/main_4620.hex) не корректен(не 67k22). Ошибочный файл."},
       3},
      {"A4620DeviceAndA46k22File", "main_46k22.hex", good, 0, true,
       {"N-версии 87J60->2.10; 4620->4.39",
        "Файл -> (main_46k22.hex) не корректен(не 4620). Ошибочный файл."},
       3},
      {"NoChipInTheName", "main.hex", good, 2, true,
       {"N-версии 87J60->2.10; 46k22->4.39", "Файл -> (main.hex) не корректен. Ошибочный файл."},
       3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    loader.chip = c.chip;
    loader.answersVersions = c.answersVersions;
    const size_t before = loader.Sent().size();
    bool ok = true;
    EXPECT_EQ(Run(c.fileName, c.file, &ok), c.log);
    EXPECT_FALSE(ok);
    EXPECT_EQ(loader.Sent().size() - before, c.sent);
    const auto sentNow = loader.Sent();
    for (size_t k = before; k < sentNow.size(); ++k)
      EXPECT_FALSE(IsCode(sentNow[k], 0x7F) || IsCode(sentNow[k], 0x13) || IsPacket(sentNow[k]));
  }
}

// A 46k22 takes a file named for any of the three chips.
TEST_F(MainUpdate, A46k22DeviceTakesAFileOfAnyChip) {
  loader.chip = 2;
  for (const char* name : {"a_4620.hex", "a_67k22.hex", "a_46k22.hex"}) {
    bool ok = false;
    const Lines log = Run(name, Firmware(2), &ok);
    EXPECT_TRUE(ok) << name;
    EXPECT_EQ(log.back(), "Обновление успешно завершено.") << name;
  }
}

// "Прервать" ends the update at its next wait; an abort during the pause
// after the jump lets no erase go out.
TEST_F(MainUpdate, AnAbortEndsTheUpdate) {
  struct Case {
    const char* name;
    std::function<bool(const Bytes&)> abortAfter;
    Lines tail;
    bool erased;
  };
  const Case cases[] = {
      {"DuringThePauseAfterTheJump", [](const Bytes& b) { return IsCode(b, 0x7F); },
       {"Команда-\"Перейти в загрузчик 4620/67k22\".", "Попытки соединения прерваны"}, false},
      {"WhileAPacketWaits", IsPacket, {"Программирование.", "Неудачное завершение Обновления 4620/67k22."},
       true},
  };
  session.Shared().timeDivisor = 1;  // the full waits: only the abort ends them
  loader.Script([](size_t, uint8_t) { return std::vector<Bytes>{}; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = loader.Sent().size();
    Start("main_4620.hex", Firmware(25));
    ASSERT_TRUE(AwaitSent(c.abortAfter));
    const auto t0 = std::chrono::steady_clock::now();
    session.Abort();
    bool ok = true;
    const Lines log = Finish(&ok);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_FALSE(ok);
    ASSERT_GE(log.size(), c.tail.size());
    EXPECT_EQ(Lines(log.end() - long(c.tail.size()), log.end()), c.tail);
    const auto sentNow = loader.Sent();
    bool erased = false;
    for (size_t k = before; k < sentNow.size(); ++k) erased = erased || IsCode(sentNow[k], 0x13);
    EXPECT_EQ(erased, c.erased);
  }
}

}  // namespace
