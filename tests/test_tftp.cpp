// The Ethernet controller's firmware transfer: the TFTP state machine against a
// scripted loader, and against a real TFTP server (tftpd-hpa) on loopback.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "maintenance/tftp.h"
#include "tests/support/tftp_peer.h"

namespace {

using maintenance::TftpDatagram;
using maintenance::TftpMode;
using maintenance::TftpOutcome;
using maintenance::TftpTransfer;

constexpr char kDevice[] = "192.0.2.10";
constexpr uint16_t kDevicePort = 5000;
constexpr uint16_t kLoaderPort = 40001;  // where the loader's ACK 0 comes from
constexpr char kOtherAddress[] = "192.0.2.99";
constexpr char kName[] = "fw87j60.hex";

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(i * 7 + i / 251);
  return v;
}

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Repeat(const std::string& s, int n) {
  std::string r;
  for (int i = 0; i < n; ++i) r += s;
  return r;
}

// The loader as a script, the transfer's datagrams as a trace:
// J the jump command, W the write request, Dn:size a DATA block.
class ScriptedLoader {
 public:
  explicit ScriptedLoader(size_t size, TftpMode mode = TftpMode::kNetAscii)
      : file(Pattern(size)), t(kName, file, kDevice, kDevicePort, mode) {
    Record(t.Start(now));
  }

  // Space-separated steps:
  //   T    time passes to the transfer's deadline
  //   An   ACK of block n from the loader; Xn the same from another address,
  //        Pn from the device's address but another port
  //   O    option acknowledgement   E  ERROR   Z  the operator aborts
  //   M    a maintenance answer of the device's main firmware
  void Run(const std::string& script) {
    std::istringstream in(script);
    std::string step;
    while (in >> step) {
      const char c = step[0];
      const uint16_t n = step.size() > 1 ? uint16_t(std::stoul(step.substr(1))) : 0;
      if (c == 'T') {
        if (t.Deadline()) now = *t.Deadline();
        Record(t.OnTime(now));
      } else if (c == 'A') {
        From(kDevice, kLoaderPort, Ack(n));
      } else if (c == 'X') {
        From(kOtherAddress, kLoaderPort, Ack(n));
      } else if (c == 'P') {
        From(kDevice, kLoaderPort + 1, Ack(n));
      } else if (c == 'O') {
        From(kDevice, kLoaderPort, Bytes(std::string("\0\6blksize\0002048\0", 15)));
      } else if (c == 'E') {
        From(kDevice, kLoaderPort, Bytes(std::string("\0\5\0\2Access violation\0", 21)));
      } else if (c == 'M') {
        From(kDevice, kDevicePort, {0xEF, 0x03, 0x55, 0x11, 0x7C});
      } else if (c == 'Z') {
        t.Abort();
      } else {
        ADD_FAILURE() << "unknown step " << step;
      }
    }
  }

  static std::vector<uint8_t> Ack(uint16_t n) { return {0, 4, uint8_t(n >> 8), uint8_t(n)}; }

  void From(const char* address, uint16_t port, const std::vector<uint8_t>& d) {
    Record(t.OnDatagram(address, port, d.data(), d.size(), now));
  }

  void Record(std::vector<TftpDatagram> out) {
    for (TftpDatagram& d : out) sent.push_back(std::move(d));
  }

  std::string Trace() const {
    std::string s;
    for (const TftpDatagram& d : sent) {
      if (!s.empty()) s += ' ';
      if (d.kind == TftpDatagram::Kind::kJumpCommand) s += 'J';
      if (d.kind == TftpDatagram::Kind::kWriteRequest) s += 'W';
      if (d.kind == TftpDatagram::Kind::kData)
        s += 'D' + std::to_string(d.bytes[2] << 8 | d.bytes[3]) + ':' +
             std::to_string(d.bytes.size() - 4);
    }
    return s;
  }

  std::vector<uint8_t> file;
  TftpTransfer t;
  uint64_t now = 1000;
  std::vector<TftpDatagram> sent;
};

