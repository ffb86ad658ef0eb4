// Interface management holds Lock while it counts and clears the devices'
// statistics: how long, for a full table of 65534 records.
#include <benchmark/benchmark.h>

#include <array>

#include "devlink/client_table.h"
#include "netsup/interface_management.h"

namespace {

devlink::ClientTable& FullTable() {
  static devlink::ClientTable table = [] {
    devlink::ClientTable t;
    t.Resize(devlink::ClientTable::kMaxRecords);
    for (size_t i = 0; i < t.Size(); ++i) t[i].inUse = 1;
    return t;
  }();
  return table;
}

// One management tick's work under Lock: count, decide, clear.
void BM_ManagementUnderLock(benchmark::State& state) {
  devlink::ClientTable& table = FullTable();
  std::array<bool, 3> selected{};
  for (auto _ : state) {
    // Half of the devices heard on interface 2 since the last tick.
    state.PauseTiming();
    for (size_t i = 0; i < table.Size(); i += 2) table[i].contactCount[1] = 1;
    state.ResumeTiming();
    const netsup::ManagementDecision d =
        netsup::DecideManagement(netsup::CountStatistics(table), selected);
    netsup::ClearStatistics(table, d.clearUnanswered);
    benchmark::DoNotOptimize(d.chosen);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(table.Size()));
}
BENCHMARK(BM_ManagementUnderLock)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
