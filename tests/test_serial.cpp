// The Linux serial port over a socat pty pair: transfer both ways, the quiet
// gap that ends a read, purge, name lookup, failures and exclusive use.
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial_linux.h"
#include "tests/support/child_process.h"
#include "tests/support/socat_pair.h"

namespace {

using platform::TermiosPort;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.Open("CNCB0", dir.Path())) << server.ErrorText();
    ASSERT_TRUE(station.Open(pair.B())) << station.ErrorText();
  }

  static Bytes ReadSome(TermiosPort& p, size_t max, int waitMs) {
    Bytes b(max);
    b.resize(p.Read(b.data(), max, waitMs));
    return b;
  }
  static bool Send(TermiosPort& p, const Bytes& b) { return p.Write(b.data(), b.size()); }

  testsupport::TempDir dir;
  testsupport::SocatPair pair{dir.Path()};
  TermiosPort server, station;
};

TEST_F(SerialTest, OpensByNameInPortsDirWithLineSettings) {
  EXPECT_TRUE(server.IsOpen());
  EXPECT_EQ(server.Name(), "CNCB0");
  EXPECT_EQ(server.Path(), dir.Path() + "/CNCB0");
  EXPECT_EQ(station.Name(), pair.B());

  // The settings land on the pty the link points to.
  const int fd = ::open(pair.A().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios t{};
  ASSERT_EQ(tcgetattr(fd, &t), 0);
  ::close(fd);
  EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
  EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CLOCAL, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(SerialTest, BytesFlowBothWaysUnchanged) {
  // Every byte value, including the ones a cooked line would eat or change.
  Bytes all(256);
  for (int k = 0; k < 256; ++k) all[size_t(k)] = uint8_t(k);
  ASSERT_TRUE(Send(server, Bytes(all.begin(), all.begin() + 128)));
  ASSERT_TRUE(Send(server, Bytes(all.begin() + 128, all.end())));
  Bytes got;
  while (got.size() < all.size()) {
    const Bytes part = ReadSome(station, 512, 1000);
    ASSERT_FALSE(part.empty());
    got.insert(got.end(), part.begin(), part.end());
  }
  EXPECT_EQ(got, all);

  const Bytes poll = {0xFE, 4, 1, 1, 0, 0x5A};
  ASSERT_TRUE(Send(station, poll));
  EXPECT_EQ(ReadSome(server, 128, 1000), poll);
}

TEST_F(SerialTest, QuietGapEndsARead) {
  const Bytes first = {0xFE, 4, 1, 1, 0, 0x11};
  const Bytes second = {0xFE, 4, 1, 2, 0, 0x22};
  std::thread sender([&] {
    // Pieces 2 ms apart belong to one read; 30 ms of quiet ends it.
    Send(station, Bytes(first.begin(), first.begin() + 3));
    std::this_thread::sleep_for(2ms);
    Send(station, Bytes(first.begin() + 3, first.end()));
    std::this_thread::sleep_for(30ms);
    Send(station, second);
  });
  const Bytes a = ReadSome(server, 128, 1000);
  const Bytes b = ReadSome(server, 128, 1000);
  sender.join();
  EXPECT_EQ(a, first);
  EXPECT_EQ(b, second);
}

TEST_F(SerialTest, ReadStopsAtMaxAndKeepsTheRest) {
  const Bytes ten = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  ASSERT_TRUE(Send(station, ten));
  EXPECT_EQ(ReadSome(server, 4, 1000), Bytes({1, 2, 3, 4}));
  EXPECT_EQ(ReadSome(server, 128, 1000), Bytes({5, 6, 7, 8, 9, 10}));
}

TEST_F(SerialTest, ReadWaitsForTheFirstByteThenGivesUp) {
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadSome(server, 128, 60).empty());
  const auto took = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(took, 55ms);
  EXPECT_LT(took, 1000ms);
  EXPECT_TRUE(ReadSome(server, 128, 0).empty());
}

TEST_F(SerialTest, PurgeDropsUnreadInput) {
  ASSERT_TRUE(Send(station, Bytes(50, 0xAA)));
  std::this_thread::sleep_for(100ms);
  server.Purge();
  EXPECT_TRUE(ReadSome(server, 128, 100).empty());
  // The line still works afterwards.
  ASSERT_TRUE(Send(station, Bytes{0x55}));
  EXPECT_EQ(ReadSome(server, 128, 1000), Bytes{0x55});
}

TEST_F(SerialTest, SecondOpenOfAHeldPortFails) {
  TermiosPort again;
  EXPECT_FALSE(again.Open("CNCB0", dir.Path()));
  EXPECT_EQ(again.LastError(), TermiosPort::OpenError::kBusy);
  EXPECT_FALSE(again.IsOpen());
  EXPECT_NE(again.ErrorText().find("занят"), std::string::npos);

  // Another process (a second copy of the server) is refused as well.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TermiosPort p;
    const bool opened = p.Open(pair.A());
    _exit(opened ? 0 : p.LastError() == TermiosPort::OpenError::kBusy ? 7 : 8);
  }
  int st = 0;
  ASSERT_EQ(waitpid(child, &st, 0), child);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 7);

  // Free again once the holder closes it.
  server.Close();
  EXPECT_FALSE(server.IsOpen());
  EXPECT_TRUE(again.Open("CNCB0", dir.Path())) << again.ErrorText();
}