struct ProtocolCase {
  const char* name;
  size_t size;
  std::string script;
  std::string trace;
  TftpOutcome outcome;
};

void PrintTo(const ProtocolCase& c, std::ostream* os) { *os << c.name; }

const std::string kD1 = " D1:100";  // the one block of a 100-byte file

const ProtocolCase kProtocolCases[] = {
    {"OneShortBlock", 100, "T A0 A1", "J W D1:100", TftpOutcome::kSucceeded},
    {"MultipleOf512EndsWithEmptyBlock", 1024, "T A0 A1 A2 A3", "J W D1:512 D2:512 D3:0",
     TftpOutcome::kSucceeded},
    {"DuplicateAckResendsCurrentBlock", 1100, "T A0 A1 A1 A2 A3", "J W D1:512 D2:512 D2:512 D3:76",
     TftpOutcome::kSucceeded},
    // The second ACK 1 answers our own resend of block 1: resending block 2
    // for it would send every later block twice (sorcerer's apprentice).
    {"EchoOfOwnResendIsNotAnswered", 1100, "T A0 T A1 A1 A2 A3", "J W D1:512 D1:512 D2:512 D3:76",
     TftpOutcome::kSucceeded},
    {"DuplicateBeyondTheEchoesResends", 1100, "T A0 T A1 A1 A1 A2 A3",
     "J W D1:512 D1:512 D2:512 D2:512 D3:76", TftpOutcome::kSucceeded},
    {"AckFromAnotherAddressIgnored", 100, "T X0 A0 X1 T", "J W" + kD1 + kD1, TftpOutcome::kRunning},
    {"AckFromAnotherPortIgnored", 100, "T A0 P1 T", "J W" + kD1 + kD1, TftpOutcome::kRunning},
    {"AckBeyondLastBuiltIgnored", 1100, "T A0 A2 T", "J W D1:512 D1:512", TftpOutcome::kRunning},
    {"StaleOlderAckIgnored", 1600, "T A0 A1 A2 A0 T", "J W D1:512 D2:512 D3:512 D3:512",
     TftpOutcome::kRunning},
    {"WithheldLastAckFailsAtTwelfthTimeOut", 100, "T A0" + Repeat(" T", 12),
     "J W" + Repeat(kD1, 12), TftpOutcome::kRetriesExhausted},
    {"ElevenTimeOutsAreSurvived", 100, "T A0" + Repeat(" T", 11) + " A1", "J W" + Repeat(kD1, 12),
     TftpOutcome::kSucceeded},
    {"DuplicateAckRestartsTheTimeOutCount", 100,
     "T A0" + Repeat(" T", 11) + " A0" + Repeat(" T", 11) + " A1", "J W" + Repeat(kD1, 24),
     TftpOutcome::kSucceeded},
    {"NoAck0AfterFourTries", 100, Repeat("T ", 8), "J W J W J W J W", TftpOutcome::kNoAck0},
    {"OackToRequestCostsATry", 100, "T O T O T O T O", "J W J W J W J W", TftpOutcome::kNoAck0},
    {"Ack0AtTheLastTry", 100, "T O T O T O T A0 A1", "J W J W J W J W" + kD1,
     TftpOutcome::kSucceeded},
    {"OackInDataIsAFailedTry", 100, "T A0 O A1", "J W" + kD1 + kD1, TftpOutcome::kSucceeded},
    {"OackInDataCountsTowardTheLimit", 100, "T A0" + Repeat(" T", 10) + " O",
     "J W" + Repeat(kD1, 11), TftpOutcome::kRetriesExhausted},
    {"ErrorToRequestCostsATry", 100, "T E T A0", "J W J W" + kD1, TftpOutcome::kRunning},
    {"ErrorToEveryRequest", 100, "T E T E T E T E", "J W J W J W J W", TftpOutcome::kNoAck0},
    {"ErrorInDataIsAFailedTry", 100, "T A0 E A1", "J W" + kD1 + kD1, TftpOutcome::kSucceeded},
    {"ErrorInDataCountsTowardTheLimit", 100, "T A0" + Repeat(" T", 10) + " E",
     "J W" + Repeat(kD1, 11), TftpOutcome::kRetriesExhausted},
    {"AbortEndsAtOnce", 100, "T A0 Z T A1", "J W" + kD1, TftpOutcome::kAborted},
    {"AbortInThePause", 100, "Z T", "J", TftpOutcome::kAborted},
    {"RepliesInThePauseIgnored", 100, "A0 T A0 A1", "J W" + kD1, TftpOutcome::kSucceeded},
    {"MaintenanceAnswerIsNoReply", 100, "T M T", "J W J", TftpOutcome::kRunning},
    {"EmptyFileRefused", 0, "T A0", "", TftpOutcome::kEmptyFile},
};

