// The object-device simulator: its telegram codec against the shared cipher as
// the server uses it, its registry files, and its engine over loopback UDP
// against a small fake server.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <ostream>

#include "devlink/client_record.h"
#include "devlink/crc8.h"
#include "devlink/telegram_cipher.h"
#include "tools/devsim/cli.h"
#include "tools/devsim/device_codec.h"
#include "tools/devsim/population.h"
#include "tools/devsim/registry_file.h"
#include "tools/devsim/simulator.h"

namespace {

using devlink::Key10;
using devlink::Rc6w8r8b10;
using devsim::Answer;
using devsim::AnswerKind;
using devsim::ConsoleNumber;
using devsim::DeviceCipher;

// ---- the server's side, written with the shared cipher only ----

Rc6w8r8b10 ServerCipher(const Key10& km, ConsoleNumber n) {
  const Key10 eff = devlink::EffectiveKey(km.data(), n.n1, n.n2, n.n3);
  Rc6w8r8b10 c;
  c.Setup(eff.data());
  return c;
}

// Encrypts a plain telegram as the server sends it; returns the bytes to send.
std::vector<uint8_t> ServerEncrypt(const Key10& km, ConsoleNumber n, uint32_t& transm,
                                   std::vector<uint8_t> plain) {
  plain.resize(128, 0);
  devlink::SetCheckByte(plain.data());
  uint8_t iv[4];
  devlink::PutU32(iv, transm++);
  devlink::CbcEncrypt(ServerCipher(km, n), plain.data(), iv);
  plain.resize(devlink::EncryptedSize(plain[1]));
  return plain;
}

std::vector<uint8_t> Plain(std::vector<uint8_t> t) {
  t.resize(size_t(t[1]) + 2, 0);
  devlink::SetCheckByte(t.data());
  return t;
}

constexpr ConsoleNumber kNum{1, 0, 5};
const Key10 kKm = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA};

DeviceCipher DeviceWith(const Key10& km, ConsoleNumber n, uint32_t send, uint32_t recv) {
  DeviceCipher c;
  devsim::SetKey(c, km, n);
  c.send = send;
  c.recv = recv;
  return c;
}

// ---- codec ----

struct RegCase {
  ConsoleNumber number;
  uint8_t code;
  std::array<uint8_t, 2> identity;
};

// Names the case in test listings.
void PrintTo(const RegCase& c, std::ostream* os) {
  *os << int(c.number.n1) << "/" << int(c.number.n2) << "/" << int(c.number.n3) << " code " << int(c.code);
}

class RegistrationTelegram : public ::testing::TestWithParam<RegCase> {};

TEST_P(RegistrationTelegram, TestTelegramOpensWithTheKeyTheServerDerives) {
  const RegCase rc = GetParam();
  devsim::RegistrationInput in;
  in.number = rc.number;
  in.code = rc.code;
  in.seq = 0x3C;
  in.seed = {0xDE, 0xAD, 0xBE, 0xEF};
  in.devBytes = {1, 2, 3, 4, 5, 6};
  in.identity = rc.identity;
  DeviceCipher dev;
  uint8_t t[128];
  ASSERT_EQ(devsim::BuildRegistration(in, devsim::kDefaultRegKey, dev, t), 29u);

  EXPECT_TRUE(devlink::CheckByteOk(t, 29));
  const std::vector<uint8_t> head(t, t + 18);
  EXPECT_EQ(head, (std::vector<uint8_t>{0xEF, 27, 0x55, rc.code, rc.number.n1, rc.number.n2,
                                        rc.number.n3, 0x3C, 0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6}));

  // What the server does with bytes 8..27.
  const Key10 km = devlink::DeriveKeyMaterial(devlink::RegistrationKey(devsim::kDefaultRegKey, t + 12), t + 8);
  uint32_t w = devlink::GetU32(km.data());
  uint8_t test[128] = {};
  std::memcpy(test, t + 18, 10);
  EXPECT_EQ(test[0], 0xE9);
  EXPECT_EQ(test[1], 5);
  ASSERT_TRUE(devlink::CbcDecryptLookAhead(ServerCipher(km, rc.number), test, w));
  EXPECT_EQ(w, devlink::GetU32(km.data()) + 1) << "the test telegram uses the first chaining value";
  const std::vector<uint8_t> opened(test, test + 6);
  EXPECT_EQ(opened, (std::vector<uint8_t>{0xE9, 5, 0x55, 4, rc.identity[0], rc.identity[1]}));

  EXPECT_EQ(dev.keyMaterial, km);
  EXPECT_EQ(dev.send, devlink::GetU32(km.data()) + 1);
  EXPECT_EQ(dev.recv, devlink::GetU32(km.data()));
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistrationTelegram,
                         ::testing::Values(RegCase{{1, 0, 1}, 0x07, {0x12, 0xAB}},
                                           RegCase{{200, 17, 255}, 0x87, {0x00, 0xFF}}));

TEST(RegistrationTelegram, OtherBaseConstantGivesAKeyTheServerCannotUse) {
  devsim::RegistrationInput in;
  in.number = kNum;
  DeviceCipher dev;
  uint8_t t[128];
  Key10 other = devsim::kDefaultRegKey;
  other[5] ^= 1;
  devsim::BuildRegistration(in, other, dev, t);
  const Key10 km = devlink::DeriveKeyMaterial(devlink::RegistrationKey(devsim::kDefaultRegKey, t + 12), t + 8);
  uint32_t w = devlink::GetU32(km.data());
  uint8_t test[128] = {};
  std::memcpy(test, t + 18, 10);
  EXPECT_FALSE(devlink::CbcDecryptLookAhead(ServerCipher(km, kNum), test, w) && test[0] == 0xE9 &&
               test[3] == 4 && test[2] == 0x55);
}

