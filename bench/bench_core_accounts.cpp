// The engine core with every built-in policy (order validation, size limit,
// rate limit, spot funds, P&L kill switch) over 10^2 .. 10^6 funded accounts,
// two assets each: accepted orders (execute + commit, buy and sell in turn,
// accounts in turn), size-limit rejects, allocations per order, 1 and 8
// threads on distinct accounts in each locking mode, and the heap and
// resident memory each account costs. Then the valuation of a market order
// over 10^2 .. 10^5 registered quotes, with the memory each quote costs.
//
// Compare sizes within one run: "ns per order at 10^4 / at 10^2" is the
// figure to watch, not the absolute time on a shared machine.
#include <benchmark/benchmark.h>

#include "allocation_count.hpp"

#include <malloc.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "vantrel/core/clock.hpp"
#include "vantrel/core/flat_table.hpp"
#include "vantrel/marketdata/service.hpp"
#include "vantrel/pretrade/engine.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"
#include "vantrel/pretrade/policies/spot_funds.hpp"

namespace {

using namespace vantrel;

Decimal d(const char* text) { return Decimal::parse(text).value; }

// Bytes the allocator has handed out and not taken back, large blocks (mapped on their own)
// included, and the tables' arrays mapped apart from it.
std::size_t heap_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd + mapped_table_bytes();
}

std::size_t resident_bytes() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return static_cast<std::size_t>(resident) * 4096;
}

EngineSync sync_of(std::int64_t index) {
  return index == 0 ? EngineSync::NoSync : (index == 1 ? EngineSync::FullSync : EngineSync::AccountSync);
}
const char* sync_name(EngineSync s) {
  return s == EngineSync::NoSync ? "no_sync" : (s == EngineSync::FullSync ? "full_sync" : "account_sync");
}

AccountAdjustmentRecord deposit(const char* asset, const char* amount) {
  AccountAdjustmentRecord a;
  a.operation = AccountAdjustmentRecord::BalanceOperation{*Asset::from_text(asset), std::nullopt};
  a.amount = AccountAdjustmentRecord::Amount{
      AdjustmentAmount{AdjustmentAmount::Kind::Delta, PositionSize{d(amount)}}, std::nullopt, std::nullopt};
  return a;
}

