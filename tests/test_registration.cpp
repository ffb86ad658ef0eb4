// Registration of devices: new numbers, the same device again, one-number mode,
// substitution and the second-device mark, malformed telegrams, a full table
// and the console's check of a number.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "armlink/arm_queue.h"
#include "device_link_fixture.h"

namespace {

using namespace dltest;
using devlink::PStrView;

constexpr ConsoleNumber kNum{1, 0, 4};

class RegistrationTest : public LinkFixture {
 protected:
  RegistrationTest() { settings.GlRegOn = true; }

  // The registration answer as the device opens it; none when nothing was sent.
  std::optional<Bytes> Answer(Device& d) {
    if (sent.size() != 1) return std::nullopt;
    return d.Open(sent[0].bytes);
  }

  int InUseWithNumber(ConsoleNumber n) {
    int count = 0;
    for (size_t i = 0; i < link.table.Size(); ++i)
      if (Rec(i).inUse && devlink::NumberOf(Rec(i)) == n) ++count;
    return count;
  }

  // Registers a device as new and returns it with its index set.
  Device Register(const RegInput& in, const std::string& addr, uint16_t port, uint8_t iface = 0) {
    Device d;
    sent.clear();
    Feed(Registration(in, d), addr, port, iface);
    const auto a = Answer(d);
    EXPECT_TRUE(a);
    if (a) d.index = uint16_t((*a)[8] << 8 | (*a)[9]);
    sent.clear();
    Messages();
    refreshed.clear();
    return d;
  }
};

TEST_F(RegistrationTest, NewDeviceTakesTheFirstFreeRecord) {
  AddDevice(0, {1, 0, 1});
  AddDevice(1, {1, 0, 2});
  AddDevice(3, {1, 0, 3});
  // Interface management counts the contact on the interface it came from.
  settings.GlMetricActive = true;
  const uint8_t contact[3] = {5, 5, 5}, unanswered[3] = {2, 255, 2};
  std::memcpy(Rec(2).contactCount, contact, 3);
  std::memcpy(Rec(2).unansweredCount, unanswered, 3);
  Device d;
  RegInput in;
  in.n = kNum;
  Feed(Registration(in, d), "10.0.0.7", 4100, 1);

  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].addr, "10.0.0.7");
  EXPECT_EQ(sent[0].port, 4100);
  EXPECT_EQ(sent[0].iface, 1);
  const auto answer = d.Open(sent[0].bytes);
  ASSERT_TRUE(answer);
  EXPECT_EQ(*answer, WithCheck({0xEA, 9, 0x55, 7, 1, 0, 4, 0x31, 0, 2, 0}));

  const ClientRecord& r = Rec(2);
  EXPECT_EQ(r.inUse, 1);
  EXPECT_EQ(r.updateMark, 0);
  EXPECT_EQ(r.linkState, 2);
  EXPECT_TRUE(devlink::NumberOf(r) == kNum);
  EXPECT_EQ(PStrView(r.peerAddr), "10.0.0.7");
  EXPECT_EQ(devlink::PeerPort(r), 4100);
  EXPECT_EQ(r.iface, 1);
  EXPECT_EQ(r.identity[0], 0xA1);
  EXPECT_EQ(r.identity[1], 0xB2);
  EXPECT_EQ(0, std::memcmp(r.keyMaterial, d.km.data(), 10));
  EXPECT_EQ(Bytes(r.contactCount, r.contactCount + 3), (Bytes{0, 6, 0}));
  EXPECT_EQ(Bytes(r.unansweredCount, r.unansweredCount + 3), (Bytes{2, 255, 2}));
  EXPECT_EQ(refreshed, std::vector<uint16_t>{2});
  EXPECT_EQ(Messages(),
            std::vector<std::string>{" РЕГИСТРАЦИЯ! IP=10.0.0.7 Port=4100 Пульт.N=1/0/4"});
  EXPECT_EQ(link.table.Size(), 20u);

  // The device goes on with the index and chaining of the answer.
  d.index = 2;
  sent.clear();
  Feed(d.Wrap(d.Heartbeat(5)), "10.0.0.7", 4100, 1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(d.Open(sent[0].bytes));
  EXPECT_EQ(Rec(2).linkState, 3);
  EXPECT_EQ(Bytes(r.unansweredCount, r.unansweredCount + 3), (Bytes{2, 0, 2}));
}

