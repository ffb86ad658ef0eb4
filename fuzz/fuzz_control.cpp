// Request lines of the control socket through the parser and the dispatcher
// of a started server: no input may crash it or leave it unable to answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/control_requests.h"
#include "app/server.h"

namespace {

app::Server* gServer = nullptr;
app::ControlDispatcher* gDispatcher = nullptr;

std::string MakeDir() {
  char name[] = "/tmp/fuzz-control-XXXXXX";
  if (!::mkdtemp(name)) std::abort();
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string dir = MakeDir();
  // No interface enabled and no workstation port: nothing listens or is sent
  // to, whatever the requests change; setupc is not found in the empty folder.
  std::FILE* f = std::fopen((dir + "/relay-server.ini").c_str(), "w");
  std::fputs("[Form1]\r\nSetKarta_11=0\r\nIpAdrrServ_1=127.0.0.1\r\n", f);
  std::fclose(f);
  app::ServerConfig cfg;
  cfg.dataDir = dir;
  cfg.exeDir = dir;
  cfg.portsDir = dir;
  gServer = new app::Server(cfg);
  std::string error;
  if (!gServer->Start(&error)) {
    std::fprintf(stderr, "fuzz_control: %s\n", error.c_str());
    std::abort();
  }
  gDispatcher = new app::ControlDispatcher(*gServer);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    std::string out;
    auto job = gDispatcher->Handle(line, out);
    for (int k = 0; job && k < 3 && job->Continue(out); ++k) {
    }
    // Every request gets an answer line, at once or from its job.
    if (!job && (out.empty() || out.back() != '\n')) std::abort();
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
  }
  gServer->FrontEndWork();
  return 0;
}
