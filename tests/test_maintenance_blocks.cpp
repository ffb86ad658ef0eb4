// The device's network, SMS and NTP settings blocks: their layouts against
// hand-made images, the telegrams and answer checks of their exchanges, the
// settings files, and the rules of the network settings window's fields.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "devlink/crc8.h"
#include "maintenance/settings_blocks.h"
#include "maintenance/settings_fields.h"
#include "maintenance/settings_file.h"
#include "maintenance/settings_telegrams.h"

namespace {

namespace fs = std::filesystem;
using namespace maintenance;
using Bytes = std::vector<uint8_t>;

void Append(Bytes& b, std::initializer_list<uint8_t> bytes) { b.insert(b.end(), bytes); }
void Append(Bytes& b, std::string_view text, size_t width, uint8_t fill) {
  b.insert(b.end(), text.begin(), text.end());
  b.insert(b.end(), width - text.size(), fill);
}

template <size_t N>
std::array<uint8_t, N> ArrayOf(const Bytes& b) {
  std::array<uint8_t, N> a{};
  EXPECT_EQ(b.size(), N);
  std::copy_n(b.begin(), std::min(N, b.size()), a.begin());
  return a;
}

// The network block of a device as the settings file holds it, written out
// row by row from the block's layout; the check byte is left 0.
NetworkBlock HandMadeNetworkImage() {
  Bytes b;
  Append(b, {0xEF, 0x6C, 0x55, 0x0C});
  Append(b, {192, 168, 1, 10});    // device
  Append(b, {255, 255, 255, 0});   // mask
  Append(b, {192, 168, 1, 1});     // gateway
  Append(b, {192, 0, 2, 53});      // DNS
  Append(b, {192, 0, 2, 54});      // second DNS
  Append(b, {203, 0, 113, 5});     // server 1
  Append(b, {203, 0, 113, 6});     // server 2
  Append(b, {198, 51, 100, 7});    // server 1(3)
  Append(b, {198, 51, 100, 8});    // server 2(4)
  Append(b, {0xEC});               // web+ping, server 1, SIM 1, APN 1, server 2
  Append(b, {0x00, 0x04, 0xA3, 0x12, 0x34, 0x56});
  Append(b, {0x88, 0x13});         // device port 5000
  Append(b, {0x88, 0x13});         // 5000
  Append(b, {0x89, 0x13});         // 5001
  Append(b, {0x8A, 0x13});         // 5002
  Append(b, {0x40, 0x9C});         // 40000
  Append(b, {1, 0, 200});          // console number
  Append(b, "internet.mts.ru", 24, 0);
  Append(b, "", 24, ' ');          // empty APN of SIM 2
  Append(b, {0x2C});               // server 1(3), second station, SIM 1 priority
  Append(b, {0x00});
  return ArrayOf<kNetworkBlockSize>(b);
}

// The window's fields that make the image above.
NetworkFields HandMadeNetworkFields() {
  NetworkFields f;
  f.CheckEnServ1 = f.CheckEnServ2 = f.CheckEnServ3 = f.PCN_2 = true;
  f.Edit8 = "203.0.113.5";
  f.Edit9 = "5000";
  f.IpServ2 = "203.0.113.6";
  f.PortServ2 = "5001";
  f.Edit1 = "198.51.100.7";
  f.Edit11 = "5002";
  f.Edit21 = "198.51.100.8";
  f.Edit22 = "40000";
  f.Edit10 = "1/0/200";
  f.edtHost = "00:04:A3:12:34:56";
  f.CheckBox2 = true;
  f.Edit2 = "192.168.1.10";
  f.Edit3 = "5000";
  f.Edit4 = "192.168.1.1";
  f.Edit5 = "255.255.255.0";
  f.Edit6 = "192.0.2.53";
  f.Edit7 = "192.0.2.54";
  f.CheckBox6 = f.CheckBox7 = f.CheckBoxPriorSIM1 = true;
  f.Edit14 = "internet.mts.ru";
  return f;
}

SmsFields HandMadeSmsFields() {
  SmsFields f;
  f.CheckSMSzvukPriem = f.CheckSMSOnly = true;
  f.CheckSMS_TrPrd_1 = f.CheckSMS_VzSnPrd_1 = true;
  f.EditSMSN_1 = "1234567890";
  f.CheckSMS_ProchPrd_2 = true;
  f.EditSMSN_2 = "9161234567";
  f.EditSMSN_3 = "0000000000";
  return f;
}

NtpFields HandMadeNtpFields() {
  NtpFields f;
  f.Edit13 = "3";
  f.Edit12 = "pool.ntp.org";
  f.CheckBox8 = true;
  f.Edit18 = "*100#";
  return f;
}

// ---- Layouts -------------------------------------------------------------

TEST(SettingsBlocks, NetworkFieldsGiveTheBlockOfTheLayout) {
  const NetworkBlock expected = HandMadeNetworkImage();
  NetworkSettings s;
  ASSERT_FALSE(FromFields(HandMadeNetworkFields(), s));
  NetworkBlock block = SettingsFileImage({});
  EncodeNetworkSettings(s, block);
  EXPECT_EQ(block, expected);

  // And back: the block shows the same fields.
  EXPECT_EQ(DecodeNetworkSettings(expected), s);
  EXPECT_EQ(ToFields(DecodeNetworkSettings(expected)), HandMadeNetworkFields());
}

TEST(SettingsBlocks, SmsAndNtpFieldsGiveTheWriteRequestsOfTheLayout) {
  Bytes sms;
  Append(sms, {0xFE, 0x16, 0x55, 0xF8, 0x05});
  Append(sms, {0x03, 0x12, 0x34, 0x56, 0x78, 0x90});
  Append(sms, {0x04, 0x91, 0x61, 0x23, 0x45, 0x67});
  Append(sms, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  SmsSettings ss;
  ASSERT_FALSE(FromFields(HandMadeSmsFields(), ss));
  SmsBlock sb{};
  EncodeSmsSettings(ss, sb);
  const SmsBlock smsRequest = BuildSmsWriteRequest(sb);
  EXPECT_TRUE(std::equal(sms.begin(), sms.end(), smsRequest.begin()));
  EXPECT_TRUE(devlink::CheckByteOk(smsRequest.data(), smsRequest.size()));
  EXPECT_EQ(ToFields(DecodeSmsSettings(smsRequest)), HandMadeSmsFields());

  Bytes ntp;
  Append(ntp, {0xEF, 0x31, 0x55, 0x25, 3});
  Append(ntp, "pool.ntp.org", 24, 0);
  Append(ntp, {0x02});
  Append(ntp, "", 10, 0);
  Append(ntp, "*100#", 10, 0);
  NtpSettings ns;
  ASSERT_FALSE(FromFields(HandMadeNtpFields(), ns));
  NtpBlock nb{};
  EncodeNtpSettings(ns, nb);
  const NtpBlock ntpRequest = BuildNtpWriteRequest(nb);
  EXPECT_TRUE(std::equal(ntp.begin(), ntp.end(), ntpRequest.begin()));
  EXPECT_TRUE(devlink::CheckByteOk(ntpRequest.data(), ntpRequest.size()));
  EXPECT_EQ(ToFields(DecodeNtpSettings(ntpRequest)), HandMadeNtpFields());
}

// Each tick box sets exactly its own bit, as the layout lists them.
TEST(SettingsBlocks, EachTickBoxSetsItsOwnFlagBit) {
  struct Case {
    const char* box;
    size_t offset;
    uint8_t bit;
  };
  const Case cases[] = {
      {"CheckBox1", 40, 0x01},        {"CheckBox2", 40, 0x04},       {"CheckEnServ1", 40, 0x08},
      {"CheckBox3", 40, 0x10},        {"CheckBox6", 40, 0x20},       {"CheckBox7", 40, 0x40},
      {"CheckEnServ2", 40, 0x80},     {"CheckEnGsmGprs2", 108, 0x01}, {"CheckEnIpn2", 108, 0x02},
      {"CheckEnServ3", 108, 0x04},    {"PCN_2", 108, 0x08},          {"CheckEnServ4", 108, 0x10},
      {"CheckBoxPriorSIM1", 108, 0x20}, {"CheckBoxBalMon", 108, 0x40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box);
    NetworkFields f = HandMadeNetworkFields();
    for (const Case& other : cases) *BoxOf(f, other.box) = false;
    *BoxOf(f, c.box) = true;
    NetworkSettings s;
    ASSERT_FALSE(FromFields(f, s));
    NetworkBlock b{};
    EncodeNetworkSettings(s, b);
    EXPECT_EQ(b[40], c.offset == 40 ? c.bit : 0);
    EXPECT_EQ(b[108], c.offset == 108 ? c.bit : 0);
    EXPECT_EQ(ToFields(s), f);
  }
}

// Bit 1 of flags A and bit 7 of flags B belong to no tick box: a read block
// that has them shows nothing of them, and they are written as 0.
TEST(SettingsBlocks, BitsOfNoTickBoxAreWrittenAsZero) {
  NetworkBlock b = HandMadeNetworkImage();
  b[40] |= 0x02;
  b[108] |= 0x80;
  NetworkSettings s = DecodeNetworkSettings(b);
  ASSERT_FALSE(FromFields(ToFields(s), s));
  EncodeNetworkSettings(s, b);
  EXPECT_EQ(b, HandMadeNetworkImage());
}

// ---- Telegrams -------------------------------------------------------------

TEST(SettingsTelegrams, RequestsCarryTheirHeaderAndCode) {
  struct Case {
    ShortTelegram request;
    uint8_t header, code;
  };
  const Case cases[] = {
      {BuildNetworkReadRequest(), 0xEF, 0x0B},
      {BuildSmsReadRequest(), 0xFE, 0xF7},
      {BuildNtpReadRequest(), 0xEF, 0x24},
      {BuildResetRequest(), 0xEF, 0xAA},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.code));
    EXPECT_EQ(c.request[0], c.header);
    EXPECT_EQ(c.request[1], 3);
    EXPECT_EQ(c.request[2], 0x55);
    EXPECT_EQ(c.request[3], c.code);
    EXPECT_TRUE(devlink::CheckByteOk(c.request.data(), c.request.size()));
  }
}

