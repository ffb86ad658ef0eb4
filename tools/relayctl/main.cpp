// relayctl: runs one request against the relay server of a data folder
// through its control socket and prints the answer.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <poll.h>
#include <sys/socket.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "configurator/config_file.h"
#include "configurator/image.h"
#include "maintenance/firmware_file.h"
#include "maintenance/intel_hex.h"
#include "maintenance/settings_file.h"
#include "platform/base64.h"
#include "platform/hex_text.h"
#include "platform/unix_socket.h"
#include "tools/relayctl/cli.h"
#include "tools/relayctl/output.h"

namespace {

using nlohmann::json;

enum Exit { kDone = 0, kFailed = 1, kUsage = 2, kNoServer = 3 };

// How long an answer may take beyond the request's own wait: a server whose
// operator has a question box open holds requests until it is answered.
constexpr int kAnswerWaitSeconds = 120;
// How long a connection is retried while the server's queue is full.
constexpr int kConnectWaitMs = 10000;

std::string ExecutableDir() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
  path.resize(n > 0 ? size_t(n) : 0);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

int Fail(int status, const std::string& why) {
  std::fprintf(stderr, "relayctl: %s\n", why.c_str());
  return status;
}

// Reads lines from the server; `onLine` returns false when no more are wanted.
// `timeoutMs()` bounds each wait (-1: none). False when the server closed the
// connection or did not answer in time.
template <typename T, typename F>
bool ReadLines(int fd, T timeoutMs, F onLine) {
  std::string buf;
  char chunk[8192];
  for (;;) {
    for (size_t end; (end = buf.find('\n')) != std::string::npos;) {
      const std::string line = buf.substr(0, end);
      buf.erase(0, end + 1);
      if (!onLine(line)) return true;
    }
    pollfd p{fd, POLLIN, 0};
    const int r = ::poll(&p, 1, timeoutMs());
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) return false;
    buf.append(chunk, size_t(n));
  }
}

// The device's user name and password, and the new ones, into the request;
// never from the command line, where other users could read them.
bool ReadCredentials(relayctl::Command& c, std::string* error) {
  const auto read = [&](const std::string& file, const char* userKey, const char* passwordKey) {
    std::string text;
    if (file.empty() || file == "-") {
      if (::isatty(STDIN_FILENO)) std::fputs("Пользователь и пароль прибора, по строке:\n", stderr);
      std::string line;
      for (int k = 0; k < 2 && std::getline(std::cin, line); ++k) text += line + "\n";
    } else {
      std::ifstream f(file, std::ios::binary);
      if (!f) {
        *error = file + ": файл не прочитан";
        return false;
      }
      std::ostringstream all;
      all << f.rdbuf();
      text = all.str();
    }
    std::string user, password;
    if (!relayctl::ParseCredentials(text, &user, &password, error)) {
      *error = (file.empty() ? std::string("стандартный ввод") : file) + ": " + *error;
      return false;
    }
    c.request[userKey] = user;
    c.request[passwordKey] = password;
    return true;
  };
  if (!read(c.credentialsFile, "user", "password")) return false;
  return c.newCredentialsFile.empty() || read(c.newCredentialsFile, "new_user", "new_password");
}

// The settings image a net-read brought, into its .dat file.
int SaveImage(const relayctl::Command& c, const json& done) {
  const auto image = maintenance::ImageFromHex(done.value("image", ""));
  std::string why = "сервер не передал настройки";
  if (image && maintenance::WriteSettingsFile(c.settingsFile, *image, &why)) {
    if (!c.json) std::printf("Настройки записаны в %s\n", c.settingsFile.c_str());
    return kDone;
  }
  return Fail(kFailed, c.settingsFile + ": " + why);
}

// The configuration file into a config write request: its image and type.
bool ReadConfigFile(relayctl::Command& c, std::string* error) {
  const std::optional<std::vector<uint8_t>> bytes = maintenance::ReadFirmwareFile(c.configFile);
  if (!bytes) {
    *error = c.configFile + ": файл не прочитан";
    return false;
  }
  const uint8_t variant = bytes->size() > 1 ? (*bytes)[1] : 0;
  const configurator::LoadedConfig loaded = configurator::ParseConfigFile(*bytes, {}, variant);
  if (loaded.formatError) {
    *error = c.configFile + ": " + (loaded.why.empty() ? "неверный формат файла" : loaded.why);
    return false;
  }
  c.request["variant"] = loaded.variant;
  c.request["image"] = platform::HexEncode(
      std::span<const uint8_t>(loaded.image.data(), configurator::off::kEnd));
  return true;
}

