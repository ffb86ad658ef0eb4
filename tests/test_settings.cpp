// The settings file: code page, INI reader/writer, section "Form1", the
// derived console settings and the registration key base.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console/console_settings.h"
#include "console/settings_file.h"
#include "platform/cp1251.h"
#include "platform/ini_file.h"
#include "platform/replace_file.h"

// While set, this program plays a file system that cannot set a file's mode
// (vfat, some network mounts): every fchmod fails.
std::atomic<bool> gRefuseModes{false};

extern "C" int fchmod(int fd, mode_t mode) {
  if (gRefuseModes) {
    errno = EPERM;
    return -1;
  }
  return int(::syscall(SYS_fchmod, fd, mode));
}

namespace {

namespace fs = std::filesystem;
using console::Form1Settings;
using platform::IniFile;

std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

std::vector<std::string> DirEntries(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/test_settings.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ini_ = dir_ / "relay.ini";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  fs::path dir_, ini_;
};

// ---- Windows-1251 ----

TEST(Cp1251, EveryDefinedByteRoundTripsToOneDistinctCharacter) {
  std::vector<std::string> seen;
  for (int b = 0x80; b <= 0xFF; ++b) {
    if (b == 0x98) continue;
    const std::string one(1, char(b));
    const std::string u = platform::Cp1251ToUtf8(one);
    EXPECT_GE(u.size(), 2u) << std::hex << b;
    EXPECT_NE(u, "\xEF\xBF\xBD") << std::hex << b;
    EXPECT_EQ(platform::Utf8ToCp1251(u), one) << std::hex << b;
    seen.push_back(u);
  }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

TEST(Cp1251, KnownCharacters) {
  struct Case {
    const char* cp;
    const char* utf8;
  } cases[] = {
      {"\xC0\xDF\xE0\xFF", "АЯая"}, {"\xA8\xB8", "Ёё"},   {"\xB9", "№"},   {"\x88", "€"},
      {"\x80\x90", "Ђђ"},           {"\xA5\xB4", "Ґґ"},   {"\xB2\xB3", "Іі"}, {"\x96\x97", "–—"},
      {"\xAB\xBB", "«»"},           {"\xA0", "\xC2\xA0"}, {"\x99", "™"},   {"abc 1=2", "abc 1=2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Cp1251ToUtf8(c.cp), c.utf8) << c.utf8;
    EXPECT_EQ(platform::Utf8ToCp1251(c.utf8), c.cp) << c.utf8;
  }
  EXPECT_EQ(platform::Cp1251ToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
}

TEST(Cp1251, UnencodableAndMalformedBecomeQuestionMarks) {
  struct Case {
    std::string utf8, cp;
  } cases[] = {
      {"é", "?"},                  // Latin, not in the code page
      {"中x", "?x"},               // three-byte character
      {"\xF0\x9F\x98\x80!", "?!"},  // four-byte character is one '?'
      {"\xEF\xBF\xBD", "?"},       // the replacement character of byte 0x98
      {"a\xD0", "a?"},             // truncated sequence
      {"\x80z", "?z"},             // stray continuation byte
      {"\xC0\xAF", "??"},          // overlong form of '/'
      {"\xED\xA0\x80", "???"},     // surrogate
      {"\xD0\x41", "?A"},          // lead byte followed by ASCII
  };
  for (const Case& c : cases) EXPECT_EQ(platform::Utf8ToCp1251(c.utf8), c.cp) << c.utf8;
}

// ---- INI reader ----

constexpr const char* kSample =
    "; settings\r\n"
    "stray=before any section\r\n"
    "[Form1]\r\n"
    "Left = 12 \r\n"
    "  Top\t=\t-7\n"
    "; Width=1\r\n"
    "no equals sign here\r\n"
    "Name=  Иван Петров  \r\n"
    "Empty=\r\n"
    "Dup=first\r\n"
    "dup=second\r\n"
    "Eq=a=b\r\n"
    "\r\n"
    "[ Other ]\r\n"
    "Left=99";

TEST(IniFileRead, LookupIsCaseInsensitiveAndValuesAreTrimmed) {
  IniFile ini;
  ini.Parse(kSample);
  EXPECT_EQ(ini.GetInt("form1", "LEFT", 0), 12);
  EXPECT_EQ(ini.GetInt("FORM1", "top", 0), -7);
  EXPECT_EQ(ini.GetString("Form1", "Name", "x"), "Иван Петров");
  EXPECT_EQ(ini.GetString("Form1", "Empty", "x"), "");
  EXPECT_EQ(ini.GetString("Form1", "DUP", "x"), "first");
  EXPECT_EQ(ini.GetString("Form1", "Eq", "x"), "a=b");
  EXPECT_EQ(ini.GetInt("other", "left", 0), 99);
  // Comments, lines without '=' and lines before the first section are no keys.
  EXPECT_FALSE(ini.HasKey("Form1", "Width"));
  EXPECT_FALSE(ini.HasKey("Form1", "; Width"));
  EXPECT_FALSE(ini.HasKey("", "stray"));
  EXPECT_EQ(ini.GetString("Form1", "Missing", "def"), "def");
  EXPECT_EQ(ini.GetString("Nowhere", "Left", "def"), "def");
  EXPECT_EQ(ini.Keys("Form1"),
            (std::vector<std::string>{"Left", "Top", "Name", "Empty", "Dup", "dup", "Eq"}));
}

TEST(IniFileRead, IntegersAndBooleans) {
  struct Case {
    const char* value;
    int asInt;         // with default 555
    bool boolDefFalse, boolDefTrue;
  } cases[] = {
      {"42", 42, true, true},         {" 42 ", 42, true, true},     {"-7", -7, true, true},
      {"+5", 5, true, true},          {"0", 0, false, false},       {"1", 1, true, true},
      {"2", 2, true, true},           {"", 555, false, true},       {"abc", 555, false, true},
      {"12abc", 555, false, true},    {"0x10", 555, false, true},   {"1.5", 555, false, true},
      {"--1", 555, false, true},      {"+-1", 555, false, true},    {"+", 555, false, true},
      {"1 2", 555, false, true},      {"99999999999", 555, false, true},
      {"yes", 555, false, true},
  };
  for (const Case& c : cases) {
    IniFile ini;
    ini.Parse(std::string("[S]\nk=") + c.value + "\n");
    EXPECT_EQ(ini.GetInt("S", "k", 555), c.asInt) << '"' << c.value << '"';
    EXPECT_EQ(ini.GetBool("S", "k", false), c.boolDefFalse) << '"' << c.value << '"';
    EXPECT_EQ(ini.GetBool("S", "k", true), c.boolDefTrue) << '"' << c.value << '"';
  }
}

// ---- INI writer ----

TEST(IniFileWrite, SetKeepsOrderCommentsAndOtherSections) {
  IniFile ini;
  ini.Parse(
      "; head\n"
      "[A]\n"
      "One=1\n"
      "; note on two\n"
      "Two=2\n"
      "\n"
      "; B follows\n"
      "[B]\n"
      "; about B\n"
      "\n"
      "[E]\n"
      "X=x\n");
  ini.SetString("a", "TWO", "zwei");  // existing key: value replaced where it stands
  ini.SetInt("A", "Three", 3);        // new key: after the last key of its section
  ini.SetString("b", "Y", "y");       // first key: after the comment under the header
  ini.SetBool("C", "On", true);       // new section: end of the file
  ini.SetBool("C", "Off", false);
  EXPECT_EQ(ini.Text(),
            "; head\r\n"
            "[A]\r\n"
            "One=1\r\n"
            "; note on two\r\n"
            "Two=zwei\r\n"
            "Three=3\r\n"
            "\r\n"
            "; B follows\r\n"
            "[B]\r\n"
            "; about B\r\n"
            "Y=y\r\n"
            "\r\n"
            "[E]\r\n"
            "X=x\r\n"
            "\r\n"
            "[C]\r\n"
            "On=1\r\n"
            "Off=0\r\n");
}

TEST(IniFileWrite, LineBreaksInAValueCannotAddKeys) {
  IniFile ini;
  ini.SetString("S", "k", "a\r\n[Evil]\nx=1");
  IniFile back;
  back.Parse(ini.Text());
  EXPECT_EQ(back.Keys("S"), std::vector<std::string>{"k"});
  EXPECT_FALSE(back.HasKey("Evil", "x"));
  EXPECT_EQ(back.GetString("S", "k", ""), ini.GetString("S", "k", "?"));
}

// ---- INI file on disk ----

using IniFileDisk = TempDir;

TEST_F(IniFileDisk, MissingFileIsEmptyUnreadablePathIsAnError) {
  IniFile ini;
  ini.Parse("[S]\nk=1\n");
  std::string err;
  EXPECT_TRUE(ini.Load(ini_, &err));
  EXPECT_EQ(ini.Text(), "");

  fs::create_directory(dir_ / "sub.ini");
  EXPECT_FALSE(ini.Load(dir_ / "sub.ini", &err));
  EXPECT_NE(err.find("sub.ini"), std::string::npos) << err;

  err.clear();
  WriteBytes(ini_, "[S]\r\nk=1\r\n");
  EXPECT_FALSE(ini.Load(ini_.string() + "/below", &err));  // a file used as a directory
  EXPECT_FALSE(err.empty());

  if (::geteuid() != 0) {
    ::chmod(ini_.c_str(), 0);
    err.clear();
    EXPECT_FALSE(ini.Load(ini_, &err));
    EXPECT_NE(err.find("relay.ini"), std::string::npos) << err;
  }
}

TEST_F(IniFileDisk, SaveWritesCp1251WithCrLfAndLoadsBack) {
  IniFile ini;
  ini.SetString("Раздел", "Ключ", "Значение №1");
  ini.SetInt("Раздел", "n", -3);
  std::string err;
  ASSERT_TRUE(ini.Save(ini_, &err)) << err;
  EXPECT_EQ(ReadBytes(ini_),
            "[\xD0\xE0\xE7\xE4\xE5\xEB]\r\n"
            "\xCA\xEB\xFE\xF7=\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xB9" "1\r\n"
            "n=-3\r\n");
  IniFile back;
  ASSERT_TRUE(back.Load(ini_, &err)) << err;
  EXPECT_EQ(back.GetString("Раздел", "Ключ", ""), "Значение №1");
  EXPECT_EQ(back.GetInt("Раздел", "N", 0), -3);
  EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"relay.ini"});
}

TEST_F(IniFileDisk, SaveReplacesTheFileWholeAndKeepsItsPermissions) {
  WriteBytes(ini_, "[S]\r\nk=old\r\n");
  ::chmod(ini_.c_str(), 0640);
  // A second name for the old file: an in-place rewrite would change it too.
  fs::create_hard_link(ini_, dir_ / "old.ini");

  IniFile ini;
  ASSERT_TRUE(ini.Load(ini_));
  ini.SetString("S", "k", "new");
  std::string err;
  ASSERT_TRUE(ini.Save(ini_, &err)) << err;

  EXPECT_EQ(ReadBytes(ini_), "[S]\r\nk=new\r\n");
  EXPECT_EQ(ReadBytes(dir_ / "old.ini"), "[S]\r\nk=old\r\n");
  EXPECT_EQ(fs::status(ini_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(DirEntries(dir_), (std::vector<std::string>{"old.ini", "relay.ini"}));
}

TEST_F(IniFileDisk, FailedSaveReportsLeavesTargetAloneAndNoTemporary) {
  IniFile ini;
  ini.SetString("S", "k", "v");

  // The target cannot be replaced: it is a directory that holds a file.
  fs::create_directory(ini_);
  WriteBytes(ini_ / "keep", "keep");
  std::string err;
  EXPECT_FALSE(ini.Save(ini_, &err));
  EXPECT_NE(err.find("relay.ini"), std::string::npos) << err;
  EXPECT_EQ(ReadBytes(ini_ / "keep"), "keep");
  EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"relay.ini"});

  // The directory does not exist: nothing can be created.
  err.clear();
  EXPECT_FALSE(ini.Save(dir_ / "absent" / "x.ini", &err));
  EXPECT_FALSE(err.empty());
  EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"relay.ini"});
}