struct WrapCase {
  const char* name;
  std::vector<uint8_t> inner;  // plain, check byte added by the test
};

// Names the case in test listings.
void PrintTo(const WrapCase& c, std::ostream* os) {
  *os << c.name;
}

class WrapperTelegram : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapperTelegram, CarriesIndexHighFirstAndOpensOnTheServer) {
  const std::vector<uint8_t> inner = Plain(GetParam().inner);
  DeviceCipher dev = DeviceWith(kKm, kNum, 0xFFFFFFFE, 0);
  uint8_t w[128];
  const size_t size = devsim::Wrap(dev, 0x1234, inner.data(), w);
  const size_t innerSize = devlink::EncryptedSize(inner[1]);
  ASSERT_EQ(size, 5 + innerSize);
  EXPECT_EQ(w[0], 0xEA);
  EXPECT_EQ(w[1], 3 + innerSize);
  EXPECT_EQ(w[2], 0x12);
  EXPECT_EQ(w[3], 0x34);
  EXPECT_TRUE(devlink::CheckByteOk(w, size));
  EXPECT_EQ(dev.send, 0xFFFFFFFFu);

  // The server unwraps and decrypts with its receive value.
  uint8_t t[128] = {};
  std::memcpy(t, w + 4, innerSize);
  uint32_t resiv = 0xFFFFFFFE;
  ASSERT_TRUE(devlink::CbcDecryptLookAhead(ServerCipher(kKm, kNum), t, resiv));
  EXPECT_EQ(resiv, 0xFFFFFFFFu);
  EXPECT_EQ(std::vector<uint8_t>(t, t + inner.size()), inner);

