// setupc: virtual null-modem pairs made of socat ptys, their extra names, the
// list, removal, recreation of a dead pair and the errors.
#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_linux.h"
#include "tests/support/child_process.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Outcome {
  int status;
  std::string out;
};

class SetupcTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("SETUPC_STATE", dir.File("pairs").c_str(), 1); }
  void TearDown() override {
    for (const char* n : {"0", "1"}) Setupc({"remove", n});
    unsetenv("SETUPC_STATE");
  }

  // Runs setupc; a pair's socat must not keep our pipe open, so the run ends.
  Outcome Setupc(const std::vector<std::string>& args) {
    testsupport::ChildProcess p(std::string(RELAY_BIN_DIR) + "/setupc", args, true);
    const int st = p.Wait(10s);
    std::string out;
    for (const std::string& l : p.Lines()) out += l + "\n";
    return {st, out};
  }

  // The socat pid that the state file records for pair n.
  int PidOf(int n) {
    std::ifstream f(dir.File("pairs"));
    std::string line;
    while (std::getline(f, line)) {
      std::istringstream in(line);
      int k = -1, pid = -1;
      std::string d;
      in >> k >> d >> pid;
      if (k == n) return pid;
    }
    return -1;
  }

  // Alive and not a zombie waiting for init to reap it.
  static bool Running(int pid) {
    if (pid <= 0) return false;
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    if (!std::getline(f, stat)) return false;
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
  }

  // One byte each way between two names of a pair.
  static void ExpectFlow(const std::string& a, const std::string& b) {
    platform::TermiosPort pa, pb;
    ASSERT_TRUE(pa.Open(a)) << pa.ErrorText();
    ASSERT_TRUE(pb.Open(b)) << pb.ErrorText();
    const uint8_t x[] = {0xFE, 0x00, 0x7F};
    uint8_t got[8] = {};
    ASSERT_TRUE(pa.Write(x, 3));
    ASSERT_EQ(pb.Read(got, 8, 1000), 3u) << a << " -> " << b;
    EXPECT_EQ(got[0], 0xFE);
    EXPECT_EQ(got[2], 0x7F);
    const uint8_t y[] = {0x55};
    ASSERT_TRUE(pb.Write(y, 1));
    ASSERT_EQ(pa.Read(got, 8, 1000), 1u) << b << " -> " << a;
    EXPECT_EQ(got[0], 0x55);
  }

  testsupport::TempDir dir;
  std::string ports = dir.File("ports");
};

TEST_F(SetupcTest, InstallChangeListRemove) {
  const auto t0 = std::chrono::steady_clock::now();
  Outcome r = Setupc({"install", "0", "--dir", ports});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 5s);
  EXPECT_NE(r.out.find("installed"), std::string::npos);
  const int pid = PidOf(0);
  ASSERT_TRUE(Running(pid));
  ExpectFlow(ports + "/CNCB0", ports + "/CNCA0");

  // As the server runs it: no directory, the pair's own is used.
  r = Setupc({"change", "CNCA0", "PortName=COM5"});
  ASSERT_EQ(r.status, 0) << r.out;
  ExpectFlow(ports + "/CNCB0", ports + "/COM5");

  r = Setupc({"change", "CNCA0", "PortName=COM7"});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_FALSE(fs::is_symlink(ports + "/COM5"));
  ExpectFlow(ports + "/COM7", ports + "/CNCB0");

  r = Setupc({"list"});
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("0 alive pid=" + std::to_string(pid) + " dir=" + ports), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("COM7"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("COM5"), std::string::npos) << r.out;

  // A live pair is left alone.
  r = Setupc({"install", "0", "--dir", ports});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("already installed"), std::string::npos);
  EXPECT_EQ(PidOf(0), pid);

  r = Setupc({"remove", "0"});
  ASSERT_EQ(r.status, 0) << r.out;
  for (int k = 0; k < 50 && Running(pid); ++k) std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(Running(pid));
  for (const char* name : {"CNCB0", "CNCA0", "COM7"})
    EXPECT_FALSE(fs::exists(fs::symlink_status(ports + "/" + name))) << name;
  r = Setupc({"list"});
  EXPECT_NE(r.out.find("no pairs"), std::string::npos) << r.out;
}

