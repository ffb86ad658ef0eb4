// Cost of answering one workstation poll with 65,534 registered devices in 256
// groups: through the group index, and by the plain walk over the whole table
// in the same run as the baseline.
#include <benchmark/benchmark.h>

#include <random>

#include "armlink/arm_channel.h"
#include "armlink/poll_answer.h"
#include "tests/support/link_world.h"

namespace {

struct PollWorld : testsupport::LinkWorld {
  armlink::ArmChannel ch;
  // Every record in use; record i is in group i % 256, so a group's devices
  // lie spread over the whole table, as registrations in arrival order leave them.
  PollWorld() {
    ch.sleepMs = [](int) {};
    devlink::ClientTable& t = store.Table();
    t.Resize(devlink::ClientTable::kMaxRecords);
    for (size_t i = 0; i < t.Size(); ++i) {
      devlink::ClientRecord& r = t[i];
      r.inUse = 1;
      r.n1 = uint8_t(i % 256);
      r.n2 = uint8_t(i / 256);
      r.n3 = 1;
    }
    t.Touch();
  }
};

PollWorld& World() {
  static PollWorld w;
  return w;
}

void Poll(benchmark::State& state, armlink::PollScan scan) {
  PollWorld& w = World();
  std::mt19937 rng(1);
  // The index is built by the first poll after a change of the table.
  armlink::AnswerPoll(w.link, w.ch, 0, scan);
  for (auto _ : state) {
    const uint8_t group = uint8_t(rng());
    benchmark::DoNotOptimize(armlink::AnswerPoll(w.link, w.ch, group, scan));
  }
}

void BM_PollIndexed(benchmark::State& s) { Poll(s, armlink::PollScan::Indexed); }
void BM_PollWholeTable(benchmark::State& s) { Poll(s, armlink::PollScan::WholeTable); }

// The first poll after a registration rebuilds the index.
void BM_PollAfterTableChange(benchmark::State& state) {
  PollWorld& w = World();
  for (auto _ : state) {
    w.store.Table().Touch();
    benchmark::DoNotOptimize(armlink::AnswerPoll(w.link, w.ch, 7));
  }
}

BENCHMARK(BM_PollIndexed)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PollWholeTable)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_PollAfterTableChange)->Repetitions(3)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