  // The next telegram wraps the chaining value around to 0.
  devsim::Wrap(dev, 0x1234, inner.data(), w);
  EXPECT_EQ(dev.send, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WrapperTelegram,
    ::testing::Values(WrapCase{"heartbeat", {0xE9, 7, 0x55, 8, 1, 0, 5, 9}},
                      WrapCase{"event", {0xFE, 9, 3, 1, 0, 5, 0, 4, 0x01, 7}},
                      WrapCase{"longest", [] {
                                 std::vector<uint8_t> t(122, 0x5A);
                                 t[0] = 0xFE;
                                 t[1] = 120;
                                 return t;
                               }()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WrapperTelegram, TooLongInnerIsRefusedWithoutUsingAChainingValue) {
  std::vector<uint8_t> t(123, 0);
  t[0] = 0xFE;
  t[1] = 121;
  DeviceCipher dev = DeviceWith(kKm, kNum, 7, 0);
  uint8_t w[128];
  EXPECT_EQ(devsim::Wrap(dev, 1, t.data(), w), 0u);
  EXPECT_EQ(dev.send, 7u);
}

TEST(BuiltTelegrams, HaveTheLayoutTheServerReads) {
  uint8_t t[128];
  ASSERT_EQ(devsim::BuildHeartbeat(kNum, 0x42, t), 9u);
  EXPECT_EQ(std::vector<uint8_t>(t, t + 8), (std::vector<uint8_t>{0xE9, 7, 0x55, 8, 1, 0, 5, 0x42}));
  EXPECT_TRUE(devlink::CheckByteOk(t, 9));
  ASSERT_EQ(devsim::BuildTimeRequest(kNum, 0x43, t), 9u);
  EXPECT_EQ(std::vector<uint8_t>(t, t + 8), (std::vector<uint8_t>{0xE9, 7, 0x55, 0x80, 1, 0, 5, 0x43}));
  const uint8_t data[] = {0xAA, 0xBB};
  ASSERT_EQ(devsim::BuildEvent(kNum, 0x44, 0x21, data, 2, t), 12u);
  EXPECT_EQ(std::vector<uint8_t>(t, t + 11),
            (std::vector<uint8_t>{0xFE, 10, 3, 1, 0, 5, 0, 0x44, 0x21, 0xAA, 0xBB}));
  EXPECT_TRUE(devlink::CheckByteOk(t, 12));
  ASSERT_EQ(devsim::BuildEcho(kNum, 0x45, 1, 3, t), 13u);
  EXPECT_EQ(std::vector<uint8_t>(t, t + 9), (std::vector<uint8_t>{0xEF, 11, 0x55, 0xBC, 1, 0, 5, 0x45, 1}));
  EXPECT_TRUE(devlink::CheckByteOk(t, 13));
}

struct RequestCase {
  uint8_t command, param;
  std::vector<uint8_t> codeAndData;  // bytes 8 .. L of the answer event
};

// Names the case in test listings.
void PrintTo(const RequestCase& c, std::ostream* os) {
  *os << "command " << int(c.command) << " param " << int(c.param);
}

class RequestAnswer : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestAnswer, IsAnEventWithTheRequestsSequence) {
  const RequestCase rc = GetParam();
  uint8_t t[128];
  const size_t size = devsim::BuildRequestAnswer(kNum, 0x77, rc.command, rc.param, t);
  ASSERT_EQ(size, 8 + rc.codeAndData.size() + 1);
  EXPECT_EQ(t[1], 7 + rc.codeAndData.size());
  EXPECT_EQ(std::vector<uint8_t>(t, t + 8), (std::vector<uint8_t>{0xFE, t[1], 3, 1, 0, 5, 0, 0x77}));
  EXPECT_EQ(std::vector<uint8_t>(t + 8, t + size - 1), rc.codeAndData);
  EXPECT_TRUE(devlink::CheckByteOk(t, size));
}

INSTANTIATE_TEST_SUITE_P(Cases, RequestAnswer,
                         ::testing::Values(RequestCase{0x80, 0, {0x46, 0, 1}},
                                           RequestCase{0x7F, 2, {0x45, 20, 2}},
                                           RequestCase{0x7E, 1, {0x44, 0, 150, 0, 1}},
                                           RequestCase{0x7D, 1, {0x7D, 1}},
                                           RequestCase{0x31, 9, {0x31, 0}}));

TEST(OpenAnswer, LooksAheadOverLostAnswersAndRejectsBeyondTheWindow) {
  const std::vector<uint8_t> hb = {0xEA, 7, 0x55, 8, 1, 0, 5, 0x10};
  // Two answers lost: the server's value runs 2 ahead.
  DeviceCipher dev = DeviceWith(kKm, kNum, 0, 1000);
  uint32_t transm = 1002;
  auto wire = ServerEncrypt(kKm, kNum, transm, hb);
  Answer a = devsim::OpenAnswer(dev, kNum, wire.data(), wire.size());
  EXPECT_EQ(a.kind, AnswerKind::kHeartbeat);
  EXPECT_EQ(a.seq, 0x10);
  EXPECT_EQ(dev.recv, 1003u);

  // Six ahead is beyond the look-ahead: refused, receive value unchanged.
  transm = 1009;
  wire = ServerEncrypt(kKm, kNum, transm, hb);
  a = devsim::OpenAnswer(dev, kNum, wire.data(), wire.size());
  EXPECT_EQ(a.kind, AnswerKind::kUndecryptable);
  EXPECT_EQ(dev.recv, 1003u);

  // A replay of an older answer is refused too.
  transm = 1002;
  wire = ServerEncrypt(kKm, kNum, transm, hb);
  EXPECT_EQ(devsim::OpenAnswer(dev, kNum, wire.data(), wire.size()).kind, AnswerKind::kUndecryptable);

  // Cut short: fewer bytes than L promises.
  transm = 1003;
  wire = ServerEncrypt(kKm, kNum, transm, hb);
  EXPECT_EQ(devsim::OpenAnswer(dev, kNum, wire.data(), wire.size() - 1).kind, AnswerKind::kUndecryptable);
  EXPECT_EQ(dev.recv, 1003u);
}

struct AnswerCase {
  const char* name;
  std::vector<uint8_t> plain;  // before the check byte
  AnswerKind kind;
  uint8_t seq;
};

// Names the case in test listings.
void PrintTo(const AnswerCase& c, std::ostream* os) {
  *os << c.name;
}

class OpenAnswerKinds : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(OpenAnswerKinds, ClassifiesTheServersTelegrams) {
  const AnswerCase& ac = GetParam();
  DeviceCipher dev = DeviceWith(kKm, kNum, 0, 50);
  std::vector<uint8_t> wire;
  if (ac.plain[0] == 0xEF) {
    wire = Plain(ac.plain);
  } else {
    uint32_t transm = 50;
    wire = ServerEncrypt(kKm, kNum, transm, ac.plain);
  }
  const Answer a = devsim::OpenAnswer(dev, kNum, wire.data(), wire.size());
  EXPECT_EQ(a.kind, ac.kind) << devsim::AnswerKindName(a.kind);
  EXPECT_EQ(a.seq, ac.seq);
  if (ac.kind == AnswerKind::kRegistration) {
    EXPECT_EQ(a.index, 0x0102);
  }
  if (ac.kind == AnswerKind::kTime) {
    EXPECT_EQ(a.clock, (std::array<uint8_t, 6>{24, 3, 5, 14, 7, 9}));
  }
  if (ac.kind == AnswerKind::kRequest) {
    EXPECT_EQ(a.command, 0x7D);
    EXPECT_EQ(a.param, 1);
  }
  EXPECT_EQ(a.alarmFlag, std::string(ac.name) == "heartbeat_alarm");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenAnswerKinds,
    ::testing::Values(
        AnswerCase{"registration", {0xEA, 9, 0x55, 7, 1, 0, 5, 3, 0x01, 0x02}, AnswerKind::kRegistration, 3},
        AnswerCase{"heartbeat", {0xEA, 7, 0x55, 8, 1, 0, 5, 4}, AnswerKind::kHeartbeat, 4},
        AnswerCase{"heartbeat_alarm", {0xEA, 8, 0x55, 8, 1, 0, 5, 4, 1}, AnswerKind::kHeartbeat, 4},
        AnswerCase{"time", {0xEA, 13, 0x55, 0x80, 1, 0, 5, 5, 24, 3, 5, 14, 7, 9}, AnswerKind::kTime, 5},
        AnswerCase{"event_ack", {0xEA, 7, 0x55, 9, 1, 0, 5, 6}, AnswerKind::kEventAck, 6},
        AnswerCase{"request", {0xEA, 9, 3, 1, 0, 5, 0, 7, 0x7D, 1}, AnswerKind::kRequest, 7},
        AnswerCase{"echo", {0xEF, 8, 0x55, 0xBC, 1, 0, 5, 8, 1}, AnswerKind::kEcho, 8},
        AnswerCase{"other_number", {0xEA, 7, 0x55, 8, 1, 0, 6, 4}, AnswerKind::kOther, 0},
        AnswerCase{"request_other_number", {0xEA, 9, 3, 1, 0, 6, 0, 7, 0x7D, 1}, AnswerKind::kOther, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OpenAnswer, PlainTelegramWithBadCheckByteIsMalformed) {
  std::vector<uint8_t> t = Plain({0xEF, 8, 0x55, 0xBC, 1, 0, 5, 8, 1});
  t.back() ^= 1;
  DeviceCipher dev = DeviceWith(kKm, kNum, 0, 0);
  EXPECT_EQ(devsim::OpenAnswer(dev, kNum, t.data(), t.size()).kind, AnswerKind::kMalformed);
}

// ---- population and registry files ----

TEST(Population, NumbersCountUpInN3ThenN2ThenN1) {
  ConsoleNumber n;
  ASSERT_TRUE(devsim::NumberPlus({1, 0, 255}, 1, &n));
  EXPECT_EQ(n, (ConsoleNumber{1, 1, 0}));
  ASSERT_TRUE(devsim::NumberPlus({1, 255, 255}, 1, &n));
  EXPECT_EQ(n, (ConsoleNumber{2, 0, 0}));
  EXPECT_FALSE(devsim::NumberPlus({255, 255, 255}, 1, &n));

  devsim::Population p;
  p.devices = 65534;
  p.first = {1, 0, 1};
  EXPECT_EQ(devsim::CheckPopulation(p), "");
  EXPECT_EQ(devsim::Ipv4Text(devsim::PlanDevice(p, 65533).address), "127.1.255.254");
  p.source = 0x7FFFFF00;
  EXPECT_NE(devsim::CheckPopulation(p), "") << "addresses must stay within 127/8";
  p = {};
  p.devices = 3;
  p.spread = false;
  p.sockets = 2;
  EXPECT_NE(devsim::CheckPopulation(p), "") << "--no-spread needs a socket per device";
}

TEST(Population, SameSeedAndPositionGiveTheSameDevice) {
  devsim::Population p;
  p.devices = 10;
  const auto a = devsim::PlanDevice(p, 3), b = devsim::PlanDevice(p, 3), c = devsim::PlanDevice(p, 4);
  EXPECT_EQ(a.seed, b.seed);
  EXPECT_EQ(a.devBytes, b.devBytes);
  EXPECT_EQ(a.identity, b.identity);
  EXPECT_NE(a.seed, c.seed);
  p.seed = 2;
  EXPECT_NE(devsim::PlanDevice(p, 3).seed, a.seed);
  p.identity = std::array<uint8_t, 2>{0xAB, 0xCD};
  EXPECT_EQ(devsim::PlanDevice(p, 7).identity, (std::array<uint8_t, 2>{0xAB, 0xCD}));
}

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("devsim_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::vector<uint8_t> Read(const std::filesystem::path& f) {
    std::ifstream in(f, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::filesystem::path dir_;
};

TEST_F(RegistryFile, MakeNdxHoldsWhatARegistrationLeavesOnTheServer) {
  devsim::Population p;
  p.devices = 5;
  p.first = {1, 0, 254};
  p.port = 6000;
  p.sockets = 2;
  p.seed = 77;
  const std::string path = (dir_ / "reg.ndx").string();
  std::string error;
  ASSERT_TRUE(devsim::WriteRegistry(path, p, devsim::kDefaultRegKey, &error)) << error;
  const std::vector<uint8_t> f = Read(path);
  ASSERT_EQ(f.size(), 5u * 3166);

  for (uint32_t k = 0; k < 5; ++k) {
    const uint8_t* r = f.data() + k * 3166;
    const devsim::DevicePlan plan = devsim::PlanDevice(p, k);
    const Key10 km = devlink::DeriveKeyMaterial(
        devlink::RegistrationKey(devsim::kDefaultRegKey, plan.devBytes.data()), plan.seed.data());
    SCOPED_TRACE("record " + std::to_string(k));
    EXPECT_EQ(r[0], 0);  // update mark
    EXPECT_EQ(r[1], 1);  // in use
    EXPECT_EQ(r[2], 0);  // link-failure counter
    EXPECT_EQ(r[3], 2);  // link state of a fresh registration
    const std::string addr = "127.1.0." + std::to_string(1 + k);
    EXPECT_EQ(r[4], addr.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r + 5), addr.size()), addr);
    EXPECT_EQ(r[21] | (r[22] << 8), 6000 + int(k % 2));
    const ConsoleNumber want = k < 2 ? ConsoleNumber{1, 0, uint8_t(254 + k)} : ConsoleNumber{1, 1, uint8_t(k - 2)};
    EXPECT_EQ((ConsoleNumber{r[23], r[24], r[25]}), want);
    EXPECT_EQ(std::vector<uint8_t>(r + 26, r + 36), std::vector<uint8_t>(km.begin(), km.end()));
    EXPECT_EQ(std::vector<uint8_t>(r + 36, r + 40), std::vector<uint8_t>(km.begin(), km.begin() + 4));
    EXPECT_EQ(std::vector<uint8_t>(r + 40, r + 44), std::vector<uint8_t>(km.begin(), km.begin() + 4));
    EXPECT_EQ(r[44], plan.identity[0]);
    EXPECT_EQ(r[45], plan.identity[1]);
    EXPECT_EQ(r[2104], 0);  // interface
    size_t nonZeroBeyond = 0;
    for (size_t b = 46; b < 3166; ++b) nonZeroBeyond += r[b] != 0;
    EXPECT_EQ(nonZeroBeyond, 0u) << "queues, counters and pending requests start empty";
  }
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename(), "reg.ndx") << "no temporary file is left behind";
}

TEST_F(RegistryFile, FailedWriteLeavesWhatWasThereAndNoTemporary) {
  // The target is a directory that holds a file: the final rename must fail.
  const std::filesystem::path target = dir_ / "reg.ndx";
  std::filesystem::create_directories(target);
  { std::ofstream(target / "keep") << "old"; }
  devsim::Population p;
  p.devices = 2;
  std::string error;
  EXPECT_FALSE(devsim::WriteRegistry(target.string(), p, devsim::kDefaultRegKey, &error));
  EXPECT_NE(error.find("reg.ndx"), std::string::npos) << error;
  EXPECT_EQ(Read(target / "keep"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1u) << "the temporary file is removed";
  EXPECT_FALSE(devsim::WriteRegistry((dir_ / "no" / "such" / "dir.ndx").string(), p,
                                     devsim::kDefaultRegKey, &error));
}

TEST_F(RegistryFile, LoadTakesInUseRecordsWithTheirIndexAndChaining) {
  std::vector<devlink::ClientRecord> recs(4);
  std::memset(recs.data(), 0, recs.size() * sizeof recs[0]);
  for (int k = 0; k < 4; ++k) {
    auto& r = recs[k];
    r.inUse = k == 1 ? 0 : 1;
    r.n1 = 1;
    r.n3 = uint8_t(10 + k);
    std::memcpy(r.keyMaterial, kKm.data(), 10);
    r.keyMaterial[9] = uint8_t(k);
    devlink::PutU32(r.C_iTransm, 0x1000u + k);
    devlink::PutU32(r.C_iResiv, 0x2000u + k);
    r.identity[0] = uint8_t(0xA0 + k);
    r.lastHbSeq = uint8_t(k * 3);
  }
  const std::string path = (dir_ / "in.ndx").string();
  {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(recs.data()), recs.size() * sizeof recs[0]);
    out.write("partial", 7);  // a trailing partial record is ignored
  }
  std::vector<devsim::DeviceInit> devs;
  std::string error;
  ASSERT_TRUE(devsim::LoadRegistry(path, &devs, &error)) << error;
  ASSERT_EQ(devs.size(), 3u);
  const int idx[] = {0, 2, 3};
  for (int j = 0; j < 3; ++j) {
    const int k = idx[j];
    EXPECT_EQ(devs[j].index, k);
    EXPECT_EQ(devs[j].number, (ConsoleNumber{1, 0, uint8_t(10 + k)}));
    EXPECT_EQ(devs[j].keyMaterial[9], k);
    EXPECT_EQ(devs[j].send, 0x2000u + k) << "device sends with the server's receive value";
    EXPECT_EQ(devs[j].recv, 0x1000u + k) << "device receives with the server's send value";
    EXPECT_EQ(devs[j].identity[0], 0xA0 + k);
    EXPECT_EQ(devs[j].lastHbSeq, k * 3);
  }
  EXPECT_FALSE(devsim::LoadRegistry((dir_ / "missing.ndx").string(), &devs, &error));
}

// ---- command line ----

TEST(CommandLine, ParsesARunAndRejectsBadArguments) {
  devsim::CliConfig c;
  const char* ok[] = {"devsim", "--server", "127.0.0.1:5000", "--devices", "3", "--first", "2/0/9",
                      "--reg-code", "0x87", "--identity", "12ab", "--rate=300", "--skip", "2"};
  ASSERT_EQ(devsim::ParseCommandLine(int(std::size(ok)), ok, &c), "");
  EXPECT_EQ(c.sim.serverAddr, 0x7F000001u);
  EXPECT_EQ(c.sim.serverPort, 5000);
  EXPECT_EQ(c.sim.population.first, (ConsoleNumber{2, 0, 9}));
  EXPECT_EQ(c.sim.regCode, 0x87);
  EXPECT_EQ(*c.sim.population.identity, (std::array<uint8_t, 2>{0x12, 0xAB}));
  ASSERT_EQ(devsim::PrepareRun(&c), "");
  EXPECT_EQ(c.sim.heartbeatUs, 10'000) << "with --rate the heartbeat period spreads the rate over the devices";

  const std::vector<std::vector<const char*>> bad = {
      {"devsim"},
      {"devsim", "--server", "127.0.0.1"},
      {"devsim", "--server", "127.0.0.1:5000", "--devices", "65535"},
      {"devsim", "--server", "127.0.0.1:5000", "--reg-key", "5A3C"},
      {"devsim", "--server", "127.0.0.1:5000", "--reg-code", "8"},
      {"devsim", "--server", "127.0.0.1:5000", "--first", "1/0"},
      {"devsim", "--server", "127.0.0.1:5000", "--bogus"},
      {"devsim", "--server", "127.0.0.1:5000", "--devices", "4", "--no-spread", "--sockets", "2"},
      {"devsim", "--make-ndx", "x.ndx", "--ndx", "y.ndx"},
  };
  for (const auto& args : bad) {
    devsim::CliConfig b;
    std::string error = devsim::ParseCommandLine(int(args.size()), args.data(), &b);
    if (error.empty()) error = devsim::PrepareRun(&b);
    EXPECT_NE(error, "") << args.back();
  }
}

// ---- engine against a fake server over loopback ----

// Just enough of the server: registration, heartbeat, time, event
// acknowledgement, echo, and one request per device when asked.
class FakeServer {
 public:
  struct Options {
    int dropRegistrations = 0;        // ignore this many registrations per number
    bool answerRegistrationTwice = false;
    uint32_t answerGap = 0;           // server send values skipped before each answer
    bool sendRequest = false;         // a request after each device's first heartbeat
    std::vector<devlink::ClientRecord> preset;
  };

  explicit FakeServer(Options o) : o_(std::move(o)) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    for (const auto& r : o_.preset) {
      Rec rec;
      rec.n = devlink::NumberOf(r);
      std::memcpy(rec.km.data(), r.keyMaterial, 10);
      rec.transm = devlink::GetU32(r.C_iTransm);
      rec.resiv = devlink::GetU32(r.C_iResiv);
      rec.identity = {r.identity[0], r.identity[1]};
      recs_.push_back(rec);
    }
    thread_ = std::thread([this] { Loop(); });
  }
  ~FakeServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
  }
  uint16_t port() const { return port_; }

  struct Rec {
    ConsoleNumber n;
    Key10 km{};
    uint32_t transm = 0, resiv = 0;
    std::array<uint8_t, 2> identity{};
    int heartbeats = 0, events = 0, timeRequests = 0, registrations = 0;
    std::vector<uint8_t> heartbeatSeqs;
    bool requestSent = false;
    uint8_t requestSeq = 0;
    bool requestAnswered = false;
    std::set<uint32_t> sources;
    std::set<uint16_t> ports;
  };
  std::vector<Rec> Records() {
    std::lock_guard<std::mutex> l(m_);
    return recs_;
  }
  int rejected() {
    std::lock_guard<std::mutex> l(m_);
    return rejected_;
  }

 private:
  void Loop() {
    pollfd p{fd_, POLLIN, 0};
    while (!stop_) {
      if (::poll(&p, 1, 10) <= 0) continue;
      uint8_t b[256];
      sockaddr_in from{};
      socklen_t fl = sizeof from;
      const ssize_t n = ::recvfrom(fd_, b, sizeof b, 0, reinterpret_cast<sockaddr*>(&from), &fl);
      if (n < 2) continue;
      std::lock_guard<std::mutex> l(m_);
      Handle(b, size_t(n), from);
    }
  }

  void Send(const std::vector<uint8_t>& t, const sockaddr_in& to) {
    ::sendto(fd_, t.data(), t.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

  void Answer(Rec& r, std::vector<uint8_t> plain, const sockaddr_in& to) {
    r.transm += o_.answerGap;
    Send(ServerEncrypt(r.km, r.n, r.transm, std::move(plain)), to);
  }

  void Handle(uint8_t* b, size_t size, const sockaddr_in& from) {
    if (!devlink::CheckByteOk(b, size)) return;
    if (b[0] == 0xEF && b[2] == 0x55 && b[3] == 0xBC) {
      Send(std::vector<uint8_t>(b, b + size), from);
      return;
    }
    if (b[0] == 0xEF && b[2] == 0x55 && (b[3] == 7 || b[3] == 0x87)) return Register(b, from);
    if (b[0] != 0xEA) return;
    const size_t idx = size_t(b[2] << 8 | b[3]);
    if (idx >= recs_.size()) return;
    Rec& r = recs_[idx];
    uint8_t t[128] = {};
    std::memcpy(t, b + 4, size_t(b[1]) - 3);
    if (!devlink::CbcDecryptLookAhead(ServerCipher(r.km, r.n), t, r.resiv)) {
      ++rejected_;
      return;
    }
    r.sources.insert(ntohl(from.sin_addr.s_addr));
    r.ports.insert(ntohs(from.sin_port));
    const ConsoleNumber n = r.n;
    if (t[0] == 0xE9 && t[3] == 8) {
      ++r.heartbeats;
      r.heartbeatSeqs.push_back(t[7]);
      Answer(r, {0xEA, 7, 0x55, 8, n.n1, n.n2, n.n3, t[7]}, from);
      if (o_.sendRequest && !r.requestSent) {
        r.requestSent = true;
        r.requestSeq = uint8_t(0x90 + idx);
        Answer(r, {0xEA, 9, 3, n.n1, n.n2, n.n3, 0, r.requestSeq, 0x7F, 1}, from);
      }
    } else if (t[0] == 0xE9 && t[3] == 0x80) {
      ++r.timeRequests;
      Answer(r, {0xEA, 13, 0x55, 0x80, n.n1, n.n2, n.n3, t[7], 24, 3, 5, 14, 7, 9}, from);
    } else if (t[0] == 0xFE) {
      if (r.requestSent && t[7] == r.requestSeq && t[8] == 0x45 && t[10] == 1) {
        r.requestAnswered = true;
      } else {
        ++r.events;
      }
      Answer(r, {0xEA, 7, 0x55, 9, n.n1, n.n2, n.n3, t[7]}, from);
    }
  }

  void Register(const uint8_t* b, const sockaddr_in& from) {
    const ConsoleNumber n{b[4], b[5], b[6]};
    if (dropped_[n.n1 << 16 | n.n2 << 8 | n.n3]++ < o_.dropRegistrations) return;
    const Key10 km = devlink::DeriveKeyMaterial(devlink::RegistrationKey(devsim::kDefaultRegKey, b + 12), b + 8);
    uint8_t t[128] = {};
    std::memcpy(t, b + 18, 10);
    uint32_t w = devlink::GetU32(km.data());
    if (!devlink::CbcDecryptLookAhead(ServerCipher(km, n), t, w) || t[0] != 0xE9 || t[3] != 4) {
      ++rejected_;
      return;
    }
    size_t idx = 0;
    while (idx < recs_.size() && !(recs_[idx].n == n && recs_[idx].identity[0] == t[4] &&
                                   recs_[idx].identity[1] == t[5]))
      ++idx;
    if (idx == recs_.size()) recs_.emplace_back();
    Rec& r = recs_[idx];
    r.n = n;
    r.km = km;
    r.identity = {t[4], t[5]};
    r.transm = devlink::GetU32(km.data());
    r.resiv = w;
    ++r.registrations;
    r.sources.insert(ntohl(from.sin_addr.s_addr));
    const std::vector<uint8_t> ans = {0xEA, 9, 0x55, 7, n.n1, n.n2, n.n3, b[7], uint8_t(idx >> 8), uint8_t(idx)};
    Answer(r, ans, from);
    if (o_.answerRegistrationTwice) {
      r.transm = devlink::GetU32(km.data());
      Answer(r, ans, from);
    }
  }

  Options o_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mutex m_;
  std::vector<Rec> recs_;
  std::map<int, int> dropped_;
  int rejected_ = 0;
};

devsim::SimOptions EngineOptions(uint16_t serverPort, uint32_t devices) {
  devsim::SimOptions o;
  o.serverAddr = 0x7F000001;
  o.serverPort = serverPort;
  o.population.devices = devices;
  o.regRetryMs = 100;
  o.heartbeatUs = 20'000;
  o.heartbeats = 3;
  o.eventRetryMs = 100;
  o.answerTimeoutMs = 300;
  o.durationMs = 10'000;  // a safety net: every run below ends by itself well before
  o.startSpreadUs = 0;
  return o;
}

devsim::SimSummary RunEngine(const devsim::SimOptions& o) {
  devsim::Simulator sim(o);
  std::string error;
  EXPECT_TRUE(sim.Open(&error)) << error;
  return sim.Run();
}

TEST(Engine, RegistersAndExchangesEverythingOverLoopback) {
  FakeServer server({});
  devsim::SimOptions o = EngineOptions(server.port(), 3);
  o.timeRequests = 2;
  o.events = 2;
  o.echoes = 2;
  const devsim::SimSummary s = RunEngine(o);
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  EXPECT_EQ(s.registered, 3u);
  EXPECT_EQ(s.heartbeatsSent, 9u);
  EXPECT_EQ(s.heartbeatsAnswered, 9u);
  EXPECT_EQ(s.timeAnswered, 6u);
  EXPECT_EQ(s.eventsAcked, 6u);
  EXPECT_EQ(s.echoesReturned, 6u);
  EXPECT_EQ(s.undecryptable, 0u);
  EXPECT_LT(s.elapsedMs, 5000) << "the run ends when the work is done";

  const auto recs = server.Records();
  ASSERT_EQ(recs.size(), 3u);
  std::set<std::string> numbers;
  for (size_t k = 0; k < recs.size(); ++k) {
    numbers.insert(devsim::NumberText(recs[k].n));
    EXPECT_EQ(recs[k].heartbeats, 3);
    EXPECT_EQ(recs[k].events, 2);
    EXPECT_EQ(recs[k].timeRequests, 2);
    ASSERT_EQ(recs[k].sources.size(), 1u) << "each device keeps its own source address";
  }
  EXPECT_EQ(numbers, (std::set<std::string>{"1/0/1", "1/0/2", "1/0/3"}));
  std::set<uint32_t> sources;
  for (const auto& r : recs) sources.insert(*r.sources.begin());
  EXPECT_EQ(sources, (std::set<uint32_t>{0x7F010001, 0x7F010002, 0x7F010003}));
}

TEST(Engine, RetriesRegistrationAndShrugsOffADuplicateAnswer) {
  FakeServer::Options fo;
  fo.dropRegistrations = 2;
  fo.answerRegistrationTwice = true;
  FakeServer server(fo);
  const devsim::SimSummary s = RunEngine(EngineOptions(server.port(), 2));
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  EXPECT_EQ(s.registrationsSent, 6u);
  EXPECT_EQ(s.registered, 2u);
  EXPECT_EQ(s.duplicates, 2u) << "the second registration answer is recognised, not undecryptable";
  EXPECT_EQ(s.heartbeatsAnswered, 6u);
}

TEST(Engine, ToleratesLostServerAnswersWithinTheLookAhead) {
  FakeServer::Options fo;
  fo.answerGap = 5;  // as if five answers before each one were lost
  FakeServer server(fo);
  devsim::SimOptions o = EngineOptions(server.port(), 1);
  o.events = 2;
  const devsim::SimSummary s = RunEngine(o);
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  EXPECT_EQ(s.heartbeatsAnswered, 3u);
  EXPECT_EQ(s.eventsAcked, 2u);
}

struct SkipCase {
  uint32_t skip;
  bool accepted;
};

// Names the case in test listings.
void PrintTo(const SkipCase& c, std::ostream* os) {
  *os << "skip " << c.skip;
}

class EngineSkip : public ::testing::TestWithParam<SkipCase> {};

TEST_P(EngineSkip, ServerLooksAheadOverSkippedValuesUpToFive) {
  FakeServer server({});
  devsim::SimOptions o = EngineOptions(server.port(), 1);
  o.skip = GetParam().skip;
  o.heartbeats = 2;
  const devsim::SimSummary s = RunEngine(o);
  EXPECT_EQ(s.registered, 1u);
  if (GetParam().accepted) {
    EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
    EXPECT_EQ(server.Records()[0].heartbeats, 2);
  } else {
    EXPECT_FALSE(s.Ok());
    EXPECT_EQ(s.heartbeatsAnswered, 0u);
    EXPECT_EQ(s.unanswered, 2u);
    EXPECT_EQ(server.rejected(), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineSkip, ::testing::Values(SkipCase{5, true}, SkipCase{6, false}));

TEST(Engine, AnswersAServerRequestWithItsSequenceUntilAcknowledged) {
  FakeServer::Options fo;
  fo.sendRequest = true;
  FakeServer server(fo);
  const devsim::SimSummary s = RunEngine(EngineOptions(server.port(), 2));
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  EXPECT_EQ(s.requestsReceived, 2u);
  EXPECT_EQ(s.requestsAnswered, 2u);
  for (const auto& r : server.Records()) EXPECT_TRUE(r.requestAnswered);
}

TEST(Engine, RunsDevicesFromARegistryWithoutRegistering) {
  devsim::Population p;
  p.devices = 3;
  p.first = {4, 0, 1};
  std::vector<devlink::ClientRecord> recs;
  for (uint32_t k = 0; k < 3; ++k) recs.push_back(devsim::MakeRegisteredRecord(devsim::PlanDevice(p, k), devsim::kDefaultRegKey));
  FakeServer::Options fo;
  fo.preset = recs;
  FakeServer server(fo);

  devsim::SimOptions o = EngineOptions(server.port(), 3);
  o.registerDevices = false;
  for (uint32_t k = 0; k < 3; ++k) {
    devsim::DeviceInit d;
    d.index = uint16_t(k);
    d.number = devlink::NumberOf(recs[k]);
    std::memcpy(d.keyMaterial.data(), recs[k].keyMaterial, 10);
    d.send = devlink::GetU32(recs[k].C_iResiv);
    d.recv = devlink::GetU32(recs[k].C_iTransm);
    o.preset.push_back(d);
  }
  o.movePort = true;
  const devsim::SimSummary s = RunEngine(o);
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  EXPECT_EQ(s.registrationsSent, 0u);
  EXPECT_EQ(s.registered, 3u);
  EXPECT_EQ(s.heartbeatsAnswered, 9u);
  for (const auto& r : server.Records()) {
    EXPECT_EQ(r.heartbeats, 3);
    EXPECT_EQ(r.ports.size(), 2u) << "after the first answer the device moves to another port";
  }
}

TEST(Engine, RepeatSeqSendsTheSecondHeartbeatWithTheFirstOnesSequence) {
  FakeServer server({});
  devsim::SimOptions o = EngineOptions(server.port(), 1);
  o.repeatSeq = true;
  const devsim::SimSummary s = RunEngine(o);
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  EXPECT_EQ(s.heartbeatsAnswered, 3u);
  const auto seqs = server.Records().at(0).heartbeatSeqs;
  ASSERT_EQ(seqs.size(), 3u);
  EXPECT_EQ(seqs[1], seqs[0]);
  EXPECT_NE(seqs[2], seqs[1]);
}

TEST(Engine, NoSpreadGivesEachDeviceItsOwnSocket) {
  FakeServer server({});
  devsim::SimOptions o = EngineOptions(server.port(), 2);
  o.population.spread = false;
  o.population.sockets = 2;
  const devsim::SimSummary s = RunEngine(o);
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  const auto recs = server.Records();
  ASSERT_EQ(recs.size(), 2u);
  for (const auto& r : recs) EXPECT_EQ(r.sources, (std::set<uint32_t>{0x7F010001}));
  EXPECT_NE(*recs[0].ports.begin(), *recs[1].ports.begin());
}

TEST(Engine, UnansweredWorkFailsTheRunAndTheDurationEndsIt) {
  // Nobody listens on this port.
  int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  devsim::SimOptions o = EngineOptions(ntohs(a.sin_port), 2);
  o.durationMs = 300;
  const devsim::SimSummary s = RunEngine(o);
  ::close(fd);
  EXPECT_FALSE(s.Ok());
  EXPECT_EQ(s.registered, 0u);
  EXPECT_EQ(s.unanswered, 2u);
  EXPECT_GE(s.registrationsSent, 4u) << "registration is retried every 100 ms";
  EXPECT_GE(s.elapsedMs, 300);
  EXPECT_LT(s.elapsedMs, 1500);
}

TEST(Engine, RateSpreadsTheTelegramsOverTime) {
  FakeServer server({});
  devsim::SimOptions o = EngineOptions(server.port(), 10);
  o.rate = 200;           // 10 registrations + 20 heartbeats at 200/s: at least ~140 ms
  o.heartbeats = 2;
  o.heartbeatUs = 1000;   // as fast as the rate lets them
  o.startSpreadUs = -1;
  const devsim::SimSummary s = RunEngine(o);
  EXPECT_TRUE(s.Ok()) << devsim::SummaryLine(s);
  EXPECT_EQ(s.heartbeatsAnswered, 20u);
  EXPECT_GE(s.elapsedMs, 130);
}

// ---- the main controller's loader ----

// The loader takes packets only after the jump and the erase, checks every
// line, writes a repeated packet again from where it began, and plays its
// faults: a lost answer, a wrong checksum, a late duplicate.
TEST(MainLoader, TakesCheckedLinesAndPlaysItsFaults) {
  devsim::MainLoaderProfile p;
  p.drop = {2};
  p.badSum = {3};
  p.late = {4};
  devsim::MainLoader l(p);
  const ConsoleNumber n{1, 0, 1};
  using Replies = std::vector<std::vector<uint8_t>>;
  const auto packet = [&](const std::string& text, Replies* r) {
    std::string note;
    return l.Packet(n, reinterpret_cast<const uint8_t*>(text.data()), text.size(), r, &note);
  };
  // 0xEF, L, 0x55, 0x13, status, checksum, check byte.
  const auto answer = [](uint8_t status, uint8_t sum) {
    std::vector<uint8_t> a = {0xEF, 5, 0x55, 0x13, status, sum, 0};
    devlink::SetCheckByte(a.data());
    return a;
  };
  // The upper address 0001, two bytes at 0x10000; then the base moves to 0002.
  const std::string first = ":020000040001F9:02000000A1B2AB";
  const std::string second = ":020000040002F8:01000000C33C";
  std::string note;
  Replies r;
  EXPECT_FALSE(packet(first, &r)) << "no packet before the jump and the erase";
  EXPECT_TRUE(l.Erase(&note).empty()) << "no erase outside the loader";
  l.Jump();
  EXPECT_EQ(l.Erase(&note)[3], 0x12);

  EXPECT_TRUE(packet(":02000004000", &r));  // 1: a line cut short is refused whole
  EXPECT_EQ(r, Replies{answer(1, 0)});
  r.clear();
  EXPECT_TRUE(packet(first, &r));  // 2: taken, the answer lost
  EXPECT_TRUE(r.empty());
  EXPECT_TRUE(packet(first, &r));  // 3: the repeat, from the same base; a wrong checksum
  EXPECT_EQ(r, Replies{answer(0, 0xAC)});
  r.clear();
  EXPECT_TRUE(packet(second, &r));  // 4: taken; its answer comes again later
  EXPECT_EQ(r, Replies{answer(0, 0x3C)});
  r.clear();
  EXPECT_TRUE(packet(":00000001FF", &r));  // 5: the late duplicate first, then its own answer
  EXPECT_EQ(r, (Replies{answer(0, 0x3C), answer(0, 0xFF)}));
  EXPECT_TRUE(l.Complete());
  EXPECT_EQ(l.Image(), (std::map<uint32_t, uint8_t>{{0x10000, 0xA1}, {0x10001, 0xB2}, {0x20000, 0xC3}}));
}

}  // namespace
