// relayctl against the real relay-server --headless: every verb, a request
// answered by a device, the message stream, and requests that are wrong or
// hostile, while devsim's devices go on being served.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "configurator/code_tables.h"
#include "configurator/config_file.h"
#include "configurator/image.h"
#include "platform/unix_socket.h"
#include "tests/support/child_process.h"
#include "tests/support/sim_output.h"
#include "tests/support/safe_network_ini.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;

const std::string kBin = RELAY_BIN_DIR;

struct CtlRun {
  int status = -1;
  std::string out;  // standard output and error together
};

class Relayctl : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string ports = dir.File("ports");
  unsigned short port = testsupport::FreeUdpPort();
  // The devices' own port, apart from other tests' devices that run meanwhile.
  unsigned short devicePort = testsupport::FreeUdpPort();
  std::unique_ptr<ChildProcess> server;

  void SetUp() override {
    ::mkdir(ports.c_str(), 0755);
    const std::string form1 = "[Form1]\r\nIpAdrrServ_1=127.0.0.1\r\nEditPortServ1=" +
                              std::to_string(port) + "\r\n";
    // The check stays on, as a verb below reads its default; no workstation hears its news.
    testsupport::WriteFile(
        dir.File("relay-server.ini"),
        testsupport::SafeNetworkIni(form1, testsupport::InternetCheck::kAsWritten));
  }

  void MakeRegistry(int devices) {
    ASSERT_EQ(ChildProcess(kBin + "/devsim", {"--make-ndx", dir.File("relay-server.ndx"),
                                              "--devices", std::to_string(devices), "--first",
                                              "1/0/1", "--port", std::to_string(devicePort)})
                  .Wait(10s),
              0);
  }

  void StartServer(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--headless", "--data-dir", dir.Path(), "--ports-dir", ports};
    args.insert(args.end(), extra.begin(), extra.end());
    server = std::make_unique<ChildProcess>(kBin + "/relay-server", args);
    ASSERT_TRUE(testsupport::WaitUdpBound(port, 5s));
    // The socket is opened before the interfaces are bound.
    ASSERT_EQ(::access(dir.File("relay-server.sock").c_str(), F_OK), 0);
  }

  CtlRun Ctl(std::vector<std::string> args, std::chrono::seconds limit = 20s) {
    args.insert(args.begin(), {"--data-dir", dir.Path()});
    ChildProcess p(kBin + "/relayctl", args, /*withStderr=*/true);
    CtlRun r;
    r.status = p.Wait(limit);
    for (const std::string& l : p.Lines()) r.out += l + "\n";
    return r;
  }

  std::string ReadFile(const std::string& name) {
    std::ifstream f(dir.File(name), std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
  }
};