// Five built-ins: a broker size limit; a broker rate barrier and one per
// account (high enough to pass); funds in BTC and USD per account; a P&L
// barrier per account and a broker one.
std::shared_ptr<EngineCore> make_engine(EngineSync sync, std::uint64_t accounts) {
  EngineState state(sync);
  const SyncMode mode = engine_lock_mode(sync);
  state.append(std::make_unique<OrderValidationPolicy>());
  {
    OrderSizeLimitConfig c;
    c.broker = OrderSizeLimit{Quantity{d("1000")}, Volume{d("100000000")}};
    state.append(std::make_unique<OrderSizeLimitPolicy>(c));
  }
  {
    RateLimitConfig c;
    c.broker = RateBarrier{UINT64_MAX, 1'000'000'000};
    c.account_barriers.reserve(accounts);
    for (std::uint64_t a = 0; a < accounts; ++a) c.account_barriers.push_back({a, {1'000'000, 1'000'000}});
    state.append(std::make_unique<RateLimitPolicy>(c, monotonic_now(), mode));
  }
  state.append(std::make_unique<SpotFundsPolicy>(0, SpotFundsPricing{}, mode, state.blocks));
  {
    PnlKillSwitchConfig c;
    c.broker_barriers = {{"USD", {d("-1000000000"), std::nullopt}}};
    c.account_barriers.reserve(accounts);
    for (std::uint64_t a = 0; a < accounts; ++a) c.account_barriers.push_back({a, "USD", d("0"), {d("-1000"), std::nullopt}});
    state.append(std::make_unique<PnlBoundsKillSwitchPolicy>(c, mode));
  }
  std::shared_ptr<EngineCore> engine = build_engine(std::move(state)).engine;
  const AccountAdjustmentRecord funds[2] = {deposit("USD", "1000000000000000"), deposit("BTC", "1000000000000000")};
  for (std::uint64_t a = 0; a < accounts; ++a) engine->apply_account_adjustment(AccountId{a}, funds);
  return engine;
}

OrderRecord order_prototype(bool buy, const char* quantity) {
  OrderRecord o;
  o.operation.emplace();
  o.operation->instrument = Instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")};
  o.operation->account_id = AccountId{0};
  o.operation->side = buy ? Side::Buy : Side::Sell;
  o.operation->trade_amount = TradeAmount::of_quantity(Quantity{d(quantity)});
  o.operation->price = Price{d("10002.00")};
  return o;
}

// A copy of a prototype, as a conversion from the host would make it.
OrderRecord make_order(std::uint64_t account, bool buy, bool oversized = false) {
  static const OrderRecord prototypes[3] = {order_prototype(false, "0.25"), order_prototype(true, "0.25"),
                                            order_prototype(true, "5000")};
  OrderRecord o;
  o.operation = prototypes[oversized ? 2 : (buy ? 1 : 0)].operation;
  o.operation->account_id = AccountId{account};
  return o;
}

// One engine at a time: 10^6 accounts take a good part of a gigabyte.
struct Built {
  EngineSync sync{};
  std::uint64_t accounts = 0;
  std::shared_ptr<EngineCore> engine;
  double heap_per_account = 0;
  double resident_per_account = 0;
};
Built g_built;

EngineCore& engine_for(EngineSync sync, std::uint64_t accounts, benchmark::State& state) {
  if (!g_built.engine || g_built.sync != sync || g_built.accounts != accounts) {
    g_built.engine.reset();
    malloc_trim(0);
    const std::size_t heap0 = heap_in_use(), rss0 = resident_bytes();
    g_built = {sync, accounts, make_engine(sync, accounts)};
    // Every account traded once: rate logs and the like exist from here on.
    for (std::uint64_t a = 0; a < accounts; ++a) {
      MainOutcome out = g_built.engine->execute(make_order(a, a % 2 == 0));
      if (auto* r = std::get_if<CoreReservation>(&out)) r->commit();
    }
    malloc_trim(0);  // what configuration needed only while building goes back
    g_built.heap_per_account = static_cast<double>(heap_in_use() - heap0) / static_cast<double>(accounts);
    g_built.resident_per_account = static_cast<double>(resident_bytes() - rss0) / static_cast<double>(accounts);
    std::fprintf(stderr, "memory per account, %s, %llu accounts: heap %.0f B, resident %.0f B\n", sync_name(sync),
                 static_cast<unsigned long long>(accounts), g_built.heap_per_account, g_built.resident_per_account);
  }
  if (state.thread_index() == 0) {
    state.counters["heap_B_per_account"] = g_built.heap_per_account;
    state.counters["rss_B_per_account"] = g_built.resident_per_account;
  }
  return *g_built.engine;
}

// Orders walk the thread's accounts: thread t of n trades accounts t, t+n, t+2n, ...
void run_accepted(benchmark::State& state, EngineCore& engine, std::uint64_t accounts) {
  const std::uint64_t step = static_cast<std::uint64_t>(state.threads());
  std::uint64_t account = static_cast<std::uint64_t>(state.thread_index());
  bool buy = true;
  std::uint64_t refused = 0;
  const std::uint64_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    MainOutcome out = engine.execute(make_order(account, buy));
    if (auto* r = std::get_if<CoreReservation>(&out)) r->commit();
    else ++refused;
    benchmark::DoNotOptimize(out);
    account += step;
    if (account >= accounts) {
      account = static_cast<std::uint64_t>(state.thread_index());
      buy = !buy;
    }
  }
  vantrel::bench::report_allocations(state, before);
  state.counters["refused"] = static_cast<double>(refused);
  state.SetItemsProcessed(state.iterations());
}

// Accepted orders, one thread, over the account count; arg 0 the locking mode.
void BM_FiveBuiltinsAccepted(benchmark::State& state) {
  const auto accounts = static_cast<std::uint64_t>(state.range(1));
  run_accepted(state, engine_for(sync_of(state.range(0)), accounts, state), accounts);
}
BENCHMARK(BM_FiveBuiltinsAccepted)
    ->ArgNames({"sync", "accounts"})
    ->ArgsProduct({{0, 1, 2}, {100, 1000, 10000, 100000, 1000000}});

// An order over the size limit: refused in the start stage, every start check run.
void BM_FiveBuiltinsSizeReject(benchmark::State& state) {
  const std::uint64_t accounts = 10000;
  EngineCore& engine = engine_for(sync_of(state.range(0)), accounts, state);
  std::uint64_t account = 0, accepted = 0;
  const std::uint64_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    MainOutcome out = engine.execute(make_order(account, true, true));
    accepted += out.index() == 1;
    benchmark::DoNotOptimize(out);
    if (++account == accounts) account = 0;
  }
  vantrel::bench::report_allocations(state, before);
  state.counters["accepted"] = static_cast<double>(accepted);
}
BENCHMARK(BM_FiveBuiltinsSizeReject)->ArgName("sync")->Arg(0)->Arg(1)->Arg(2);