TEST(SettingsTelegrams, WriteRequestFramesTheBlockWhateverItsHeaderWas) {
  NetworkBlock loaded = HandMadeNetworkImage();
  loaded[0] = 0x00;  // a file's header is never tested on loading
  loaded[1] = 0x99;
  const NetworkBlock request = BuildNetworkWriteRequest(loaded);
  EXPECT_EQ(request[0], 0xEF);
  EXPECT_EQ(request[1], 108);
  EXPECT_EQ(request[2], 0x55);
  EXPECT_EQ(request[3], 0x0C);
  EXPECT_TRUE(std::equal(request.begin() + 4, request.end() - 1, loaded.begin() + 4));
  EXPECT_TRUE(devlink::CheckByteOk(request.data(), request.size()));
}

// One block kind: its size, read code and read check, for a table of faults.
struct BlockKind {
  const char* name;
  size_t size;
  uint8_t readCode;
  AnswerCheck (*check)(std::span<const uint8_t>, uint8_t* out);
};

// A block's read check over the first bytes of `out`.
template <class Block, AnswerCheck (*Check)(std::span<const uint8_t>, Block*)>
AnswerCheck Via(std::span<const uint8_t> a, uint8_t* out) {
  if (!out) return Check(a, nullptr);
  Block b;
  std::copy_n(out, b.size(), b.begin());
  const AnswerCheck r = Check(a, &b);
  std::copy(b.begin(), b.end(), out);
  return r;
}