TEST_F(IniFileDisk, SavedWhereTheFileSystemCannotSetModes) {
  IniFile ini;
  ini.SetString("S", "k", "v");
  gRefuseModes = true;
  std::string err;
  const bool saved = ini.Save(ini_, &err);
  gRefuseModes = false;
  ASSERT_TRUE(saved) << err;
  EXPECT_EQ(ReadBytes(ini_), "[S]\r\nk=v\r\n");
}

// Two writers of one file at once: each renames a whole file of its own, so
// the file is always one of the two, never a mixture, and no write fails.
TEST_F(IniFileDisk, TwoWritersAtOnceNeverLeaveAMixture) {
  const std::string a(2 << 20, 'a'), b(2 << 20, 'b');
  for (int round = 0; round < 5; ++round) {
    std::atomic<int> failed{0};
    std::string why;
    auto writer = [&](const std::string& bytes) {
      for (int k = 0; k < 4; ++k) {
        std::string e;
        if (!platform::ReplaceFile(ini_, bytes.data(), bytes.size(), &e) && failed++ == 0) why = e;
      }
    };
    std::thread ta(writer, std::cref(a)), tb(writer, std::cref(b));
    ta.join();
    tb.join();
    EXPECT_EQ(failed, 0) << why;
    const std::string got = ReadBytes(ini_);
    ASSERT_TRUE(got == a || got == b) << "round " << round << ": " << got.size() << " bytes";
  }
  EXPECT_EQ(DirEntries(dir_), std::vector<std::string>{"relay.ini"});
}

