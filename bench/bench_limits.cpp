// The limit policies' start checks, one thread, warm, 1k accounts. Every benchmark reports
// allocs_per_op: accepted orders must not
// touch the heap once warm.

#include <benchmark/benchmark.h>

#include "allocation_count.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "vantrel/core/clock.hpp"
#include "vantrel/pretrade/engine.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"


namespace {

using namespace vantrel;

constexpr std::uint64_t kAccounts = 1000;
constexpr std::uint64_t kSecond = 1'000'000'000;

Decimal d(const char* text) { return Decimal::parse(text).value; }

// One order record, as a start stage holds it (freshly converted, in cache); only its account
// changes from order to order, walking the 1k accounts.
OrderRecord order(bool volume) {
  OrderRecord o;
  OrderRecord::Operation op;
  op.instrument = Instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")};
  op.account_id = AccountId{0};
  op.trade_amount = volume ? TradeAmount::of_volume(Volume{d("2500.50")}) : TradeAmount::of_quantity(Quantity{d("0.25")});
  op.price = Price{d("10002.00")};
  o.operation = std::move(op);
  return o;
}

void report_allocs(benchmark::State& state, std::size_t before) {
  state.counters["allocs_per_op"] = benchmark::Counter(static_cast<double>(vantrel::bench::allocations() - before),
                                                       benchmark::Counter::kAvgIterations);
}

// Runs check(order i) for the 1k accounts in turn, publishing an instant that advances 1µs per
// order, as the start stage would.
template <class Check>
void run(benchmark::State& state, OrderRecord o, Check check) {
  std::uint64_t& account = o.operation->account_id->value;
  for (account = 0; account < kAccounts; ++account) check(o);  // warm: rings and cells exist
  std::uint64_t ns = 10 * kSecond;
  account = 0;
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    ns += 1000;
    CurrentInstantScope now(Instant{ns / kSecond, static_cast<std::uint32_t>(ns % kSecond)});
    auto r = check(o);
    benchmark::DoNotOptimize(r);
    if (++account == kAccounts) account = 0;
  }
  report_allocs(state, before);
}

OrderSizeLimitConfig size_config() {
  OrderSizeLimitConfig c;
  c.broker = OrderSizeLimit{Quantity{d("1000")}, Volume{d("10000000")}};
  c.asset_barriers = {{{Quantity{d("100")}, Volume{d("1000000")}}, "USD"}};
  for (std::uint64_t a = 0; a < kAccounts; a += 2)
    c.account_asset_barriers.push_back({{Quantity{d("10")}, Volume{d("100000")}}, a, "USD"});
  return c;
}
OrderSizeLimitPolicy size_policy() { return OrderSizeLimitPolicy(size_config()); }

void BM_SizeLimitQuantity(benchmark::State& s) {
  const OrderSizeLimitPolicy p = size_policy();
  run(s, order(false), [&](const OrderRecord& o) { return p.check_start(o); });
}
void BM_SizeLimitVolume(benchmark::State& s) {
  const OrderSizeLimitPolicy p = size_policy();
  run(s, order(true), [&](const OrderRecord& o) { return p.check_start(o); });
}
void BM_SizeLimitBrokerOnly(benchmark::State& s) {
  OrderSizeLimitConfig c;
  c.broker = OrderSizeLimit{Quantity{d("1000")}, Volume{d("10000000")}};
  const OrderSizeLimitPolicy p(c);
  run(s, order(false), [&](const OrderRecord& o) { return p.check_start(o); });
}


void BM_RateBrokerWindow(benchmark::State& s) {
  RateLimitConfig c;
  c.broker = RateBarrier{UINT64_MAX, kSecond};
  const RateLimitPolicy p(c, Instant{0, 0}, SyncMode::Full);
  run(s, order(false), [&](const OrderRecord& o) { return p.check_start(o); });
}
void BM_RateAccountLog(benchmark::State& s) {
  RateLimitConfig c;
  for (std::uint64_t a = 0; a < kAccounts; ++a) c.account_barriers.push_back({a, {100, 5'000'000}});
  const RateLimitPolicy p(c, Instant{0, 0}, static_cast<SyncMode>(s.range(0)));
  run(s, order(false), [&](const OrderRecord& o) { return p.check_start(o); });
}
void BM_RateAllBarriers(benchmark::State& s) {
  RateLimitConfig c;
  c.broker = RateBarrier{UINT64_MAX, kSecond};
  c.asset_barriers = {{"USD", {UINT64_MAX, kSecond}}};
  for (std::uint64_t a = 0; a < kAccounts; ++a) {
    c.account_barriers.push_back({a, {100, 5'000'000}});
    c.account_asset_barriers.push_back({a, "USD", {100, 5'000'000}});
  }
  const RateLimitPolicy p(c, Instant{0, 0}, SyncMode::Full);
  run(s, order(false), [&](const OrderRecord& o) { return p.check_start(o); });
}

