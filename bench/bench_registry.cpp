// Saving and loading a registry of 65,534 records, and the longest time a
// worker waits for Lock while the registry is saved.
//   bench_registry [DIR] [ROUNDS]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_stats.h"
#include "registry/ndx_file.h"
#include "tests/support/link_world.h"

namespace {

using benchstats::Clock;
using benchstats::Median;
using benchstats::Ms;

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : ".";
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string path = dir + "/bench_registry.ndx";

  testsupport::LinkWorld w;
  devlink::ClientTable& t = w.store.Table();
  t.Resize(devlink::ClientTable::kMaxRecords);
  for (size_t i = 0; i < t.Size(); ++i) {
    t[i].inUse = 1;
    t[i].n1 = uint8_t(i % 256);
    t[i].n2 = uint8_t(i / 256);
    for (size_t k = 0; k < sizeof t[i].armQueue; ++k) t[i].armQueue[k / 128][k % 128] = uint8_t(i + k);
  }

  std::vector<double> save, held, load, maxWait;
  for (int round = 0; round < rounds; ++round) {
    // A worker that takes Lock as often as it can, as the device worker does
    // under load, and records its longest wait.
    std::atomic<bool> stop{false};
    Clock::duration longest{};
    std::thread worker([&] {
      while (!stop) {
        const auto asked = Clock::now();
        w.link.Lock.lock();
        longest = std::max(longest, Clock::now() - asked);
        w.link.Lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    registry::SaveTimings timings;
    const auto t0 = Clock::now();
    const bool ok = registry::SaveNdx(w.store, w.link.Lock, path, w.sink, &timings);
    save.push_back(Ms(Clock::now() - t0));
    stop = true;
    worker.join();
    if (!ok) {
      std::fprintf(stderr, "bench_registry: save failed\n");
      return 1;
    }
    held.push_back(Ms(timings.lockHeld));
    maxWait.push_back(Ms(longest));

    const auto t1 = Clock::now();
    if (!registry::LoadNdx(w.store, w.link.Lock, path, w.sink)) {
      std::fprintf(stderr, "bench_registry: load failed\n");
      return 1;
    }
    load.push_back(Ms(Clock::now() - t1));
    if (w.store.Table().Size() != devlink::ClientTable::kMaxRecords) {
      std::fprintf(stderr, "bench_registry: loaded %zu records\n", w.store.Table().Size());
      return 1;
    }
  }
  std::remove(path.c_str());
  std::printf("records=%zu file_mb=%.1f rounds=%d\n", devlink::ClientTable::kMaxRecords,
              devlink::ClientTable::kMaxRecords * devlink::kRecordSize / 1e6, rounds);
  std::printf("save_ms median=%.1f max=%.1f\n", Median(save), *std::max_element(save.begin(), save.end()));
  std::printf("load_ms median=%.1f max=%.1f\n", Median(load), *std::max_element(load.begin(), load.end()));
  std::printf("lock_held_ms median=%.1f max=%.1f\n", Median(held), *std::max_element(held.begin(), held.end()));
  std::printf("worker_max_wait_ms median=%.1f max=%.1f\n", Median(maxWait),
              *std::max_element(maxWait.begin(), maxWait.end()));
  return 0;
}