// 1 and 8 threads on distinct accounts; compare items_per_second. no_sync is
// the machine's own ceiling here (distinct accounts, slots made beforehand).
void BM_FiveBuiltinsThreads(benchmark::State& state) {
  const std::uint64_t accounts = 10000;
  static EngineCore* shared = nullptr;
  if (state.thread_index() == 0) shared = &engine_for(sync_of(state.range(0)), accounts, state);
  // The harness's own barrier runs before the first iteration.
  EngineCore* engine = nullptr;
  const std::uint64_t step = static_cast<std::uint64_t>(state.threads());
  std::uint64_t account = static_cast<std::uint64_t>(state.thread_index());
  bool buy = true;
  for (auto _ : state) {
    if (engine == nullptr) engine = shared;
    MainOutcome out = engine->execute(make_order(account, buy));
    if (auto* r = std::get_if<CoreReservation>(&out)) r->commit();
    account += step;
    if (account >= accounts) {
      account = static_cast<std::uint64_t>(state.thread_index());
      buy = !buy;
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FiveBuiltinsThreads)->ArgName("sync")->Arg(0)->Arg(1)->Arg(2)->Threads(1)->Threads(8)->UseRealTime();

// ---- market-order valuation over many registered quotes

std::string underlying(std::uint64_t i) {
  std::string name = "A";
  name += std::to_string(i);
  return name;
}

struct Quotes {
  std::shared_ptr<MarketDataService> service;
  std::vector<Instrument> instruments;
  std::uint64_t count = 0;
  double heap_per_quote = 0;
};
Quotes g_quotes;

Quotes& quotes_for(std::uint64_t count) {
  if (g_quotes.count == count) return g_quotes;
  g_quotes = Quotes{};
  malloc_trim(0);
  std::vector<Instrument> instruments;
  instruments.reserve(count);
  for (std::uint64_t i = 0; i < count; ++i)
    instruments.push_back(Instrument{*Asset::from_text(underlying(i)), *Asset::from_text("USD")});
  const std::size_t heap0 = heap_in_use();
  auto service = std::make_shared<MarketDataService>(QuoteTtl::within({3600, 0}), SyncMode::Full);
  for (std::uint64_t i = 0; i < count; ++i) {
    const InstrumentId id = *service->register_instrument(instruments[i], std::nullopt);
    service->push(id, Quote{Price{d("100.25")}, Price{d("100.00")}, Price{d("100.50")}}, PushMode::Replace);
  }
  const double per_quote = static_cast<double>(heap_in_use() - heap0) / static_cast<double>(count);
  std::fprintf(stderr, "memory per registered quote, %llu quotes: heap %.0f B\n",
               static_cast<unsigned long long>(count), per_quote);
  g_quotes = Quotes{std::move(service), std::move(instruments), count, per_quote};
  return g_quotes;
}

// The price of a market buy: instrument id, quote, staleness, slippage; the
// instruments are visited in a scattered order, as orders arrive.
void BM_ValueMarketOrderOverQuotes(benchmark::State& state) {
  const auto count = static_cast<std::uint64_t>(state.range(0));
  Quotes& q = quotes_for(count);
  auto configured = SpotFundsPricing::configure(SyncMode::Full, q.service, 25, std::nullopt, {});
  const SpotFundsPricing& pricing = std::get<SpotFundsPricing>(configured);
  auto no_group = []() -> std::optional<AccountGroupId> { return std::nullopt; };
  constexpr std::uint64_t kStep = 0x9E3779B97F4A7C15ull;
  std::uint64_t i = 0;
  const std::uint64_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    i += kStep;
    // The order's own instrument is in cache, as a freshly converted order's is: fetched ahead.
    __builtin_prefetch(&q.instruments[(i + 8 * kStep) % count]);
    const Valuation v = pricing.value(q.instruments[i % count], AccountId{1}, Side::Buy, no_group);
    benchmark::DoNotOptimize(v);
  }
  vantrel::bench::report_allocations(state, before);
  state.counters["heap_B_per_quote"] = q.heap_per_quote;
}
BENCHMARK(BM_ValueMarketOrderOverQuotes)->ArgName("quotes")->Arg(100)->Arg(1000)->Arg(10000)->Arg(100000);

}  // namespace

BENCHMARK_MAIN();
