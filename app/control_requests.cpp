#include "app/control_requests.h"

#include "maintenance/actions.h"
#include "maintenance/identity.h"
#include "maintenance/intel_hex.h"
#include "maintenance/settings_file.h"

#include <chrono>
#include <tuple>
#include <utility>
#include <nlohmann/json.hpp>

#include "app/control_config.h"
#include "app/options.h"
#include "app/server.h"
#include "console/questions.h"
#include "console/settings_keys.h"
#include "platform/base64.h"

namespace app {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

struct VerbRule {
  const char* verb;
  bool needsDevice;
  bool needsMode;
};

const VerbRule kVerbs[] = {
    {"status", false, false},        {"devices", false, false},
    {"register", false, true},       {"delete", true, false},
    {"delete-all", false, false},    {"clear-unused", false, false},
    {"permit-substitution", true, false}, {"switch-off", true, false},
    {"switch-on", true, false},      {"request", true, true},
    {"save", false, false},          {"load", false, false},
    {"compare", false, false},       {"export", false, false},
    {"settings", false, false},      {"messages", false, false},
    {"trace", false, false},         {"maint", true, false},
    {"config", true, false},
};

// Lines of a stream taken per pass of the front end.
constexpr size_t kStreamBatch = 1000;
constexpr int kMaxWaitSeconds = 3600;

// Device texts come from the registry file and may hold any bytes.
std::string Dump(const json& j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

using devlink::NumberText;

const char* LinkText(uint8_t state) {
  switch (state) {
    case 0: return "норма";
    case 1: return "авария";
    case 2: return "авария передана";
    case 3: return "восстановлена";
  }
  return "?";
}

const char* NoticeText(uint8_t notice) {
  return notice == 1 ? "начало обслуживания" : notice == 2 ? "конец обслуживания" : "";
}

bool TakeString(const json& j, const char* key, std::string& to, std::string* error) {
  if (!j.contains(key)) return true;
  if (!j[key].is_string()) {
    *error = std::string("поле \"") + key + "\" должно быть строкой";
    return false;
  }
  to = j[key].get<std::string>();
  return true;
}

bool TakeBool(const json& j, const char* key, bool& to, std::string* error) {
  if (!j.contains(key)) return true;
  if (!j[key].is_boolean()) {
    *error = std::string("поле \"") + key + "\" должно быть true или false";
    return false;
  }
  to = j[key].get<bool>();
  return true;
}

bool TakeStrings(const json& j, const char* key, std::vector<std::string>& to,
                 std::string* error) {
  if (!j.contains(key)) return true;
  bool ok = j[key].is_array();
  for (size_t i = 0; ok && i < j[key].size(); ++i) ok = j[key][i].is_string();
  if (!ok) {
    *error = std::string("поле \"") + key + "\" должно быть списком строк";
    return false;
  }
  for (const json& s : j[key]) to.push_back(s.get<std::string>());
  return true;
}

// Each line of a window from `cursor` on, as {"line":...}; {"missed":n} first
// when the window dropped lines the follower had not read yet.
class FollowJob : public ControlJob {
 public:
  FollowJob(const console::LineHistory& history, console::Window w, uint64_t cursor)
      : history_(history), window_(w), cursor_(cursor) {}
  bool Continue(std::string& out) override {
    const auto read = history_.From(window_, cursor_, kStreamBatch);
    if (read.missed) out += Dump({{"missed", read.missed}});
    for (const std::string& l : read.lines) out += Dump({{"line", l}});
    cursor_ = read.next;
    return true;  // until the client goes
  }

 private:
  const console::LineHistory& history_;
  console::Window window_;
  uint64_t cursor_;
};

// The answer of one device to a service request of one kind, or a time-out.
class AnswerJob : public ControlJob {
 public:
  AnswerJob(Server& server, DeviceRef d, int kind, uint64_t after, int seconds, json answer)
      : server_(server), device_(d), kind_(kind), after_(after),
        deadline_(Clock::now() + std::chrono::seconds(seconds)), seconds_(seconds),
        answer_(std::move(answer)) {}
  bool Continue(std::string& out) override {
    for (const Server::ServiceAnswer& a : server_.ServiceAnswersAfter(after_)) {
      after_ = a.seq;
      if (a.index == device_.index && Answers(a.code, a.sim)) {
        answer_["answer"] = a.line;
        out += Dump(answer_);
        return false;
      }
    }
    if (Clock::now() < deadline_) return true;
    answer_["ok"] = false;
    answer_["error"] = "прибор " + NumberText(device_.number) + " не ответил за " +
                       std::to_string(seconds_) + " с";
    out += Dump(answer_);
    return false;
  }

 private:
  // The answer codes of each kind (channel type, signal level, balance) and
  // the card asked about; an answer that names no card is taken as it comes.
  bool Answers(uint8_t code, uint8_t sim) const {
    const uint8_t card = kind_ == 1 || kind_ == 3 ? 1 : 2;
    switch (kind_) {
      case 0: return code == 0x46;
      case 1:
      case 2: return code == 0x45 && (sim == card || sim == 0);
      default: return (code == 0x44 || code == 0x32) && (sim == card || sim == 0);
    }
  }
  Server& server_;
  DeviceRef device_;
  int kind_;
  uint64_t after_;
  Clock::time_point deadline_;
  int seconds_;
  json answer_;
};

// The end of the registry saves asked for, and whether one of them failed.
class SaveJob : public ControlJob {
 public:
  SaveJob(Server& server, uint64_t failures, json answer)
      : server_(server), failures_(failures), answer_(std::move(answer)) {}
  bool Continue(std::string& out) override {
    if (!server_.SavesIdle()) return true;
    if (server_.SaveFailures() != failures_) {
      answer_["ok"] = false;
      answer_["error"] = "реестр не записан, причина в сообщениях сервера";
    }
    out += Dump(answer_);
    return false;
  }

 private:
  Server& server_;
  uint64_t failures_;
  json answer_;
};

// A maintenance job's log as {"line":...}, then {"done":true,"ok":...} with
// the settings image when the job read one.
class MaintJob : public ControlJob {
 public:
  MaintJob(maintenance::Maintenance& session, std::shared_ptr<maintenance::DeviceSettings> read)
      : session_(session), events_(session.Queue()), read_(std::move(read)) {}
  // A client that went away ends its job: nobody would see it go on.
  ~MaintJob() override {
    if (!ended_) session_.Abort();
  }
  bool Continue(std::string& out) override {
    for (const maintenance::Event& e : events_->Drain(0)) {
      if (e.kind == maintenance::Event::Kind::kLog) out += Dump({{"line", e.text}});
      if (e.kind == maintenance::Event::Kind::kFinished) {
        json done = {{"done", true}, {"ok", e.ok}};
        if (read_ && read_->mainRead) done["image"] = maintenance::ImageToHex(read_->main);
        out += Dump(done);
        ended_ = true;
        return false;
      }
    }
    return true;
  }

 private:
  maintenance::Maintenance& session_;
  std::shared_ptr<maintenance::EventQueue> events_;
  std::shared_ptr<maintenance::DeviceSettings> read_;
  bool ended_ = false;
};

// The kernel's default route, and the interface whose gateway carries it.
json DefaultRouteJson(const Server::StatusReport& s) {
  if (!s.defaultRoute) return nullptr;
  return {{"interface", s.defaultRouteInterface},
          {"gateway", s.defaultGateway},
          {"device", s.defaultDevice}};
}

}  // namespace

std::optional<ControlRequest> ParseControlRequest(std::string_view line, std::string* error) {
  const json j = json::parse(line, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    *error = "запрос должен быть объектом JSON в одной строке";
    return std::nullopt;
  }
  static const char* kFields[] = {"verb",   "device", "mode",     "keys",     "set",
                                  "yes",    "wait",   "follow",   "failed",   "timeout",
                                  "action", "user",   "password", "new_user", "new_password",
                                  "image",  "lan",    "sim",      "file_name", "firmware",
                                  "variant"};
  for (const auto& item : j.items()) {
    bool known = false;
    for (const char* f : kFields) known = known || item.key() == f;
    if (!known) {
      *error = "неизвестное поле \"" + item.key() + "\"";
      return std::nullopt;
    }
  }
  ControlRequest r;
  std::vector<std::string> set;
  if (!TakeString(j, "verb", r.verb, error) || !TakeString(j, "device", r.device, error) ||
      !TakeString(j, "mode", r.mode, error) || !TakeStrings(j, "keys", r.keys, error) ||
      !TakeStrings(j, "set", set, error) || !TakeBool(j, "yes", r.yes, error) ||
      !TakeBool(j, "wait", r.wait, error) || !TakeBool(j, "follow", r.follow, error) ||
      !TakeBool(j, "failed", r.failed, error) || !TakeString(j, "action", r.action, error) ||
      !TakeString(j, "user", r.user, error) || !TakeString(j, "password", r.password, error) ||
      !TakeString(j, "new_user", r.newUser, error) ||
      !TakeString(j, "new_password", r.newPassword, error) ||
      !TakeString(j, "image", r.image, error) || !TakeString(j, "file_name", r.fileName, error) ||
      !TakeString(j, "firmware", r.firmware, error))
    return std::nullopt;
  // The test window's channel masks: four LAN bits, four bits for each SIM.
  for (auto [key, to, max, what] :
       {std::tuple{"lan", &r.lan, 15, "маской каналов LAN от 0 до 15 (0x0F)"},
        std::tuple{"sim", &r.sim, 255, "маской каналов SIM от 0 до 255 (0xFF)"},
        std::tuple{"variant", &r.variant, 255, "кодом типа прибора от 0 до 255"}}) {
    if (!j.contains(key)) continue;
    if (!j[key].is_number_integer() || j[key].get<int64_t>() < 0 || j[key].get<int64_t>() > max) {
      *error = std::string("поле \"") + key + "\" должно быть " + what;
      return std::nullopt;
    }
    *to = j[key].get<int>();
  }
  if (j.contains("timeout")) {
    if (!j["timeout"].is_number_integer() || j["timeout"].get<int64_t>() < 1 ||
        j["timeout"].get<int64_t>() > kMaxWaitSeconds) {
      *error = "поле \"timeout\" должно быть целым числом секунд от 1 до " +
               std::to_string(kMaxWaitSeconds);
      return std::nullopt;
    }
    r.timeoutSeconds = int(j["timeout"].get<int64_t>());
  }
  const VerbRule* rule = nullptr;
  for (const VerbRule& v : kVerbs)
    if (r.verb == v.verb) rule = &v;
  if (!rule) {
    *error = r.verb.empty() ? "нет поля \"verb\"" : "неизвестная команда \"" + r.verb + "\"";
    return std::nullopt;
  }
  if (!rule->needsDevice && !r.device.empty()) {
    *error = r.verb + ": прибор не указывается";
    return std::nullopt;
  }
  if (!rule->needsMode && !r.mode.empty() && r.verb != "trace") {
    *error = r.verb + ": поле \"mode\" не относится к этой команде";
    return std::nullopt;
  }
  if (rule->needsDevice && r.device.empty()) {
    *error = r.verb + ": не указан прибор (N1/N2/N3 или #N)";
    return std::nullopt;
  }
  if (rule->needsMode && r.mode.empty()) {
    *error = r.verb + (r.verb == "register" ? ": ожидается all, off или номер N1/N2/N3"
                                            : ": не указан вид запроса");
    return std::nullopt;
  }
  if (r.verb == "register" && r.mode != "all" && r.mode != "off" && !ParseConsoleNumber(r.mode)) {
    *error = "register: ожидается all, off или пультовой номер N1/N2/N3 (каждое число 0..255)";
    return std::nullopt;
  }
  if (r.verb == "request") {
    bool known = false;
    for (const char* k : kRequestKinds) known = known || r.mode == k;
    if (!known) {
      *error = "request: вид запроса один из channel, signal1, signal2, balance1, balance2";
      return std::nullopt;
    }
  }
  if (r.verb == "maint") {
    bool known = false;
    for (const char* a : kMaintActions) known = known || r.action == a;
    if (!known) {
      *error = "maint: действие одно из";
      const char* sep = " ";
      for (const char* a : kMaintActions) *error += std::string(std::exchange(sep, ", ")) + a;
      return std::nullopt;
    }
    if (r.action == "test" && (r.lan < 0 || r.sim < 0)) {
      *error = "maint test: нужны маски каналов \"lan\" (0..15) и \"sim\" (0..255)";
      return std::nullopt;
    }
    if (r.action != "test" && (r.lan >= 0 || r.sim >= 0)) {
      *error = "maint: маски каналов \"lan\" и \"sim\" относятся только к действию test";
      return std::nullopt;
    }
    if (CarriesFirmware(r.action) != j.contains("firmware") ||
        CarriesFirmware(r.action) != !r.fileName.empty()) {
      *error = "maint: update-main и update-eth и только они несут файл прошивки (\"file_name\" и "
               "\"firmware\" в base64)";
      return std::nullopt;
    }
    if (CarriesFirmware(r.action)) {
      auto bytes = platform::Base64Decode(r.firmware);
      if (!bytes) {
        *error = "maint: поле \"firmware\" должно быть файлом прошивки в base64";
        return std::nullopt;
      }
      r.firmware = std::move(*bytes);
    }
    // The file is checked whole here too: a bad one starts no session.
    maintenance::HexRefusal bad;
    if (r.action == "update-main" && !maintenance::ReadFirmwareHex(r.firmware, &bad)) {
      *error = "maint: " + r.fileName + ": " + bad.reason;
      return std::nullopt;
    }
    if ((r.action == "net-write") != !r.image.empty() ||
        (!r.image.empty() && !maintenance::ImageFromHex(r.image))) {
      *error = "maint: net-write и только он несёт образ настроек (\"image\": 220 шестнадцатеричных "
               "цифр)";
      return std::nullopt;
    }
    // The device's own limits: login texts of 1..16 characters, new ones of 5..16.
    std::string why = maintenance::CredentialsRefusal(r.user, r.password, 1);
    if (why.empty() && r.action == "credentials")
      why = maintenance::CredentialsRefusal(r.newUser, r.newPassword, 5);
    if (!why.empty()) {
      *error = "maint: " + why;
      return std::nullopt;
    }
  } else if (r.verb == "config") {
    if (const auto why = CheckConfigRequest(r)) {
      *error = *why;
      return std::nullopt;
    }
  } else if (!r.action.empty() || !r.user.empty() || !r.password.empty() || !r.newUser.empty() ||
             !r.newPassword.empty() || !r.image.empty() || r.lan >= 0 || r.sim >= 0 ||
             !r.fileName.empty() || j.contains("firmware") || r.variant >= 0) {
    *error = r.verb + ": поля обслуживания относятся только к maint и config";
    return std::nullopt;
  }
  if (r.verb == "trace" && !r.mode.empty() && r.mode != "start" && r.mode != "stop") {
    *error = "trace: ожидается start или stop";
    return std::nullopt;
  }
  for (const std::string& kv : set) {
    const size_t eq = kv.find('=');
    if (eq == std::string::npos || eq == 0) {
      *error = "settings: ожидается КЛЮЧ=ЗНАЧЕНИЕ, а не \"" + kv + "\"";
      return std::nullopt;
    }
    r.set.emplace_back(kv.substr(0, eq), kv.substr(eq + 1));
  }
  if (!r.set.empty() && !r.keys.empty()) {
    *error = "settings: ключи показываются или меняются, не то и другое сразу";
    return std::nullopt;
  }
  return r;
}

const char* QuestionOf(const ControlRequest& r) {
  if (r.verb == "register" && r.mode == "all") return console::kAskRegisterAll;
  if (r.verb == "register" && r.mode != "off") return console::kAskRegisterOne;
  if (r.verb == "delete") return console::kAskDeleteOne;
  if (r.verb == "delete-all") return console::kAskDeleteAll;
  if (r.verb == "switch-off") return console::kAskSwitchOff;
  return nullptr;
}

std::unique_ptr<ControlJob> ControlDispatcher::Handle(std::string_view line, std::string& out) {
  std::string error;
  const auto r = ParseControlRequest(line, &error);
  if (!r) {
    out += ErrorAnswer(error, true);
    return nullptr;
  }
  // The device first: a question about a device that is not there is never asked.
  std::optional<DeviceRef> d;
  if (!r->device.empty()) {
    bool malformed = false;
    d = server_.FindDevice(r->device, &error, &malformed);
    if (!d) {
      out += ErrorAnswer(error, malformed);
      return nullptr;
    }
  }
  if (const char* question = QuestionOf(*r); question && !r->yes) {
    json a = {{"ok", false}, {"usage", true}, {"question", question},
              {"error", "нужно подтверждение (\"yes\": true): " + std::string(question)}};
    // The window shows the device in its selected row; here it is named.
    if (d) a["device"] = NumberText(d->number) + " (#" + std::to_string(d->index) + ")";
    out += Dump(a);
    return nullptr;
  }
  return Carry(*r, d, out);
}

std::unique_ptr<ControlJob> ControlDispatcher::Carry(const ControlRequest& r,
                                                      const std::optional<DeviceRef>& d,
                                                      std::string& out) {
  json a = {{"ok", true}};
  std::vector<std::string> said;  // the message lines this action produced
  // What goes on after the action: a wait for a device's answer or for the
  // saves, or a stream.
  int waitKind = -1;
  uint64_t answersBefore = 0, failuresBefore = 0;
  bool waitSave = false;
  uint64_t followFrom = 0;
  bool maintStarted = false;
  std::shared_ptr<maintenance::DeviceSettings> maintRead;
  std::unique_ptr<ControlJob> configJob;
  const auto fail = [&a](const std::string& why) {
    a["ok"] = false;
    a["error"] = why;
  };
  {
    console::MessageSink::Capture capture(said);
    std::string why;
    const std::string& v = r.verb;
    if (v == "status") {
      const Server::StatusReport s = server_.Status();
      json ifaces = json::array();
      for (const auto& i : s.interfaces)
        ifaces.push_back({{"number", i.number}, {"address", i.address}, {"port", i.port}});
      a["status"] = {{"version", s.version},
                     {"uptime_seconds", s.uptimeSeconds},
                     {"interfaces", ifaces},
                     {"workstation_port", {{"name", s.portName}, {"open", s.portOpen}}},
                     {"registration",
                      {{"on", s.registrationOn},
                       {"mode", s.registrationOne ? "one" : "all"},
                       {"number", NumberText(s.registrationNumber)}}},
                     {"registered", s.registered},
                     {"links_failed", s.linksFailed},
                     {"links_restored", s.linksRestored},
                     {"internet", s.internet},
                     {"internet_check", {{"on", s.internetCheck}, {"host", s.probeHost}}},
                     {"default_route", DefaultRouteJson(s)}};
    } else if (v == "devices") {
      json list = json::array();
      for (const Server::DeviceInfo& i : server_.Devices(r.failed))
        list.push_back({{"index", i.index},
                        {"address", i.address},
                        {"port", i.port},
                        {"number", NumberText(i.number)},
                        {"interface", i.iface},
                        {"switched_off", i.switchedOff},
                        {"link", LinkText(i.linkState)},
                        {"maintenance", NoticeText(i.maintNotice)}});
      a["devices"] = list;
    } else if (v == "register") {
      if (r.mode == "off") server_.CloseRegistration();
      else if (r.mode == "all") server_.OpenRegistrationAll();
      else server_.OpenRegistrationOne(*ParseConsoleNumber(r.mode));
    } else if (v == "delete") {
      if (!server_.DeleteRegistration(*d)) fail("регистрация не удалена");
    } else if (v == "delete-all") {
      server_.DeleteAllRegistrations();
    } else if (v == "clear-unused") {
      server_.ClearUnusedRecords();
    } else if (v == "permit-substitution") {
      if (!server_.PermitSubstitution(*d)) fail("подмена не разрешена");
    } else if (v == "switch-off") {
      if (!server_.SwitchOff(*d)) fail("прибор не выключен");
    } else if (v == "switch-on") {
      if (!server_.SwitchOn(*d)) fail("прибор не включён");
    } else if (v == "request") {
      int kind = 0;
      while (r.mode != kRequestKinds[kind]) ++kind;
      answersBefore = server_.LastServiceAnswer();
      if (!server_.ServiceRequest(*d, kind)) fail("запрос не отправлен");
      else if (r.wait) waitKind = kind;
    } else if (v == "save") {
      failuresBefore = server_.SaveFailures();
      server_.SaveRegistry();
      waitSave = true;
    } else if (v == "load") {
      if (!server_.LoadRegistry()) fail("файл реестра не загружен");
    } else if (v == "compare") {
      switch (server_.CompareRegistry()) {
        case registry::NdxCompare::Equal: break;
        case registry::NdxCompare::Different: fail("реестр в памяти и файл реестра различаются"); break;
        case registry::NdxCompare::Failed: fail("файл реестра не прочитан"); break;
      }
    } else if (v == "export") {
      if (!server_.ExportRegistered()) fail("RegistrationObj.txt не записан");
    } else if (v == "settings") {
      if (!r.set.empty()) {
        if (!server_.SetSettings(r.set, &why)) fail(why);
      }
      json list = json::array();
      for (const auto& [key, value] : console::Form1Values(server_.Form1())) {
        bool wanted = r.keys.empty();
        for (const std::string& k : r.keys) wanted = wanted || console::SameForm1Key(k, key);
        if (wanted) list.push_back({key, value});
      }
      if (list.size() < r.keys.size()) fail("в секции Form1 нет такого ключа");
      if (r.set.empty()) a["settings"] = list;
    } else if (v == "messages" || v == "trace") {
      if (v == "trace" && r.mode == "start") server_.TraceStart();
      if (v == "trace" && r.mode == "stop") server_.TraceStop();
      const auto w = v == "messages" ? console::Window::Message : console::Window::Traffic;
      const console::LineHistory& h = server_.Sink().History();
      const auto read = h.From(w, 0, console::LineHistory::kDefaultKeep);
      if (r.mode.empty()) a["lines"] = read.lines;
      if (v == "trace") a["running"] = server_.Settings().GlTraficRun.load();
      followFrom = read.next;
    } else if (v == "maint") {
      const maintenance::Credentials login{r.user, r.password};
      maintenance::Maintenance::Job job;
      if (r.action == "versions") job = maintenance::VersionsJob(login);
      if (r.action == "credentials")
        job = maintenance::NewCredentialsJob(login, {r.newUser, r.newPassword});
      if (r.action == "web-on") job = maintenance::WebInterfaceJob(login);
      if (r.action == "reset") job = maintenance::ResetJob(login);
      if (r.action == "test")
        job = maintenance::TestJob(login, {uint8_t(r.lan), uint8_t(r.sim)});
      if (r.action == "update-main")
        job = maintenance::UpdateMainJob(login, r.fileName, r.firmware);
      if (r.action == "update-eth")
        job = maintenance::UpdateEthJob(login, r.fileName,
                                        std::vector<uint8_t>(r.firmware.begin(), r.firmware.end()));
      if (r.action == "net-read" || r.action == "net-write") {
        maintRead = std::make_shared<maintenance::DeviceSettings>();
        job = r.action == "net-read"
                  ? maintenance::NetworkReadJob(login, maintRead)
                  : maintenance::NetworkWriteJob(login, *maintenance::ImageFromHex(r.image), maintRead);
      }
      maintStarted = server_.StartMaintenance(*d, r.action, std::move(job), &why);
      if (!maintStarted) fail(why);
    } else if (v == "config") {
      configJob = StartConfigRequest(server_, r, *d, &why);
      if (!configJob) fail(why);
    }
  }
  a["messages"] = said;
  if (waitSave) return std::make_unique<SaveJob>(server_, failuresBefore, a);
  if (waitKind >= 0)
    return std::make_unique<AnswerJob>(server_, *d, waitKind, answersBefore, r.timeoutSeconds, a);
  out += Dump(a);
  if (r.follow && (r.verb == "messages" || r.verb == "trace")) {
    const auto w = r.verb == "messages" ? console::Window::Message : console::Window::Traffic;
    return std::make_unique<FollowJob>(server_.Sink().History(), w, followFrom);
  }
  if (maintStarted) return std::make_unique<MaintJob>(server_.Maint(), maintRead);
  if (configJob) return configJob;
  return nullptr;
}

}  // namespace app
