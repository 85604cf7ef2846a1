// The engine with every built-in policy: an accepted order allocates nothing
// once its account has traded, a size-limit reject allocates its details text
// only, and both say what they said before.
#include <gtest/gtest.h>

#include <memory>
#include <variant>

#include "allocation_probe.hpp"
#include "decimal_test_util.hpp"
#include "vantrel/core/clock.hpp"
#include "vantrel/pretrade/engine.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"
#include "vantrel/pretrade/policies/spot_funds.hpp"

namespace vantrel {
namespace {

using testing::dec;

constexpr std::uint64_t kAccounts = 40;

std::shared_ptr<EngineCore> five_builtins(EngineSync sync) {
  EngineState state(sync);
  const SyncMode mode = engine_lock_mode(sync);
  state.append(std::make_unique<OrderValidationPolicy>());
  OrderSizeLimitConfig size;
  size.broker = OrderSizeLimit{Quantity{dec("1000")}, Volume{dec("100000000")}};
  state.append(std::make_unique<OrderSizeLimitPolicy>(size));
  RateLimitConfig rate;
  PnlKillSwitchConfig pnl;
  pnl.broker_barriers = {{"USD", {dec("-1000000"), std::nullopt}}};
  for (std::uint64_t a = 0; a < kAccounts; ++a) {
    rate.account_barriers.push_back({a, {1'000'000, 1'000'000'000}});
    pnl.account_barriers.push_back({a, "USD", dec("0"), {dec("-1000"), std::nullopt}});
  }
  state.append(std::make_unique<RateLimitPolicy>(rate, monotonic_now(), mode));
  state.append(std::make_unique<SpotFundsPolicy>(0, SpotFundsPricing{}, mode, state.blocks));
  state.append(std::make_unique<PnlBoundsKillSwitchPolicy>(pnl, mode));
  std::shared_ptr<EngineCore> engine = build_engine(std::move(state)).engine;
  for (const char* asset : {"USD", "BTC"}) {
    AccountAdjustmentRecord funds;
    funds.operation = AccountAdjustmentRecord::BalanceOperation{*Asset::from_text(asset), std::nullopt};
    funds.amount = AccountAdjustmentRecord::Amount{
        AdjustmentAmount{AdjustmentAmount::Kind::Delta, PositionSize{dec("1000000000")}}, std::nullopt, std::nullopt};
    for (std::uint64_t a = 0; a < kAccounts; ++a) engine->apply_account_adjustment(AccountId{a}, {&funds, 1});
  }
  return engine;
}

OrderRecord order(std::uint64_t account, Side side, const char* quantity = "0.25") {
  OrderRecord o;
  o.operation.emplace();
  o.operation->instrument = Instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")};
  o.operation->account_id = AccountId{account};
  o.operation->side = side;
  o.operation->trade_amount = TradeAmount::of_quantity(Quantity{dec(quantity)});
  o.operation->price = Price{dec("100")};
  return o;
}

class FiveBuiltins : public ::testing::TestWithParam<EngineSync> {};

TEST_P(FiveBuiltins, AcceptedOrdersAllocateNothing) {
  const std::shared_ptr<EngineCore> engine = five_builtins(GetParam());
  // Warm: every account has traded, and its rate log's ring has grown to the 8 entries this
  // test's window will hold (a ring grows only while the window holds more).
  for (int round = 0; round < 5; ++round)
    for (std::uint64_t a = 0; a < kAccounts; ++a) std::get<CoreReservation>(engine->execute(order(a, Side::Buy))).commit();
  // Orders made beforehand: converting one is the host's cost, not the engine's.
  std::vector<OrderRecord> orders;
  for (int round = 0; round < 3; ++round)
    for (std::uint64_t a = 0; a < kAccounts; ++a) orders.push_back(order(a, round % 2 == 0 ? Side::Sell : Side::Buy));
  const long before = thread_allocations();
  for (OrderRecord& o : orders) {
    MainOutcome out = engine->execute(std::move(o));
    CoreReservation* reservation = std::get_if<CoreReservation>(&out);
    ASSERT_TRUE(reservation);
    ASSERT_EQ(reservation->account_adjustments().size(), 1u);
    reservation->commit();
  }
  EXPECT_EQ(thread_allocations() - before, 0);
  // The funds moved as they always did: 25 USD held for each of account 3's buys, the probe its seventh.
  MainOutcome probe = engine->execute(order(3, Side::Buy));
  const AdjustmentOutcomeRecord& entry = std::get<CoreReservation>(probe).account_adjustments()[0];
  EXPECT_EQ(entry.entry.held->absolute.value.to_string(), "175.00");
}

TEST_P(FiveBuiltins, ASizeLimitRejectAllocatesItsDetailsOnly) {
  const std::shared_ptr<EngineCore> engine = five_builtins(GetParam());
  OrderRecord warm = order(1, Side::Buy, "5000");
  engine->execute(std::move(warm));
  OrderRecord o = order(2, Side::Buy, "5000");
  const long before = thread_allocations();
  MainOutcome out = engine->execute(std::move(o));
  EXPECT_LE(thread_allocations() - before, 1);
  const Rejects* rejects = std::get_if<Rejects>(&out);
  ASSERT_TRUE(rejects);
  ASSERT_EQ(rejects->size(), 1u);
  EXPECT_EQ(rejects->front(), (Reject{"OrderSizeLimitPolicy", "order quantity exceeded", "requested 5000, max allowed: 1000",
                                      0, RejectScope::Order, RejectCode::OrderQtyExceedsLimit}));
}

INSTANTIATE_TEST_SUITE_P(Modes, FiveBuiltins,
                         ::testing::Values(EngineSync::NoSync, EngineSync::FullSync, EngineSync::AccountSync));

}  // namespace
}  // namespace vantrel
