// The main controller's firmware update of a 64 KiB image against devsim on
// loopback, through the server's own parts (UDP server, device worker,
// hand-off, maintenance session) at the operator's time-outs. In the same
// run the round trip of a maintenance request is measured with the version
// query; the update cannot be faster than the one-second pause after the
// jump plus a round trip for the version query, the erase and each packet,
// since each waits for the answer to the one before.
//   bench_main_update [KIB] [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench/bench_stats.h"
#include "devlink/device_worker.h"
#include "devlink/intake_ring.h"
#include "maintenance/identity.h"
#include "maintenance/intel_hex.h"
#include "maintenance/loader_packets.h"
#include "maintenance/main_update.h"
#include "maintenance/session.h"
#include "platform/udp_server.h"
#include "tests/support/child_process.h"
#include "tests/support/link_world.h"

namespace {

using benchstats::Clock;
using benchstats::Median;
using benchstats::Ms;
using maintenance::Event;

std::string Record(uint16_t address, uint8_t type, const std::vector<uint8_t>& data) {
  return maintenance::HexRecordText(address, type, data) + "\r\n";
}

// `bytes` of random data in records of 16, from address 0, with CR LF.
std::string Image(size_t bytes) {
  std::mt19937 rng(20240305);
  std::string f;
  for (size_t a = 0; a < bytes; a += 16) {
    if (a % 0x10000 == 0) f += Record(0, 0x04, {uint8_t(a >> 24), uint8_t(a >> 16)});
    std::vector<uint8_t> d(std::min<size_t>(16, bytes - a));
    for (uint8_t& x : d) x = uint8_t(rng());
    f += Record(uint16_t(a), 0x00, d);
  }
  return f + Record(0, 0x01, {});
}

// Runs `job` on the session and waits for its end; false when it failed.
bool Run(maintenance::Maintenance& s, const maintenance::Maintenance::Job& job,
         std::vector<std::string>* log) {
  std::string error;
  if (!s.Start(1, "bench", job, &error)) {
    std::fprintf(stderr, "bench_main_update: %s\n", error.c_str());
    return false;
  }
  for (;;) {
    for (const Event& e : s.Events().Drain(1000)) {
      if (e.kind == Event::Kind::kLog && log) log->push_back(e.text);
      if (e.kind == Event::Kind::kFinished) return e.ok;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t kib = argc > 1 ? size_t(std::max(1, std::atoi(argv[1]))) : 64;
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  constexpr int kPings = 200;

  testsupport::TempDir dir;
  const std::string file = Image(kib * 1024);
  testsupport::WriteFile(dir.File("main_4620.hex"), file);
  const auto hex = maintenance::ReadFirmwareHex(file, nullptr);
  const size_t packets = maintenance::BuildLoaderPackets(*hex).size();

  // The server's side: one UDP server, the intake, the device worker, the session.
  testsupport::LinkWorld world;
  devlink::WorkSignal signal;
  devlink::IntakeRing ring(&signal);
  const unsigned short port = testsupport::FreeUdpPort();
  const unsigned short devicePort = testsupport::FreeUdpPort();
  platform::UdpServer udp(port, [&ring](const uint8_t* d, size_t n, std::string_view peer, uint16_t p) {
    ring.Receive(0, d, n, peer, p);
  });
  udp.AddBinding("127.0.0.1", port);
  if (!udp.Start()) {
    std::fprintf(stderr, "bench_main_update: 127.0.0.1:%u not bound\n", port);
    return 1;
  }
  world.sender.SetEndpoint(0, &udp);
  {
    devlink::ClientRecord& r = world.link.table[1];
    r.inUse = 1;
    r.n1 = 1, r.n3 = 1;
    devlink::SetPStr(r.peerAddr, "127.0.0.1");
    devlink::PutU16(r.peerPort, devicePort);
    r.iface = 0;
    world.link.table.Touch();
    world.link.handoff.GlTargetHost = r.peerAddr;
    world.link.handoff.GlTargetPort = devicePort;
  }
  devlink::TEthernThread worker(world.link, ring, signal);
  worker.Start();
  maintenance::Maintenance session(world.link);

  // The device: devsim's maintained device on its own address and port.
  testsupport::ChildProcess devsim(
      std::string(RELAY_BIN_DIR) + "/devsim",
      {"--server", "127.0.0.1:" + std::to_string(port), "--no-register", "--no-spread", "--source",
       "127.0.0.1", "--port", std::to_string(devicePort), "--heartbeat-ms", "0", "--maint",
       "--maint-image-out", dir.File("image.hex"), "--duration-ms", "3600000"},
      /*withStderr=*/true);
  if (!testsupport::WaitUdpBound(devicePort, std::chrono::seconds(5))) {
    std::fprintf(stderr, "bench_main_update: devsim did not start\n");
    return 1;
  }

  std::printf("image %zu KiB: %zu bytes of HEX, %zu packets\n", kib, file.size(), packets);
  std::vector<double> totals, rtts;
  for (int round = 0; round < rounds; ++round) {
    std::vector<double> pings;
    const auto ping = [&pings](maintenance::Exchange& x) {
      const maintenance::Telegram q = maintenance::BuildTelegram(maintenance::kPlainFE, 0x15, nullptr, 0);
      // The first tenth warms the path up and is not counted.
      for (int k = 0; k < kPings + kPings / 10; ++k) {
        const auto t0 = Clock::now();
        if (!x.Request(q, false, 0x15, 8000)) return false;
        if (k >= kPings / 10) pings.push_back(Ms(Clock::now() - t0));
      }
      return true;
    };
    double updateMs = 0;
    const auto update = [&](maintenance::Exchange& x) {
      if (!maintenance::CheckLogin(x, "admin", "admin")) return false;
      const auto t0 = Clock::now();
      const bool ok = maintenance::UpdateMainController(x, "main_4620.hex", file);
      updateMs = Ms(Clock::now() - t0);
      return ok;
    };
    std::vector<std::string> log;
    ::unlink(dir.File("image.hex").c_str());
    if (!Run(session, ping, nullptr) || !Run(session, update, &log)) {
      std::fprintf(stderr, "bench_main_update: round %d failed\n", round + 1);
      for (const std::string& l : log) std::fprintf(stderr, "  %s\n", l.c_str());
      return 1;
    }
    const std::string cmp = "srec_cmp " + dir.File("main_4620.hex") + " -intel " +
                            dir.File("image.hex") + " -intel >/dev/null 2>&1";
    if (std::system(cmp.c_str()) != 0) {
      std::fprintf(stderr, "bench_main_update: the device's image differs from the file\n");
      return 1;
    }
    const double rtt = Median(pings);
    const double bound = 1000.0 + double(packets + 2) * rtt;
    std::printf("round %d: update %.1f ms, round trip median %.3f ms (p95 %.3f), bound %.1f ms\n",
                round + 1, updateMs, rtt,
                [&] {
                  std::sort(pings.begin(), pings.end());
                  return pings[pings.size() * 95 / 100];
                }(),
                bound);
    totals.push_back(updateMs);
    rtts.push_back(rtt);
  }
  const double total = Median(totals), rtt = Median(rtts);
  const double programming = total - 1000.0;
  std::printf(
      "median of %d: update %.1f ms (1000 ms of it the pause after the jump); round trip %.3f ms;\n"
      "  stop-and-wait bound %.1f ms = 1000 + %zu round trips; programming %.1f ms for %zu packets,\n"
      "  %.3f ms a packet = %.2f round trips; %.0f KiB/s of image while programming\n",
      rounds, total, rtt, 1000.0 + double(packets + 2) * rtt, packets + 2, programming, packets,
      programming / double(packets), programming / double(packets) / rtt,
      double(kib) / (programming / 1000.0));
  worker.Stop();
  return 0;
}
