// The funds policy on the order path: a hold of a limit order per locking mode
// (with its commit or undo), a refused hold, the valuation of a market order,
// the engine end to end, and accounts scaling over threads in account_sync.
// Every benchmark reports allocs_per_op, counted per thread.
#include <benchmark/benchmark.h>

#include "allocation_count.hpp"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "vantrel/pretrade/engine.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"
#include "vantrel/pretrade/policies/spot_funds.hpp"

namespace {

using namespace vantrel;

Decimal d(const char* text) { return Decimal::parse(text).value; }

OrderRecord limit_buy(std::uint64_t account, std::optional<Decimal> price) {
  OrderRecord o;
  o.operation.emplace();
  o.operation->instrument = Instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")};
  o.operation->account_id = AccountId{account};
  o.operation->side = Side::Buy;
  o.operation->trade_amount = TradeAmount::of_quantity(Quantity{d("2")});
  if (price) o.operation->price = Price{*price};
  return o;
}

AccountAdjustmentRecord deposit(const char* asset, const char* amount) {
  AccountAdjustmentRecord a;
  a.operation = AccountAdjustmentRecord::BalanceOperation{*Asset::from_text(asset), std::nullopt};
  a.amount = AccountAdjustmentRecord::Amount{
      AdjustmentAmount{AdjustmentAmount::Kind::Delta, PositionSize{d(amount)}}, std::nullopt, std::nullopt};
  return a;
}

EngineSync sync_of(int index) {
  return index == 0 ? EngineSync::NoSync : (index == 1 ? EngineSync::FullSync : EngineSync::AccountSync);
}

// One policy and the registries a stage context borrows.
struct PolicyBench {
  explicit PolicyBench(EngineSync sync, SpotFundsPricing pricing = {})
      : blocks(std::make_shared<AccountBlockRegistry>(engine_lock_mode(sync))),
        groups(engine_lock_mode(sync), group_entry_lock_mode(sync)),
        policy(0, std::move(pricing), engine_lock_mode(sync), blocks) {}

  void fund(std::uint64_t account, const char* asset, const char* amount) {
    Mutations m;
    AccountAdjustmentContext ctx(AccountId{account}, groups, *blocks);
    policy.apply_account_adjustment(ctx, AccountId{account}, deposit(asset, amount), m);
    m.commit();
  }