class TftpProtocol : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(TftpProtocol, SendsAndEndsAsTheLoaderAnswers) {
  const ProtocolCase& c = GetParam();
  ScriptedLoader loader(c.size);
  loader.Run(c.script);
  EXPECT_EQ(loader.Trace(), c.trace);
  EXPECT_EQ(loader.t.Outcome(), c.outcome);
  const bool failed = c.outcome != TftpOutcome::kRunning && c.outcome != TftpOutcome::kSucceeded;
  EXPECT_EQ(!loader.t.Error().empty(), failed) << loader.t.Error();
}

INSTANTIATE_TEST_SUITE_P(Cases, TftpProtocol, ::testing::ValuesIn(kProtocolCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TftpTransfer, PacketsCarryTheFileToTheirPlaces) {
  ScriptedLoader loader(1100);
  loader.Run("T A0 A1 A2 A3");
  ASSERT_TRUE(loader.t.Succeeded());
  ASSERT_EQ(loader.sent.size(), 5u);

  const TftpDatagram& jump = loader.sent[0];
  EXPECT_EQ(jump.bytes, (std::vector<uint8_t>{0xEF, 0x03, 0x55, 0x11, 0x7C}));
  EXPECT_FALSE(jump.AwaitsReply());
  std::vector<uint8_t> payload;
  for (const TftpDatagram& d : loader.sent) {
    // The request goes to the device's own port, the blocks to the loader's.
    EXPECT_EQ(d.address, kDevice);
    EXPECT_EQ(d.port, d.kind == TftpDatagram::Kind::kData ? kLoaderPort : kDevicePort);
    if (d.kind == TftpDatagram::Kind::kData)
      payload.insert(payload.end(), d.bytes.begin() + 4, d.bytes.end());
  }
  EXPECT_TRUE(loader.sent[1].AwaitsReply());
  EXPECT_EQ(payload, loader.file);

  const maintenance::TftpProgress p = loader.t.Progress();
  EXPECT_EQ(p.bytesRead, 1100u);
  EXPECT_EQ(p.bytesTotal, 1100u);
  EXPECT_EQ(p.blocksSent, 3u);
  EXPECT_EQ(p.blocksTotal, 3u);
}

struct ModeCase {
  TftpMode mode;
  const char* text;
};

void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.text; }

class WriteRequest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(WriteRequest, NamesFileModeAndBlockSize) {
  ScriptedLoader loader(100, GetParam().mode);
  loader.Run("T");
  ASSERT_EQ(loader.sent.size(), 2u);
  const std::string want = std::string("\0\2", 2) + kName + '\0' + GetParam().text + '\0' +
                           "blksize" + '\0' + "2048" + '\0';
  EXPECT_EQ(loader.sent[1].bytes, Bytes(want));
}

INSTANTIATE_TEST_SUITE_P(Modes, WriteRequest,
                         ::testing::Values(ModeCase{TftpMode::kNetAscii, "netascii"},
                                           ModeCase{TftpMode::kOctet, "octet"}));