// ---- Section "Form1" ----

// The keys of section "Form1" in the order they are written.
const std::vector<std::string> kForm1Order = {
    "Left",           "Top",
    "Width",          "Height",
    "NnPort",         "PortArm",
    "NaruchUO",       "EditPortServ1",
    "EditPortServ2",  "EditPortGSM",
    "IpAdrrServ_1",   "IpAdrrServ_2",
    "IpAdrrGsm",      "GateWay1",
    "GateWay2",       "GateWayGSM",
    "CheckBox3",      "CheckBoxMetric",
    "CheckPOVTORTLG", "BoxNPovtor",
    "BoxTimePovtor",  "CheckSostAvar",
    "CheckMoteKTS",   "CheckBox_Internet",
    "CheckAvarOrvane", "SetKarta_11",
    "SetKarta_22",    "GSM_Modem",
    "TmpStrPort",     "TmpStrIp",
    "CheckBoxBalanseGsm", "SurGardEn",
    "SurGard_Com_En", "ComboBoxSurGard_IP",
    "SurGard_Port_TCP", "SurGard_COM_PortName",
    "SurGard_COM_BaudRate", "SurGard_channel_Edit",
    "SurGard_line_Edit", "SurGard_timeout_Edit",
};

// Console settings set away from every value the tests expect.
void Scramble(console::ConsoleSettings& cs) {
  cs.GlNaruchUO = 999;
  cs.GlNPovtor = 999;
  cs.GlTimePovtor = 999;
  cs.GlPovtorOn = true;
  cs.GlMetricActive = true;
  cs.GlBalanseOff = false;
  cs.GlSostAvar = true;
  cs.GlMoteKTS = true;
  cs.GlAvarInetBlock = false;
}