// The registration line is a message: "Стоп" above the message window hides it.
TEST_F(RegistrationTest, RegistrationLineFollowsTheMessageStop) {
  settings.GlMsgStop = true;
  Device d;
  RegInput in;
  in.n = kNum;
  Feed(Registration(in, d), "10.0.0.7", 4100, 1);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Rec(0).inUse, 1);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(RegistrationTest, SameDeviceAgainKeepsItsRecord) {
  struct Case {
    uint8_t code;
    bool regOn;
    uint16_t port;
    uint8_t countAfter;
    const char* message;  // empty: none
  };
  const Case cases[] = {
      {0x87, true, 4100, 7, ""},
      {7, true, 4100, 0, ""},
      {7, true, 4200, 0, ""},  // moved to another port
      {0x87, false, 4300, 7, " Иниц. IP=10.0.0.7 Port=4300 Пульт.N=1/0/4"},
  };
  RegInput in;
  in.n = kNum;
  Register(in, "10.0.0.7", 4100);
  uint8_t seedByte = 0x50;
  for (const Case& c : cases) {
    settings.GlRegOn = c.regOn;
    settings.GlOtladka = !c.regOn;  // the message shows in debug mode
    Rec(0).linkFailCount = 7;
    in.code = c.code;
    in.seed[0] = seedByte++;  // a new key each time
    in.seq = seedByte;
    Device d;
    Feed(Registration(in, d), "10.0.0.7", c.port, 2);
    const auto answer = Answer(d);
    ASSERT_TRUE(answer) << int(c.code) << " " << c.port;
    EXPECT_EQ(*answer, WithCheck({0xEA, 9, 0x55, 7, 1, 0, 4, seedByte, 0, 0, 0}));
    EXPECT_EQ(sent[0].port, c.port);
    const ClientRecord& r = Rec(0);
    EXPECT_EQ(r.linkFailCount, c.countAfter) << int(c.code);
    EXPECT_EQ(devlink::PeerPort(r), c.port);
    EXPECT_EQ(0, std::memcmp(r.keyMaterial, d.km.data(), 10));
    EXPECT_EQ(r.updateMark, 0);
    EXPECT_EQ(Rec(1).inUse, 0);  // the scratch record stays free
    EXPECT_EQ(Rec(1).updateMark, 0);
    EXPECT_EQ(InUseWithNumber(kNum), 1);
    const std::vector<std::string> expected =
        *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{};
    EXPECT_EQ(Messages(), expected) << int(c.code) << " " << c.port;
    // The new key is in use at once.
    d.index = 0;
    sent.clear();
    Feed(d.Wrap(d.Heartbeat(seedByte)), "10.0.0.7", c.port, 2);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(d.Open(sent[0].bytes));
    sent.clear();
    Messages();  // the heartbeat's own address tracking
  }
}

TEST_F(RegistrationTest, OneNumberMode) {
  settings.GlRegOne = true;
  settings.GlRegNPult.Store({1, 0, 5});
  RegInput in;
  in.n = {1, 0, 4};
  Device d4;
  Feed(Registration(in, d4), "10.0.0.7", 4100);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(InUseWithNumber({1, 0, 4}), 0);
  EXPECT_TRUE(settings.GlRegOn);
  EXPECT_FALSE(settings.GlSaveRequest);

  in.n = {1, 0, 5};
  Device d5;
  Feed(Registration(in, d5), "10.0.0.8", 4100);
  const auto answer = Answer(d5);
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)[9], 0);
  EXPECT_EQ(InUseWithNumber({1, 0, 5}), 1);
  EXPECT_FALSE(settings.GlRegOn);
  EXPECT_TRUE(settings.GlSaveRequest);
  EXPECT_EQ(Messages(),
            std::vector<std::string>{" РЕГИСТРАЦИЯ! IP=10.0.0.8 Port=4100 Пульт.N=1/0/5"});
}