const BlockKind kKinds[] = {
    {"network", kNetworkBlockSize, 0x0B, Via<NetworkBlock, CheckNetworkReadAnswer>},
    {"sms", kSmsBlockSize, 0xF7, Via<SmsBlock, CheckSmsReadAnswer>},
    {"ntp", kNtpBlockSize, 0x24, Via<NtpBlock, CheckNtpReadAnswer>},
};

class ReadAnswer : public ::testing::TestWithParam<BlockKind> {
 protected:
  // A device's answer in the 128-byte hand-off buffer: the block with data
  // bytes 1, 2, 3, ..., and stale bytes after it.
  std::array<uint8_t, 128> Answer() const {
    std::array<uint8_t, 128> a{};
    a.fill(0xA5);
    const size_t n = GetParam().size;
    a[0] = 0xEF;
    a[1] = uint8_t(n - 2);
    a[2] = 0x55;
    a[3] = GetParam().readCode;
    for (size_t k = 4; k + 1 < n; ++k) a[k] = uint8_t(k - 3);
    devlink::SetCheckByte(a.data());
    return a;
  }
};

TEST_P(ReadAnswer, TakesOnlyTheWholeBlockOfTheAwaitedCode) {
  const BlockKind& kind = GetParam();
  const auto good = Answer();
  std::array<uint8_t, 128> out{};
  ASSERT_EQ(kind.check(good, out.data()), AnswerCheck::kAccepted);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + kind.size, good.begin()));
  EXPECT_EQ(out[kind.size], 0) << "nothing beyond the block is taken";

  struct Fault {
    const char* what;
    void (*spoil)(std::array<uint8_t, 128>&);
    bool recrc;
    AnswerCheck expected;
  };
  const Fault faults[] = {
      {"shorter L", [](auto& a) { a[1] -= 1; }, true, AnswerCheck::kWrongLength},
      {"longer L", [](auto& a) { a[1] += 1; }, true, AnswerCheck::kWrongLength},
      {"header 0xFE", [](auto& a) { a[0] = 0xFE; }, true, AnswerCheck::kInvalid},
      {"marker 0x01", [](auto& a) { a[2] = 0x01; }, true, AnswerCheck::kInvalid},
      {"check byte", [](auto& a) { a[a[1] + 1] ^= 0x01; }, false, AnswerCheck::kInvalid},
      {"data changed", [](auto& a) { a[5] ^= 0x40; }, false, AnswerCheck::kInvalid},
      {"L beyond the buffer", [](auto& a) { a[1] = 200; }, false, AnswerCheck::kInvalid},
      {"another code", [](auto& a) { a[3] ^= 0x01; }, true, AnswerCheck::kOtherCode},
      {"empty answer of another code", [](auto& a) { a[1] = 3; a[3] ^= 0x01; }, true,
       AnswerCheck::kOtherCode},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    auto a = good;
    f.spoil(a);
    if (f.recrc) devlink::SetCheckByte(a.data());
    std::array<uint8_t, 128> untouched{};
    untouched.fill(0x3C);
    EXPECT_EQ(kind.check(a, untouched.data()), f.expected);
    EXPECT_TRUE(std::all_of(untouched.begin(), untouched.end(), [](uint8_t c) { return c == 0x3C; }))
        << "a refused answer leaves the block as it was";
  }

  // An answer cut short of its check byte is not valid.
  EXPECT_EQ(kind.check(std::span(good.data(), kind.size - 1), nullptr), AnswerCheck::kInvalid);
  EXPECT_EQ(kind.check(std::span(good.data(), 0), nullptr), AnswerCheck::kInvalid);
}