PnlKillSwitchConfig pnl_config(bool covered) {
  PnlKillSwitchConfig c;
  c.broker_barriers = {{covered ? "USD" : "EUR", {d("-1000"), std::nullopt}}};
  for (std::uint64_t a = 0; a < kAccounts; a += 2)
    c.account_barriers.push_back({a, covered ? "USD" : "EUR", d("0"), {d("-100"), d("100")}});
  return c;
}
void BM_KillSwitchStartCovered(benchmark::State& s) {
  const PnlBoundsKillSwitchPolicy p(pnl_config(true), SyncMode::Full);
  run(s, order(false), [&](const OrderRecord& o) { return p.check_start(o); });
}
void BM_KillSwitchStartUncovered(benchmark::State& s) {
  const PnlBoundsKillSwitchPolicy p(pnl_config(false), SyncMode::Full);
  run(s, order(false), [&](const OrderRecord& o) { return p.check_start(o); });
}
void BM_KillSwitchReport(benchmark::State& s) {
  const PnlBoundsKillSwitchPolicy p(pnl_config(true), SyncMode::Full);
  std::vector<ExecutionReportRecord> reports;
  for (std::uint64_t a = 0; a < kAccounts; ++a) {
    ExecutionReportRecord r;
    ExecutionReportRecord::Operation op;
    op.instrument = Instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")};
    op.account_id = AccountId{a};
    r.operation = std::move(op);
    r.financial_impact = ExecutionReportRecord::FinancialImpact{Pnl{d("0.00")}, Fee{d("0.00")}};
    reports.push_back(std::move(r));
  }
  for (const auto& r : reports) p.apply_report(r);
  std::size_t i = 0;
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : s) {
    auto b = p.apply_report(reports[i]);
    benchmark::DoNotOptimize(b);
    if (++i == reports.size()) i = 0;
  }
  report_allocs(s, before);
}

// The three policies in a row, as the start stage runs them.
void BM_AllThreeStartChecks(benchmark::State& s) {
  const OrderSizeLimitPolicy size = size_policy();
  RateLimitConfig c;
  c.broker = RateBarrier{UINT64_MAX, kSecond};
  for (std::uint64_t a = 0; a < kAccounts; ++a) c.account_barriers.push_back({a, {100, 5'000'000}});
  const RateLimitPolicy rate(c, Instant{0, 0}, SyncMode::Full);
  const PnlBoundsKillSwitchPolicy pnl(pnl_config(true), SyncMode::Full);
  run(s, order(false), [&](const OrderRecord& o) {
    auto a = size.check_start(o);
    auto b = rate.check_start(o);
    auto c2 = pnl.check_start(o);
    return a.has_value() || b.has_value() || c2.has_value();
  });
}

// The engine's start stage with order validation and the three limit policies; the order is
// converted afresh each time, as the bindings do.
void BM_EngineStartWithLimits(benchmark::State& s) {
  EngineState state(EngineSync::FullSync);
  state.append(std::make_unique<OrderValidationPolicy>());
  state.append(std::make_unique<OrderSizeLimitPolicy>(size_config()));
  RateLimitConfig c;
  c.broker = RateBarrier{UINT64_MAX, kSecond};
  for (std::uint64_t a = 0; a < kAccounts; ++a) c.account_barriers.push_back({a, {1'000'000, kSecond / 1000}});
  state.append(std::make_unique<RateLimitPolicy>(c, monotonic_now(), SyncMode::Full));
  state.append(std::make_unique<PnlBoundsKillSwitchPolicy>(pnl_config(true), SyncMode::Full));
  const std::shared_ptr<EngineCore> engine = build_engine(std::move(state)).engine;
  const Instrument instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")};
  std::uint64_t account = 0;
  const Quantity quantity{d("0.25")};
  const Price price{d("10002.00")};
  auto make = [&] {
    OrderRecord o;
    OrderRecord::Operation op;
    op.instrument = instrument;
    op.account_id = AccountId{account};
    op.trade_amount = TradeAmount::of_quantity(quantity);
    op.price = price;
    o.operation = std::move(op);
    if (++account == kAccounts) account = 0;
    return o;
  };
  for (std::uint64_t i = 0; i < 2 * kAccounts; ++i) engine->start(make());
  std::size_t refused = 0;
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : s) {
    auto outcome = engine->start(make());
    refused += outcome.index() == 0;
    benchmark::DoNotOptimize(outcome);
  }
  report_allocs(s, before);
  s.counters["refused"] = static_cast<double>(refused);
}

// The harness alone (instant publication, order walk): subtract it from the figures above.
void BM_Baseline(benchmark::State& s) {
  run(s, order(false), [](const OrderRecord& o) { return o.operation->account_id->value; });
}

void BM_ClockRead(benchmark::State& s) {
  for (auto _ : s) benchmark::DoNotOptimize(monotonic_now());
}

}  // namespace

BENCHMARK(BM_SizeLimitQuantity);
BENCHMARK(BM_SizeLimitVolume);
BENCHMARK(BM_SizeLimitBrokerOnly);
BENCHMARK(BM_RateBrokerWindow);
BENCHMARK(BM_RateAccountLog)->Arg(static_cast<int>(SyncMode::None))->Arg(static_cast<int>(SyncMode::Full))->Arg(static_cast<int>(SyncMode::Account));
BENCHMARK(BM_RateAllBarriers);
BENCHMARK(BM_KillSwitchStartCovered);
BENCHMARK(BM_KillSwitchStartUncovered);
BENCHMARK(BM_KillSwitchReport);
BENCHMARK(BM_AllThreeStartChecks);
BENCHMARK(BM_EngineStartWithLimits);
BENCHMARK(BM_Baseline);
BENCHMARK(BM_ClockRead);
BENCHMARK_MAIN();
