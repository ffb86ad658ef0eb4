// The control socket's pieces without a running server: request lines,
// relayctl's command line, the kept lines, the settings keys, and the socket
// server's limits over a real Unix socket.
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "app/control_requests.h"
#include "app/control_server.h"
#include "console/line_history.h"
#include "console/settings_keys.h"
#include "platform/unix_socket.h"
#include "tests/support/child_process.h"
#include "tools/relayctl/cli.h"
#include "tools/relayctl/output.h"

namespace {

using namespace std::chrono_literals;

// ---- request lines -------------------------------------------------------------

struct RequestCase {
  const char* line;
  const char* error;  // a part of the refusal; nullptr when the request is good
};

TEST(ControlRequest, GoodAndBadLines) {
  const RequestCase cases[] = {
      {R"({"verb":"status"})", nullptr},
      {R"({"verb":"devices","failed":true})", nullptr},
      {R"({"verb":"register","mode":"1/0/7","yes":true})", nullptr},
      {R"({"verb":"request","mode":"balance2","device":"#17","wait":true,"timeout":5})", nullptr},
      {R"({"verb":"settings","set":["NaruchUO=1","GateWay1=10.0.0.1"]})", nullptr},
      {R"({"verb":"trace","mode":"start","follow":true})", nullptr},
      {"not json", "объектом JSON"},
      {R"(["verb","status"])", "объектом JSON"},
      {"", "объектом JSON"},
      {R"({"verb":"status"} trailing)", "объектом JSON"},
      {R"({})", "нет поля \"verb\""},
      {R"({"verb":"reboot"})", "неизвестная команда"},
      {R"({"verb":7})", "должно быть строкой"},
      {R"({"verb":"devices","failed":"yes"})", "true или false"},
      {R"({"verb":"status","color":"red"})", "неизвестное поле"},
      {R"({"verb":"delete"})", "не указан прибор"},
      {R"({"verb":"status","device":"1/2/3"})", "прибор не указывается"},
      {R"({"verb":"register","mode":"some"})", "all, off"},
      {R"({"verb":"register","mode":"1/2/256"})", "all, off"},
      {R"({"verb":"request","mode":"voltage","device":"1/2/3"})", "вид запроса"},
      {R"({"verb":"request","mode":"channel","device":"1/2/3","timeout":0})", "от 1 до"},
      {R"({"verb":"request","mode":"channel","device":"1/2/3","timeout":1.5})", "целым"},
      {R"({"verb":"settings","set":["=1"]})", "КЛЮЧ=ЗНАЧЕНИЕ"},
      {R"({"verb":"settings","set":[1]})", "списком строк"},
      {R"({"verb":"settings","keys":["A"],"set":["B=1"]})", "не то и другое"},
      {R"({"verb":"messages","mode":"start"})", "не относится"},
      {R"({"verb":"trace","mode":"pause"})", "start или stop"},
      // The test's channel masks: LAN 0..15, SIM 0..255, for the action test only.
      {R"({"verb":"maint","device":"#1","action":"test","user":"u","password":"p","lan":15,"sim":255})",
       nullptr},
      {R"({"verb":"maint","device":"#1","action":"test","user":"u","password":"p","lan":16,"sim":0})",
       "маской каналов LAN от 0 до 15"},
      {R"({"verb":"maint","device":"#1","action":"test","user":"u","password":"p","lan":1,"sim":-1})",
       "маской каналов SIM"},
      {R"({"verb":"maint","device":"#1","action":"test","user":"u","password":"p","lan":"1","sim":0})",
       "маской каналов LAN"},
      {R"({"verb":"maint","device":"#1","action":"test","user":"u","password":"p","lan":1})",
       "нужны маски каналов"},
      {R"({"verb":"maint","device":"#1","action":"versions","user":"u","password":"p","sim":1})",
       "только к действию test"},
      {R"({"verb":"status","lan":1})", "только к maint"},
      // A firmware file travels in base64 and is checked whole before any session starts.
      {R"({"verb":"maint","device":"#1","action":"update-main","user":"u","password":"p","file_name":"/fw/main_4620.hex","firmware":"OjAyMDAwMDA0MDAwMEZBDQo6MDQwMDAwMDAyMEVGMDBGMEZEDQo6MDAwMDAwMDFGRg0K"})",
       nullptr},
      {R"({"verb":"maint","device":"#1","action":"update-main","user":"u","password":"p","file_name":"/fw/main_4620.hex","firmware":"OjAyMDAwMDA0MDAwMEZBCjowMDAwMDAwMUZGCg=="})",
       "main_4620.hex: Строка 1: строка кончается на LF без CR"},
      {R"({"verb":"maint","device":"#1","action":"update-main","user":"u","password":"p","file_name":"f_4620.hex","firmware":"OjAy="})",
       "в base64"},
      {R"({"verb":"maint","device":"#1","action":"update-main","user":"u","password":"p","file_name":"f_4620.hex"})",
       "несут файл прошивки"},
      {R"({"verb":"maint","device":"#1","action":"versions","user":"u","password":"p","file_name":"f_4620.hex","firmware":""})",
       "несут файл прошивки"},
      {R"({"verb":"status","firmware":""})", "только к maint"},
      // The configurator: the image and its type go with a write only.
      {R"({"verb":"config","device":"#1","action":"read","user":"u","password":"p"})", nullptr},
      {R"({"verb":"config","device":"#1","action":"write","user":"u","password":"p","variant":250,"image":"00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"})",
       nullptr},
      {R"({"verb":"config","device":"#1","action":"write","user":"u","password":"p","variant":250,"image":"00"})",
       "256 байтами"},
      {R"({"verb":"config","device":"#1","action":"write","user":"u","password":"p","image":"00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"})",
       "write и только он"},
      {R"({"verb":"config","device":"#1","action":"read","user":"u","password":"p","variant":250})",
       "write и только он"},
      {R"({"verb":"config","device":"#1","action":"erase","user":"u","password":"p"})",
       "действие одно из"},
      {R"({"verb":"config","device":"#1","action":"key","user":"u","password":"p","lan":1})",
       "кроме пользователя и пароля"},
      {R"({"verb":"config","device":"#1","action":"key","password":"p"})", "config:"},
      {R"({"verb":"status","variant":250})", "только к maint и config"},
  };
  for (const RequestCase& c : cases) {
    std::string error;
    const auto r = app::ParseControlRequest(c.line, &error);
    if (!c.error) {
      EXPECT_TRUE(r.has_value()) << c.line << ": " << error;
    } else {
      EXPECT_FALSE(r.has_value()) << c.line;
      EXPECT_NE(error.find(c.error), std::string::npos) << c.line << ": " << error;
    }
  }
}

TEST(ControlRequest, SettingsKeepTheirOrderAndTheQuestionsAreTheConsoles) {
  std::string error;
  auto r = app::ParseControlRequest(
      R"({"verb":"settings","set":["CheckBox_Internet=0","CheckAvarOrvane=0","IpAdrrGsm=1.2.3.4"]})",
      &error);
  ASSERT_TRUE(r) << error;
  ASSERT_EQ(r->set.size(), 3u);
  EXPECT_EQ(r->set[0].first, "CheckBox_Internet");
  EXPECT_EQ(r->set[2].second, "1.2.3.4");

  const auto question = [](const char* line) {
    std::string e;
    const char* q = app::QuestionOf(*app::ParseControlRequest(line, &e));
    return std::string(q ? q : "");
  };
  EXPECT_EQ(question(R"({"verb":"register","mode":"all"})"),
            "Внимание - включена регистрация на 5мин.! Исполнить?");
  EXPECT_EQ(question(R"({"verb":"register","mode":"1/2/3"})"),
            "Внимание - включена постоянная регистрация! Исполнить?");
  EXPECT_EQ(question(R"({"verb":"register","mode":"off"})"), "");
  EXPECT_EQ(question(R"({"verb":"delete-all"})"),
            "Внимание - Все зарегистрированные приборы будут удалены! Исполнить?");
  EXPECT_EQ(question(R"({"verb":"switch-off","device":"#1"})"),
            "Внимание - Этот прибор не будет охраняться! Исполнить?");
  EXPECT_EQ(question(R"({"verb":"switch-on","device":"#1"})"), "");
  EXPECT_EQ(question(R"({"verb":"clear-unused"})"), "");
}

// ---- relayctl's command line -------------------------------------------------------

TEST(RelayctlCommandLine, RequestsOfTheArguments) {
  struct Case {
    std::vector<std::string> args;
    const char* request;  // the request's JSON, or nullptr for bad usage
  };
  const Case cases[] = {
      {{"status"}, R"({"verb":"status"})"},
      {{"--json", "devices", "--failed"}, R"({"failed":true,"verb":"devices"})"},
      {{"register", "all", "--yes"}, R"({"mode":"all","verb":"register","yes":true})"},
      {{"delete", "#4"}, R"({"device":"#4","verb":"delete"})"},
      {{"request", "signal1", "1/2/3", "--wait", "--timeout", "9"},
       R"({"device":"1/2/3","mode":"signal1","timeout":9,"verb":"request","wait":true})"},
      {{"settings", "NaruchUO", "BoxNPovtor"}, R"({"keys":["NaruchUO","BoxNPovtor"],"verb":"settings"})"},
      {{"settings", "NaruchUO=1"}, R"({"set":["NaruchUO=1"],"verb":"settings"})"},
      {{"trace", "start", "-f"}, R"({"follow":true,"mode":"start","verb":"trace"})"},
      {{"--data-dir", "/a", "--data-dir", "/b", "save"}, R"({"verb":"save"})"},
      {{"maint", "#1", "test", "--lan", "0b1010", "--sim", "0x0f"},
       R"({"action":"test","device":"#1","lan":10,"sim":15,"verb":"maint"})"},
      // A batch is one maint request per device, the device filled in for each.
      {{"batch", "update-main", "fw_4620.hex", "1/0/1", "#2"},
       R"({"action":"update-main","verb":"maint"})"},
      {{"maint", "#1", "update-eth", "fw_87j60.hex"}, R"({"action":"update-eth","device":"#1","verb":"maint"})"},
      {{"batch", "update-main", "fw_4620.hex"}, nullptr},
      {{"batch", "reset", "fw_4620.hex", "#1"}, nullptr},
      {{"maint", "#1", "update-main"}, nullptr},
      {{"config", "#1", "expander", "read"}, R"({"action":"expander-read","device":"#1","verb":"config"})"},
      {{"config", "#1", "identify"}, R"({"action":"identify","device":"#1","verb":"config"})"},
      {{"config", "#1", "read"}, nullptr},
      {{"config", "#1", "identify", "x.dat"}, nullptr},
      {{"config", "#1", "expander", "write"}, nullptr},
      {{}, nullptr},
      {{"reboot"}, nullptr},
      {{"delete"}, nullptr},
      {{"delete", "#1", "#2"}, nullptr},
      {{"status", "--follow"}, nullptr},
      {{"request", "channel", "#1", "--timeout", "5"}, nullptr},  // a time-out without --wait
      {{"request", "channel", "#1", "--wait", "--timeout", "0"}, nullptr},
      {{"settings", "A=1", "B"}, nullptr},
      {{"--data-dir"}, nullptr},
      {{"status", "--colour"}, nullptr},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto cmd = relayctl::ParseCommand(c.args, &error);
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    if (!c.request) {
      EXPECT_FALSE(cmd.has_value()) << joined;
      EXPECT_FALSE(error.empty()) << joined;
      continue;
    }
    ASSERT_TRUE(cmd.has_value()) << joined << ": " << error;
    EXPECT_EQ(cmd->request.dump(), c.request) << joined;
  }
  std::string error;
  EXPECT_EQ(relayctl::ParseCommand({"--data-dir", "/a", "--data-dir", "/b", "save"}, &error)->dataDir,
            "/b")
      << "the last folder given counts";
}

TEST(RelayctlOutput, StatusAndDevicesInRussianWithColumnsAligned) {
  const auto status = nlohmann::json::parse(R"({"ok":true,"messages":[],"status":{
      "version":"1.0.0 от 10.12.2026","uptime_seconds":3725,
      "interfaces":[{"number":1,"address":"127.0.0.1","port":5000}],
      "workstation_port":{"name":"CNCB0","open":true},
      "registration":{"on":true,"mode":"one","number":"1/0/7"},
      "registered":2,"links_failed":1,"links_restored":0,"internet":"нет",
      "internet_check":{"on":true,"host":"192.0.2.1"},
      "default_route":{"interface":2,"gateway":"203.0.113.254","device":"eth1"}}})");
  const auto lines = relayctl::AnswerLines("status", status);
  const std::vector<std::string> want = {
      "Версия: 1.0.0 от 10.12.2026", "Работает: 1 ч 02 мин 05 с", "Интерфейс 1: 127.0.0.1:5000",
      "Порт АРМ: CNCB0 открыт", "Регистрация: прибора 1/0/7", "Зарегистрировано приборов: 2",
      "Аварий связи: 1, восстановлено: 0", "Интернет: нет (проверка по 192.0.2.1)",
      "Маршрут по умолчанию: интерфейс 2, шлюз 203.0.113.254 (eth1)"};
  EXPECT_EQ(lines, want);
  // A check switched off, and a default route through no interface of the server.
  auto other = status;
  other["status"]["internet_check"]["on"] = false;
  other["status"]["default_route"]["interface"] = 0;
  const auto otherLines = relayctl::AnswerLines("status", other);
  EXPECT_EQ(otherLines[7], "Интернет: нет (проверка выключена)");
  EXPECT_EQ(otherLines[8], "Маршрут по умолчанию: не через интерфейсы сервера, шлюз 203.0.113.254 (eth1)");
  other["status"]["default_route"] = nullptr;
  EXPECT_EQ(relayctl::AnswerLines("status", other).back(), "Маршрут по умолчанию: нет");

  const auto devices = nlohmann::json::parse(R"({"ok":true,"devices":[
      {"index":0,"address":"127.1.0.1","port":4001,"number":"1/0/1","interface":1,
       "switched_off":false,"link":"норма","maintenance":""},
      {"index":12,"address":"10.0.0.2","port":4002,"number":"1/0/13","interface":2,
       "switched_off":true,"link":"авария","maintenance":"начало обслуживания"}]})");
  const auto rows = relayctl::AnswerLines("devices", devices);
  ASSERT_EQ(rows.size(), 3u);
  // Every column starts at the same character in every row.
  const auto column = [](const std::string& row, size_t k) {
    size_t chars = 0, spaces = 0;
    int seen = 0;
    for (size_t i = 0; i < row.size(); ++i) {
      const unsigned char c = row[i];
      if ((c & 0xC0) == 0x80) continue;
      if (c == ' ') {
        ++spaces;
      } else {
        if (spaces >= 2 && ++seen == int(k)) return chars;
        spaces = 0;
      }
      ++chars;
    }
    return chars;
  };
  for (size_t k = 1; k < 5; ++k) {  // up to the first column that may be empty
    EXPECT_EQ(column(rows[0], k), column(rows[1], k)) << k << "\n" << rows[0] << "\n" << rows[1];
    EXPECT_EQ(column(rows[0], k), column(rows[2], k)) << k << "\n" << rows[0] << "\n" << rows[2];
  }
  EXPECT_NE(rows[2].find("начало обслуживания"), std::string::npos);
}

// ---- kept lines ------------------------------------------------------------------

TEST(LineHistory, FollowersGoOnWhereTheyStoppedAndLearnWhatTheyMissed) {
  console::LineHistory h(3);
  using console::Window;
  h.Record({{Window::Message, "m1"}, {Window::Traffic, "t1"}, {Window::Message, "m2"}});
  auto r = h.From(Window::Message, 0, 100);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"m1", "m2"}));
  EXPECT_EQ(r.missed, 0u);
  const uint64_t cursor = r.next;
  h.Record({{Window::Message, "m3"}, {Window::Message, "m4"}, {Window::Message, "m5"}});
  r = h.From(Window::Message, cursor, 100);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"m3", "m4", "m5"}));
  EXPECT_EQ(r.missed, 0u);
  // Three kept: a follower still at the start missed two.
  r = h.From(Window::Message, 0, 2);
  EXPECT_EQ(r.missed, 2u);
  EXPECT_EQ(r.lines, (std::vector<std::string>{"m3", "m4"}));
  EXPECT_EQ(h.From(Window::Message, r.next, 100).lines, (std::vector<std::string>{"m5"}));
  EXPECT_EQ(h.From(Window::Traffic, 0, 100).lines, (std::vector<std::string>{"t1"}));
  EXPECT_TRUE(h.From(Window::Message, h.End(Window::Message), 100).lines.empty());
}

// ---- settings keys --------------------------------------------------------------------

TEST(SettingsKeys, ValuesTheTabsControlsTakeAndNoOthers) {
  struct Case {
    const char* key;
    const char* value;
    bool taken;
  };
  const Case cases[] = {
      {"NaruchUO", "1", true},          {"naruchuo", "0", true},
      {"NaruchUO", "2", false},         {"BoxTimePovtor", "2", true},
      {"BoxTimePovtor", "-1", false},   {"CheckSostAvar", "1", true},
      {"CheckSostAvar", "yes", false},  {"IpAdrrServ_2", "192.168.1.20", true},
      {"IpAdrrGSM", "10.0.0.1", true},  {"GateWay1", "10.0.0.256", false},
      {"GateWay1", "010.0.0.1", false}, {"EditPortServ1", "5005", true},
      {"EditPortServ1", "1234567", false}, {"EditPortServ1", "50a", false},
      {"EditPortServ1", "", false},     {"NnPort", "7", true},
      {"NnPort", "8", false},           {"PortArm", "14", true},
      {"Left", "10", false},            {"SurGard_Port_TCP", "1", false},
      {"NoSuchKey", "1", false},
  };
  for (const Case& c : cases) {
    console::Form1Settings f;
    const console::Form1Settings before = f;
    std::string error;
    const auto control = console::SetForm1Key(f, c.key, c.value, &error);
    EXPECT_EQ(control.has_value(), c.taken) << c.key << "=" << c.value << ": " << error;
    if (!c.taken) {
      EXPECT_TRUE(f == before) << c.key << ": nothing changes";
      EXPECT_FALSE(error.empty());
    }
  }
  console::Form1Settings f;
  std::string error;
  EXPECT_EQ(console::SetForm1Key(f, "NaruchUO", "1", &error), console::Form1Control::kNaruchUO);
  EXPECT_EQ(f.NaruchUO, 1);
  EXPECT_EQ(console::SetForm1Key(f, "Left", "1", &error), std::nullopt);
  EXPECT_NE(error.find("не меняется на вкладке"), std::string::npos) << error;
  const auto values = console::Form1Values(f);
  ASSERT_FALSE(values.empty());
  EXPECT_EQ(values.front().first, "Left");
  EXPECT_EQ(values.front().second, "27");
}

// ---- the socket server ----------------------------------------------------------------

// Answers each line with its length; "stream" starts a job of three lines.
class EchoHandler : public app::ControlHandler {
 public:
  struct Three : app::ControlJob {
    int left = 3;
    bool Continue(std::string& out) override {
      out += "item " + std::to_string(left) + "\n";
      return --left > 0;
    }
  };
  // Output without end, or one large answer once.
  struct Flood : app::ControlJob {
    bool once;
    explicit Flood(bool o) : once(o) {}
    bool Continue(std::string& out) override {
      out += std::string(once ? 1 << 20 : 64 * 1024, 'z') + "\n";
      return !once;
    }
  };
  std::unique_ptr<app::ControlJob> Handle(std::string_view line, std::string& out) override {
    ++handled;
    if (line == "stream") return std::make_unique<Three>();
    if (line == "flood") return std::make_unique<Flood>(false);
    if (line == "big") return std::make_unique<Flood>(true);
    out += "len " + std::to_string(line.size()) + "\n";
    return nullptr;
  }
  int handled = 0;
};

class SocketServer : public ::testing::Test {
 protected:
  testsupport::TempDir dir;
  std::string path = dir.File("s.sock");
  EchoHandler handler;
  std::unique_ptr<app::ControlServer> server;

  void Open(app::ControlServer::Limits limits = {}) {
    server = std::make_unique<app::ControlServer>(handler, limits);
    std::string error;
    ASSERT_EQ(server->Open(path, &error), platform::ListenResult::kListening) << error;
  }
  // Polls the server until `done` holds or the limit passes.
  template <typename F>
  bool PollUntil(F done, std::chrono::milliseconds limit = 3s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > end) return false;
      server->Poll();
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }
  // What the server sent on `fd` until it closed it or `lines` lines came.
  std::string Receive(int fd, int lines = 1000) {
    std::string got;
    PollUntil([&] {
      char buf[4096];
      const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
      if (n > 0) got.append(buf, size_t(n));
      return n == 0 || std::count(got.begin(), got.end(), '\n') >= lines;
    });
    return got;
  }
  static void Send(int fd, const std::string& s) {
    ASSERT_EQ(::send(fd, s.data(), s.size(), MSG_NOSIGNAL), ssize_t(s.size()));
  }
};

TEST_F(SocketServer, LinesInAnyPiecesAndAStreamAfterIt) {
  ASSERT_NO_FATAL_FAILURE(Open());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const int fd = platform::ConnectUnix(path);
  ASSERT_GE(fd, 0);
  Send(fd, "ab\ncde\r\n\nf");  // two lines, an empty one, and the start of a third
  EXPECT_EQ(Receive(fd, 2), "len 2\nlen 3\n");
  Send(fd, "gh\nstream\nafter\n");
  EXPECT_EQ(Receive(fd, 5), "len 3\nitem 3\nitem 2\nitem 1\nlen 5\n")
      << "a request waits until the job before it is done";
  ::close(fd);
  EXPECT_TRUE(PollUntil([&] { return server->Clients() == 0; }));
  server->Close();
  EXPECT_NE(::access(path.c_str(), F_OK), 0) << "the socket file goes with the server";
}

TEST_F(SocketServer, AnOverlongLineASilentClientAndTooManyClientsAreShownTheDoor) {
  app::ControlServer::Limits limits;
  limits.maxLine = 1000;
  limits.maxClients = 4;
  limits.silence = 300ms;
  ASSERT_NO_FATAL_FAILURE(Open(limits));

  const int big = platform::ConnectUnix(path);
  const std::string megabyte(1 << 20, 'x');
  std::thread writer([&] {  // the server stops reading: the writer ends when it closes
    [[maybe_unused]] ssize_t n = ::send(big, megabyte.data(), megabyte.size(), MSG_NOSIGNAL);
  });
  const std::string refusal = Receive(big);
  writer.join();
  EXPECT_NE(refusal.find("длиннее 1000 байт"), std::string::npos) << refusal;
  EXPECT_NE(refusal.find("\"usage\":true"), std::string::npos) << refusal;
  ::close(big);

  std::vector<int> fds;
  for (int k = 0; k < 6; ++k) fds.push_back(platform::ConnectUnix(path));
  PollUntil([&] { return server->Clients() == 4; });
  int refused = 0;
  for (int fd : fds) {
    char buf[512];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0 && std::string(buf, size_t(n)).find("слишком много подключений") != std::string::npos)
      ++refused;
  }
  EXPECT_EQ(refused, 2);
  // Silent ones are closed after the limit; one that keeps asking stays.
  Send(fds[0], "x");  // a request begun and never ended is silence too
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(PollUntil([&] { return server->Clients() == 0; }, 2s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
  for (int fd : fds) ::close(fd);

  const int fd = platform::ConnectUnix(path);
  Send(fd, "still\n");
  EXPECT_EQ(Receive(fd, 1), "len 5\n") << "the server goes on";
  ::close(fd);
}

TEST_F(SocketServer, ReadersThatTakeNothingAreDroppedAndAHalfClosedPeerIsAnswered) {
  app::ControlServer::Limits limits;
  limits.maxUnsent = 2 << 20;
  limits.silence = 300ms;
  ASSERT_NO_FATAL_FAILURE(Open(limits));
  // A stream nobody reads outgrows the limit; a large answer nobody reads
  // stays under it but makes no progress for longer than the silence.
  const int flood = platform::ConnectUnix(path);
  const int big = platform::ConnectUnix(path);
  Send(flood, "flood\n");
  Send(big, "big\n");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(PollUntil([&] { return handler.handled == 2 && server->Clients() == 1; }, 3s))
      << "the stream is dropped once over the limit";
  EXPECT_TRUE(PollUntil([&] { return server->Clients() == 0; }, 3s));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms) << "the large answer after the silence";
  ::close(flood);
  ::close(big);
  // Requests pile up in a client that never reads its answers: they are
  // taken one at a time, so the client is held back by its own socket.
  const int many = platform::ConnectUnix(path);
  std::string lines;
  for (int k = 0; k < 200000; ++k) lines += "0123456789\n";
  std::thread writer([&] {
    [[maybe_unused]] ssize_t n = ::send(many, lines.data(), lines.size(), MSG_NOSIGNAL);
  });
  PollUntil([] { return false; }, 200ms);
  EXPECT_LT(handler.handled, 200000 / 2) << "not all taken in a few passes";
  ::shutdown(many, SHUT_RDWR);
  writer.join();
  ::close(many);
  EXPECT_TRUE(PollUntil([&] { return server->Clients() == 0; }));

  // A peer that is done sending still gets the answers of what it asked.
  const int half = platform::ConnectUnix(path);
  Send(half, "one\nstream\n");
  ::shutdown(half, SHUT_WR);
  EXPECT_EQ(Receive(half), "len 3\nitem 3\nitem 2\nitem 1\n");
  ::close(half);
  EXPECT_TRUE(PollUntil([&] { return server->Clients() == 0; }));

  // A second listener on the same path is told that one is there.
  app::ControlServer other(handler);
  std::string error;
  EXPECT_EQ(other.Open(path, &error), platform::ListenResult::kLive);
  server.reset();  // ended in order: its socket file is removed
  const int dead = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(dead, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ::close(dead);  // a stale socket file that nobody listens on
  EXPECT_EQ(other.Open(path, &error), platform::ListenResult::kListening) << error;
  testsupport::WriteFile(dir.File("plain"), "x");
  app::ControlServer third(handler);
  EXPECT_EQ(third.Open(dir.File("plain"), &error), platform::ListenResult::kFailed);
  EXPECT_NE(error.find("не является сокетом"), std::string::npos) << error;
}

}  // namespace