INSTANTIATE_TEST_SUITE_P(Blocks, ReadAnswer, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsTelegrams, AnNtpAnswerWithoutDataMeansNtpIsOff) {
  NtpBlock out{};
  out.fill(0x3C);
  EXPECT_EQ(CheckNtpReadAnswer(BuildEmptyAnswer(0x24), &out), AnswerCheck::kNtpOff);
  EXPECT_EQ(out[0], 0x3C);
  // The same empty answer to a network or SMS read is a failed try.
  EXPECT_EQ(CheckNetworkReadAnswer(BuildEmptyAnswer(0x0B), nullptr), AnswerCheck::kWrongLength);
  EXPECT_EQ(CheckSmsReadAnswer(BuildEmptyAnswer(0xF7), nullptr), AnswerCheck::kWrongLength);
}

TEST(SettingsTelegrams, DeviceAnswersPassTheServersChecks) {
  NetworkBlock n{};
  EXPECT_EQ(CheckNetworkReadAnswer(BuildNetworkReadAnswer(HandMadeNetworkImage()), &n),
            AnswerCheck::kAccepted);
  EXPECT_EQ(DecodeNetworkSettings(n), DecodeNetworkSettings(HandMadeNetworkImage()));
  EXPECT_EQ(CheckSmsReadAnswer(BuildSmsReadAnswer(SmsBlock{}), nullptr), AnswerCheck::kAccepted);
  EXPECT_EQ(CheckNtpReadAnswer(BuildNtpReadAnswer(NtpBlock{}), nullptr), AnswerCheck::kAccepted);
}

