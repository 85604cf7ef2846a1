// How long a writer waits for the engine's reader-writer lock while seven
// readers keep it busy, against the same writer on an idle lock (0 readers).
// A lock that admits readers past a waiting writer shows seconds here.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>

#include "busy_readers.hpp"
#include "vantrel/core/rw_lock.hpp"

namespace {

using namespace std::chrono_literals;
using vantrel::RwLock;
using vantrel::SyncMode;
using vantrel::testing_support::BusyReaders;
using vantrel::testing_support::timed_write;

void BM_WriterWaitUnderReaders(benchmark::State& state) {
  RwLock lock(SyncMode::Full);
  BusyReaders readers(lock, static_cast<int>(state.range(0)), 10s);
  std::chrono::nanoseconds worst{0};
  for (auto _ : state) {
    const std::chrono::nanoseconds waited = timed_write(lock);
    worst = std::max(worst, waited);
    state.SetIterationTime(std::chrono::duration<double>(waited).count());
  }
  readers.stop();
  state.counters["worst_ms"] = std::chrono::duration<double, std::milli>(worst).count();
  state.counters["reader_deadline_hit"] = readers.ran_out() ? 1 : 0;
}
BENCHMARK(BM_WriterWaitUnderReaders)->Arg(0)->Arg(7)->UseManualTime()->Iterations(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
