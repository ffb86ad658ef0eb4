// Request lines of the control socket through the parser and the dispatcher
// of a started server, and the same bytes through its socket: no input may
// crash it or leave a request without an answer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "app/control_requests.h"
#include "app/server.h"
#include "platform/unix_socket.h"

namespace {

app::Server* gServer = nullptr;
app::ControlDispatcher* gDispatcher = nullptr;
std::string gDir;

// The server stops in order and its folder goes when the fuzzer ends.
void CleanUp() {
  if (gServer) gServer->Stop();
  std::error_code ignored;
  std::filesystem::remove_all(gDir, ignored);
}

std::string MakeDir() {
  char name[] = "/tmp/fuzz-control-XXXXXX";
  if (!::mkdtemp(name)) std::abort();
  return name;
}

// Interfaces stay on loopback and the host's routes untouched whatever the
// requests switch on: changes of addresses, gateways, the GSM modem and
// interface management are left out (with no gateway, no route is ever
// planned; the GSM keep-alive would go to the neighbour of 127.0.0.5).
bool Allowed(std::string_view line) {
  std::string error;
  const auto r = app::ParseControlRequest(line, &error);
  if (!r) return true;
  for (const auto& [key, value] : r->set)
    for (const char* prefix : {"ipadrr", "gateway", "checkboxmetric", "gsm_modem"})
      if (::strncasecmp(key.c_str(), prefix, std::strlen(prefix)) == 0) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const std::string dir = gDir = MakeDir();
  // No workstation port, setupc not found in the empty folder, every interface
  // on 127.0.0.1, and the internet check off, pinging 127.0.0.1 should a request
  // switch it on: nothing is sent beyond this machine.
  std::FILE* f = std::fopen((dir + "/relay-server.ini").c_str(), "w");
  std::fputs("[Form1]\r\nSetKarta_11=0\r\nIpAdrrServ_1=127.0.0.1\r\nIpAdrrServ_2=127.0.0.1\r\n"
             "IpAdrrGsm=127.0.0.1\r\nGateWayGSM=127.0.0.5\r\nCheckBox_Internet=0\r\n"
             "[Deployment]\r\nInetProbeHost=127.0.0.1\r\n",
             f);
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
  std::atexit(CleanUp);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string allowed;
  while (!input.empty()) {
    const size_t end = input.find('\n');
    const std::string_view line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    if (!Allowed(line)) continue;
    allowed.append(line).append("\n");
    std::string out;
    auto job = gDispatcher->Handle(line, out);
    for (int k = 0; job && k < 3 && job->Continue(out); ++k) {
    }
    // Every request gets an answer line, at once or from its job.
    if (!job && (out.empty() || out.back() != '\n')) std::abort();
  }
  // The same bytes as a client sends them, then the client goes.
  const int fd = platform::ConnectUnix(gServer->ControlSocketPath());
  if (fd < 0) std::abort();  // the server must still take connections
  [[maybe_unused]] ssize_t n = ::send(fd, allowed.data(), allowed.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  char buf[4096];
  for (int pass = 0; pass < 20; ++pass) {
    gServer->FrontEndWork();
    while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
    }
  }
  ::close(fd);
  gServer->FrontEndWork();
  return 0;
}