// One server, the verbs one after another: each row's exit status and a part
// of what it prints. The state carries from row to row.
TEST_F(Relayctl, EveryVerbAgainstAHeadlessServer) {
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(3));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  struct Row {
    std::vector<std::string> args;
    int status;
    const char* shows;
  };
  const Row rows[] = {
      {{"status"}, 0, "Зарегистрировано приборов: 3"},
      {{"devices"}, 0, "1/0/3"},
      {{"devices", "--failed"}, 0, "1/0/3"},  // silent since the registry was made
      {{"--json", "devices"}, 0, "\"number\":\"1/0/2\""},
      {{"register", "all"}, 2, "Подтвердите флагом --yes"},
      {{"--yes", "register", "all"}, 0, ""},
      {{"status"}, 0, "Регистрация: всех новых приборов"},
      {{"--yes", "register", "1/0/9"}, 0, ""},
      {{"status"}, 0, "Регистрация: прибора 1/0/9"},
      {{"register", "off"}, 0, ""},
      {{"status"}, 0, "Регистрация: выключена"},
      {{"--yes", "register", "1/0/300"}, 2, "N1/N2/N3"},
      {{"--yes", "delete", "9/9/9"}, 1, "прибор 9/9/9 не зарегистрирован"},
      {{"--yes", "delete", "#2"}, 0, ""},
      {{"devices"}, 0, "1/0/2"},
      {{"--yes", "delete", "#2"}, 1, "в записи #2 нет зарегистрированного прибора"},
      {{"permit-substitution", "1/0/1"}, 0, ""},
      {{"--yes", "switch-off", "1/0/1"}, 0, ""},
      {{"--json", "devices"}, 0, "\"switched_off\":true"},
      {{"switch-on", "#0"}, 0, ""},
      {{"request", "channel", "1/0/2"}, 0, ""},
      {{"save"}, 0, ""},
      {{"compare"}, 0, ""},
      {{"load"}, 0, ""},
      {{"export"}, 0, ""},
      {{"clear-unused"}, 0, ""},
      {{"settings", "NaruchUO", "CheckBox_Internet"}, 0, "NaruchUO=0\nCheckBox_Internet=1"},
      {{"settings", "NaruchUO=1", "BoxNPovtor=2"}, 0, ""},
      {{"settings", "naruchuo"}, 0, "NaruchUO=1"},
      {{"settings", "NaruchUO=0", "Left=5"}, 1, "ключ Left не меняется"},
      {{"settings", "NaruchUO"}, 0, "NaruchUO=1"},
      {{"settings", "GateWay1=1.2.3"}, 1, "IPv4"},
      {{"trace", "start"}, 0, ""},
      {{"messages"}, 0, "ФАЙЛ.NDX и БУФЕР-OK!"},  // said by "compare" above
      {{"--yes", "delete-all"}, 0, ""},
      {{"status"}, 0, "Зарегистрировано приборов: 0"},
      {{"reboot"}, 2, "неизвестная команда"},
  };
  for (const Row& row : rows) {
    std::string line;
    for (const auto& a : row.args) line += a + " ";
    const CtlRun r = Ctl(row.args);
    EXPECT_EQ(r.status, row.status) << line << "\n" << r.out;
    EXPECT_NE(r.out.find(row.shows), std::string::npos) << line << "\n" << r.out;
  }
  // What the verbs did reached the files.
  EXPECT_NE(ReadFile("relay-server.ini").find("NaruchUO=1\r\n"), std::string::npos);
  EXPECT_NE(ReadFile("relay-server.ini").find("BoxNPovtor=2\r\n"), std::string::npos);
  EXPECT_NE(ReadFile("RegistrationObj.txt").find("1/0/1"), std::string::npos);

  EXPECT_EQ(server->Terminate(), 0);
  EXPECT_NE(::access(dir.File("relay-server.sock").c_str(), F_OK), 0) << "removed at exit";
  EXPECT_EQ(Ctl({"status"}).status, 3) << "no server on the folder";
}

