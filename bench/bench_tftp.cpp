// The Ethernet controller's TFTP transfer of a 200 KiB file to tftpd-hpa on
// loopback: our state machine over a plain UDP socket against curl's upload of
// the same file to the same server, alternating in the same run.
//   bench_tftp [ROUNDS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "maintenance/tftp.h"
#include "tests/support/tftp_peer.h"

namespace {

using benchstats::Clock;
using benchstats::Median;
using benchstats::Ms;

constexpr char kCurl[] = "/usr/bin/curl";

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  testsupport::TftpdHpa server({"--create", "--refuse", "blksize"});
  if (!server.Running()) {
    std::fprintf(stderr, "bench_tftp: %s\n", server.Why().c_str());
    return 1;
  }
  std::vector<uint8_t> file(200 * 1024);
  uint32_t x = 12345;
  for (uint8_t& b : file) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
  testsupport::TempDir src;
  const std::string path = src.File("eth_87j60.bin");
  testsupport::WriteFile(path, std::string(file.begin(), file.end()));
  const std::string url = "tftp://127.0.0.1:" + std::to_string(server.Port()) + "/";

  std::vector<double> ascii, octet, curlWall, curlOwn;
  auto ours = [&](maintenance::TftpMode mode) {
    const bool isOctet = mode == maintenance::TftpMode::kOctet;
    const std::string name = isOctet ? "ours_octet.bin" : "ours_ascii.bin";
    maintenance::TftpTransfer t(name, file, "127.0.0.1", server.Port(), mode, 0);
    const auto t0 = Clock::now();
    const bool ok = testsupport::RunTftpOverUdp(t, std::chrono::seconds(60));
    const double ms = Ms(Clock::now() - t0);
    if (!ok || (isOctet && server.Stored(name) != std::string(file.begin(), file.end()))) {
      std::fprintf(stderr, "bench_tftp: our transfer failed: %s\n", t.Error().c_str());
      return false;
    }
    (isOctet ? octet : ascii).push_back(ms);
    return true;
  };
  auto curl = [&] {
    const auto t0 = Clock::now();
    testsupport::ChildProcess c(kCurl,
                                {"-sS", "-T", path, url + "curl.bin", "-w", "%{time_total}\n"});
    const int status = c.Wait(std::chrono::seconds(60));
    curlWall.push_back(Ms(Clock::now() - t0));
    const std::vector<std::string> lines = c.Lines();
    if (status != 0 || lines.empty()) {
      std::fprintf(stderr, "bench_tftp: curl failed (status %d)\n", status);
      return false;
    }
    curlOwn.push_back(std::atof(lines.back().c_str()) * 1000.0);
    return true;
  };
  // The order turns every round: back-to-back loopback runs are not equally fast.
  for (int r = 0; r < rounds; ++r)
    for (int k = 0; k < 3; ++k) {
      const int job = (r + k) % 3;
      const bool ok = job == 0   ? ours(maintenance::TftpMode::kNetAscii)
                      : job == 1 ? ours(maintenance::TftpMode::kOctet)
                                 : curl();
      if (!ok) return 1;
    }

  const double oursMs = Median(ascii), curlOwnMs = Median(curlOwn);
  std::printf("TFTP upload of %zu bytes to in.tftpd on loopback, median of %d rounds\n",
              file.size(), rounds);
  std::printf("  ours, netascii (as shipped): %8.2f ms\n", oursMs);
  std::printf("  ours, octet:                 %8.2f ms\n", Median(octet));
  std::printf("  curl, its own time_total:    %8.2f ms\n", curlOwnMs);
  std::printf("  curl, process wall time:     %8.2f ms\n", Median(curlWall));
  std::printf("  ratio ours(netascii) / curl time_total: %.2f (target <= 1.20)\n",
              oursMs / curlOwnMs);
  std::printf("  ratio ours(octet) / curl time_total:    %.2f\n", Median(octet) / curlOwnMs);
  return 0;
}
