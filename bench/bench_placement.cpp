// Ids chosen to collide, against random ids, in the tables that hold them: funds slots
// (HoldingsState) keyed by (account, asset) and a market-data map keyed by account. The
// chosen ids are those whose hash under the old, unkeyed placement was a multiple of 16 (all
// in one shard, home cell 0, at every size). Placed by the process secret they should cost
// what random ids cost: `vs_random` is chosen / random, measured in the same run, and
// `cells` the mean count of cells a lookup reads.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../tests/cpp/old_mixer.hpp"
#include "vantrel/core/int_map.hpp"
#include "vantrel/pretrade/policies/holdings_state.hpp"

namespace {

using namespace vantrel;

using old_mixer::unmix;

// The old hash of an account id was mix_hash(account), and of a funds key mix_hash(account ^
// asset << 40); the first interned asset is number 1.
std::vector<std::uint64_t> ids(bool chosen, std::size_t n, std::uint64_t seed, std::uint64_t asset = 1) {
  std::vector<std::uint64_t> out(n);
  std::mt19937_64 random(seed);
  for (std::size_t i = 0; i < n; ++i) out[i] = chosen ? unmix((seed * n + i + 1) * 16) ^ (asset << 40) : random();
  return out;
}

struct SlotBook {
  HoldingsState state{SyncMode::Full};
  const std::string* usd = state.assets().intern("USD");
  double insert_seconds = 0;

  explicit SlotBook(const std::vector<std::uint64_t>& accounts) {
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t a : accounts)
      state.change({AccountId{a}, usd}, [](const Holdings&, Holdings& next) {
        next.available = Decimal::from_i64(1);
        return true;
      });
    insert_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  // Mean nanoseconds of a lookup over `accounts`, hits or misses.
  double lookup_ns(const std::vector<std::uint64_t>& accounts, int rounds) const {
    const auto start = std::chrono::steady_clock::now();
    std::size_t found = 0;
    for (int r = 0; r < rounds; ++r)
      for (std::uint64_t a : accounts) found += state.read({AccountId{a}, usd}).has_value();
    benchmark::DoNotOptimize(found);
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
           static_cast<double>(accounts.size() * rounds);
  }
};

// Funds slots: the timed loop looks up the chosen (or random) accounts, half present, half not.
void BM_FundsSlotLookup(benchmark::State& state) {
  const bool chosen = state.range(0) != 0;
  const auto n = static_cast<std::size_t>(state.range(1));
  const std::vector<std::uint64_t> present = ids(chosen, n, 1), absent = ids(chosen, n, 2);
  const SlotBook book(present);
  std::size_t i = 0, found = 0;
  for (auto _ : state) {
    const std::uint64_t a = (i & 1) ? present[(i >> 1) % n] : absent[(i >> 1) % n];
    found += book.state.read({AccountId{a}, book.usd}).has_value();
    ++i;
  }
  benchmark::DoNotOptimize(found);
  // The other kind in the same run, for the ratio.
  const SlotBook random_book(ids(false, n, 1));
  const int rounds = n >= 100'000 ? 1 : 10;
  const double mine = book.lookup_ns(present, rounds) + book.lookup_ns(absent, rounds);
  const double random = random_book.lookup_ns(ids(false, n, 1), rounds) + random_book.lookup_ns(ids(false, n, 2), rounds);
  state.counters["vs_random"] = mine / random;
  state.counters["insert_vs_random"] = book.insert_seconds / random_book.insert_seconds;
}
BENCHMARK(BM_FundsSlotLookup)->ArgNames({"chosen", "accounts"})->ArgsProduct({{0, 1}, {10'000, 100'000}});

// A market-data map by account id: mean cells a lookup reads (hits and misses).
void BM_AccountMapLookup(benchmark::State& state) {
  const bool chosen = state.range(0) != 0;
  const auto n = static_cast<std::size_t>(state.range(1));
  const std::vector<std::uint64_t> present = ids(chosen, n, 1, 0), absent = ids(chosen, n, 2, 0);
  IntMap<std::uint64_t, std::uint64_t> map;
  for (std::uint64_t a : present) map.try_emplace(a, a);
  std::size_t i = 0, found = 0;
  for (auto _ : state) {
    const std::uint64_t a = (i & 1) ? present[(i >> 1) % n] : absent[(i >> 1) % n];
    found += map.contains(a);
    ++i;
  }
  benchmark::DoNotOptimize(found);
  std::size_t cells = 0;
  for (std::size_t k = 0; k < n; ++k) cells += map.cells_read(present[k]) + map.cells_read(absent[k]);
  state.counters["cells"] = static_cast<double>(cells) / static_cast<double>(2 * n);
}
BENCHMARK(BM_AccountMapLookup)->ArgNames({"chosen", "accounts"})->ArgsProduct({{0, 1}, {10'000, 100'000}});

}  // namespace

BENCHMARK_MAIN();