TEST(TftpTransfer, WaitsHaveTheirFixedLengths) {
  ScriptedLoader loader(600);             // started at 1000
  EXPECT_EQ(loader.t.Deadline(), 3000u);  // the pause after the jump command
  loader.Record(loader.t.OnTime(2999));
  EXPECT_EQ(loader.Trace(), "J");

  loader.Record(loader.t.OnTime(3000));
  EXPECT_EQ(loader.t.Deadline(), 9000u);
  EXPECT_EQ(loader.t.WaitLengthMs(), 6000u);
  // Armed as soon as the request exists: an instant ACK 0 from any port counts.
  EXPECT_TRUE(loader.t.Accepts(kDevice, 1234));
  EXPECT_FALSE(loader.t.Accepts(kOtherAddress, kLoaderPort));

  loader.now = 3001;
  loader.Run("A0");
  EXPECT_EQ(loader.t.Deadline(), 7001u);
  EXPECT_EQ(loader.t.WaitLengthMs(), 4000u);
  EXPECT_TRUE(loader.t.Accepts(kDevice, kLoaderPort));
  EXPECT_FALSE(loader.t.Accepts(kDevice, kLoaderPort + 1));

  // Ignored datagrams do not put the time-out off.
  loader.now = 7000;
  loader.Run("X1 P1 A5");
  EXPECT_EQ(loader.t.Deadline(), 7001u);
  loader.Record(loader.t.OnTime(7000));
  loader.Record(loader.t.OnTime(7001));
  EXPECT_EQ(loader.Trace(), "J W D1:512 D1:512");
}

TEST(TftpTransfer, BlockNumbersWrapAfter65535) {
  const size_t blocks = 65537;  // the last one carries 10 bytes
  ScriptedLoader loader((blocks - 1) * maintenance::kTftpBlock + 10);
  loader.Run("T A0");
  loader.sent.erase(loader.sent.begin(), loader.sent.end() - 1);  // keep block 1
  size_t dataSent = 0, lastSize = 0;
  while (!loader.t.Done() && dataSent < blocks + 5) {
    ASSERT_EQ(loader.sent.size(), 1u);
    const TftpDatagram d = std::move(loader.sent.back());
    loader.sent.clear();
    ASSERT_EQ(d.kind, TftpDatagram::Kind::kData);
    ++dataSent;
    lastSize = d.bytes.size() - 4;
    const uint16_t wire = uint16_t(d.bytes[2] << 8 | d.bytes[3]);
    ASSERT_EQ(wire, uint16_t(dataSent)) << "block " << dataSent;
    loader.From(kDevice, kLoaderPort, ScriptedLoader::Ack(wire));
  }
  EXPECT_TRUE(loader.t.Succeeded());
  EXPECT_EQ(dataSent, blocks);
  EXPECT_EQ(lastSize, 10u);
}

// A loader that acknowledges every copy it gets twice, as one with a
// doubling network path would: the traffic stays bounded.
TEST(TftpTransfer, ALoaderThatAcknowledgesEveryCopyTwiceGetsEachBlockAtMostTwice) {
  const size_t blocks = 40;
  ScriptedLoader loader(blocks * maintenance::kTftpBlock - 1);
  loader.Run("T A0");
  size_t dataSent = 0;
  std::vector<TftpDatagram> pending;
  pending.swap(loader.sent);
  pending.erase(pending.begin(), pending.end() - 1);  // block 1
  while (!loader.t.Done() && dataSent < 10 * blocks) {
    ASSERT_FALSE(pending.empty());
    std::vector<TftpDatagram> next;
    for (const TftpDatagram& d : pending) {
      ASSERT_EQ(d.kind, TftpDatagram::Kind::kData);
      ++dataSent;
      const uint16_t wire = uint16_t(d.bytes[2] << 8 | d.bytes[3]);
      for (int copy = 0; copy < 2; ++copy) {
        loader.From(kDevice, kLoaderPort, ScriptedLoader::Ack(wire));
        for (TftpDatagram& out : loader.sent) next.push_back(std::move(out));
        loader.sent.clear();
      }
    }
    pending.swap(next);
  }
  EXPECT_TRUE(loader.t.Succeeded());
  EXPECT_LE(dataSent, 2 * blocks);
}

