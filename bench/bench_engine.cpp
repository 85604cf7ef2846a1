// One order through start stage, main stage and commit, with order validation
// and a no-op policy: time, heap allocations per order (a replaced operator
// new counts them), and scaling over threads trading distinct accounts.
#include <benchmark/benchmark.h>

#include "allocation_count.hpp"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "vantrel/pretrade/engine.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"


namespace vantrel {
namespace {

// Takes part in the main stage and stages nothing, like a policy with nothing to hold.
class NoopPolicy final : public Policy {
 public:
  std::string_view name() const noexcept override { return "Noop"; }
  std::uint16_t policy_group_id() const noexcept override { return 0; }
  PreTradeCheck perform_pre_trade_check(const PreTradeContext&, const OrderRecord&, Mutations&) const override {
    return {};
  }
};

std::shared_ptr<EngineCore> make_engine(EngineSync sync) {
  EngineState state(sync);
  state.append(std::make_unique<OrderValidationPolicy>());
  state.append(std::make_unique<NoopPolicy>());
  return build_engine(std::move(state)).engine;
}

OrderRecord make_order(std::uint64_t account) {
  OrderRecord order;
  order.operation.emplace();
  order.operation->account_id = AccountId{account};
  order.operation->side = Side::Buy;
  order.operation->trade_amount = TradeAmount::of_quantity(Quantity{Decimal::from_i64(3)});
  order.operation->price = Price{Decimal::from_i64(100)};
  return order;
}

void run_orders(benchmark::State& state, const EngineCore& engine, std::uint64_t account) {
  const std::uint64_t before = vantrel::bench::allocations();
  std::uint64_t orders = 0;
  for (auto _ : state) {
    MainOutcome outcome = engine.execute(make_order(account));
    CoreReservation* reservation = std::get_if<CoreReservation>(&outcome);
    if (reservation == nullptr) state.SkipWithError("order refused");
    else reservation->commit();
    benchmark::DoNotOptimize(outcome);
    ++orders;
  }
  state.counters["allocs_per_order"] =
      benchmark::Counter(static_cast<double>(vantrel::bench::allocations() - before) / static_cast<double>(orders ? orders : 1));
  state.SetItemsProcessed(static_cast<std::int64_t>(orders));
}

void BM_AcceptedOrder(benchmark::State& state) {
  static std::shared_ptr<EngineCore> engines[3] = {make_engine(EngineSync::NoSync), make_engine(EngineSync::FullSync),
                                                   make_engine(EngineSync::AccountSync)};
  run_orders(state, *engines[state.range(0)], 1);
}
BENCHMARK(BM_AcceptedOrder)->ArgName("sync")->Arg(0)->Arg(1)->Arg(2);

// Distinct accounts per thread in full_sync: nothing shared is written per
// order, so throughput should grow with the threads.
void BM_AcceptedOrderThreads(benchmark::State& state) {
  static std::shared_ptr<EngineCore> engine = make_engine(EngineSync::FullSync);
  run_orders(state, *engine, 1000 + static_cast<std::uint64_t>(state.thread_index()));
}
BENCHMARK(BM_AcceptedOrderThreads)->Threads(1)->Threads(8)->UseRealTime();

// The refusal path allocates its reject texts.
void BM_RefusedOrder(benchmark::State& state) {
  static std::shared_ptr<EngineCore> engine = make_engine(EngineSync::FullSync);
  for (auto _ : state) {
    OrderRecord order = make_order(1);
    order.operation->trade_amount = TradeAmount::of_quantity(Quantity{Decimal::from_i64(0)});
    MainOutcome outcome = engine->execute(std::move(order));
    benchmark::DoNotOptimize(outcome);
  }
}
BENCHMARK(BM_RefusedOrder);

// Once any account is blocked, every order's block check takes the map's read lock.
void BM_AcceptedOrderWithBlocksPresent(benchmark::State& state) {
  static std::shared_ptr<EngineCore> engine = [] {
    std::shared_ptr<EngineCore> e = make_engine(EngineSync::FullSync);
    e->blocks().record(AccountId{999}, AccountBlock{"P", "r", "d", 0, RejectCode::Custom});
    return e;
  }();
  run_orders(state, *engine, 1);
}
BENCHMARK(BM_AcceptedOrderWithBlocksPresent);

}  // namespace
}  // namespace vantrel

BENCHMARK_MAIN();