TEST_F(Relayctl, ARequestWaitsForTheDevicesAnswerAndTheStreamFollowsTheMessages) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  ChildProcess follower(kBin + "/relayctl", {"--data-dir", dir.Path(), "messages", "--follow"});
  // A device that keeps in touch and answers requests.
  ChildProcess devsim(kBin + "/devsim",
                      {"--server", "127.0.0.1:" + std::to_string(port), "--devices", "1",
                       "--first", "1/0/1", "--heartbeat-ms", "200", "--duration-ms", "6000",
                       "--answer-requests"});
  ASSERT_FALSE(follower.WaitForLine("Пульт.N=1/0/1", 10s).empty())
      << "the registration message reaches the follower";
  const CtlRun r = Ctl({"request", "channel", "1/0/1", "--wait", "--timeout", "10"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Пульт.N-1/0/1 Тип:"), std::string::npos) << r.out;
  const CtlRun balance = Ctl({"request", "balance1", "#0", "--wait", "--timeout", "10"});
  EXPECT_EQ(balance.status, 0) << balance.out;
  EXPECT_NE(balance.out.find("Баланс"), std::string::npos) << balance.out;
  EXPECT_FALSE(follower.WaitForLine("Тип:", 5s).empty());
  EXPECT_EQ(devsim.Wait(20s), 0);
  // Once the device is silent, a wait ends with a refusal after its time-out.
  const auto start = std::chrono::steady_clock::now();
  const CtlRun none = Ctl({"request", "signal1", "1/0/1", "--wait", "--timeout", "1"});
  EXPECT_EQ(none.status, 1) << none.out;
  EXPECT_NE(none.out.find("не ответил за 1 с"), std::string::npos) << none.out;
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

// Wrong and hostile requests get an answer or a closed connection; the
// devices are served all the while, and relayctl still works after them.
TEST_F(Relayctl, BadRequestsLeaveTheServerServingDevices) {
  ASSERT_NO_FATAL_FAILURE(StartServer({"--register", "all"}));
  ChildProcess devsim(kBin + "/devsim",
                      {"--server", "127.0.0.1:" + std::to_string(port), "--devices", "3",
                       "--first", "1/0/1", "--heartbeat-ms", "100", "--duration-ms", "4000"},
                      /*withStderr=*/true);
  const std::string sock = dir.File("relay-server.sock");
  const auto ask = [&](const std::string& bytes) {
    const int fd = platform::ConnectUnix(sock);
    EXPECT_GE(fd, 0);
    [[maybe_unused]] ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string got;
    char buf[4096];
    timeval tv{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) {
      got.append(buf, size_t(n));
      if (got.back() == '\n') break;
    }
    ::close(fd);
    return got;
  };
  EXPECT_NE(ask("hello\n").find("\"usage\":true"), std::string::npos);
  EXPECT_NE(ask("{\"verb\":\"delete\",\"device\":5}\n").find("строкой"), std::string::npos);
  EXPECT_NE(ask("{\"verb\":\"delete-all\"}\n").find("нужно подтверждение"), std::string::npos);
  EXPECT_NE(ask(std::string(1 << 20, '{')).find("длиннее"), std::string::npos);
  // A hundred clients at once, all silent: some are refused, none is served
  // wrongly, and the server is not held up.
  std::vector<int> silent;
  for (int k = 0; k < 100; ++k) silent.push_back(platform::ConnectUnix(sock));
  std::this_thread::sleep_for(300ms);
  for (int fd : silent) ::close(fd);

  // Another user is refused even when the socket's mode would let him in.
  if (::geteuid() == 0) {
    ::chmod(dir.Path().c_str(), 0711);
    ::chmod(sock.c_str(), 0666);
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      const passwd* nobody = ::getpwnam("nobody");
      if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(2);
      const int fd = platform::ConnectUnix(sock);
      if (fd < 0) ::_exit(3);
      const char req[] = "{\"verb\":\"status\"}\n";
      [[maybe_unused]] ssize_t n = ::send(fd, req, sizeof req - 1, MSG_NOSIGNAL);
      char buf[512];
      n = ::recv(fd, buf, sizeof buf, 0);
      [[maybe_unused]] ssize_t w = ::write(pipe_fds[1], buf, n > 0 ? size_t(n) : 0);
      ::_exit(0);
    }
    ::close(pipe_fds[1]);
    int status = 0;
    ::waitpid(child, &status, 0);
    char buf[512];
    const ssize_t n = ::read(pipe_fds[0], buf, sizeof buf);
    ::close(pipe_fds[0]);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const std::string answer(buf, n > 0 ? size_t(n) : 0);
    EXPECT_NE(answer.find("доступ запрещён"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("\"status\""), std::string::npos) << "no state for a stranger";
  }

  EXPECT_EQ(devsim.Wait(20s), 0);
  const auto lines = devsim.Lines();
  std::string summary;
  for (const auto& l : lines)
    if (l.rfind("devsim: devices=", 0) == 0) summary = l;
  EXPECT_NE(summary.find(" registered=3 "), std::string::npos) << summary;
  EXPECT_NE(summary.find(" unanswered=0 "), std::string::npos) << summary;
  const CtlRun r = Ctl({"status"});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("Зарегистрировано приборов: 3"), std::string::npos) << r.out;
}

// The folder's lock file removed from under a running server: a second copy
// still finds the server on the control socket, touches none of its files
// and ends; the first goes on answering.
TEST_F(Relayctl, ASecondCopyFindsTheServerOnItsSocket) {
  ASSERT_NO_FATAL_FAILURE(StartServer());
  ASSERT_EQ(::unlink(dir.File("relay-server.lock").c_str()), 0);
  // A save of the running server, under way.
  testsupport::WriteFile(dir.File("relay-server.ndx.a1B2c3"), "half a registry");
  ChildProcess second(kBin + "/relay-server",
                      {"--headless", "--data-dir", dir.Path(), "--ports-dir", ports}, true);
  EXPECT_EQ(second.Wait(10s), 1);
  EXPECT_EQ(::access(dir.File("relay-server.ndx.a1B2c3").c_str(), F_OK), 0)
      << "the other server's temporary file is left alone";
  const CtlRun r = Ctl({"status"});
  EXPECT_EQ(r.status, 0) << r.out;
}

// Remote maintenance of a devsim device through relayctl: the login against
// the device's credentials, versions, new credentials, the web interface;
// credentials only from files, never from the command line.
TEST_F(Relayctl, MaintenanceOfADevsimDevice) {
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(1));
  // Short ticks shorten the maintenance waits alike: 15 s become 750 ms.
  ASSERT_NO_FATAL_FAILURE(StartServer({"--tick-ms", "10"}));
  // Settings files: what the device holds, and another one to write to it.
  const auto image = [](uint8_t fill, uint8_t macByte) {
    std::string b(110, char(fill));
    b[0] = char(0xEF), b[1] = char(0x6C), b[2] = char(0x55), b[3] = char(0x0C);
    for (int k = 41; k <= 46; ++k) b[size_t(k)] = char(macByte);
    return b;
  };
  testsupport::WriteFile(dir.File("device.dat"), image(0x11, 0xA0));
  testsupport::WriteFile(dir.File("other.dat"), image(0x22, 0xB0));
  ChildProcess devsim(kBin + "/devsim",
                      {"--server", "127.0.0.1:" + std::to_string(port), "--ndx",
                       dir.File("relay-server.ndx"), "--port", std::to_string(devicePort), "--maint",
                       "--verbose", "--maint-user",
                       "oper", "--maint-password", "secret", "--maint-versions", "70.10/41.39",
                       "--maint-chip", "1", "--maint-net-file", dir.File("device.dat"),
                       "--maint-net-out", dir.File("written.dat"), "--heartbeat-ms", "500",
                       "--duration-ms", "30000"},
                      /*withStderr=*/true);
  ASSERT_TRUE(testsupport::DeviceUp(devsim)) << testsupport::Joined(devsim.Lines());
  testsupport::WriteFile(dir.File("login"), "oper\r\nsecret\r\n");
  testsupport::WriteFile(dir.File("wrong"), "oper\nsecreT\n");
  testsupport::WriteFile(dir.File("fresh"), "новый\nпароль1\n");
  testsupport::WriteFile(dir.File("fresh-login"), "новый\nпароль1\n");
  testsupport::WriteFile(dir.File("one-line"), "oper\n");

  struct Row {
    std::vector<std::string> args;
    int status;
    std::string shows;
  };
  const Row rows[] = {
      {{"maint", "1/0/1", "versions", "--credentials", dir.File("login")}, 0,
       "N-версии 87J60->70.10; 67k22->41.39"},
      // The network settings into a file, the SMS and NTP blocks read after them.
      {{"maint", "1/0/1", "net-read", dir.File("read.dat"), "--credentials", dir.File("login")}, 0,
       "Настройки \"SMS сервис NTP+Запр.Баланса\" успешно считаны."},
      {{"maint", "1/0/1", "net-write", dir.File("other.dat"), "--credentials", dir.File("login")},
       0, "Сетев. настр.записаны."},
      {{"maint", "1/0/1", "reset", "--credentials", dir.File("login")}, 0, "Пересброс -OK."},
      {{"maint", "1/0/1", "net-write", dir.File("absent.dat"), "--credentials", dir.File("login")},
       2, "absent.dat"},
      {{"maint", "1/0/1", "versions", "--credentials", dir.File("wrong")}, 1,
       "Не верный Пользователь или Пароль."},
      {{"maint", "1/0/1", "web-on", "--credentials", dir.File("login")}, 0,
       "\"WEB-интерфейс\"- включен"},
      {{"maint", "1/0/1", "credentials", "--credentials", dir.File("login"), "--new-credentials",
        dir.File("fresh")},
       0, "Новый \"Password\" принят."},
      // The old credentials no longer open the device; the new ones do.
      {{"maint", "1/0/1", "versions", "--credentials", dir.File("login")}, 1,
       "Не верный Пользователь или Пароль."},
      {{"maint", "1/0/1", "versions", "--credentials", dir.File("fresh-login")}, 0, "N-версии"},
      // Bad usage, refused before anything is sent.
      {{"maint", "1/0/1", "credentials", "--credentials", dir.File("login")}, 2,
       "--new-credentials"},
      {{"maint", "1/0/1", "versions", "--credentials", dir.File("one-line")}, 2,
       "ожидаются две строки"},
      {{"maint", "1/0/1", "reboot", "--credentials", dir.File("login")}, 2, "действие одно из"},
      {{"maint", "9/9/9", "versions", "--credentials", dir.File("login")}, 1, "9/9/9"},
      {{"status", "--credentials", dir.File("login")}, 2, "--credentials не относится"},
  };
  for (const Row& r : rows) {
    const CtlRun run = Ctl(r.args);
    EXPECT_EQ(run.status, r.status) << r.args[2] << "\n" << run.out;
    EXPECT_NE(run.out.find(r.shows), std::string::npos) << r.args[2] << "\n" << run.out;
  }
  // The file read is the device's block; the block written is the other
  // file's, but with the device's own MAC address.
  const std::string read = ReadFile("read.dat"), written = ReadFile("written.dat");
  ASSERT_EQ(read.size(), 110u);
  EXPECT_EQ(read.substr(4, 105), image(0x11, 0xA0).substr(4, 105));
  ASSERT_EQ(written.size(), 110u);
  EXPECT_EQ(written.substr(4, 37), image(0x22, 0xB0).substr(4, 37));
  EXPECT_EQ(written.substr(41, 6), std::string(6, char(0xA0)));
  EXPECT_EQ(written.substr(47, 62), image(0x22, 0xB0).substr(47, 62));
  // The device went on with its heartbeats meanwhile.
  EXPECT_EQ(devsim.Terminate(), 0) << testsupport::Joined(devsim.Lines());
}

