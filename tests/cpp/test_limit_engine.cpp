// The limit policies inside an engine: what their account-scope rejects and blocks leave behind.

#include <gtest/gtest.h>

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <variant>

#include "limit_policy_util.hpp"
#include "vantrel/pretrade/engine.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"

namespace vantrel {
namespace {

using namespace limit_test;

constexpr std::uint64_t kSecond = 1'000'000'000;

std::atomic<std::uint64_t> g_now_ns{0};
Instant fake_now() noexcept {
  const std::uint64_t ns = g_now_ns.load();
  return {ns / kSecond, static_cast<std::uint32_t>(ns % kSecond)};
}

// The engine's clock, replaced for the test's life.
class LimitTestClock {
 public:
  explicit LimitTestClock(std::uint64_t start_ns) {
    g_now_ns = start_ns;
    set_test_clock(&fake_now);
  }
  ~LimitTestClock() { set_test_clock(nullptr); }
  void advance(std::uint64_t ns) { g_now_ns += ns; }
};

std::shared_ptr<EngineCore> engine_of(std::unique_ptr<Policy> policy, EngineSync sync = EngineSync::FullSync) {
  EngineState state(sync);
  state.append(std::move(policy));
  return build_engine(std::move(state)).engine;
}

const Reject* refused(const std::variant<Rejects, StartedOrder>& outcome) {
  const Rejects* r = std::get_if<Rejects>(&outcome);
  return r == nullptr ? nullptr : &r->front();
}

TEST(LimitEngine, AccountRateBarrierBlocksForGood) {
  LimitTestClock clock(50 * kSecond);
  RateLimitConfig config;
  config.account_barriers = {{7, {1, kSecond}}};
  auto engine = engine_of(std::make_unique<RateLimitPolicy>(config, fake_now(), SyncMode::Full));
  EXPECT_FALSE(refused(engine->start(order_for(7))));
  const auto outcome = engine->start(order_for(7));
  const Reject* first = refused(outcome);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->code, RejectCode::RateLimitExceeded);
  // Windows later, the stored copy refuses the account: a trip wire, not a throttle.
  clock.advance(10 * kSecond);
  for (int i = 0; i < 3; ++i) {
    const auto outcome = engine->start(order_for(7));
    const Reject* r = refused(outcome);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, (Reject{"RateLimitPolicy", "rate limit exceeded: account barrier",
                          "submitted 2 orders in 1s window, max allowed: 1", 0, RejectScope::Account,
                          RejectCode::AccountBlocked}));
  }
  EXPECT_FALSE(refused(engine->start(order_for(8))));
}

TEST(LimitEngine, BrokerRateRejectBlocksNothing) {
  LimitTestClock clock(kSecond);
  RateLimitConfig config;
  config.broker = RateBarrier{1, kSecond};
  config.account_barriers = {{7, {1, 10 * kSecond}}};
  auto engine = engine_of(std::make_unique<RateLimitPolicy>(config, fake_now(), SyncMode::Account),
                          EngineSync::AccountSync);
  EXPECT_FALSE(refused(engine->start(order_for(7))));
  // Both barriers exceeded: only the broker's reject, scope order, so nothing is blocked.
  const auto outcome = engine->start(order_for(7));
  ASSERT_TRUE(refused(outcome));
  EXPECT_EQ(refused(outcome)->reason, "rate limit exceeded: broker barrier");
  EXPECT_EQ(std::get<Rejects>(outcome).size(), 1u);
  EXPECT_FALSE(engine->blocks().any_block());
  // The account log still counted it: in the next broker window the account barrier trips.
  clock.advance(kSecond);
  const auto later = engine->start(order_for(7));
  ASSERT_TRUE(refused(later));
  EXPECT_EQ(refused(later)->details, "submitted 3 orders in 10s window, max allowed: 1");
}

TEST(LimitEngine, SizeLimitAccountBreachBlocks) {
  OrderSizeLimitConfig config;
  config.account_asset_barriers = {{{Quantity{dec("1")}, Volume{dec("100")}}, 7, "USD"}};
  auto engine = engine_of(std::make_unique<OrderSizeLimitPolicy>(config));
  OrderSpec big{7, "USD", TradeAmount::of_quantity(Quantity{dec("2")}), dec("1")};
  ASSERT_TRUE(refused(engine->start(order(big))));
  const auto outcome = engine->start(order_for(7));
  ASSERT_TRUE(refused(outcome));
  EXPECT_EQ(refused(outcome)->reason, "order quantity exceeded");
  EXPECT_EQ(refused(outcome)->code, RejectCode::AccountBlocked);
}

