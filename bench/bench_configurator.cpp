// A full read and a full write of the configuration image against devsim on
// loopback, through the server's own parts (UDP server, device worker,
// hand-off, maintenance session) at the operator's 50 ms tick and 5 s
// time-out; clean, and with devsim losing every K-th answer. Each run is
// identify, programming start, six blocks and programming end; the frames
// sent beyond those are the repeats.
//   bench_configurator [ROUNDS] [DROP_EVERY]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "configurator/config_file.h"
#include "configurator/config_session.h"
#include "devlink/device_worker.h"
#include "devlink/intake_ring.h"
#include "maintenance/session.h"
#include "platform/udp_server.h"
#include "tests/support/child_process.h"
#include "tests/support/link_world.h"

namespace {

using benchstats::Clock;
using benchstats::Median;
using benchstats::Ms;

// The server's socket, counting the configurator's frames it sends.
class CountingEndpoint : public platform::UdpEndpoint {
 public:
  explicit CountingEndpoint(platform::UdpServer& udp) : udp_(udp) {}
  void Stop() override { udp_.Stop(); }
  void ClearBindings() override { udp_.ClearBindings(); }
  void AddBinding(const std::string& a, uint16_t p) override { udp_.AddBinding(a, p); }
  uint16_t DefaultPort() const override { return udp_.DefaultPort(); }
  void SetDefaultPort(uint16_t p) override { udp_.SetDefaultPort(p); }
  bool Start() override { return udp_.Start(); }
  bool Running() const override { return udp_.Running(); }
  bool SendTo(std::string_view address, uint16_t port, const uint8_t* d, size_t n) override {
    if (n > 6 && d[0] == 0xFE && d[2] == 0x01 && d[3] == 0x7F) ++frames;
    return udp_.SendTo(address, port, d, n);
  }
  std::atomic<int> frames{0};

 private:
  platform::UdpServer& udp_;
};

struct Result {
  double ms;
  int frames;
};

// One scripted run; nothing when it failed.
std::optional<Result> RunOnce(maintenance::Maintenance& s, CountingEndpoint& ep,
                              std::vector<configurator::ConfigCommand> steps) {
  auto ch = std::make_shared<configurator::ConfigChannel>();
  const int before = ep.frames;
  const auto t0 = Clock::now();
  std::string error;
  if (!s.Start(1, "bench", [&](maintenance::Exchange& x) {
        return configurator::RunConfigScript(x, *ch, "<Пульт. номер - 1/0/1>", steps);
      }, &error)) {
    std::fprintf(stderr, "bench_configurator: %s\n", error.c_str());
    return std::nullopt;
  }
  for (;;) {
    for (const maintenance::Event& e : s.Events().Drain(1000)) {
      if (e.kind != maintenance::Event::Kind::kFinished) continue;
      if (!e.ok) return std::nullopt;
      return Result{Ms(Clock::now() - t0), ep.frames - before};
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const int dropEvery = argc > 2 ? std::max(2, std::atoi(argv[2])) : 10;

  testsupport::TempDir dir;
  configurator::Image seed{};
  for (size_t i = 0; i < 256; ++i) seed[i] = uint8_t(i * 7);
  std::string why;
  if (!configurator::SaveConfigFile(dir.File("seed.dat"), 250, seed, &why)) {
    std::fprintf(stderr, "bench_configurator: %s\n", why.c_str());
    return 1;
  }

  testsupport::LinkWorld world;
  devlink::WorkSignal signal;
  devlink::IntakeRing ring(&signal);
  const unsigned short port = testsupport::FreeUdpPort();
  platform::UdpServer udp(port, [&ring](const uint8_t* d, size_t n, std::string_view peer, uint16_t p) {
    ring.Receive(0, d, n, peer, p);
  });
  udp.AddBinding("127.0.0.1", port);
  if (!udp.Start()) return 1;
  CountingEndpoint ep(udp);
  world.sender.SetEndpoint(0, &ep);
  devlink::TEthernThread worker(world.link, ring, signal);
  worker.Start();
  maintenance::Maintenance session(world.link);

  std::printf("tick %d ms, time-out %d ticks; a run: identify, programming start, 6 blocks, "
              "programming end = 9 frames\n",
              configurator::kTickMs, configurator::kTimeoutTicks);
  for (const bool drops : {false, true}) {
    const unsigned short devicePort = testsupport::FreeUdpPort();
    {
      devlink::ClientRecord& r = world.link.table[1];
      r.inUse = 1;
      r.n1 = 1, r.n3 = 1;
      devlink::SetPStr(r.peerAddr, "127.0.0.1");
      devlink::PutU16(r.peerPort, devicePort);
      world.link.table.Touch();
    }
    std::vector<std::string> args = {
        "--server", "127.0.0.1:" + std::to_string(port), "--no-register", "--no-spread",
        "--source", "127.0.0.1", "--port", std::to_string(devicePort), "--heartbeat-ms", "0",
        "--maint", "--maint-config-file", dir.File("seed.dat"), "--duration-ms", "3600000"};
    if (drops) args.insert(args.end(), {"--maint-config-fault", "drop:" + std::to_string(dropEvery)});
    testsupport::ChildProcess devsim(std::string(RELAY_BIN_DIR) + "/devsim", args, true);
    if (!testsupport::WaitUdpBound(devicePort, std::chrono::seconds(5))) return 1;

    configurator::ConfigCommand read, write;
    read.kind = configurator::ConfigCommand::Kind::kRead;
    write.kind = configurator::ConfigCommand::Kind::kWrite;
    write.image.assign(seed.begin(), seed.end());
    write.imageVariant = 250;
    for (const auto& [name, step] : {std::pair{"read", read}, std::pair{"write", write}}) {
      std::vector<double> ms;
      std::vector<int> repeats;
      for (int k = 0; k < rounds; ++k) {
        const auto r = RunOnce(session, ep, {step});
        if (!r) {
          std::fprintf(stderr, "bench_configurator: %s failed\n", name);
          return 1;
        }
        ms.push_back(r->ms);
        repeats.push_back(r->frames - 9);
      }
      int total = 0;
      for (const int r : repeats) total += r;
      std::printf("%-5s %-14s median %8.1f ms  min %8.1f  max %8.1f  repeats %d in %d runs (max %d)\n",
                  name, drops ? ("drop every " + std::to_string(dropEvery)).c_str() : "clean",
                  Median(ms), *std::min_element(ms.begin(), ms.end()),
                  *std::max_element(ms.begin(), ms.end()), total, rounds,
                  *std::max_element(repeats.begin(), repeats.end()));
    }
  }
  worker.Stop();
  return 0;
}