TEST(TftpTransfer, LogsTheLinesOfASuccessfulTransfer) {
  ScriptedLoader loader(100);
  loader.Run("T A0 A1");
  EXPECT_EQ(loader.t.TakeLog(),
            (std::vector<std::string>{"Команда-\"Перейти в загрузчик 87J60\".", "Init.Block0 N=1.",
                                      "Ожидание ответа.", "Init.Block-OK.",
                                      "Обновление 87J60 успешно завершено!"}));
  EXPECT_TRUE(loader.t.TakeLog().empty());
}

TEST(TftpTransfer, LogsTheLinesOfAFailedStart) {
  ScriptedLoader loader(100);
  loader.Run(Repeat("T ", 8));
  std::vector<std::string> want;
  for (int t = 1; t <= 4; ++t)
    want.insert(want.end(), {"Команда-\"Перейти в загрузчик 87J60\".",
                             "Init.Block0 N=" + std::to_string(t) + ".", "Ожидание ответа."});
  want.insert(want.end(), {"Нет ACK от Прибора.", "Запрос прерван.",
                           "Ошибка при Обновлении 87J60, или запрещено обновление.",
                           "Загрузка 87J60 прервана!"});
  EXPECT_EQ(loader.t.TakeLog(), want);
}

TEST(TftpTransfer, LogsEachResendAndTheLoadersError) {
  ScriptedLoader loader(1100);
  loader.Run("T A0 A1 T T E");
  std::vector<std::string> log = loader.t.TakeLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.end() - 3, log.end()),
            (std::vector<std::string>{"Повтор пакета N-2", "Повтор пакета N-2",
                                      "Ошибка 5 в ответе.Повтор пакета N-2"}));
  loader.Run(Repeat("T ", 9));  // retries 3..11, and the twelfth failed try ends it
  log = loader.t.TakeLog();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(log.end() - 2, log.end()),
            (std::vector<std::string>{"Ошибка при Обновлении 87J60, или запрещено обновление.",
                                      "Загрузка 87J60 прервана!"}));
  EXPECT_EQ(loader.t.Outcome(), TftpOutcome::kRetriesExhausted);
  EXPECT_NE(loader.t.Error().find("Access violation"), std::string::npos) << loader.t.Error();
}

TEST(TftpTransfer, OackRefusalSaysWhy) {
  ScriptedLoader loader(100);
  loader.Run("T O T T T T T T");
  EXPECT_EQ(loader.t.Outcome(), TftpOutcome::kNoAck0);
  EXPECT_NE(loader.t.Error().find("OACK"), std::string::npos);
}

struct FileCase {
  const char* path;
  bool exists;
  const char* problem;  // empty: accepted
};

void PrintTo(const FileCase& c, std::ostream* os) {
  *os << c.path << (c.exists ? "" : " (missing)");
}

class FirmwareFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(FirmwareFile, IsCheckedByNameAndPresence) {
  const FileCase& c = GetParam();
  const std::optional<std::string> problem =
      maintenance::EthernetFirmwareFileProblem(c.path, c.exists);
  EXPECT_EQ(problem.value_or(""), c.problem);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirmwareFile,
    ::testing::Values(
        FileCase{"/fw/eth_87j60_v2.hex", true, ""},
        FileCase{
            "/fw/eth_87j60_v2.hex", false,
            "Загрузочный файл 87J60-> (/fw/eth_87j60_v2.hex) не найден. Уточните путь к файлу."},
        FileCase{"/fw/ETH_87J60.HEX", true,
                 "Файл -> (/fw/ETH_87J60.HEX) не корректен. Ошибочный файл."},
        FileCase{"/87j60/main.hex", true,
                 "Файл -> (/87j60/main.hex) не корректен. Ошибочный файл."}));

TEST(TftpRemoteName, DropsTheFolder) {
  EXPECT_EQ(maintenance::TftpRemoteName("/home/op/firmware/eth_87j60.hex"), "eth_87j60.hex");
}

// --- Against tftpd-hpa --------------------------------------------------------