TEST(LimitEngine, KillSwitchBlocksKeepTheirCodes) {
  PnlKillSwitchConfig config;
  config.broker_barriers = {{"USD", {dec("-100"), std::nullopt}}};
  config.account_barriers = {{9, "USD", dec("-150"), {dec("-100"), std::nullopt}}};
  auto engine = engine_of(std::make_unique<PnlBoundsKillSwitchPolicy>(config, SyncMode::Full));

  // A breach found by a report keeps the kill-switch code.
  engine->apply_execution_report(report(7, "USD", "-60.00", "10"));
  EXPECT_FALSE(engine->blocks().any_block());
  const PostTradeOutcome breach = engine->apply_execution_report(report(7, "USD", "-60.00", "10"));
  ASSERT_EQ(breach.account_blocks.size(), 1u);
  std::optional<AccountBlock> stored = engine->blocks().block_of(AccountId{7});
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->code, RejectCode::PnlKillSwitchTriggered);
  EXPECT_EQ(stored->details, "realized pnl -140.00, settlement asset USD, account 7");

  // One found by the start check (the broker barrier sees account 9's initial P&L) is stored
  // as AccountBlocked.
  ASSERT_TRUE(refused(engine->start(order_for(9))));
  stored = engine->blocks().block_of(AccountId{9});
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->code, RejectCode::AccountBlocked);
  EXPECT_EQ(stored->reason, "pnl kill switch triggered: broker barrier");
}

TEST(LimitEngine, KillSwitchReportWithoutAccountRefusesEveryAccount) {
  auto engine = engine_of(std::make_unique<PnlBoundsKillSwitchPolicy>(
      PnlKillSwitchConfig{0, {{"USD", {dec("-1"), std::nullopt}}}, {}}, SyncMode::Full));
  const PostTradeOutcome outcome = engine->apply_execution_report(report(std::nullopt, "EUR", "1"));
  ASSERT_EQ(outcome.account_blocks.size(), 1u);
  EXPECT_EQ(outcome.account_blocks[0].reason, "failed to access required field 'account ID'");
  const auto start = engine->start(order_for(3, "EUR"));
  ASSERT_TRUE(refused(start));
  EXPECT_EQ(refused(start)->reason, "account is blocked due to kill-switch");
}

// A financial-impact-less report blocks even where no barrier applies.
TEST(LimitEngine, KillSwitchReportWithoutPnlBlocksWithPnlField) {
  auto engine = engine_of(std::make_unique<PnlBoundsKillSwitchPolicy>(
      PnlKillSwitchConfig{0, {{"USD", {dec("-1"), std::nullopt}}}, {}}, SyncMode::None), EngineSync::NoSync);
  engine->apply_execution_report(report(5, "JPY", std::nullopt));
  const std::optional<AccountBlock> stored = engine->blocks().block_of(AccountId{5});
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->reason, "failed to access required field 'P&L'");
}

// An order's settlement name is hashed once: the first limit policy that looks it up keeps the
// hash in the stage's context, and the others take it from there. A context keeping a hash no
// limit hasher gives the name makes each policy miss the asset barrier it finds otherwise. A
// context handed another record's name hashes that one anew.
TEST(LimitEngine, EveryLimitPolicyTakesTheNameHashTheStageKept) {
  auto groups = std::make_shared<AccountGroupRegistry>(SyncMode::None, SyncMode::None);
  auto blocks = std::make_shared<AccountBlockRegistry>(SyncMode::None);
  const OrderRecord order = order_for(7, "USD");
  int hashed = 0;
  const auto other_hash = [&](std::string_view) {
    ++hashed;
    return std::uint64_t{42};
  };
  OrderSizeLimitConfig size;
  size.asset_barriers.push_back({OrderSizeLimit{Quantity{dec("0.5")}, Volume{dec("1000")}}, "USD"});
  RateLimitConfig rate;
  rate.asset_barriers.push_back({"USD", RateBarrier{0, kSecond}});
  PnlKillSwitchConfig pnl;
  pnl.broker_barriers.push_back({"USD", PnlBounds{dec("1"), std::nullopt}});
  const OrderSizeLimitPolicy size_policy(size);
  const RateLimitPolicy rate_policy(rate, at_ms(0), SyncMode::None);
  const PnlBoundsKillSwitchPolicy pnl_policy(pnl, SyncMode::None);
  for (const Policy* policy : std::initializer_list<const Policy*>{&size_policy, &rate_policy, &pnl_policy}) {
    const PreTradeContext fresh(AccountId{7}, *groups, *blocks), kept(AccountId{7}, *groups, *blocks);
    kept.settlement_name_hash(order.operation->instrument->settlement_asset.name(), other_hash);
    EXPECT_TRUE(policy->check_pre_trade_start(fresh, order)) << policy->name();
    EXPECT_FALSE(policy->check_pre_trade_start(kept, order)) << policy->name();
  }
  EXPECT_EQ(hashed, 3);
  const PreTradeContext ctx(AccountId{7}, *groups, *blocks);
  const std::string usd = "USD", eur = "EUR";
  for (const std::string* name : {&usd, &usd, &eur, &eur}) ctx.settlement_name_hash(*name, other_hash);
  EXPECT_EQ(hashed, 5);
}

}  // namespace
}  // namespace vantrel