Form1Settings NonDefault() {
  Form1Settings f;
  f.Left = -20;
  f.Top = 5;
  f.Width = 990;
  f.Height = 400;
  f.NnPort = 7;
  f.PortArm = 14;
  f.NaruchUO = 1;
  f.EditPortServ1 = "6000";
  f.EditPortServ2 = "6001";
  f.EditPortGSM = "6002";
  f.IpAdrrServ_1 = "192.168.1.10";
  f.IpAdrrServ_2 = "10.0.0.2";
  f.IpAdrrGsm = "10.64.0.3";
  f.GateWay1 = "192.168.1.1";
  f.GateWay2 = "10.0.0.1";
  f.GateWayGSM = "10.64.0.1";
  f.CheckBoxMetric = true;
  f.CheckPOVTORTLG = true;
  f.BoxNPovtor = 2;
  f.BoxTimePovtor = 0;
  f.CheckSostAvar = true;
  f.CheckMoteKTS = true;
  f.CheckBox_Internet = false;
  f.CheckAvarOrvane = false;
  f.SetKarta_11 = false;
  f.SetKarta_22 = true;
  f.GSM_Modem = true;
  f.TmpStrPort = "7000";
  f.TmpStrIp = "Адрес 1";
  f.CheckBoxBalanseGsm = false;
  f.SurGard_Com_En = true;
  f.ComboBoxSurGard_IP = "10.1.1.1";
  f.SurGard_Port_TCP = "2000";
  f.SurGard_COM_PortName = 3;
  f.SurGard_COM_BaudRate = "19200";
  f.SurGard_channel_Edit = "Канал";
  f.SurGard_line_Edit = "2";
  f.SurGard_timeout_Edit = "500";
  return f;
}