  std::shared_ptr<AccountBlockRegistry> blocks;
  AccountGroupRegistry groups;
  SpotFundsPolicy policy;
};

// The slot work alone: a hold and its undo on an existing slot.
void BM_SlotHoldAndRelease(benchmark::State& state) {
  HoldingsState holdings(engine_lock_mode(sync_of(static_cast<int>(state.range(0)))));
  const HoldingsKey key{AccountId{1}, holdings.assets().intern("USD")};
  holdings.change(key, [](const Holdings&, Holdings& next) {
    next.available = d("1000000000");
    return true;
  });
  const LedgerAmount amount = d("20");
  for (auto _ : state) {
    HoldStep step;
    holdings.change(HoldingsKey{key.account, holdings.assets().find("USD")}, [&](const Holdings& old, Holdings& next) {
      step = hold_step(old, amount);
      next = step.after;
      return step.verdict == HoldVerdict::Held;
    });
    holdings.change(key, [&](const Holdings& old, Holdings& next) {
      const std::optional<Holdings> released = release_step(old, step.moved);
      if (released) next = *released;
      return released.has_value();
    });
  }
}
BENCHMARK(BM_SlotHoldAndRelease)->ArgName("sync")->Arg(0)->Arg(1)->Arg(2);

// Hold, then undo: the order path of a refused request or a rollback.
void BM_HoldLimitOrderThenRollback(benchmark::State& state) {
  PolicyBench b(sync_of(static_cast<int>(state.range(0))));
  b.fund(1, "USD", "1000000000000000");
  const OrderRecord order = limit_buy(1, d("10"));
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    PreTradeContext ctx(AccountId{1}, b.groups, *b.blocks);
    Mutations m;
    PreTradeCheck check = b.policy.perform_pre_trade_check(ctx, order, m);
    benchmark::DoNotOptimize(check);
    m.rollback();
  }
  state.counters["allocs_per_op"] =
      benchmark::Counter(static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_HoldLimitOrderThenRollback)->ArgName("sync")->Arg(0)->Arg(1)->Arg(2);

// Hold, then commit: the order path of an order that goes out.
void BM_HoldLimitOrderThenCommit(benchmark::State& state) {
  PolicyBench b(sync_of(static_cast<int>(state.range(0))));
  b.fund(1, "USD", "1000000000000000");
  const OrderRecord order = limit_buy(1, d("10"));
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    PreTradeContext ctx(AccountId{1}, b.groups, *b.blocks);
    Mutations m;
    PreTradeCheck check = b.policy.perform_pre_trade_check(ctx, order, m);
    benchmark::DoNotOptimize(check);
    m.commit();
  }
  state.counters["allocs_per_op"] =
      benchmark::Counter(static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_HoldLimitOrderThenCommit)->ArgName("sync")->Arg(0)->Arg(1)->Arg(2);

// An account without funds: refused on the missed lookup, no write lock (the
// reject's texts are most of the cost).
void BM_RefusedHold(benchmark::State& state) {
  PolicyBench b(EngineSync::FullSync);
  b.fund(2, "USD", "1");
  const OrderRecord order = limit_buy(1, d("10"));
  for (auto _ : state) {
    PreTradeContext ctx(AccountId{1}, b.groups, *b.blocks);
    Mutations m;
    PreTradeCheck check = b.policy.perform_pre_trade_check(ctx, order, m);
    benchmark::DoNotOptimize(check);
  }
  state.counters["write_locks"] = static_cast<double>(b.policy.holdings().write_locks_taken());
}
BENCHMARK(BM_RefusedHold);

// A market order's price: instrument id, quote, staleness limit, slippage.
void BM_ValueMarketOrder(benchmark::State& state) {
  const bool synced = state.range(0) != 0;
  auto md = std::make_shared<MarketDataService>(QuoteTtl::within(Duration{5, 0}),
                                                synced ? SyncMode::Full : SyncMode::None);
  const Instrument instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")};
  const InstrumentId id = *md->register_instrument(instrument, std::nullopt);
  md->push(id, Quote{Price{d("100")}, std::nullopt, std::nullopt}, PushMode::Replace);
  auto configured = SpotFundsPricing::configure(synced ? SyncMode::Full : SyncMode::None, md, 25, std::nullopt, {});
  const SpotFundsPricing& pricing = std::get<SpotFundsPricing>(configured);
  auto no_group = []() -> std::optional<AccountGroupId> { return std::nullopt; };
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    Valuation v = pricing.value(instrument, AccountId{1}, Side::Buy, no_group);
    benchmark::DoNotOptimize(v);
  }
  state.counters["allocs_per_op"] =
      benchmark::Counter(static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ValueMarketOrder)->ArgName("synced")->Arg(0)->Arg(1);

// The engine end to end (validation and funds): execute, then commit.
void BM_EngineExecuteCommit(benchmark::State& state) {
  EngineState s(sync_of(static_cast<int>(state.range(0))));
  const SyncMode mode = engine_lock_mode(s.sync);
  s.append(std::make_unique<OrderValidationPolicy>());
  s.append(std::make_unique<SpotFundsPolicy>(0, SpotFundsPricing{}, mode, s.blocks));
  std::shared_ptr<EngineCore> engine = build_engine(std::move(s)).engine;
  const AccountAdjustmentRecord funds = deposit("USD", "1000000000000000");
  engine->apply_account_adjustment(AccountId{1}, std::span<const AccountAdjustmentRecord>(&funds, 1));
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    MainOutcome out = engine->execute(limit_buy(1, d("10")));
    std::get<CoreReservation>(out).commit();
  }
  state.counters["allocs_per_op"] =
      benchmark::Counter(static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EngineExecuteCommit)->ArgName("sync")->Arg(0)->Arg(1)->Arg(2);

// account_sync, one account per thread: throughput should grow with threads.
std::shared_ptr<EngineCore> g_shared_engine;

void BM_AccountSyncThreads(benchmark::State& state) {
  if (state.thread_index() == 0) {
    EngineState s(EngineSync::AccountSync);
    s.append(std::make_unique<SpotFundsPolicy>(0, SpotFundsPricing{}, engine_lock_mode(s.sync), s.blocks));
    g_shared_engine = build_engine(std::move(s)).engine;
    const AccountAdjustmentRecord funds = deposit("USD", "1000000000000000");
    for (std::uint64_t a = 1; a <= 64; ++a)
      g_shared_engine->apply_account_adjustment(AccountId{a}, std::span<const AccountAdjustmentRecord>(&funds, 1));
  }
  // The harness starts every thread's timed loop only once all are set up.
  const std::uint64_t account = static_cast<std::uint64_t>(state.thread_index()) + 1;
  for (auto _ : state) {
    MainOutcome out = g_shared_engine->execute(limit_buy(account, d("10")));
    std::get<CoreReservation>(out).rollback();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AccountSyncThreads)->Threads(1)->Threads(2)->Threads(4)->Threads(8)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
