// Firmware files of the main controller: the whole-file check and its refusals,
// digits in either case, the loader's telegrams, packets and answer checks,
// and HEX files made by outside tools (objcopy, srec_cat, gpasm) whose data,
// carried by the packets, srec_cmp compares with the source.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "devlink/crc8.h"
#include "maintenance/intel_hex.h"
#include "maintenance/loader_packets.h"

namespace {

namespace fs = std::filesystem;
using namespace maintenance;
using Bytes = std::vector<uint8_t>;

// A small PIC18 image as gpasm writes it: extended address, code, end.
const std::string kSmall = ":020000040000FA\r\n:0400000020EF00F0FD\r\n:00000001FF\r\n";

// One record in upper case with its checksum.
std::string Record(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
  return maintenance::HexRecordText(address, type, data);
}

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::optional<HexFile> Read(const std::string& text, HexRefusal* why = nullptr) {
  return ReadFirmwareHex(text, why);
}

// ---- Refusals -------------------------------------------------------------

struct BadFile {
  const char* name;
  std::string text;
  size_t line;
  const char* what;  // a piece of the reason that names the fault
};

std::ostream& operator<<(std::ostream& o, const BadFile& b) { return o << b.name; }

const std::string kLong251 = Record(0, kRecordData, Bytes(251, 0x5A));

class MalformedFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(MalformedFile, IsRefusedNamingTheLine) {
  const BadFile& c = GetParam();
  HexRefusal why;
  EXPECT_FALSE(Read(c.text, &why).has_value());
  EXPECT_EQ(why.line, c.line);
  EXPECT_EQ(why.reason.rfind("Строка " + std::to_string(c.line) + ": ", 0), 0u) << why.reason;
  EXPECT_NE(why.reason.find(c.what), std::string::npos) << why.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedFile,
    ::testing::Values(
        BadFile{"Empty", "", 1, "файл пуст"},
        BadFile{"NoColon", ":020000040000FA\r\n0400000020EF00F0FD\r\n:00000001FF\r\n", 2, "не начинается с \":\""},
        BadFile{"BlankLine", ":020000040000FA\r\n\r\n:00000001FF\r\n", 2, "не начинается с \":\""},
        BadFile{"OddDigitCount", ":020000040000FA\r\n:0400000020EF00F0F\r\n:00000001FF\r\n", 2, "нечётное число"},
        BadFile{"BadChecksum", ":020000040000FA\r\n:0400000020EF00F0FE\r\n:00000001FF\r\n", 2,
                "контрольная сумма FE, должна быть FD"},
        BadFile{"CountDisagreesWithLength", ":0500000020EF00F0FD\r\n:00000001FF\r\n", 1, "объявляет 5"},
        BadFile{"TooShort", ":00000001\r\n", 1, "короче 11 знаков"},
        BadFile{"LfOnly", ":020000040000FA\n:00000001FF\n", 1, "LF без CR"},
        BadFile{"CrWithoutLf", ":020000040000FA\r:00000001FF\r\n", 1, "после CR нет LF"},
        BadFile{"LastLineWithoutCrLf", ":020000040000FA\r\n:00000001FF", 2, "не кончается на CR LF"},
        BadFile{"RecordTooLongForAPacket", kLong251 + "\r\n:00000001FF\r\n", 1, "не помещается в пакет"},
        BadFile{"DataAfterEndRecord", ":00000001FF\r\n:0400000020EF00F0FD\r\n", 2, "после записи конца файла"},
        BadFile{"BlankLineAfterEndRecord", kSmall + "\r\n", 4, "после записи конца файла"},
        BadFile{"NoEndRecord", ":020000040000FA\r\n:0400000020EF00F0FD\r\n", 2, "без записи конца файла"},
        BadFile{"NonHexLetter", ":04000000G0EF00F0FD\r\n:00000001FF\r\n", 1, "'G' в позиции 10"},
        BadFile{"NonAsciiByte", ":02000004\xC0" "000FA\r\n:00000001FF\r\n", 1, "с кодом 0xC0"},
        BadFile{"UnknownRecordType", ":00000006FA\r\n:00000001FF\r\n", 1, "неизвестный тип записи 06"},
        BadFile{"EndRecordWithData", ":01000001AA54\r\n", 1, "типа 01 должна нести 0"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Reading --------------------------------------------------------------

TEST(IntelHex, ReadsRecordsAndWhereEachLineEnds) {
  const auto f = Read(kSmall);
  ASSERT_TRUE(f.has_value());
  ASSERT_EQ(f->records.size(), 3u);
  const HexRecord& code = f->records[1];
  EXPECT_EQ(code.line, 2u);
  EXPECT_EQ(code.text, ":0400000020EF00F0FD");
  EXPECT_EQ(code.type, kRecordData);
  EXPECT_EQ(code.data, (Bytes{0x20, 0xEF, 0x00, 0xF0}));
  EXPECT_EQ(code.checksum, 0xFD);
  EXPECT_EQ(code.end, 17u + 21u);
  EXPECT_EQ(f->records.back().end, kSmall.size());
  EXPECT_EQ(f->size, kSmall.size());
}

// The low checksum digit 'd' read as c - 'A' + 10 would give 0x1D, not 0xFD.
TEST(IntelHex, LowerCaseDigitsReadRightAndGoOutInUpperCase) {
  const std::string lower = ":020000040000fa\r\n:0400000020ef00f0fd\r\n:00000001ff\r\n";
  const auto f = Read(lower);
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->records[1].data, (Bytes{0x20, 0xEF, 0x00, 0xF0}));
  EXPECT_EQ(f->records[1].checksum, 0xFD);

  const auto packets = BuildLoaderPackets(*f);
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(Text(packets[0].bytes), ":020000040000FA:0400000020EF00F0FD:00000001FF");
  EXPECT_EQ(packets, BuildLoaderPackets(*Read(kSmall)));
}

// A line joins a packet only while the packet stays below 512 characters.
TEST(LoaderPackets, PacketsStayBelow512Characters) {
  const struct {
    size_t dataBytes;  // of the one data line between ":020000040000FA" and the end record
    std::vector<size_t> packetSizes;
  } cases[] = {
      {237, {15 + 485 + 11}},      // exactly 511: one packet
      {238, {15 + 487, 11}},       // 513 with the end record
      {245, {15, 501, 11}},        // 501 + 11 would be 512
      {kMaxRecordData, {15, 511, 11}},
  };
  for (const auto& c : cases) {
    const std::string line = Record(0x0100, kRecordData, Bytes(c.dataBytes, 0xA5));
    const auto f = Read(":020000040000FA\r\n" + line + "\r\n:00000001FF\r\n");
    ASSERT_TRUE(f.has_value()) << c.dataBytes;
    std::vector<size_t> sizes;
    for (const auto& p : BuildLoaderPackets(*f)) sizes.push_back(p.bytes.size());
    EXPECT_EQ(sizes, c.packetSizes) << c.dataBytes << " data bytes";
  }
}

// ---- Packets and telegrams ------------------------------------------------

// Lines of 16 data bytes have 43 characters: eleven make 473, a twelfth would reach 516.
TEST(LoaderPackets, ElevenLinesOfSixteenBytesFillAPacket) {
  std::string text;
  std::vector<std::string> lines;
  for (int i = 0; i < 12; ++i) {
    lines.push_back(Record(uint16_t(i * 16), kRecordData, Bytes(16, uint8_t(i * 7))));
    text += lines.back() + "\r\n";
  }
  text += ":00000001FF\r\n";
  const auto f = Read(text);
  ASSERT_TRUE(f.has_value());

  const auto packets = BuildLoaderPackets(*f);
  ASSERT_EQ(packets.size(), 2u);
  std::string first;
  for (int i = 0; i < 11; ++i) first += lines[i];
  EXPECT_EQ(packets[0].bytes.size(), 473u);
  EXPECT_EQ(Text(packets[0].bytes), first);
  EXPECT_EQ(packets[0].lastChecksum, f->records[10].checksum);
  EXPECT_EQ(packets[0].fileOffset, 11u * 45u);
  EXPECT_EQ(Text(packets[1].bytes), lines[11] + ":00000001FF");
  EXPECT_EQ(packets[1].lastChecksum, 0xFF);
  EXPECT_EQ(packets[1].fileOffset, text.size());
  EXPECT_EQ(packets[1].firstLine, 12u);
  EXPECT_EQ(packets[1].lastLine, 13u);
}

// The loader is the same for every chip kind: jump, erase, then the lines.
TEST(LoaderPackets, PlanOfEachChipKind) {
  const auto f = Read(kSmall);
  ASSERT_TRUE(f.has_value());
  for (uint8_t kind : {0, 1, 2}) {
    SCOPED_TRACE(int(kind));
    std::string why;
    const auto plan = PlanMainControllerUpdate(*f, kind, &why);
    ASSERT_TRUE(plan.has_value()) << why;
    EXPECT_EQ(uint8_t(plan->chip), kind);
    EXPECT_EQ(plan->jump, (Bytes{0xFE, 0x06, 0x01, 0x7F, 0x00, 0x00, 0xD9, 0xBD}));
    EXPECT_EQ(plan->erase, (Bytes{0xFE, 0x03, 0x55, 0x13, 0x77}));
    ASSERT_EQ(plan->packets.size(), 1u);
    EXPECT_EQ(Text(plan->packets[0].bytes), ":020000040000FA:0400000020EF00F0FD:00000001FF");
    EXPECT_EQ(plan->packets[0].lastChecksum, 0xFF);
    EXPECT_EQ(plan->packets[0].fileOffset, kSmall.size());
    EXPECT_EQ(plan->fileSize, kSmall.size());
  }
  for (uint8_t kind : {3, 255}) {
    std::string why;
    EXPECT_FALSE(PlanMainControllerUpdate(*f, kind, &why).has_value());
    EXPECT_EQ(why, "Неизвестный тип микросхемы прибора (" + std::to_string(kind) +
                       "). Обновление запрещено.");
  }
}

struct NameCase {
  std::string path;
  uint8_t kind;
  std::string message;  // empty: the file may go
};

TEST(LoaderPackets, FileNameMustFitTheChip) {
  const std::string bad = ") не корректен. Ошибочный файл.";
  const NameCase cases[] = {
      {"/srv/fw/main_4620_v2.hex", 0, ""},
      {"/srv/fw/main_67k22.hex", 1, ""},
      {"/srv/fw/main_46k22.crp", 2, ""},
      {"/srv/fw/main_4620.hex", 2, ""},
      {"/srv/fw/main_67k22.hex", 2, ""},
      {"/srv/fw/main_4620.hex", 1, "Файл -> (/srv/fw/main_4620.hex) не корректен(не 67k22). Ошибочный файл."},
      {"/srv/fw/main_67k22.hex", 0, "Файл -> (/srv/fw/main_67k22.hex) не корректен(не 4620). Ошибочный файл."},
      {"/srv/fw/main_46k22.hex", 0, "Файл -> (/srv/fw/main_46k22.hex) не корректен(не 4620). Ошибочный файл."},
      {"/srv/fw/main_67K22.hex", 1, "Файл -> (/srv/fw/main_67K22.hex" + bad},
      {"/srv/4620/main.hex", 0, "Файл -> (/srv/4620/main.hex" + bad},
      {"/srv/fw/main_4620.hex", 3, "Неизвестный тип микросхемы прибора (3). Обновление запрещено."},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(FirmwareNameRefusal(c.path, c.kind), c.message) << c.path << " kind " << int(c.kind);
  }
}

// An answer 0xEF, L, 0x55, code, data, check byte.
Bytes Answer(uint8_t code, Bytes data) {
  Bytes a = {0xEF, uint8_t(data.size() + 3), 0x55, code};
  for (uint8_t x : data) a.push_back(x);
  a.push_back(0);
  devlink::SetCheckByte(a.data());
  return a;
}

TEST(LoaderPackets, PacketTakenOnlyByItsChecksumAnswer) {
  LoaderPacket p;
  p.lastChecksum = 0xFD;
  Bytes badCheck = Answer(0x13, {0x00, 0xFD});
  badCheck.back() ^= 1;
  Bytes notMaintenance = Answer(0x13, {0x00, 0xFD});
  notMaintenance[2] = 0x01;
  devlink::SetCheckByte(notMaintenance.data());
  const Bytes cut = Answer(0x13, {0x00, 0xFD});

  struct Case {
    const char* name;
    Bytes answer;
    bool taken;
  } cases[] = {
      {"right", Answer(0x13, {0x00, 0xFD}), true},
      {"longer answer", Answer(0x13, {0x00, 0xFD, 0x44}), true},
      {"loader error", Answer(0x13, {0x01, 0xFD}), false},
      {"other checksum", Answer(0x13, {0x00, 0x1D}), false},
      {"erase answer code", Answer(0x12, {0x00, 0xFD}), false},
      {"byte 5 is the check byte", Answer(0x13, {0x00}), false},
      {"wrong check byte", badCheck, false},
      {"marker not 0x55", notMaintenance, false},
      {"cut short", Bytes(cut.begin(), cut.end() - 1), false},
      {"empty", {}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(PacketTaken(c.answer, p), c.taken) << c.name;
}

TEST(LoaderPackets, EraseAnsweredWithCode0x12) {
  EXPECT_TRUE(EraseAnswered(Answer(0x12, {})));
  EXPECT_FALSE(EraseAnswered(Answer(0x13, {})));
  EXPECT_FALSE(EraseAnswered(Answer(0x92, {})));
  Bytes badCheck = Answer(0x12, {});
  badCheck.back() ^= 0x80;
  EXPECT_FALSE(EraseAnswered(badCheck));
}

// ---- Outside peers --------------------------------------------------------

class OutsidePeers : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/test_intel_hex.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The tools of the list that are not installed, as a skip reason; empty when all are.
  static std::string Missing(std::initializer_list<const char*> tools) {
    std::string missing;
    for (const char* t : tools) {
      if (std::system(("command -v " + std::string(t) + " >/dev/null 2>&1").c_str()) != 0)
        missing += std::string(missing.empty() ? "not installed: " : ", ") + t;
    }
    return missing;
  }

  // Runs a shell command in the temp folder; its exit status.
  int Run(const std::string& cmd) {
    const int st = std::system(("cd '" + dir_.string() + "' && (" + cmd + ") >>tools.log 2>&1").c_str());
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  }

  std::string Load(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }

  void Save(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
  }

  void SaveRandom(const std::string& name, size_t n) {
    std::mt19937 gen(20261210);
    std::string b(n, '\0');
    for (char& c : b) c = char(gen());
    Save(name, b);
  }

  // The packets' lines written back as a HEX file, so that srec_cmp sees what they carry.
  void SavePackets(const std::string& name, const std::vector<LoaderPacket>& packets) {
    std::string out;
    for (const LoaderPacket& p : packets) {
      ASSERT_LE(p.bytes.size(), kMaxPacketChars);
      ASSERT_FALSE(p.bytes.empty());
      ASSERT_EQ(p.bytes[0], ':');
      for (uint8_t b : p.bytes) {
        if (b == ':' && !out.empty()) out += "\r\n";
        out += char(b);
      }
    }
    Save(name, out + "\r\n");
  }

  std::optional<HexFile> Check(const std::string& name, HexRefusal* why = nullptr) {
    return ReadFirmwareHex(Load(name), why);
  }

  std::string Log() { return Load("tools.log"); }

  fs::path dir_;
};

// objcopy writes CR LF and 16-byte records; 70000 bytes cross a 64 KiB boundary.
TEST_F(OutsidePeers, ObjcopyFileCarriedWhole) {
  if (auto m = Missing({"objcopy", "srec_cmp"}); !m.empty()) GTEST_SKIP() << m;
  SaveRandom("fw.bin", 70000);
  ASSERT_EQ(Run("objcopy -I binary -O ihex fw.bin main_4620.hex"), 0) << Log();
  HexRefusal why;
  const auto f = Check("main_4620.hex", &why);
  ASSERT_TRUE(f.has_value()) << why.reason;
  const auto plan = PlanMainControllerUpdate(*f, 0, nullptr);
  ASSERT_TRUE(plan.has_value());
  EXPECT_EQ(plan->packets.back().fileOffset, f->size);
  SavePackets("sent.hex", plan->packets);
  EXPECT_EQ(Run("srec_cmp fw.bin -binary sent.hex -intel"), 0) << Log();
}

// Records of 250 bytes are the longest a packet carries; srec_cat makes them on request.
TEST_F(OutsidePeers, SrecCatCrLfFileInEitherCase) {
  if (auto m = Missing({"srec_cat", "srec_cmp"}); !m.empty()) GTEST_SKIP() << m;
  SaveRandom("fw.bin", 5000);
  ASSERT_EQ(Run("srec_cat fw.bin -binary -o main_67k22.hex -intel -obs=250 -crlf"), 0) << Log();
  ASSERT_EQ(Run("tr A-F a-f <main_67k22.hex >lower_67k22.hex"), 0) << Log();
  HexRefusal why;
  const auto upper = Check("main_67k22.hex", &why);
  ASSERT_TRUE(upper.has_value()) << why.reason;
  const auto lower = Check("lower_67k22.hex", &why);
  ASSERT_TRUE(lower.has_value()) << why.reason;

  const auto packets = BuildLoaderPackets(*lower);
  EXPECT_EQ(packets, BuildLoaderPackets(*upper));
  size_t longest = 0;
  for (const auto& p : packets) longest = std::max(longest, p.bytes.size());
  EXPECT_EQ(longest, kMaxPacketChars);
  SavePackets("sent.hex", packets);
  EXPECT_EQ(Run("srec_cmp fw.bin -binary sent.hex -intel"), 0) << Log();

  ASSERT_EQ(Run("srec_cat fw.bin -binary -o long.hex -intel -obs=251 -crlf"), 0) << Log();
  EXPECT_FALSE(Check("long.hex", &why).has_value());
  EXPECT_EQ(why.line, 2u) << why.reason;
}

TEST_F(OutsidePeers, SrecCatDefaultOutputRefused) {
  if (auto m = Missing({"srec_cat"}); !m.empty()) GTEST_SKIP() << m;
  SaveRandom("fw.bin", 300);
  ASSERT_EQ(Run("srec_cat fw.bin -binary -o main_4620.hex -intel"), 0) << Log();
  HexRefusal why;
  EXPECT_FALSE(Check("main_4620.hex", &why).has_value());
  EXPECT_EQ(why.reason, "Строка 1: строка кончается на LF без CR.");
}

// A real PIC18F4620 image: code at 0 and 0x40, configuration words at 0x300000.
// gpasm writes CR LF only with -n; its default on this system is LF.
TEST_F(OutsidePeers, GpasmPic18File) {
  if (auto m = Missing({"gpasm", "srec_cmp"}); !m.empty()) GTEST_SKIP() << m;
  Save("main.asm",
       "\tprocessor 18f4620\n"
       "\tconfig OSC = HS, WDT = OFF, LVP = OFF\n"
       "\torg 0\n"
       "\tgoto start\n"
       "\torg 0x40\n"
       "start:\n"
       "\tmovlw 0x55\n"
       "\tmovwf 0x20, a\n"
       "\tbra start\n"
       "\tend\n");
  ASSERT_EQ(Run("gpasm -n -o main_4620.hex main.asm"), 0) << Log();
  HexRefusal why;
  const auto f = Check("main_4620.hex", &why);
  ASSERT_TRUE(f.has_value()) << why.reason;
  bool config = false;
  for (const auto& r : f->records)
    config |= r.type == kRecordLinearAddress && r.data == Bytes{0x00, 0x30};
  EXPECT_TRUE(config) << "no record for the configuration words at 0x300000";
  SavePackets("sent.hex", BuildLoaderPackets(*f));
  EXPECT_EQ(Run("srec_cmp main_4620.hex -intel sent.hex -intel"), 0) << Log();

  ASSERT_EQ(Run("gpasm -o lf_4620.hex main.asm"), 0) << Log();
  EXPECT_FALSE(Check("lf_4620.hex", &why).has_value());
  EXPECT_EQ(why.line, 1u);
}

}  // namespace