// The test window's channel command through relayctl: the masks as the
// device reads them, its register in the log, and masks that are refused
// before anything is sent.
TEST_F(Relayctl, ChannelTestOfADevsimDevice) {
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(1));
  ASSERT_NO_FATAL_FAILURE(StartServer({"--tick-ms", "10"}));
  ChildProcess devsim(kBin + "/devsim",
                      {"--server", "127.0.0.1:" + std::to_string(port), "--ndx",
                       dir.File("relay-server.ndx"), "--port", std::to_string(devicePort), "--maint", "--maint-user",
                       "oper", "--maint-password", "secret", "--heartbeat-ms", "500",
                       "--duration-ms", "30000", "--verbose"},
                      /*withStderr=*/true);
  ASSERT_TRUE(testsupport::DeviceUp(devsim)) << testsupport::Joined(devsim.Lines());
  testsupport::WriteFile(dir.File("login"), "oper\nsecret\n");
  testsupport::WriteFile(dir.File("wrong"), "oper\nwrong\n");
  const std::string login = dir.File("login");

  struct Row {
    std::vector<std::string> args;
    int status;
    std::string shows;
    std::string deviceReads;  // the device's note of the masks, when it got them
  };
  const Row rows[] = {
      {{"maint", "1/0/1", "test", "--lan", "0xF", "--sim", "255", "--credentials", login}, 0,
       "Отправить->\",HEX Регистр:->F\nOK \"Блок.<-\",HEX Регистр:->F", "LAN 0F SIM FF"},
      {{"maint", "1/0/1", "test", "--lan", "0b0101", "--sim", "0x80", "--credentials", login}, 0,
       "OK \"Блок.<-\",HEX Регистр:->5", "LAN 05 SIM 80"},
      {{"maint", "1/0/1", "test", "--lan", "0", "--sim", "0", "--credentials", dir.File("wrong")},
       1, "Не верный Пользователь или Пароль.", ""},
      // Masks refused before anything is sent.
      {{"maint", "1/0/1", "test", "--lan", "16", "--sim", "0", "--credentials", login}, 2,
       "--lan: ожидается маска каналов LAN от 0 до 15", ""},
      {{"maint", "1/0/1", "test", "--lan", "1", "--sim", "0x100", "--credentials", login}, 2,
       "--sim: ожидается маска каналов SIM от 0 до 255", ""},
      {{"maint", "1/0/1", "test", "--lan", "-1", "--sim", "0", "--credentials", login}, 2,
       "а не \"-1\"", ""},
      {{"maint", "1/0/1", "test", "--lan", "0x", "--sim", "0", "--credentials", login}, 2,
       "--lan: ожидается", ""},
      {{"maint", "1/0/1", "test", "--lan", "3", "--credentials", login}, 2,
       "нужны обе маски каналов", ""},
      {{"maint", "1/0/1", "versions", "--lan", "3", "--credentials", login}, 2,
       "--lan не относится к команде maint", ""},
  };
  for (const Row& r : rows) {
    const CtlRun run = Ctl(r.args);
    EXPECT_EQ(run.status, r.status) << r.args[4] << "\n" << run.out;
    EXPECT_NE(run.out.find(r.shows), std::string::npos) << r.args[4] << "\n" << run.out;
    if (!r.deviceReads.empty()) {
      EXPECT_FALSE(devsim.WaitForLine("test: channel mask " + r.deviceReads, 5s).empty());
    }
  }
  EXPECT_EQ(devsim.Count("test: channel mask"), 2u) << "refused masks reach no device";
  EXPECT_EQ(devsim.Count("end of test exchange"), 2u);

  // The server checks the masks of a request that relayctl did not make.
  const int fd = platform::ConnectUnix(dir.File("relay-server.sock"), 2000);
  ASSERT_GE(fd, 0);
  const std::string line =
      R"({"verb":"maint","device":"1/0/1","action":"test","user":"oper","password":"secret",)"
      R"("lan":15,"sim":256})"
      "\n";
  ASSERT_EQ(::send(fd, line.data(), line.size(), MSG_NOSIGNAL), ssize_t(line.size()));
  std::string answer;
  char buf[512];
  for (ssize_t n; answer.find('\n') == std::string::npos && (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
    answer.append(buf, size_t(n));
  ::close(fd);
  EXPECT_NE(answer.find("маской каналов SIM от 0 до 255"), std::string::npos) << answer;
  EXPECT_EQ(devsim.Terminate(), 0) << testsupport::Joined(devsim.Lines());
}

// The main controller's update of devsim devices: the image the loader
// assembled is the file's (srec_cmp says so), a lost answer costs one resend,
// a bad file reaches no device, and a batch goes on past a device whose
// loader takes nothing.
TEST_F(Relayctl, FirmwareUpdateOfDevsimDevices) {
  if (std::system("command -v srec_cat >/dev/null && command -v srec_cmp >/dev/null") != 0)
    GTEST_SKIP() << "srec_cat and srec_cmp (Debian's srecord) are needed";
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(3));
  ASSERT_NO_FATAL_FAILURE(StartServer({"--tick-ms", "10"}));
  ChildProcess devsim(kBin + "/devsim",
                      {"--server", "127.0.0.1:" + std::to_string(port), "--ndx",
                       dir.File("relay-server.ndx"), "--port", std::to_string(devicePort), "--maint",
                       "--verbose", "--maint-user",
                       "oper", "--maint-password", "secret", "--maint-image-out",
                       dir.File("image-{n}.hex"), "--maint-loader-drop", "3",
                       "--maint-loader-refuse", "1/0/2", "--heartbeat-ms", "500", "--duration-ms",
                       "40000"},
                      /*withStderr=*/true);
  ASSERT_TRUE(testsupport::DeviceUp(devsim)) << testsupport::Joined(devsim.Lines());
  testsupport::WriteFile(dir.File("login"), "oper\nsecret\n");
  const std::string login = dir.File("login");
  // 12 KiB across a 64 KiB boundary, in srec_cat's records with CR LF.
  const std::string make = "cd " + dir.Path() +
                           " && head -c 12288 /dev/urandom >fw.bin && srec_cat fw.bin -binary "
                           "-offset 0xF000 -o main_4620.hex -intel -crlf && srec_cat fw.bin -binary "
                           "-o lf_4620.hex -intel && cp main_4620.hex main.hex";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const auto same = [&](const std::string& image) {
    return std::system(("srec_cmp " + dir.File("main_4620.hex") + " -intel " + dir.File(image) +
                        " -intel >/dev/null 2>&1")
                           .c_str()) == 0;
  };

  struct Row {
    std::vector<std::string> args;
    int status;
    std::string shows;
  };
  const Row rows[] = {
      {{"maint", "1/0/1", "update-main", dir.File("main_4620.hex"), "--credentials", login}, 0,
       "Очистка-OK.\nПрограммирование.\nПовтор пакета N-2\nОбновление успешно завершено."},
      // srec_cat's own line ends are LF only: refused before anything is sent.
      {{"maint", "1/0/1", "update-main", dir.File("lf_4620.hex"), "--credentials", login}, 2,
       "lf_4620.hex: Строка 1: строка кончается на LF без CR."},
      {{"maint", "1/0/1", "update-main", dir.File("absent_4620.hex"), "--credentials", login}, 2,
       "absent_4620.hex: файл не прочитан"},
      {{"maint", "1/0/1", "update-main", "--credentials", login}, 2, "нужен файл прошивки .hex"},
      {{"maint", "1/0/1", "update-main", dir.File("main.hex"), "--credentials", login}, 1,
       "Файл -> (" + dir.File("main.hex") + ") не корректен. Ошибочный файл."},
      {{"batch", "update-all", dir.File("main_4620.hex"), "1/0/1"}, 2,
       "ожидается update-main или update-eth"},
  };
  for (const Row& r : rows) {
    const CtlRun run = Ctl(r.args);
    EXPECT_EQ(run.status, r.status) << r.args[3] << "\n" << run.out;
    EXPECT_NE(run.out.find(r.shows), std::string::npos) << r.args[3] << "\n" << run.out;
  }
  EXPECT_TRUE(same("image-1-0-1.hex"));

  // One after another; the refusing loader fails its device, not the batch.
  ::unlink(dir.File("image-1-0-1.hex").c_str());
  const CtlRun batch = Ctl({"batch", "update-main", dir.File("main_4620.hex"), "1/0/1", "1/0/2",
                            "1/0/3", "--credentials", login},
                           40s);
  EXPECT_EQ(batch.status, 1) << batch.out;
  const auto row = [&](const std::string& device, const std::string& result, const std::string& last) {
    std::istringstream lines(batch.out);
    for (std::string l; std::getline(lines, l);)
      if (l.rfind(device + "  ", 0) == 0)
        return l.find(result) != std::string::npos && l.find(last) != std::string::npos;
    return false;
  };
  EXPECT_TRUE(row("1/0/1", "выполнено", "Обновление успешно завершено.")) << batch.out;
  EXPECT_TRUE(row("1/0/2", "не выполнено", "Неудачное завершение Обновления 4620/67k22.")) << batch.out;
  EXPECT_TRUE(row("1/0/3", "выполнено", "Обновление успешно завершено.")) << batch.out;
  EXPECT_NE(batch.out.find("Выполнено: 2 из 3"), std::string::npos) << batch.out;
  EXPECT_TRUE(same("image-1-0-1.hex"));
  EXPECT_TRUE(same("image-1-0-3.hex"));
  EXPECT_EQ(::access(dir.File("image-1-0-2.hex").c_str(), F_OK), -1);
  // The devices went on with their heartbeats meanwhile.
  EXPECT_EQ(devsim.Terminate(), 0) << testsupport::Joined(devsim.Lines());
}