TEST(SettingsTelegrams, WriteAnswers) {
  struct Case {
    AnswerCheck (*check)(std::span<const uint8_t>);
    uint8_t code;
  };
  const Case cases[] = {
      {CheckNetworkWriteAnswer, 0x0C},
      {CheckSmsWriteAnswer, 0xF8},
      {CheckNtpWriteAnswer, 0x25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.code));
    EXPECT_EQ(c.check(BuildEmptyAnswer(c.code)), AnswerCheck::kAccepted);
    EXPECT_EQ(c.check(BuildEmptyAnswer(c.code ^ 0x80)), AnswerCheck::kOtherCode);
    auto bad = BuildEmptyAnswer(c.code);
    bad[4] ^= 1;
    EXPECT_EQ(c.check(bad), AnswerCheck::kInvalid);
  }
  // A write is not acknowledged by the read code.
  EXPECT_EQ(CheckNetworkWriteAnswer(BuildEmptyAnswer(0x0B)), AnswerCheck::kOtherCode);
}

TEST(SettingsTelegrams, SmsNeedsEthernet69AndMain40) {
  auto version = [](uint8_t eth, uint8_t main) {
    std::array<uint8_t, 7> a{0xEF, 5, 0x55, 0x15, eth, main, 0};
    devlink::SetCheckByte(a.data());
    return a;
  };
  EXPECT_TRUE(SmsVersionsSupported(version(69, 40)));
  EXPECT_FALSE(SmsVersionsSupported(version(68, 40)));
  EXPECT_FALSE(SmsVersionsSupported(version(69, 39)));
  auto corrupt = version(70, 50);
  corrupt[6] ^= 1;
  EXPECT_FALSE(SmsVersionsSupported(corrupt));
  EXPECT_FALSE(SmsVersionsSupported(BuildEmptyAnswer(0x15)));
}

// ---- Field values -----------------------------------------------------------

struct Refusal {
  const char* control;
  const char* text;
  const char* message;
};

class FieldRefusal : public ::testing::TestWithParam<Refusal> {};