// A pair made for the service: both ptys belong to the group with mode 0660,
// and the pair is still recognised as its own by list and remove.
TEST_F(SetupcTest, AGroupGetsBothEnds) {
  const group* g = ::getgrnam("dialout");
  if (!g) GTEST_SKIP() << "no group dialout on this machine";
  Outcome r = Setupc({"install", "1", "--dir", ports, "--group", "dialout"});
  ASSERT_EQ(r.status, 0) << r.out;
  for (const char* end : {"/CNCB1", "/CNCA1"}) {
    struct stat st;
    ASSERT_EQ(::stat((ports + end).c_str(), &st), 0) << end;
    EXPECT_EQ(st.st_gid, g->gr_gid) << end;
    EXPECT_EQ(st.st_mode & 0777, 0660u) << end;
  }
  EXPECT_NE(Setupc({"list"}).out.find("1 alive"), std::string::npos);
  EXPECT_EQ(Setupc({"install", "0", "--dir", ports, "--group", "no-such-group"}).status, 1);
  EXPECT_EQ(Setupc({"remove", "1"}).status, 0);
  EXPECT_FALSE(fs::exists(ports + "/CNCB1"));
}

TEST_F(SetupcTest, DeadPairIsRecreatedWithItsName) {
  ASSERT_EQ(Setupc({"install", "0", "--dir", ports}).status, 0);
  ASSERT_EQ(Setupc({"change", "CNCA0", "PortName=COM5"}).status, 0);
  const int pid = PidOf(0);
  ASSERT_TRUE(Running(pid));
  kill(pid, SIGKILL);
  for (int k = 0; k < 50 && Running(pid); ++k) std::this_thread::sleep_for(20ms);

  Outcome r = Setupc({"list"});
  EXPECT_NE(r.out.find("0 dead"), std::string::npos) << r.out;
  r = Setupc({"install", "0", "--dir", ports});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(PidOf(0), pid);
  EXPECT_TRUE(Running(PidOf(0)));
  ExpectFlow(ports + "/CNCB0", ports + "/COM5");
}

TEST_F(SetupcTest, ErrorsSayWhyAndFail) {
  ASSERT_EQ(Setupc({"install", "1", "--dir", ports}).status, 0);
  ASSERT_EQ(Setupc({"change", "CNCA1", "PortName=COM3"}).status, 0);
  const std::string other = dir.File("other");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string says;
  } cases[] = {
      {{}, 2, "Usage"},
      {{"frobnicate"}, 2, "unknown command"},
      {{"install"}, 2, "pair number"},
      {{"install", "x1"}, 2, "pair number"},
      {{"install", "07"}, 2, "pair number"},
      {{"install", "256"}, 2, "pair number"},
      {{"install", "1", "--dir", other}, 1, "already installed in " + ports},
      {{"change", "CNCA0", "PortName=COM5"}, 1, "pair 0 is not installed"},
      {{"change", "CNCB1", "PortName=COM5"}, 2, "CNCAn"},
      {{"change", "CNCA1"}, 2, "PortName="},
      {{"change", "CNCA1", "PortName=../COM5"}, 2, "bad port name"},
      {{"change", "CNCA1", "PortName=CNCB1"}, 2, "pair end"},
      {{"remove", "0"}, 1, "pair 0 is not installed"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const Outcome r = Setupc(c.args);
    EXPECT_EQ(r.status, c.status) << r.out;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
  }
  // A name that another pair's end already has is not taken away from it.
  ASSERT_EQ(Setupc({"install", "0", "--dir", ports}).status, 0);
  const Outcome r = Setupc({"change", "CNCA0", "PortName=COM3"});
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_EQ(fs::read_symlink(ports + "/COM3"), "CNCA1");
  // The failures changed nothing.
  EXPECT_TRUE(Running(PidOf(1)));
  ExpectFlow(ports + "/CNCB1", ports + "/COM3");
}

}  // namespace