// The Ethernet controller's firmware over TFTP to devsim's 87J60 loader, one
// device and a batch; the loader stores what it received byte for byte.
TEST_F(Relayctl, EthernetFirmwareOfDevsimDevices) {
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(2));
  ASSERT_NO_FATAL_FAILURE(StartServer({"--tick-ms", "10"}));
  ChildProcess devsim(kBin + "/devsim",
                      {"--server", "127.0.0.1:" + std::to_string(port), "--ndx",
                       dir.File("relay-server.ndx"), "--port", std::to_string(devicePort), "--maint",
                       "--verbose", "--maint-user",
                       "oper", "--maint-password", "secret", "--maint-eth-out",
                       dir.File("eth.out"), "--heartbeat-ms", "500", "--duration-ms", "40000"},
                      /*withStderr=*/true);
  ASSERT_TRUE(testsupport::DeviceUp(devsim)) << testsupport::Joined(devsim.Lines());
  testsupport::WriteFile(dir.File("login"), "oper\nsecret\n");
  std::string firmware;
  for (int line = 0; line < 100; ++line) firmware += ":10000000000102030405060708090A0B0C0D0E0F78\r\n";
  firmware += ":00000001FF\r\n";
  testsupport::WriteFile(dir.File("fw87j60.hex"), firmware);

  CtlRun one = Ctl({"maint", "1/0/1", "update-eth", dir.File("fw87j60.hex"), "--credentials",
                    dir.File("login")},
                   60s);
  EXPECT_EQ(one.status, 0) << one.out;
  EXPECT_EQ(ReadFile("eth.out"), firmware);
  ::unlink(dir.File("eth.out").c_str());
  CtlRun batch = Ctl({"batch", "update-eth", dir.File("fw87j60.hex"), "1/0/1", "1/0/2",
                      "--credentials", dir.File("login")},
                     120s);
  EXPECT_EQ(batch.status, 0) << batch.out;
  EXPECT_NE(batch.out.find("2 из 2"), std::string::npos) << batch.out;
  EXPECT_EQ(ReadFile("eth.out"), firmware);
  EXPECT_EQ(devsim.Terminate(), 0) << testsupport::Joined(devsim.Lines());
}