using Form1File = TempDir;

TEST_F(Form1File, DefaultsWithoutAFile) {
  IniFile ini;
  ASSERT_TRUE(ini.Load(ini_));
  const Form1Settings f = console::ReadForm1(ini);
  EXPECT_TRUE(f.SetKarta_11);
  EXPECT_EQ(f.IpAdrrServ_1, "0.0.0.0");
  EXPECT_EQ(f.EditPortServ1, "5000");
  EXPECT_FALSE(f.SetKarta_22);
  EXPECT_FALSE(f.GSM_Modem);
  EXPECT_TRUE(f.CheckBox_Internet);
  EXPECT_EQ(f.Width, 985);
  EXPECT_EQ(f.PortArm, 1);
  EXPECT_EQ(f.ComboBoxSurGard_IP, "127.0.0.1");
  EXPECT_EQ(f, Form1Settings{});

  console::ConsoleSettings cs;
  Scramble(cs);
  console::ApplyForm1(f, cs);
  EXPECT_EQ(cs.GlNaruchUO, 10);
  EXPECT_FALSE(cs.GlPovtorOn);
  EXPECT_EQ(cs.GlNPovtor, 3);
  EXPECT_EQ(cs.GlTimePovtor, 15);
  EXPECT_FALSE(cs.GlMetricActive);
  EXPECT_TRUE(cs.GlBalanseOff);
  EXPECT_FALSE(cs.GlSostAvar);
  EXPECT_FALSE(cs.GlMoteKTS);
  EXPECT_TRUE(cs.GlAvarInetBlock);
}

TEST_F(Form1File, WriteThenReadRoundTrip) {
  Form1Settings f = NonDefault();
  f.CheckBox3 = true;
  f.SurGardEn = true;
  IniFile ini;
  console::WriteForm1(ini, f);
  std::string err;
  ASSERT_TRUE(ini.Save(ini_, &err)) << err;

  IniFile back;
  ASSERT_TRUE(back.Load(ini_, &err)) << err;
  EXPECT_EQ(back.GetString("Form1", "CheckBox3", ""), "1");
  EXPECT_EQ(back.GetString("Form1", "SurGardEn", ""), "0");

  // "CheckBox3" and "SurGardEn" are written but never read back.
  Form1Settings expected = NonDefault();
  EXPECT_EQ(console::ReadForm1(back), expected);
}

TEST_F(Form1File, FreshFileHoldsTheKeysInTableOrder) {
  IniFile ini;
  console::WriteForm1(ini, Form1Settings{});
  ASSERT_TRUE(ini.Save(ini_));

  std::istringstream text(ReadBytes(ini_));
  std::string line;
  ASSERT_TRUE(std::getline(text, line));
  EXPECT_EQ(line, "[Form1]\r");
  std::vector<std::string> keys;
  while (std::getline(text, line)) {
    ASSERT_EQ(line.back(), '\r');
    keys.push_back(line.substr(0, line.find('=')));
  }
  EXPECT_EQ(keys, kForm1Order);
}