// A config run's end: the configuration read into its file, the expander's tables shown.
int ConfigDone(const relayctl::Command& c, const json& done, int status) {
  const std::string action = c.request.value("action", "");
  if (done.contains("error") && !c.json) Fail(0, done.value("error", ""));
  if (status != kDone) return status;
  if (action == "read") {
    const auto image = platform::HexDecode(done.value("image", ""));
    configurator::Image full{};
    std::string why = "сервер не передал конфигурацию";
    if (image && image->size() <= full.size()) {
      std::copy(image->begin(), image->end(), full.begin());
      if (configurator::SaveConfigFile(c.configFile, uint8_t(done.value("variant", 0)), full, &why)) {
        if (!c.json) std::printf("Конфигурация записана в %s\n", c.configFile.c_str());
        return kDone;
      }
    }
    return Fail(kFailed, c.configFile + ": " + why);
  }
  if (action == "expander-read" && !c.json)
    std::puts(done.value("expander", json::object()).dump(2, ' ', false, json::error_handler_t::replace).c_str());
  return kDone;
}

// The firmware file into the request, its path made absolute: the session's
// messages name the file by it. A main controller's file is checked whole
// first, as the server will check it again.
bool ReadFirmware(relayctl::Command& c, std::string* error) {
  const std::optional<std::vector<uint8_t>> file = maintenance::ReadFirmwareFile(c.firmwareFile);
  if (!file) {
    *error = c.firmwareFile + ": файл не прочитан";
    return false;
  }
  const std::string bytes(file->begin(), file->end());
  maintenance::HexRefusal bad;
  if (c.request.value("action", "") == "update-main" && !maintenance::ReadFirmwareHex(bytes, &bad)) {
    *error = c.firmwareFile + ": " + bad.reason;
    return false;
  }
  std::error_code ec;
  const auto path = std::filesystem::absolute(c.firmwareFile, ec);
  c.request["file_name"] = ec ? c.firmwareFile : path.string();
  c.request["firmware"] = platform::Base64Encode(bytes);
  return true;
}

// The connection to the server's socket; -1 with the exit status in `status`.
int Connect(const std::string& dir, const std::string& path, int* status) {
  const int fd = platform::ConnectUnix(path, kConnectWaitMs);
  if (fd >= 0) return fd;
  if (errno == ENOENT || errno == ECONNREFUSED)
    *status = Fail(kNoServer, "сервер на каталоге " + dir + " не запущен");
  else if (errno == EAGAIN)
    *status = Fail(kFailed, "сервер на каталоге " + dir + " не принимает подключения");
  else if (errno == EACCES)
    *status = Fail(kFailed, "нет доступа к " + path +
                                ": управлять сервером может только его пользователь или root");
  else
    *status = Fail(kFailed, path + ": " + std::strerror(errno));
  return -1;
}

// One maintenance request per device, one after another; a failure does not
// stop the others. Ends with a table; 0 only when every device succeeded.
int RunBatch(relayctl::Command& c, const std::string& dir, const std::string& path) {
  std::vector<relayctl::BatchResult> results;
  for (const std::string& device : c.batchDevices) {
    relayctl::BatchResult r;
    r.device = device;
    const auto t0 = std::chrono::steady_clock::now();
    int status = kDone;
    const int fd = Connect(dir, path, &status);
    if (fd < 0) return status;  // no server: nothing more can be done
    c.request["device"] = device;
    const std::string line = c.request.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    bool answered = false, done = false;
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == ssize_t(line.size())) {
      ReadLines(fd, [&] { return answered ? -1 : kAnswerWaitSeconds * 1000; },
                [&](const std::string& text) {
                  const json item = json::parse(text, nullptr, false);
                  if (!item.is_object()) return false;
                  if (c.json) {  // each item names its device
                    json tagged = item;
                    tagged["device"] = device;
                    std::puts(tagged.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
                  }
                  if (!answered) {
                    answered = true;
                    if (item.value("ok", false)) return true;
                    r.lastLine = item.value("error", "отказ сервера");
                    if (!c.json) std::printf("%s: %s\n", device.c_str(), r.lastLine.c_str());
                    done = true;
                    return false;
                  }
                  if (item.contains("done")) {
                    r.ok = item.value("ok", false);
                    done = true;
                    return false;
                  }
                  if (item.contains("line")) r.lastLine = item.value("line", "");
                  if (!c.json)
                    std::printf("%s: %s\n", device.c_str(), relayctl::StreamLine(item).c_str());
                  std::fflush(stdout);
                  return true;
                });
    }
    ::close(fd);
    if (!done) r.lastLine = "сервер не ответил или закрыл соединение";
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    results.push_back(r);
  }
  bool all = true;
  for (const relayctl::BatchResult& r : results) all = all && r.ok;
  if (c.json) {
    json table = json::array();
    for (const relayctl::BatchResult& r : results)
      table.push_back(
          {{"device", r.device}, {"ok", r.ok}, {"seconds", r.seconds}, {"last_line", r.lastLine}});
    const json summary = {{"batch", table}, {"ok", all}};
    std::puts(summary.dump(-1, ' ', false, json::error_handler_t::replace).c_str());
  } else {
    for (const std::string& l : relayctl::BatchLines(results)) std::puts(l.c_str());
  }
  return all ? kDone : kFailed;
}