// The configurator through relayctl against a devsim device with a Rielta
// expander: identify, a read into a file, a loop type and a user code changed
// in that file and written back, the key reader, the expander's tables; the
// device's image afterwards differs from the seed in exactly those bytes.
TEST_F(Relayctl, ConfiguratorOfADevsimDevice) {
  ASSERT_NO_FATAL_FAILURE(MakeRegistry(1));
  ASSERT_NO_FATAL_FAILURE(StartServer({"--tick-ms", "10"}));
  configurator::Image seed{};
  for (size_t i = 0; i < 127; ++i) seed[i] = uint8_t(i % 10);  // codes of digits, loops in range
  for (size_t i = 131; i < 256; ++i) seed[i] = uint8_t(i * 3);
  seed[2] = seed[3] = 0;  // the installer's code, never shown, is stored as 0
  seed[configurator::off::kOptionsA] = 0x08;  // the Rielta expander
  std::string why;
  ASSERT_TRUE(configurator::SaveConfigFile(dir.File("seed.dat"), 250, seed, &why)) << why;
  configurator::Image other = seed;
  ASSERT_TRUE(configurator::SaveConfigFile(dir.File("gsm.dat"), 251, other, &why)) << why;
  ChildProcess devsim(kBin + "/devsim",
                      {"--server", "127.0.0.1:" + std::to_string(port), "--ndx",
                       dir.File("relay-server.ndx"), "--port", std::to_string(devicePort), "--maint",
                       "--verbose", "--maint-versions", "77.10/51.39", "--maint-config-file",
                       dir.File("seed.dat"), "--maint-config-out", dir.File("out.dat"),
                       "--maint-expander", "rielta", "--maint-key-after", "1", "--heartbeat-ms",
                       "500", "--duration-ms", "60000"},
                      /*withStderr=*/true);
  ASSERT_TRUE(testsupport::DeviceUp(devsim)) << testsupport::Joined(devsim.Lines());
  testsupport::WriteFile(dir.File("login"), "admin\nadmin\n");
  testsupport::WriteFile(dir.File("wrong"), "admin\nadmiN\n");
  const auto login = [&](std::vector<std::string> a) {
    a.insert(a.end(), {"--credentials", dir.File("login")});
    return a;
  };

  CtlRun run = Ctl(login({"config", "1/0/1", "identify"}));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("<Пульт. номер - 1/0/1> \"Гравен-Net\""), std::string::npos) << run.out;

  run = Ctl(login({"config", "1/0/1", "read", dir.File("read.dat")}), 60s);
  ASSERT_EQ(run.status, 0) << run.out;
  const configurator::LoadedConfig read =
      configurator::LoadConfigFile(dir.File("read.dat"), {}, 250);
  ASSERT_FALSE(read.formatError) << read.why;
  EXPECT_TRUE(std::equal(seed.begin(), seed.begin() + 256, read.image.begin()));

  // ШС2 becomes "Вход", user 3 gets the code 1234.
  configurator::Image edited = read.image;
  configurator::SetLoopType(edited, 2, 5);
  configurator::CodeTable codes = configurator::CodesFromImage(edited);
  codes[2].code = "1234";
  configurator::CodesIntoImage(codes, edited);
  ASSERT_TRUE(configurator::SaveConfigFile(dir.File("edited.dat"), 250, edited, &why)) << why;
  run = Ctl(login({"config", "1/0/1", "write", dir.File("edited.dat")}), 60s);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("Запись OK."), std::string::npos) << run.out;

  const struct {
    std::vector<std::string> args;
    int status;
    std::string shows;
  } rows[] = {
      {login({"config", "1/0/1", "key"}), 0, "Ключ: 9300"},
      {login({"config", "1/0/1", "expander", "read"}), 0, "Фотон-12-РК"},
      {login({"config", "1/0/1", "write", dir.File("gsm.dat")}), 1, "другого типа"},
      {login({"config", "1/0/1", "write", dir.File("absent.dat")}), 2, "absent.dat"},
      {{"config", "1/0/1", "read", dir.File("x.dat"), "--credentials", dir.File("wrong")}, 1,
       "Не верный Пользователь или Пароль."},
      {login({"config", "1/0/1", "erase"}), 2, "ожидается identify"},
  };
  for (const auto& r : rows) {
    run = Ctl(r.args, 60s);
    EXPECT_EQ(run.status, r.status) << r.args[2] << "\n" << run.out;
    EXPECT_NE(run.out.find(r.shows), std::string::npos) << r.args[2] << "\n" << run.out;
  }

  EXPECT_EQ(devsim.Terminate(), 0) << testsupport::Joined(devsim.Lines());
  const std::string out = ReadFile("out.dat");
  ASSERT_EQ(out.size(), 356u);
  std::vector<size_t> changed;
  for (size_t i = 0; i < 256; ++i)
    if (uint8_t(out[100 + i]) != seed[i]) changed.push_back(i);
  // The loop type, its two delays and link bits (type 5 keeps them), the
  // code's two bytes; 127..130 go as 0 with every write and were 0 already.
  EXPECT_EQ(changed, (std::vector<size_t>{10, 11, 101})) << testsupport::Joined(devsim.Lines());
}

}  // namespace