TEST_F(Form1File, IpAdrrGsmIsOneKeyWhateverItsCase) {
  WriteBytes(ini_, "[FORM1]\r\nIpAdrrGSM=10.9.8.7\r\n");
  IniFile ini;
  ASSERT_TRUE(ini.Load(ini_));
  Form1Settings f = console::ReadForm1(ini);
  EXPECT_EQ(f.IpAdrrGsm, "10.9.8.7");

  f.IpAdrrGsm = "10.9.8.6";
  console::WriteForm1(ini, f);
  ASSERT_TRUE(ini.Save(ini_));
  ASSERT_TRUE(ini.Load(ini_));
  const auto keys = ini.Keys("Form1");
  EXPECT_EQ(std::count_if(keys.begin(), keys.end(),
                          [](const std::string& k) { return k == "IpAdrrGSM" || k == "IpAdrrGsm"; }),
            1);
  EXPECT_EQ(console::ReadForm1(ini).IpAdrrGsm, "10.9.8.6");

  // Written fresh it is "IpAdrrGsm", and read as "IpAdrrGSM".
  IniFile fresh;
  console::WriteForm1(fresh, f);
  EXPECT_NE(fresh.Text().find("\r\nIpAdrrGsm=10.9.8.6\r\n"), std::string::npos);
  EXPECT_EQ(fresh.GetString("Form1", "IpAdrrGSM", ""), "10.9.8.6");
}

TEST_F(Form1File, RewriteKeepsOtherSectionsAndUnknownKeys) {
  const std::string before =
      "[Help_1]\r\nLeft=11\r\nTop=12\r\nWidth=820\r\nHeight=419\r\n\r\n";
  const std::string after =
      "\r\n; deployment\r\n[Deployment]\r\nRegKeyBase=00112233445566778899\r\n";
  WriteBytes(ini_, before + "[Form1]\r\nTop=1\r\nExtra=keep me\r\nLeft=2\r\n" + after);

  IniFile ini;
  ASSERT_TRUE(ini.Load(ini_));
  console::WriteForm1(ini, NonDefault());
  ASSERT_TRUE(ini.Save(ini_));
  const std::string text = ReadBytes(ini_);

  EXPECT_EQ(text.substr(0, before.size()), before);
  ASSERT_GE(text.size(), after.size());
  EXPECT_EQ(text.substr(text.size() - after.size()), after);
  EXPECT_NE(text.find("[Form1]\r\nTop=5\r\nExtra=keep me\r\nLeft=-20\r\nWidth=990\r\n"),
            std::string::npos)
      << text;
  ASSERT_TRUE(ini.Load(ini_));
  EXPECT_EQ(console::ReadForm1(ini), NonDefault());
  EXPECT_EQ(ini.Keys("Form1").size(), kForm1Order.size() + 1);
}

TEST(Form1Read, InvalidOrOutOfRangeValuesFallBackToDefaults) {
  IniFile ini;
  ini.Parse(
      "[Form1]\n"
      "Left=abc\n"
      "Top=\n"
      "NnPort=8\n"
      "PortArm=-1\n"
      "NaruchUO=2\n"
      "BoxNPovtor=3\n"
      "BoxTimePovtor=x\n"
      "CheckBox_Internet=yes\n"
      "CheckBoxBalanseGsm=\n"
      "CheckSostAvar=2\n"
      "CheckBoxMetric=-1\n"
      "CheckBox3=1\n"
      "SurGardEn=1\n"
      "SurGard_COM_PortName=42\n");
  const Form1Settings f = console::ReadForm1(ini);
  const Form1Settings d;
  EXPECT_EQ(f.Left, d.Left);
  EXPECT_EQ(f.Top, d.Top);
  EXPECT_EQ(f.NnPort, d.NnPort);
  EXPECT_EQ(f.PortArm, d.PortArm);
  EXPECT_EQ(f.NaruchUO, d.NaruchUO);
  EXPECT_EQ(f.BoxNPovtor, d.BoxNPovtor);
  EXPECT_EQ(f.BoxTimePovtor, d.BoxTimePovtor);
  EXPECT_TRUE(f.CheckBox_Internet);
  EXPECT_TRUE(f.CheckBoxBalanseGsm);
  EXPECT_TRUE(f.CheckSostAvar);
  EXPECT_TRUE(f.CheckBoxMetric);
  EXPECT_FALSE(f.CheckBox3);
  EXPECT_FALSE(f.SurGardEn);
  EXPECT_EQ(f.SurGard_COM_PortName, 42);

  // The last item of every list is still accepted.
  ini.Parse("[Form1]\nNnPort=7\nPortArm=14\nNaruchUO=1\nBoxNPovtor=2\nBoxTimePovtor=2\n");
  const Form1Settings g = console::ReadForm1(ini);
  EXPECT_EQ(g.NnPort, 7);
  EXPECT_EQ(g.PortArm, 14);
  EXPECT_EQ(g.NaruchUO, 1);
  EXPECT_EQ(g.BoxNPovtor, 2);
  EXPECT_EQ(g.BoxTimePovtor, 2);
}