// A bad value in one field refuses the whole block, names the field, and
// leaves the record as it was.
TEST_P(FieldRefusal, NamesTheFieldAndChangesNothing) {
  const Refusal& r = GetParam();
  NetworkFields net = HandMadeNetworkFields();
  SmsFields sms = HandMadeSmsFields();
  NtpFields ntp = HandMadeNtpFields();
  std::optional<FieldError> error;
  if (std::string* t = TextOf(net, r.control)) {
    *t = r.text;
    NetworkSettings s = DecodeNetworkSettings(HandMadeNetworkImage());
    const NetworkSettings before = s;
    error = FromFields(net, s);
    EXPECT_EQ(s, before);
  } else if (std::string* t = TextOf(sms, r.control)) {
    *t = r.text;
    SmsSettings s;
    s.options = 0x77;
    error = FromFields(sms, s);
    EXPECT_EQ(s.options, 0x77);
  } else {
    std::string* text = TextOf(ntp, r.control);
    ASSERT_NE(text, nullptr);
    *text = r.text;
    NtpSettings s;
    s.timeRegion = 77;
    error = FromFields(ntp, s);
    EXPECT_EQ(s.timeRegion, 77);
  }
  ASSERT_TRUE(error);
  EXPECT_EQ(error->control, r.control);
  EXPECT_EQ(error->message, r.message);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldRefusal,
    ::testing::Values(
        Refusal{"Edit2", "192.168.1.300", "Поле \"IP - прибора\": часть адреса больше 255."},
        Refusal{"Edit2", "192.168.1", "Поле \"IP - прибора\": адрес не полный."},
        Refusal{"Edit5", "255..255.0", "Поле \"Маска подсети\": адрес не полный."},
        Refusal{"Edit4", "", "Поле \"Шлюз\": адрес не задан."},
        Refusal{"Edit6", "1.2.3.4.5", "Поле \"Основная DNS\": адрес задан неверно."},
        Refusal{"Edit7", "192.0.2.x", "Поле \"Дополнит. DNS\": адрес задан неверно."},
        Refusal{"Edit8", "203.0.113.256", "Поле \"IP - Сервер 1\": часть адреса больше 255."},
        Refusal{"Edit21", "198.51.100.", "Поле \"IP - Сервер 2(4)\": адрес не полный."},
        Refusal{"Edit3", "", "Поле \"Порт прибора\": порт не задан."},
        Refusal{"Edit3", "65536", "Поле \"Порт прибора\": порт больше 65535."},
        Refusal{"Edit3", "99999999999", "Поле \"Порт прибора\": порт больше 65535."},
        Refusal{"Edit3", "0", "Поле \"Порт прибора\": порт 0 недопустим."},
        Refusal{"Edit9", "0", "Поле \"Порт Сервер 1\": порт 0 недопустим."},
        Refusal{"Edit11", "-1", "Поле \"Порт Сервер 1(3)\": порт задан неверно."},
        Refusal{"PortServ2", "", "Поле \"Порт Сервер 2\": порт не задан."},
        Refusal{"Edit10", "1/300/0", "Поле \"Пультовой номер прибора\": часть номера больше 255."},
        Refusal{"Edit10", "1/0", "Поле \"Пультовой номер прибора\": номер не полный (N1/N2/N3)."},
        Refusal{"Edit10", "1//0", "Поле \"Пультовой номер прибора\": номер не полный (N1/N2/N3)."},
        Refusal{"Edit10", "", "Поле \"Пультовой номер прибора\": номер не задан."},
        Refusal{"edtHost", "00:04:A3:12:34", "Поле \"МАС-адрес\": Ошибка преобразования HEX."},
        Refusal{"edtHost", "00:04:G3:12:34:56", "Поле \"МАС-адрес\": Ошибка преобразования HEX."},
        Refusal{"Edit14", "internet.mts.ru.example.org",
                "Поле \"APN 1 SIM\": длиннее 24 символов."},
        Refusal{"Ipn2", "my apn", "Поле \"APN 2 SIM\": пробел недопустим."},
        Refusal{"Edit14", "apn\u4e2d",
                "Поле \"APN 1 SIM\": символ вне кодовой страницы Windows-1251."},
        Refusal{"EditSMSN_1", "916123456", "Поле \"Номер телефона 1\": нужно 10 цифр номера."},
        Refusal{"EditSMSN_3", "91612345x7", "Поле \"Номер телефона 3\": нужно 10 цифр номера."},
        Refusal{"Edit13", "123", "Поле \"Временной регион\": нужно число от 0 до 99."},
        Refusal{"Edit12", "time.example.org.and.more.x",
                "Поле \"Домен - NTP сервера\": длиннее 24 символов."},
        Refusal{"Edit17", "#100#123456",
                "Поле \"Строка Запроса Баланса 1 SIM\": длиннее 10 символов."}));

TEST(FieldValues, GoodValuesAreConverted) {
  NetworkFields f = HandMadeNetworkFields();
  f.Edit2 = "010.0.0.255";  // leading zeros are decimal
  f.Edit3 = "65535";
  f.Edit10 = "255/255/0";
  f.CheckEnServ4 = false;
  f.Edit22 = "0";  // a switched-off server may keep port 0
  f.edtHost = "a:B:0c:D0:e:F";
  f.Edit14 = "";
  f.Ipn2 = std::string(24, 'x');
  NetworkSettings s;
  ASSERT_FALSE(FromFields(f, s));
  EXPECT_EQ(s.deviceIp, (Ipv4{10, 0, 0, 255}));
  EXPECT_EQ(s.devicePort, 65535);
  EXPECT_EQ(s.consoleNumber, (std::array<uint8_t, 3>{255, 255, 0}));
  EXPECT_EQ(s.server4Port, 0);
  EXPECT_EQ(s.mac, (MacAddress{0x0A, 0x0B, 0x0C, 0xD0, 0x0E, 0x0F}));
  EXPECT_TRUE(std::all_of(s.apn1.begin(), s.apn1.end(), [](uint8_t c) { return c == ' '; }));
  EXPECT_EQ(ToFields(s).Edit14, "");
  EXPECT_EQ(ToFields(s).Ipn2, std::string(24, 'x'));
  EXPECT_EQ(ToFields(s).edtHost, "0A:0B:0C:D0:0E:0F");
}

TEST(FieldValues, TelephoneDigitsArePackedTwoToAByte) {
  SmsFields f = HandMadeSmsFields();
  f.EditSMSN_2 = "";
  SmsSettings s;
  ASSERT_FALSE(FromFields(f, s));
  EXPECT_EQ(s.phones[0].digits, (PhoneDigits{0x12, 0x34, 0x56, 0x78, 0x90}));
  EXPECT_EQ(s.phones[1].digits, PhoneDigits{});
  EXPECT_EQ(ToFields(s).EditSMSN_1, "1234567890");
  EXPECT_EQ(ToFields(s).EditSMSN_2, "0000000000");
}