TEST_F(RegistrationTest, SubstitutionAfter26AttemptsOfAnotherIdentity) {
  for (bool autoPodmena : {false, true}) {
    SCOPED_TRACE(autoPodmena ? "auto" : "manual");
    std::memset(link.table.Data(), 0, link.table.Size() * sizeof(ClientRecord));
    settings.GlRegOn = true;
    settings.GlAutoPodmena = autoPodmena;
    RegInput first;
    first.n = kNum;
    Device d1 = Register(first, "10.0.0.7", 4100);
    ASSERT_EQ(d1.index, 0);
    settings.GlRegOn = false;

    RegInput second = first;
    second.identity = {0xC3, 0xD4};
    second.dev = {9, 9, 9, 9, 9, 9};
    Device d2;
    for (int k = 1; k <= 26; ++k) {
      Feed(Registration(second, d2), "10.0.0.8", 4300);
      ASSERT_TRUE(sent.empty()) << k;
    }
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Rec(0).substCount, 26);

    Feed(Registration(second, d2), "10.0.0.8", 4300);
    EXPECT_EQ(Messages(), std::vector<std::string>{
                              " ПОДМЕНА! или двойные пульт. номера Пульт.N=1/0/4 In[0]=c3 "
                              "In[1]=d4 Str[0]=a1 Str[1]=b2"});
    uint8_t frame[128];
    ASSERT_FALSE(armlink::GetForArm(Rec(0), frame));
    EXPECT_EQ(Bytes(frame, frame + 10), WithCheck({0xFE, 8, 3, 1, 0, 4, 0, 0, 0x10, 0}));
    EXPECT_TRUE(armlink::GetForArm(Rec(0), frame));
    EXPECT_EQ(InUseWithNumber(kNum), 1);

    if (autoPodmena) {
      // The newcomer takes over record 0 on this very attempt.
      const auto answer = Answer(d2);
      ASSERT_TRUE(answer);
      EXPECT_EQ((*answer)[8], 0);
      EXPECT_EQ((*answer)[9], 0);
      EXPECT_EQ(Rec(0).identity[0], 0xC3);
      EXPECT_EQ(0, std::memcmp(Rec(0).keyMaterial, d2.km.data(), 10));
      EXPECT_EQ(Rec(0).substPermit, 0);
      sent.clear();
      d2.index = 0;
      Feed(d2.Wrap(d2.Heartbeat(1)), "10.0.0.8", 4300);
      ASSERT_EQ(sent.size(), 1u);
      EXPECT_TRUE(d2.Open(sent[0].bytes));
      EXPECT_EQ(PStrView(Rec(0).peerAddr), "10.0.0.8");
    } else {
      EXPECT_TRUE(sent.empty());
      EXPECT_EQ(Rec(0).identity[0], 0xA1);
      // The next round reports again but tells the workstation nothing new.
      for (int k = 1; k <= 27; ++k) Feed(Registration(second, d2), "10.0.0.8", 4300);
      EXPECT_TRUE(sent.empty());
      EXPECT_EQ(Messages().size(), 1u);
      EXPECT_TRUE(armlink::GetForArm(Rec(0), frame));
    }
    sent.clear();
  }
}

TEST_F(RegistrationTest, SubstitutionNoticeWithAFullQueue) {
  settings.GlAutoPodmena = false;
  AddDevice(0, kNum);
  ClientRecord& m = Rec(0);
  m.identity[0] = 0xA1, m.identity[1] = 0xB2;
  m.substCount = 26;
  m.armFull = 1;
  RegInput second;
  second.n = kNum;
  second.identity = {0xC3, 0xD4};
  Device d;
  Feed(Registration(second, d), "10.0.0.8", 4300);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(Messages(), (std::vector<std::string>{
                            " ПОДМЕНА! или двойные пульт. номера Пульт.N=1/0/4 In[0]=c3 In[1]=d4 "
                            "Str[0]=a1 Str[1]=b2",
                            "Переполнение Буфера, нет связи с АРМ(ом)!",
                            "Ош.Буфер COM полон \"Подмена не передана\""}));
  EXPECT_EQ(m.notifiedIdentity[0], 0xA1);
  EXPECT_EQ(m.notifiedIdentity[1], 0xB2);
}