TEST_F(SerialTest, HolderThatDiesReleasesThePort) {
  server.Close();
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TermiosPort p;
    const char ok = p.Open(pair.A()) ? 1 : 0;
    (void)!write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  close(ready[1]);
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  close(ready[0]);
  ASSERT_EQ(ok, 1);
  EXPECT_FALSE(server.Open("CNCB0", dir.Path()));
  // Killed without closing: the lock and the exclusive mode must not outlive it.
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  // Root passes the exclusive mode, so look at it directly: a leftover mode
  // would shut out a server that is not run as root.
  const int fd = ::open(pair.A().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  int exclusive = -1;
  ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
  ::close(fd);
  EXPECT_EQ(exclusive, 0);
  EXPECT_TRUE(server.Open("CNCB0", dir.Path())) << server.ErrorText();
}

TEST_F(SerialTest, HungUpLineFailsWritesAndReadsAsSilence) {
  pair.Stop();
  EXPECT_FALSE(Send(server, Bytes{1, 2, 3}));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_TRUE(ReadSome(server, 128, 50).empty());
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 40ms);
}

TEST(SerialOpen, MissingOrWrongPortFailsCleanly) {
  testsupport::TempDir dir;
  testsupport::WriteFile(dir.File("plain"), "x");
  struct Case {
    std::string name, dir;
    TermiosPort::OpenError error;
  } cases[] = {
      {"CNCB9", dir.Path(), TermiosPort::OpenError::kNotFound},
      {dir.File("CNCB9"), "/nowhere", TermiosPort::OpenError::kNotFound},
      {"CNCB0", dir.File("nodir"), TermiosPort::OpenError::kNotFound},
      {"plain", dir.Path(), TermiosPort::OpenError::kNotTerminal},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " in " + c.dir);
    TermiosPort p;
    EXPECT_FALSE(p.Open(c.name, c.dir));
    EXPECT_EQ(p.LastError(), c.error);
    EXPECT_FALSE(p.IsOpen());
    EXPECT_FALSE(p.ErrorText().empty());
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(p.Read(b, 4, 10), 0u);
    EXPECT_FALSE(p.Write(b, 4));
    p.Purge();
  }
}

TEST(SerialOpen, PathOfAName) {
  EXPECT_EQ(platform::SerialPortPath("CNCB0", "/dev"), "/dev/CNCB0");
  EXPECT_EQ(platform::SerialPortPath("CNCB0", "/x/ports/"), "/x/ports/CNCB0");
  EXPECT_EQ(platform::SerialPortPath("/dev/ttyS0", "/x"), "/dev/ttyS0");
  EXPECT_EQ(platform::SerialPortPath("./CNCB1", "/x"), "./CNCB1");
}

}  // namespace