TEST(FieldValues, TextsAreCutAtTheirFirstZeroOrSpaceAndKeepTheirCodePage) {
  NtpSettings s;
  const std::string domain = "ntp1.example.org padding";
  std::copy(domain.begin(), domain.end(), s.ntpServer.begin());
  s.balance1.fill('9');  // ten characters without a zero after them
  s.balance2 = {0xCF, 0xF0, 0xE8, 0xE2};  // "Прив" in the devices' code page
  const NtpFields f = ToFields(s);
  EXPECT_EQ(f.Edit12, "ntp1.example.org");
  EXPECT_EQ(f.Edit17, "9999999999");
  EXPECT_EQ(f.Edit18, "Прив");
  NtpSettings back;
  ASSERT_FALSE(FromFields(f, back));
  EXPECT_EQ(back.balance2, s.balance2);

  // An empty time region is 255, as the device knows it.
  NtpFields empty = f;
  empty.Edit13 = "";
  ASSERT_FALSE(FromFields(empty, back));
  EXPECT_EQ(back.timeRegion, 255);
}

// ---- Keys -------------------------------------------------------------------

struct KeyCase {
  const char* control;
  const char* text;
  char32_t key;
  bool accepted;
  const char* message;
};

class FieldKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(FieldKeys, FollowTheFieldsFilter) {
  const KeyCase& c = GetParam();
  const FieldInfo* info = FindField(c.control);
  ASSERT_NE(info, nullptr);
  const KeyResult r = FieldKey(info->kind, c.text, c.key);
  EXPECT_EQ(r.accepted, c.accepted);
  EXPECT_EQ(r.message, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, FieldKeys,
    ::testing::Values(
        KeyCase{"Edit2", "192.168", U'.', true, ""},
        KeyCase{"Edit2", "192.168.1.2", U'.', false, ""},
        KeyCase{"Edit2", "192", U'a', false, ""},
        KeyCase{"Edit2", "192.168.1.", U'\b', true, ""},
        KeyCase{"Edit3", "6553", U'5', true, ""},
        KeyCase{"Edit3", "6553", U'6', false, "Выход за границу диапазона.(>65535)"},
        KeyCase{"Edit9", "12345", U'1', false, ""},
        KeyCase{"PortServ2", "12a4", U'1', true, "Ош. Преобр."},
        KeyCase{"Edit22", "", U'-', false, ""},
        KeyCase{"Edit22", "99999", U'\b', true, ""},
        KeyCase{"edtHost", "0A:0B:0C:0D", U':', true, ""},
        KeyCase{"edtHost", "0A:0B:0C:0D:0E:0F", U':', false, ""},
        KeyCase{"edtHost", "0A:0B:0C:0D:0E:", U'f', true, ""},
        KeyCase{"edtHost", "0A", U'g', false, ""},
        KeyCase{"Edit10", "1/0", U'/', true, ""},
        KeyCase{"Edit10", "1/0/", U'/', false, ""},
        KeyCase{"Edit14", "internet", U' ', false, ""},
        KeyCase{"Edit14", "123456789012345678901234", U'x', false, ""},
        KeyCase{"Edit12", "абвгдеёжзийклмнопрстуфх", U'ц', true, ""},  // 23 characters
        KeyCase{"Edit15", "pool.ntp.org", U'.', true, ""},
        KeyCase{"Edit17", "*100#12345", U'6', false, ""},
        KeyCase{"Edit18", "*100", U'#', true, ""},
        KeyCase{"EditSMSN_2", "916123456", U'7', true, ""},
        KeyCase{"EditSMSN_2", "9161234567", U'8', false, ""},
        KeyCase{"EditSMSN_2", "", U'+', false, ""},
        KeyCase{"Edit13", "1", U'2', true, ""},
        KeyCase{"Edit13", "12", U'3', false, ""}));

// ---- Settings files ---------------------------------------------------------

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("maintenance_blocks_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void WriteAll(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()),
                                              std::streamsize(b.size()));
  }

  fs::path dir_;
};