// An Intel HEX text with CR LF line ends, as the firmware files are.
std::string HexText(int lines) {
  static const char digits[] = "0123456789ABCDEF";
  std::string s;
  for (int l = 0; l < lines; ++l) {
    uint8_t rec[20] = {16, uint8_t(l * 16 >> 8), uint8_t(l * 16), 0};
    for (int i = 0; i < 16; ++i) rec[4 + i] = uint8_t(l * 31 + i * 5);
    uint8_t sum = 0;
    s += ':';
    for (uint8_t b : rec) {
      sum = uint8_t(sum + b);
      s += {digits[b >> 4], digits[b & 15]};
    }
    const uint8_t check = uint8_t(-sum);
    s += {digits[check >> 4], digits[check & 15], '\r', '\n'};
  }
  return s + ":00000001FF\r\n";
}

// What a Unix server stores for netascii: the line end CR LF becomes LF.
std::string NetasciiStored(const std::string& s) {
  std::string r;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    r += s[i];
  }
  return r;
}

struct ServerCase {
  const char* name;
  TftpMode mode;
  std::string file;
  std::string stored;
};

// Uploads allowed, the block-size option refused as the device's loader does;
// a short retransmission time so that each transfer's server process, which
// lingers one retransmission time for a repeated last block, ends soon.
const std::vector<std::string> kLoaderLike{"--create", "--refuse", "blksize", "--retransmit",
                                           "100000"};

void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

class TftpdHpaPeer : public ::testing::TestWithParam<ServerCase> {};

TEST_P(TftpdHpaPeer, StoresTheFirmwareFile) {
  const ServerCase& c = GetParam();
  testsupport::TftpdHpa server(kLoaderLike);
  if (!server.Running()) GTEST_SKIP() << server.Why();
  TftpTransfer t(kName, Bytes(c.file), "127.0.0.1", server.Port(), c.mode, 0);
  ASSERT_TRUE(testsupport::RunTftpOverUdp(t, std::chrono::seconds(20))) << t.Error();
  EXPECT_EQ(server.Stored(kName), c.stored);
}

const std::string kHex = HexText(300);  // about 13 KiB
const std::string kBinary = [] {
  const std::vector<uint8_t> p = Pattern(4 * 512);  // ends with an empty block
  return std::string(p.begin(), p.end());
}();

INSTANTIATE_TEST_SUITE_P(Modes, TftpdHpaPeer,
                         ::testing::Values(ServerCase{"NetasciiHexText", TftpMode::kNetAscii, kHex,
                                                      NetasciiStored(kHex)},
                                           ServerCase{"OctetBinary", TftpMode::kOctet, kBinary,
                                                      kBinary}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TftpdHpa, RefusedRequestCostsEveryTryAndNamesTheServersError) {
  testsupport::TftpdHpa server({"--refuse", "blksize"});  // no new files: "File not found"
  if (!server.Running()) GTEST_SKIP() << server.Why();
  TftpTransfer t(kName, Bytes(kHex), "127.0.0.1", server.Port(), TftpMode::kNetAscii, 0);
  EXPECT_FALSE(testsupport::RunTftpOverUdp(t, std::chrono::seconds(20)));
  EXPECT_EQ(t.Outcome(), TftpOutcome::kNoAck0);
  EXPECT_NE(t.Error().find("File not found"), std::string::npos) << t.Error();
}

TEST(TftpdHpa, OptionAcknowledgementIsNotAccepted) {
  testsupport::TftpdHpa server({"--create", "--retransmit", "100000"});  // grants "blksize"
  if (!server.Running()) GTEST_SKIP() << server.Why();
  TftpTransfer t(kName, Bytes(kHex), "127.0.0.1", server.Port(), TftpMode::kNetAscii, 0);
  EXPECT_FALSE(testsupport::RunTftpOverUdp(t, std::chrono::seconds(30)));
  EXPECT_EQ(t.Outcome(), TftpOutcome::kNoAck0);
  EXPECT_NE(t.Error().find("OACK"), std::string::npos);
}

}  // namespace
