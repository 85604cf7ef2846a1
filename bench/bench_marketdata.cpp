// Market-data hot paths: the registry read, quote lookups and pushes, and how
// readers on distinct instruments scale. allocs_per_op shows they never touch the heap.

#include <benchmark/benchmark.h>

#include "allocation_count.hpp"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "vantrel/marketdata/service.hpp"


namespace {

using vantrel::bench::report_allocations;
using namespace vantrel;

constexpr int kInstruments = 64;

Instrument instrument(int i) { return {*Asset::from_text(std::string("ASSET").append(std::to_string(i))), *Asset::from_text("USD")}; }

std::unique_ptr<MarketDataService> make_service(QuoteTtl ttl, SyncMode mode) {
  auto service = std::make_unique<MarketDataService>(ttl, mode);
  for (int i = 0; i < kInstruments; ++i) {
    const InstrumentId id = *service->register_instrument(instrument(i), std::nullopt);
    service->push(id, Quote{Price{Decimal::from_i64(100 + i)}, std::nullopt, std::nullopt}, PushMode::Replace);
  }
  return service;
}

void BM_ResolveInstrumentId(benchmark::State& state) {
  auto service = make_service(QuoteTtl::infinite(), SyncMode::Full);
  const Instrument wanted = instrument(17);
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) benchmark::DoNotOptimize(service->resolve_instrument_id(wanted));
  report_allocations(state, before);
}
BENCHMARK(BM_ResolveInstrumentId);

// arg 0: infinite limit with locks; 1: infinite without locks; 2: finite limit with locks.
void BM_LookupHit(benchmark::State& state) {
  const bool finite = state.range(0) == 2;
  const SyncMode mode = state.range(0) == 1 ? SyncMode::None : SyncMode::Full;
  auto service = make_service(finite ? QuoteTtl::within({3600, 0}) : QuoteTtl::infinite(), mode);
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    // What a policy keeps of the result: the status and the mark.
    const QuoteLookup result = service->resolve_quote(InstrumentId{17}, AccountId{5}, std::nullopt);
    benchmark::DoNotOptimize(result.status);
    benchmark::DoNotOptimize(result.quote.mark->value);
  }
  report_allocations(state, before);
  state.SetLabel(finite ? "finite, locks" : (mode == SyncMode::None ? "infinite, no locks" : "infinite, locks"));
}
BENCHMARK(BM_LookupHit)->Arg(0)->Arg(1)->Arg(2);

void BM_PushExistingBucket(benchmark::State& state) {
  auto service = make_service(QuoteTtl::infinite(), SyncMode::Full);
  const Quote quote{Price{Decimal::from_i64(101)}, Price{Decimal::from_i64(100)}, Price{Decimal::from_i64(102)}};
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) benchmark::DoNotOptimize(service->push(InstrumentId{17}, quote, PushMode::Replace));
  report_allocations(state, before);
}
BENCHMARK(BM_PushExistingBucket);

// Registering n instruments: the time per instrument should not grow with n
// (the fitted complexity reads O(N)).
void BM_RegisterInstruments(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  std::vector<Instrument> instruments;
  for (int i = 0; i < n; ++i) instruments.push_back(instrument(i));
  for (auto _ : state) {
    MarketDataService service(QuoteTtl::infinite(), SyncMode::Full);
    for (const Instrument& each : instruments) benchmark::DoNotOptimize(service.register_instrument(each, std::nullopt));
  }
  state.SetItemsProcessed(state.iterations() * n);
  state.SetComplexityN(n);
}
BENCHMARK(BM_RegisterInstruments)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Unit(benchmark::kMillisecond)->Complexity();

// Readers on distinct instruments: items/s should grow with the thread count,
// since no lock word of the service is shared between readers.
MarketDataService* g_shared = nullptr;
void BM_ReadersOnDistinctInstruments(benchmark::State& state) {
  const SyncMode mode = state.range(0) == 0 ? SyncMode::Full : SyncMode::None;
  if (state.thread_index() == 0) g_shared = make_service(QuoteTtl::within({3600, 0}), mode).release();
  // benchmark's own barrier runs before the loop starts.
  for (auto _ : state) {
    const InstrumentId id{static_cast<std::uint64_t>(state.thread_index() * 8)};
    const QuoteLookup result = g_shared->resolve_quote(id, AccountId{5}, std::nullopt);
    benchmark::DoNotOptimize(result.status);
    benchmark::DoNotOptimize(result.quote.mark->value);
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    delete g_shared;
    g_shared = nullptr;
  }
}
// arg 0: with locks; arg 1: without (the baseline: what the machine itself allows).
BENCHMARK(BM_ReadersOnDistinctInstruments)->Arg(0)->Arg(1)->Threads(1)->Threads(2)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