TEST(Form1Apply, DerivedConsoleSettings) {
  struct Case {
    int naruch, nPovtor, timePovtor;
    bool internet, avarOrvane;
    uint16_t glNaruch, glNPovtor, glTimePovtor;
    bool glAvarInetBlock;
  } cases[] = {
      {0, 0, 0, true, true, 10, 2, 10, true},
      {1, 1, 1, true, false, 13, 3, 15, false},
      {0, 2, 2, false, true, 10, 4, 20, false},
      {1, 0, 2, false, false, 13, 2, 20, false},
  };
  for (const Case& c : cases) {
    Form1Settings f = NonDefault();
    f.NaruchUO = c.naruch;
    f.BoxNPovtor = c.nPovtor;
    f.BoxTimePovtor = c.timePovtor;
    f.CheckBox_Internet = c.internet;
    f.CheckAvarOrvane = c.avarOrvane;
    console::ConsoleSettings cs;
    cs.GlAvarInetBlock = !c.glAvarInetBlock;
    console::ApplyForm1(f, cs);
    EXPECT_EQ(cs.GlNaruchUO, c.glNaruch);
    EXPECT_EQ(cs.GlNPovtor, c.glNPovtor);
    EXPECT_EQ(cs.GlTimePovtor, c.glTimePovtor);
    EXPECT_EQ(cs.GlAvarInetBlock, c.glAvarInetBlock);
  }

  // Every option box of NonDefault() is the opposite of its default.
  console::ConsoleSettings cs;
  console::ApplyForm1(NonDefault(), cs);
  EXPECT_TRUE(cs.GlMetricActive);
  EXPECT_TRUE(cs.GlPovtorOn);
  EXPECT_FALSE(cs.GlBalanseOff);
  EXPECT_TRUE(cs.GlSostAvar);
  EXPECT_TRUE(cs.GlMoteKTS);

  // Leaving the box uses the other formula for the same items.
  EXPECT_EQ(console::TimePovtorOnExit(0), 5);
  EXPECT_EQ(console::TimePovtorOnExit(1), 10);
  EXPECT_EQ(console::TimePovtorOnExit(2), 15);
}

// ---- Registration key base ----

TEST(RegKeyBase, AbsentValidAndMalformed) {
  std::string err;
  IniFile ini;
  ini.Parse("[Form1]\nLeft=1\n[Other]\nRegKeyBase=00\n");
  EXPECT_EQ(console::ReadRegKeyBase(ini, &err), console::kDefaultRegKeyBase);
  EXPECT_EQ(console::kDefaultRegKeyBase,
            (devlink::Key10{0x5A, 0x3C, 0x96, 0xE1, 0xB4, 0x07, 0x2D, 0xF8, 0xC6, 0x13}));

  ini.Parse("[deployment]\nregkeybase = 0123456789ABCDEFabcd \n");
  EXPECT_EQ(console::ReadRegKeyBase(ini, &err),
            (devlink::Key10{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xAB, 0xCD}));

  const char* malformed[] = {
      "",
      "0123456789ABCDEFabc",
      "0123456789ABCDEFabcde",
      "0123456789ABCDEFabcg",
      "01 23 45 67 89 AB CD EF AB CD",
      "0x23456789ABCDEFabcd",
      "-123456789ABCDEFabcd",
      "Ж23456789ABCDEFabcd",  // 20 bytes, the first two not hex
  };
  for (const char* v : malformed) {
    ini.Parse(std::string("[Deployment]\nRegKeyBase=") + v + "\n");
    err.clear();
    EXPECT_EQ(console::ReadRegKeyBase(ini, &err), std::nullopt) << v;
    EXPECT_NE(err.find("RegKeyBase"), std::string::npos) << v;
    EXPECT_NE(err.find("[Deployment]"), std::string::npos) << v;
  }
}

}  // namespace