TEST_F(RegistrationTest, SecondDeviceMarkWhileBothAreAlive) {
  settings.GlAutoPodmena = false;
  RegInput first;
  first.n = kNum;
  Device d1 = Register(first, "10.0.0.7", 4100);
  settings.GlRegOn = false;
  RegInput second = first;
  second.identity = {0xC3, 0xD4};
  Device d2;
  uint8_t hbSeq = 1;
  auto attemptAndHeartbeat = [&] {
    Feed(Registration(second, d2), "10.0.0.8", 4300);
    Feed(d1.Wrap(d1.Heartbeat(hbSeq++)), "10.0.0.7", 4100);
    ASSERT_EQ(sent.size(), 1u);  // only the heartbeat is answered
    ASSERT_TRUE(d1.Open(sent[0].bytes));
    sent.clear();
  };
  for (int k = 1; k <= 9; ++k) attemptAndHeartbeat();
  EXPECT_EQ(Rec(0).secondDevice, 0);
  attemptAndHeartbeat();  // the tenth: more than 8 attempts, few substitution counts
  EXPECT_EQ(Rec(0).secondDevice, 1);
  EXPECT_TRUE(Messages().empty());
  for (int k = 11; k <= 18; ++k) attemptAndHeartbeat();
  EXPECT_TRUE(Messages().empty());
  attemptAndHeartbeat();
  EXPECT_EQ(Messages(),
            std::vector<std::string>{" Второй прибор на одном номере! Пульт.N=1/0/4"});
  EXPECT_EQ(Rec(0).identity[0], 0xA1);
}

TEST_F(RegistrationTest, MalformedTelegramsAreNotAnswered) {
  struct Case { const char* name; Bytes test; bool damageOuter; int cut; };
  const Case cases[] = {
      {"test telegram without marker", WithCheck({0xE9, 5, 0x56, 4, 1, 2, 0}), false, 0},
      {"test telegram of another code", WithCheck({0xE9, 5, 0x55, 5, 1, 2, 0}), false, 0},
      {"test telegram of another type", WithCheck({0xEA, 5, 0x55, 4, 1, 2, 0}), false, 0},
      {"test telegram longer than its field",
       WithCheck({0xE9, 9, 0x55, 4, 1, 2, 3, 4, 5, 6, 0}), false, 0},
      {"test telegram damaged", TestTelegram(1, 2), true, 0},
      {"registration with L = 26", TestTelegram(1, 2), false, 1},
  };
  AddDevice(0, {1, 0, 1});
  for (const Case& c : cases) {
    RegInput in;
    in.n = kNum;
    Device d;
    Bytes t = Registration(in, d, c.test);
    if (c.damageOuter) {
      t[20] ^= 0x40;
      t.back() = devlink::Crc8Bytes(t.data(), t.size() - 1);
    }
    if (c.cut) {
      t.resize(t.size() - 1);
      t[1] = uint8_t(t[1] - c.cut);
      t = WithCheck(t);
    }
    Feed(t, "10.0.0.7", 4100);
    EXPECT_TRUE(sent.empty()) << c.name;
    EXPECT_EQ(Rec(1).inUse, 0) << c.name;
    EXPECT_EQ(Rec(1).updateMark, 0) << c.name;
    EXPECT_EQ(InUseWithNumber(kNum), 0) << c.name;
    EXPECT_TRUE(Messages().empty()) << c.name;
    EXPECT_TRUE(refreshed.empty()) << c.name;
  }
  // A registration telegram that lost its last byte on the way.
  RegInput in;
  in.n = kNum;
  Device d;
  Bytes t = Registration(in, d);
  t.pop_back();
  Feed(t, "10.0.0.7", 4100);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(InUseWithNumber(kNum), 0);
}

TEST_F(RegistrationTest, FullTableDropsTheRegistration) {
  link.table.Resize(devlink::ClientTable::kMaxRecords);
  for (size_t i = 0; i < link.table.Size(); ++i) Rec(i).inUse = 1;
  RegInput in;
  in.n = kNum;
  Device d;
  Feed(Registration(in, d), "10.0.0.7", 4100);
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(link.table.Size(), devlink::ClientTable::kMaxRecords);
  EXPECT_TRUE(Messages().empty());
  EXPECT_TRUE(refreshed.empty());
}

TEST_F(RegistrationTest, CheckOneNumber) {
  AddDevice(5, {1, 0, 5});
  Rec(6).n1 = 1, Rec(6).n3 = 6;  // a free record with the other number
  struct Case { ConsoleNumber n; const char* message; };
  const Case cases[] = {
      {{1, 0, 5}, " ВНИМАНИЕ! Прибор с таким номером  уже есть.N=1/0/5"},
      {{1, 0, 6}, ""},
  };
  for (const Case& c : cases) {
    settings.GlRegNPult.Store(c.n);
    settings.GlRegOneStart = true;
    EXPECT_TRUE(worker->RunOnce());
    EXPECT_FALSE(settings.GlRegOneStart);
    const std::vector<std::string> expected =
        *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{};
    EXPECT_EQ(Messages(), expected);
  }
}

}  // namespace