bool AskOnTerminal(const std::string& question) {
  std::fprintf(stderr, "%s [да/нет] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "да" || answer == "Да" || answer == "д" || answer == "y" || answer == "yes";
}

}  // namespace

int main(int argc, char** argv) {
  std::string error;
  auto command = relayctl::ParseCommand(std::vector<std::string>(argv + 1, argv + argc), &error);
  if (!command) {
    std::fprintf(stderr, "relayctl: %s\n%s", error.c_str(), relayctl::kUsage);
    return kUsage;
  }
  if (command->help) {
    std::fputs(relayctl::kUsage, stdout);
    return kDone;
  }
  const std::string dir = command->dataDir.empty() ? ExecutableDir() : command->dataDir;
  const std::string path = dir + "/relay-server.sock";
  const std::string verb = command->request["verb"];
  if ((verb == "maint" || verb == "config") && !ReadCredentials(*command, &error))
    return Fail(kUsage, error);
  if (verb == "config" && command->request.value("action", "") == "write" &&
      !ReadConfigFile(*command, &error))
    return Fail(kUsage, error);
  if (verb == "maint" && command->request.value("action", "") == "net-write") {
    maintenance::NetworkBlock image{};
    if (maintenance::ReadSettingsFile(command->settingsFile, image, &error) !=
        maintenance::DatLoad::kLoaded)
      return Fail(kUsage, command->settingsFile + ": " + error);
    command->request["image"] = maintenance::ImageToHex(image);
  }
  if (!command->firmwareFile.empty() && !ReadFirmware(*command, &error)) return Fail(kUsage, error);
  if (!command->batchDevices.empty()) return RunBatch(*command, dir, path);

  for (;;) {
    int refused = kDone;
    const int fd = Connect(dir, path, &refused);
    if (fd < 0) return refused;
    // An argument that is not UTF-8 reaches the server as replacement characters.
    const std::string line =
        command->request.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    if (::send(fd, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) {
      ::close(fd);
      return Fail(kFailed, "запрос не передан серверу");
    }
    int status = kDone;
    bool answered = false;
    std::string question, device;
    const int wait = (command->waitSeconds + kAnswerWaitSeconds) * 1000;
    // A stream has no end; its first answer comes as any other.
    const auto timeout = [&] { return answered && command->follow ? -1 : wait; };
    const bool read = ReadLines(fd, timeout, [&](const std::string& text) {
      const json item = json::parse(text, nullptr, false);
      if (!item.is_object()) {
        status = Fail(kFailed, "непонятный ответ сервера");
        return false;
      }
      if (answered) {  // a stream after the answer
        if (item.contains("done")) {  // a maintenance session's end
          if (command->json) std::puts(text.c_str());
          std::fflush(stdout);
          status = item.value("ok", false) ? kDone : kFailed;
          if (status == kDone && command->request.value("action", "") == "net-read")
            status = SaveImage(*command, item);
          if (verb == "config") status = ConfigDone(*command, item, status);
          if (status != kDone && !command->json) Fail(0, "обслуживание не выполнено");
          return false;
        }
        std::puts(command->json ? text.c_str() : relayctl::StreamLine(item).c_str());
        std::fflush(stdout);
        return true;
      }
      answered = true;
      const bool ok = item.value("ok", false);
      if (!ok && item.contains("question") && !command->yes) {
        question = item.value("question", "");
        device = item.value("device", "");
        return false;
      }
      if (command->json) {
        std::puts(text.c_str());
      } else {
        for (const std::string& l : relayctl::AnswerLines(verb, item)) std::puts(l.c_str());
      }
      std::fflush(stdout);
      if (!ok) {
        if (!command->json) Fail(0, item.value("error", "отказ сервера"));
        status = item.value("usage", false) ? kUsage : kFailed;
      }
      return ok && command->follow;
    });
    ::close(fd);
    if (!question.empty()) {
      // The console would ask first: so does the terminal, or the request is refused.
      if (!device.empty()) std::fprintf(stderr, "Прибор %s.\n", device.c_str());
      if (!::isatty(STDIN_FILENO))
        return Fail(kUsage, question + " Подтвердите флагом --yes.");
      if (!AskOnTerminal(question)) return Fail(kFailed, "не выполнено: ответ \"нет\"");
      command->request["yes"] = true;
      command->yes = true;
      continue;
    }
    if (!answered) return Fail(kFailed, "сервер не ответил или закрыл соединение без ответа");
    if (command->follow && status == kDone && !read)
      return Fail(kFailed, "сервер закрыл соединение");
    return status;
  }
}