// Read from a device, saved unchanged: the file is the block with the write
// request's header and the check byte the read answer left, not one
// computed for that header.
TEST_F(SettingsFile, SavedReadBlockIsTheLayoutByteForByte) {
  const NetworkBlock answer = BuildNetworkReadAnswer(HandMadeNetworkImage());
  NetworkBlock block{};
  ASSERT_EQ(CheckNetworkReadAnswer(answer, &block), AnswerCheck::kAccepted);
  NetworkSettings s = DecodeNetworkSettings(block);
  ASSERT_FALSE(FromFields(ToFields(s), s));
  EncodeNetworkSettings(s, block);

  const fs::path file = dir_ / kDefaultSettingsFileName;
  std::string error;
  ASSERT_TRUE(WriteSettingsFile(file, block, &error)) << error;

  NetworkBlock expected = HandMadeNetworkImage();
  expected[109] = answer[109];
  const Bytes written = ReadAll(file);
  EXPECT_EQ(written, Bytes(expected.begin(), expected.end()));
  EXPECT_NE(expected[109], devlink::Crc8(expected.data())) << "the case must tell the two apart";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
      << "no temporary file is left";

  // Loaded into another device's block: everything but that device's MAC.
  NetworkBlock other{};
  other.fill(0x11);
  ASSERT_EQ(ReadSettingsFile(file, other, &error), DatLoad::kLoaded) << error;
  NetworkBlock expectedLoaded = expected;
  std::fill_n(expectedLoaded.begin() + 41, 6, 0x11);
  EXPECT_EQ(other, expectedLoaded);
}

TEST_F(SettingsFile, ShortMissingAndLongFiles) {
  NetworkBlock block{};
  block.fill(0x22);
  const NetworkBlock before = block;
  std::string error;

  const fs::path shortFile = dir_ / "short.dat";
  WriteAll(shortFile, Bytes(109, 0x33));
  EXPECT_EQ(ReadSettingsFile(shortFile, block, &error), DatLoad::kTooShort);
  EXPECT_NE(error.find("короче 110 байт"), std::string::npos) << error;
  EXPECT_EQ(block, before);

  error.clear();
  EXPECT_EQ(ReadSettingsFile(dir_ / "missing.dat", block, &error), DatLoad::kNotOpened);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(ReadSettingsFile(dir_, block, &error), DatLoad::kReadError);  // a folder
  EXPECT_EQ(block, before);

  // Only the first 110 bytes of a longer file count.
  Bytes longer(120, 0x44);
  std::fill(longer.begin() + 110, longer.end(), 0x55);
  const fs::path longFile = dir_ / "long.dat";
  WriteAll(longFile, longer);
  ASSERT_EQ(ReadSettingsFile(longFile, block, &error), DatLoad::kLoaded);
  EXPECT_EQ(block[0], 0x44);
  EXPECT_EQ(block[109], 0x44);
  EXPECT_EQ(block[41], 0x22);
}

TEST_F(SettingsFile, FailedWriteKeepsTheOldFile) {
  const fs::path file = dir_ / "Untitled.dat";
  WriteAll(file, Bytes(110, 0x66));
  std::string error;
  EXPECT_FALSE(WriteSettingsFile(dir_ / "no_such_folder" / "x.dat", HandMadeNetworkImage(), &error));
  EXPECT_FALSE(error.empty());

  // Replaced whole when the write succeeds.
  ASSERT_TRUE(WriteSettingsFile(file, HandMadeNetworkImage(), &error)) << error;
  const NetworkBlock image = HandMadeNetworkImage();
  EXPECT_EQ(ReadAll(file), Bytes(image.begin(), image.end()));
}

TEST_F(SettingsFile, FolderBesideTheExecutableIsCreated) {
  std::string error;
  const std::string folder = SettingsFolder(dir_, &error);
  EXPECT_EQ(folder, (dir_ / "Network_1").string());
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(SettingsFolder(dir_, &error), folder);  // already there

  const fs::path blocked = dir_ / "blocked";
  fs::create_directories(blocked);
  WriteAll(blocked / "Network_1", Bytes{1});
  EXPECT_EQ(SettingsFolder(blocked, &error), "");
  EXPECT_NE(error.find("Network_1"), std::string::npos) << error;
}

}  // namespace
