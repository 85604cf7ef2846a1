// The funds policy inside an engine: holds and their undo, reports, adjustments.
// Scenarios assert the slots and verdicts after every step.
#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "allocation_refusal.hpp"
#include "engine_test_util.hpp"
#include "spot_funds_test_util.hpp"

namespace vantrel {
namespace {

using namespace funds_testing;

std::string outcome_texts(std::span<const AdjustmentOutcomeRecord> outcomes) {
  std::string out;
  for (const AdjustmentOutcomeRecord& o : outcomes) out += adjustment_outcome_text(o) + "\n";
  return out;
}

class FundsModes : public ::testing::TestWithParam<EngineSync> {};

TEST_P(FundsModes, BuyHoldsCommitKeepsRollbackRestores) {
  FundsEngine f(GetParam());
  f.add_funds(3);
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(20));

  MainOutcome held = engine.execute(order(1, Side::Buy, qty("2"), D(10)));
  CoreReservation* r = std::get_if<CoreReservation>(&held);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(outcome_texts(r->account_adjustments()),
            "AccountAdjustmentOutcome(policy_group_id=3, entry=AccountOutcomeEntry(asset=\"USD\", "
            "balance=Some(\"OutcomeAmount(delta=-20, absolute=0)\"), held=Some(\"OutcomeAmount(delta=20, "
            "absolute=20)\"), incoming=None))\n");
  EXPECT_EQ(format_lock(r->lock()), "Lock([(3, 10)])");
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(0), D(20), D(0)}));
  r->rollback();
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(20), D(0), D(0)}));

  MainOutcome again = engine.execute(order(1, Side::Buy, qty("2"), D(10)));
  std::get<CoreReservation>(again).commit();
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(0), D(20), D(0)}));
  // The next order finds nothing usable.
  const MainOutcome refused = engine.execute(order(1, Side::Buy, qty("0.1"), D(10)));
  ASSERT_NE(only_reject(refused), nullptr);
  EXPECT_EQ(only_reject(refused)->details, "account 1, asset USD: available 0, requested 1.0");
}

TEST_P(FundsModes, UnfundedOrdersLeaveNoSlotAndTakeNoWriteLock) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(2, "USD", D(5));  // the name is known, account 1 has no slot
  const std::uint64_t writes = f.funds().holdings().write_locks_taken();
  for (int i = 0; i < 200; ++i) {
    const MainOutcome out = engine.execute(order(1 + i % 2 * 10, Side::Buy, qty("2"), D(10), "BTC", i % 3 ? "USD" : "EUR"));
    const Reject* reject = only_reject(out);
    ASSERT_NE(reject, nullptr);
    EXPECT_EQ(reject->reason, "spot funds insufficient");
    EXPECT_EQ(reject->code, RejectCode::InsufficientFunds);
    EXPECT_EQ(reject->scope, RejectScope::Order);
    EXPECT_EQ(reject->policy, "SpotFundsPolicy");
  }
  const MainOutcome last = engine.execute(order(1, Side::Buy, qty("2"), D(10)));
  ASSERT_NE(only_reject(last), nullptr);
  EXPECT_EQ(only_reject(last)->details, "account 1, asset USD: available 0, requested 20");
  EXPECT_EQ(f.funds().holdings().write_locks_taken(), writes);
  EXPECT_EQ(f.funds().holdings().slot_count(), 1u);
}

// A policy after the funds policy throws once the funds policy has staged
// its changes: the stage must keep none of them, in the main stage and in an
// adjustment batch (where earlier items, a slot emptied and a slot created,
// are undone too). Slots and blocks read back exactly as before the call.
TEST_P(FundsModes, ThrowAfterStagedChangesKeepsNoneOfThem) {
  FundsEngine f(GetParam());
  f.add_funds();
  auto& thrower = f.add<testing::ScriptedPolicy>("Thrower");
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(20));
  f.deposit(1, "BTC", D(5));
  const auto snapshot = [&] {
    std::vector<std::optional<Holdings>> out;
    for (const char* name : {"USD", "BTC", "EUR"})
      out.push_back(f.has_slot(1, name) ? std::optional<Holdings>(f.slot(1, name)) : std::nullopt);
    return out;
  };
  const auto before = snapshot();
  thrower.on_main = [](const PreTradeContext&, const OrderRecord&, Mutations&) -> PreTradeCheck {
    throw std::bad_alloc();
  };
  thrower.on_adjust = [](const AccountAdjustmentContext&, AccountId, const AccountAdjustmentRecord& a,
                         Mutations&) -> AdjustmentCheck {
    if (a.balance_operation()->asset->name() == "EUR") throw std::runtime_error("late failure");
    return {};
  };
  // A buy holds USD, a sell holds BTC.
  EXPECT_THROW(engine.execute(order(1, Side::Buy, qty("2"), D(10))), std::bad_alloc);
  EXPECT_EQ(snapshot(), before);
  EXPECT_THROW(engine.execute(order(1, Side::Sell, qty("5"), D(10))), std::bad_alloc);
  EXPECT_EQ(snapshot(), before);
  EXPECT_THROW(f.apply(1, adjust("USD", delta(D(7))), adjust("BTC", absolute(D(0))), adjust("EUR", delta(D(1)))),
               std::runtime_error);
  EXPECT_EQ(snapshot(), before);
  EXPECT_FALSE(engine.blocks().any_block());
}

// 2.5 / 99.5 has 28 fractional digits, more than a decimal next to 20000 has:
// the slot keeps every place, the entry reports available rounded down, and
// the undo and the cancel restore 20000 to the digit.
TEST_P(FundsModes, SellByVolumeHoldsItsQuotientWhole) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "BTC", D(20000));
  const Decimal quotient = D("0.0251256281407035175879396985");  // 2.5 / 99.5
  const auto held_by = [&](MainOutcome& out) {
    CoreReservation* r = std::get_if<CoreReservation>(&out);
    EXPECT_NE(r, nullptr);
    if (r == nullptr || r->account_adjustments().size() != 1) return Decimal();
    const OutcomeEntryRecord& e = r->account_adjustments().front().entry;
    EXPECT_EQ(e.balance->delta.value, quotient.negated());
    EXPECT_EQ(e.balance->absolute.value.to_string(), "19999.974874371859296482412060");
    EXPECT_EQ(e.held->delta.value, e.held->absolute.value);
    return e.held->delta.value;
  };

  const Holdings placed{*LedgerAmount(D(20000)).minus(quotient), quotient, D(0)};
  MainOutcome undone = engine.execute(order(1, Side::Sell, vol("2.5"), D("99.5")));
  EXPECT_EQ(held_by(undone), quotient);
  EXPECT_EQ(f.slot(1, "BTC"), placed);
  EXPECT_EQ(f.slot(1, "BTC").available.to_string(), "19999.9748743718592964824120603015");
  std::get<CoreReservation>(undone).rollback();
  EXPECT_EQ(f.slot(1, "BTC"), (Holdings{D(20000), D(0), D(0)}));

  MainOutcome kept = engine.execute(order(1, Side::Sell, vol("2.5"), D("99.5")));
  held_by(kept);
  std::get<CoreReservation>(kept).commit();
  // Cancelled in full: the whole quotient leaves held.
  const PostTradeOutcome out = engine.apply_execution_report(report(1, Side::Sell, std::nullopt, quotient.to_string().c_str(), true, Lock()));
  ASSERT_EQ(out.account_adjustments.size(), 1u);
  const OutcomeEntryRecord& e = out.account_adjustments.front().entry;
  EXPECT_EQ(e.held->delta.value, quotient.negated());
  EXPECT_EQ(f.slot(1, "BTC"), (Holdings{D(20000), D(0), D(0)}));
}

INSTANTIATE_TEST_SUITE_P(Modes, FundsModes,
                         ::testing::Values(EngineSync::NoSync, EngineSync::FullSync, EngineSync::AccountSync));

TEST(SpotFundsMainStage, MissingFieldsInTheirOrder) {
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  struct Case {
    void (*strip)(OrderRecord&);
    const char* reason;
    const char* details;
  };
  const Case cases[] = {
      {[](OrderRecord& o) { o.operation.reset(); }, "failed to access required field 'instrument'",
       "failed to access field 'operation.instrument'"},
      {[](OrderRecord& o) { o.operation->instrument.reset(), o.operation->side.reset(); },
       "failed to access required field 'instrument'", "failed to access field 'operation.instrument'"},
      {[](OrderRecord& o) { o.operation->account_id.reset(), o.operation->side.reset(); },
       "failed to access required field 'account ID'", "failed to access field 'operation.account_id'"},
      {[](OrderRecord& o) { o.operation->side.reset(), o.operation->trade_amount.reset(); },
       "failed to access required field 'side'", "failed to access field 'operation.side'"},
      {[](OrderRecord& o) { o.operation->trade_amount.reset(); }, "failed to access required field 'trade amount'",
       "failed to access field 'operation.trade_amount'"},
  };
  for (const Case& c : cases) {
    OrderRecord o = order(1, Side::Buy, qty("1"), D(1));
    c.strip(o);
    const MainOutcome out = engine.execute(std::move(o));
    const Reject* reject = only_reject(out);
    ASSERT_NE(reject, nullptr) << c.reason;
    EXPECT_EQ(reject->reason, c.reason);
    EXPECT_EQ(reject->details, c.details);
    EXPECT_EQ(reject->code, RejectCode::MissingRequiredField);
  }
}

TEST(SpotFundsMainStage, NegativeHeldIsSettledByTheNextHold) {
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  ASSERT_FALSE(f.apply(1, adjust("USD", absolute(D(25)), absolute(D(-20)))).failed_index);

  MainOutcome first = engine.execute(order(1, Side::Buy, vol("5"), D(1)));
  CoreReservation* r = std::get_if<CoreReservation>(&first);
  ASSERT_NE(r, nullptr);
  // What moved is the amount plus the debt; held ends at the amount.
  EXPECT_EQ(r->account_adjustments()[0].entry.balance->delta.value, D(-25));
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(0), D(5), D(0)}));
  const MainOutcome second = engine.execute(order(1, Side::Buy, vol("5"), D(1)));
  ASSERT_NE(only_reject(second), nullptr);
  EXPECT_EQ(only_reject(second)->details, "account 1, asset USD: available 0, requested 5");
  r->rollback();
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(25), D(-20), D(0)}));
}

TEST(SpotFundsMainStage, FailedSecondHoldIsUndoneByTheEngine) {
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "BTC", D(3));
  // A sell at a negative price must pay settlement it does not have.
  const MainOutcome out = engine.execute(order(1, Side::Sell, qty("3"), D(-2)));
  const Reject* reject = only_reject(out);
  ASSERT_NE(reject, nullptr);
  EXPECT_EQ(reject->details, "account 1, asset USD: available 0, requested 6");
  EXPECT_EQ(f.slot(1, "BTC"), (Holdings{D(3), D(0), D(0)}));
}

TEST(SpotFundsMainStage, OrdersWithoutPriceAndWithoutMarketData) {
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "BTC", D(3));
  const MainOutcome buy_out = engine.execute(order(1, Side::Buy, qty("1"), std::nullopt));
  const Reject* buy = only_reject(buy_out);
  ASSERT_NE(buy, nullptr);
  EXPECT_EQ(buy->reason, "market orders not supported");
  EXPECT_EQ(buy->details, "");
  EXPECT_EQ(buy->code, RejectCode::UnsupportedOrderType);
  const MainOutcome sell_volume_out = engine.execute(order(1, Side::Sell, vol("10"), std::nullopt));
  const Reject* sell_volume = only_reject(sell_volume_out);
  ASSERT_NE(sell_volume, nullptr);
  EXPECT_EQ(sell_volume->reason, "market orders not supported");

  // A sell by quantity needs no price: it holds the quantity and locks nothing.
  MainOutcome sell = engine.execute(order(1, Side::Sell, qty("2"), std::nullopt));
  CoreReservation* r = std::get_if<CoreReservation>(&sell);
  ASSERT_NE(r, nullptr);
  EXPECT_TRUE(r->lock().empty());
  EXPECT_EQ(f.slot(1, "BTC"), (Holdings{D(1), D(2), D(0)}));
}

TEST(SpotFundsMainStage, ValueFailures) {
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "BTC", D(3));
  const MainOutcome overflow_out = engine.execute(order(1, Side::Buy, qty("2"), kMax));
  const Reject* overflow = only_reject(overflow_out);
  ASSERT_NE(overflow, nullptr);
  EXPECT_EQ(overflow->reason, "order value calculation failed");
  EXPECT_EQ(overflow->code, RejectCode::OrderValueCalculationFailed);
  const MainOutcome zero_out = engine.execute(order(1, Side::Sell, vol("5"), D(0)));
  const Reject* zero = only_reject(zero_out);
  ASSERT_NE(zero, nullptr);
  EXPECT_EQ(zero->reason, "order value calculation failed");
  // A buy by volume at a price <= 0 holds nothing and still locks its price.
  MainOutcome free = engine.execute(order(1, Side::Buy, vol("5"), D(-1)));
  ASSERT_NE(std::get_if<CoreReservation>(&free), nullptr);
  EXPECT_EQ(format_lock(std::get<CoreReservation>(free).lock()), "Lock([(0, -1)])");
  EXPECT_TRUE(std::get<CoreReservation>(free).account_adjustments().empty());
}

class RollbackOverflow : public ::testing::TestWithParam<bool> {};

TEST_P(RollbackOverflow, HoldOverflowIsARejectAndRollbackOverflowBlocks) {
  FundsEngine f;
  f.add_funds(0, {}, GetParam());
  EngineCore& engine = f.build();
  ASSERT_FALSE(f.apply(1, adjust("USD", absolute(kMax), absolute(kMax))).failed_index);
  const MainOutcome overflow_out = engine.execute(order(1, Side::Buy, vol("1"), D(1)));
  const Reject* overflow = only_reject(overflow_out);
  ASSERT_NE(overflow, nullptr);
  EXPECT_EQ(overflow->reason, "arithmetic overflow");
  EXPECT_EQ(overflow->details,
            "pre-trade hold overflow: account 1, asset USD, requested 1");
  EXPECT_EQ(overflow->code, RejectCode::ArithmeticOverflow);

  // A hold whose undo no longer fits: the slot stays, the account is blocked.
  ASSERT_FALSE(f.apply(2, adjust("USD", absolute(D(10)))).failed_index);
  MainOutcome held = engine.execute(order(2, Side::Buy, vol("4"), D(1)));
  ASSERT_NE(std::get_if<CoreReservation>(&held), nullptr);
  ASSERT_FALSE(f.apply(2, adjust("USD", absolute(kMax))).failed_index);
  std::get<CoreReservation>(held).rollback();
  EXPECT_EQ(f.slot(2, "USD"), (Holdings{kMax, D(4), D(0)}));
  const std::optional<AccountBlock> block = engine.blocks().block_of(AccountId{2});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->reason, "rollback overflow: slot left inconsistent");
  EXPECT_EQ(block->details,
            "hold rollback overflow: account 2, asset USD, release 4, slot Holdings { available: "
            "PositionSize(79228162514264337593543950335), held: PositionSize(4), incoming: PositionSize(0) }");
  EXPECT_EQ(block->policy, "SpotFundsPolicy");
  EXPECT_EQ(block->code, RejectCode::ArithmeticOverflow);
}

// A reservation may outlive its engine: its undo still finds the holdings,
// and the holdings go once the last undo is gone.
TEST(SpotFundsMainStage, UndoOutlivesTheEngine) {
  std::weak_ptr<AccountBlockRegistry> registry;
  std::optional<CoreReservation> kept;
  {
    FundsEngine f;
    f.add_funds();
    EngineCore& engine = f.build();
    registry = engine.blocks_handle();
    f.deposit(1, "USD", D(20));
    MainOutcome held = engine.execute(order(1, Side::Buy, qty("2"), D(10)));
    ASSERT_NE(std::get_if<CoreReservation>(&held), nullptr);
    kept.emplace(std::move(std::get<CoreReservation>(held)));
  }
  EXPECT_FALSE(registry.expired());  // the undo keeps what it reports to
  kept->rollback();
  kept.reset();
  EXPECT_TRUE(registry.expired());
}

INSTANTIATE_TEST_SUITE_P(SpotFundsMainStage, RollbackOverflow, ::testing::Bool());

// ---- execution reports ----

struct ReportScenario {
  const char* name;
  Side side;
  std::optional<std::pair<const char*, const char*>> trade;
  const char* leaves;
  bool is_final;
  std::vector<std::pair<std::uint16_t, const char*>> lock;
  Holdings usd_before, btc_before;
  Holdings usd_after, btc_after;
  const char* blocks;    // reason | details per block
  const char* outcomes;  // "asset balance-delta/abs held-delta/abs" per outcome
};

void PrintTo(const ReportScenario& c, std::ostream* os) { *os << c.name; }

std::string blocks_text(const PostTradeOutcome& out) {
  std::string s;
  for (const AccountBlock& b : out.account_blocks) s += b.reason + " | " + b.details + ";";
  return s;
}
std::string short_outcomes(const PostTradeOutcome& out) {
  std::string s;
  for (const AdjustmentOutcomeRecord& o : out.account_adjustments) {
    s += o.entry.asset.name();
    s += o.entry.balance ? " " + o.entry.balance->delta.value.to_string() + "/" + o.entry.balance->absolute.value.to_string()
                         : std::string(" -");
    s += o.entry.held ? " " + o.entry.held->delta.value.to_string() + "/" + o.entry.held->absolute.value.to_string()
                      : std::string(" -");
    s += ";";
  }
  return s;
}

Holdings H(std::int64_t a, std::int64_t h) { return Holdings{D(a), D(h), D(0)}; }
Holdings HD(Decimal a, Decimal h) { return Holdings{a, h, D(0)}; }

class Reports : public ::testing::TestWithParam<ReportScenario> {};

TEST_P(Reports, MoveFundsAsTheTradeSays) {
  const ReportScenario& c = GetParam();
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  ASSERT_FALSE(f.apply(1, adjust("USD", absolute(c.usd_before.available.to_decimal()), absolute(c.usd_before.held.to_decimal())),
                           adjust("BTC", absolute(c.btc_before.available.to_decimal()), absolute(c.btc_before.held.to_decimal())))
                   .failed_index);
  Lock lock;
  for (const auto& [g, p] : c.lock) lock.push_price(g, D(p));
  const PostTradeOutcome out = engine.apply_execution_report(report(1, c.side, c.trade, c.leaves, c.is_final, lock));
  EXPECT_EQ(blocks_text(out), c.blocks);
  EXPECT_EQ(short_outcomes(out), c.outcomes);
  EXPECT_EQ(f.slot(1, "USD"), c.usd_after);
  EXPECT_EQ(f.slot(1, "BTC"), c.btc_after);
}

using P = std::pair<const char*, const char*>;
INSTANTIATE_TEST_SUITE_P(
    SpotFunds, Reports,
    ::testing::Values(
        ReportScenario{"buy filled below its lock", Side::Buy, P{"9", "2"}, "0", true, {{0, "10"}}, H(0, 20), H(0, 0),
                       H(2, 0), H(2, 0), "", "BTC 2/2 -;USD 2/2 -20/0;"},
        ReportScenario{"sell without lock", Side::Sell, P{"5", "3"}, "0", false, {}, H(0, 0), H(0, 3), H(15, 0),
                       H(0, 0), "", "BTC - -3/0;USD 15/15 -;"},
        ReportScenario{"final remainder of a buy", Side::Buy, std::nullopt, "1", true, {{0, "10"}}, H(0, 10),
                       H(0, 0), H(10, 0), H(0, 0), "", "USD 10/10 -10/0;"},
        ReportScenario{"final remainder of a sell", Side::Sell, std::nullopt, "2", true, {}, H(0, 0), H(1, 2),
                       H(0, 0), H(3, 0), "", "BTC 2/3 -2/0;"},
        ReportScenario{"buy fill without a locked price", Side::Buy, P{"9", "2"}, "1", true, {{5, "10"}}, H(0, 20),
                       H(0, 0), H(0, 20), H(0, 0),
                       "pre-trade lock has no price for buy fill | group 0;pre-trade lock has no price for buy release "
                       "| group 0;",
                       ""},
        ReportScenario{"two prices for the group", Side::Sell, P{"5", "3"}, "0", false, {{0, "10"}, {0, "11"}},
                       H(0, 0), H(0, 3), H(0, 0), H(0, 3),
                       "pre-trade lock has multiple prices for buy fill; two SpotFundsPolicies share a group_id | "
                       "group 0;",
                       ""},
        // Consumption never below zero: a buy at a negative price credits its proceeds.
        ReportScenario{"buy at a negative price", Side::Buy, P{"-1", "2"}, "1", true, {{0, "-1"}}, H(0, 0), H(0, 0),
                       H(2, 0), H(2, 0), "", "BTC 2/2 -;USD 2/2 -;"},
        // A price locked by another policy of the group is not a sell's to consume.
        ReportScenario{"sell with a foreign positive lock", Side::Sell, P{"5", "3"}, "0", true, {{0, "5"}}, H(0, 0),
                       H(0, 3), H(15, 0), H(0, 0), "", "BTC - -3/0;USD 15/15 -;"},
        ReportScenario{"nothing to do", Side::Buy, std::nullopt, "1", false, {{0, "10"}}, H(0, 10), H(0, 0),
                       H(0, 10), H(0, 0), "", ""},
        ReportScenario{"notional overflow", Side::Buy, P{"79228162514264337593543950335", "2"}, "0", true, {{0, "1"}},
                       H(0, 2), H(0, 0), H(0, 2), H(0, 0),
                       "arithmetic overflow | fill notional volume overflow: account 1, asset USD, px "
                       "79228162514264337593543950335, qty 2;",
                       ""},
        ReportScenario{"settlement notional overflow", Side::Buy, P{"1", "2"}, "0", true,
                       {{0, "79228162514264337593543950335"}}, H(0, 0), H(0, 0), H(0, 0), H(0, 0),
                       "arithmetic overflow | settlement notional overflow: account 1, asset USD, lock_px "
                       "79228162514264337593543950335, qty 2;",
                       ""},
        // The first leg stands; the second cannot be credited.
        ReportScenario{"credit overflow", Side::Sell, P{"1", "1"}, "0", true, {{0, "-79228162514264337593543950335"}},
                       H(0, 0), H(0, 1), H(0, 0), H(0, 0),
                       "arithmetic overflow | fill balance credit overflow: account 1, asset USD, consume "
                       "79228162514264337593543950335, flow 1;",
                       "BTC - -1/0;"},
        ReportScenario{"release overflow", Side::Sell, std::nullopt, "1", true, {}, H(0, 0),
                       HD(D(0), kMax.negated()), H(0, 0), HD(D(0), kMax.negated()),
                       "arithmetic overflow | cancel release overflow: account 1, asset BTC, requested 1;", ""},
        // The slot could take the release; the report's own record could not.
        ReportScenario{"release record overflow", Side::Sell, P{"1", "79228162514264337593543950335"}, "1", true, {},
                       H(0, 0), HD(D(0), kMax), HD(kMax, D(0)), H(0, 0),
                       "arithmetic overflow | cancel held delta overflow: account 1, asset BTC, release 1;",
                       "BTC - -79228162514264337593543950335/0;USD "
                       "79228162514264337593543950335/79228162514264337593543950335 -;"},
        // The fill's credit fills the record; the remainder's release no longer fits in it.
        ReportScenario{"release balance record overflow", Side::Sell, P{"79228162514264337593543950334", "1"}, "1",
                       true, {{0, "-1"}}, H(-5, 2), H(0, 2), HD(D("79228162514264337593543950330"), D(1)), H(1, 0),
                       "arithmetic overflow | cancel balance delta overflow: account 1, asset USD, release 1;",
                       "BTC 1/1 -2/0;USD 79228162514264337593543950335/79228162514264337593543950330 -1/1;"},
        // The report's running held delta, -(20000 + 1E-28), needs more places than 96 bits
        // hold next to 5 digits: the entry's delta is rounded down, the slot moves exactly,
        // nothing blocks.
        ReportScenario{"record rounded, slot exact", Side::Sell, P{"1", "20000"}, "0.0000000000000000000000000001",
                       true, {}, H(0, 0), HD(D(0), D("20000.000000000000000000000001")), H(20000, 0),
                       HD(D("0.0000000000000000000000000001"), D("0.0000000000000000000000009999")), "",
                       "BTC 0.0000000000000000000000000001/0.0000000000000000000000000001 "
                       "-20000.000000000000000000000001/0.0000000000000000000000009999;USD 20000/20000 -;"}),
    [](const ::testing::TestParamInfo<ReportScenario>& info) {
      std::string name = info.param.name;
      for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name;
    });

TEST(SpotFundsReports, OverflowOnTheSecondLegKeepsTheFirstAndStillReleases) {
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  ASSERT_FALSE(f.apply(1, adjust("USD", absolute(D(0)), absolute(D(30))), adjust("BTC", absolute(kMax)))
                   .failed_index);
  const PostTradeOutcome out =
      engine.apply_execution_report(report(1, Side::Buy, P{"9", "2"}, "1", true, lock_of({{0, "10"}})));
  EXPECT_EQ(blocks_text(out),
            "arithmetic overflow | fill leg mutation overflow: account 1, asset BTC, consume 0, credit 2;");
  // The settlement leg stands and is reported; the release of the remainder ran.
  EXPECT_EQ(short_outcomes(out), "USD 12/12 -30/0;");
  EXPECT_EQ(f.slot(1, "USD"), H(12, 0));
  EXPECT_EQ(f.slot(1, "BTC"), (Holdings{kMax, D(0), D(0)}));
}

TEST(SpotFundsReports, MissingFieldsBlockInTheirOrder) {
  FundsEngine f;
  f.add_funds();
  EngineCore& engine = f.build();
  struct Case {
    void (*strip)(ExecutionReportRecord&);
    const char* text;
  };
  const Case cases[] = {
      {[](ExecutionReportRecord& r) { r.operation->instrument.reset(), r.fill.reset(); },
       "failed to access required field 'instrument' | failed to access field 'operation.instrument';"},
      {[](ExecutionReportRecord& r) { r.operation->side.reset(), r.fill->is_final.reset(); },
       "failed to access required field 'side' | failed to access field 'operation.side';"},
      {[](ExecutionReportRecord& r) { r.fill.reset(); },
       "failed to access required field 'remaining quantity' | failed to access field 'fill.leaves_quantity';"},
      {[](ExecutionReportRecord& r) { r.fill->is_final.reset(); },
       "failed to access required field 'order finality' | failed to access field 'fill.is_final';"},
  };
  for (const Case& c : cases) {
    ExecutionReportRecord r = report(1, Side::Buy, P{"1", "1"}, "0", true, lock_of({{0, "1"}}));
    c.strip(r);
    const PostTradeOutcome out = engine.apply_execution_report(r);
    EXPECT_EQ(blocks_text(out), c.text);
    EXPECT_TRUE(out.account_adjustments.empty());
  }
}

TEST(SpotFundsAdjustments, UndoThatNoLongerFitsBlocksTheAccount) {
  FundsEngine f;
  SpotFundsPolicy& funds = f.add_funds();
  auto& meddler = f.add<testing::ScriptedPolicy>("Meddler");
  // Stands for another thread: between the deposit and the batch's rollback,
  // the slot is driven to the bottom of the range.
  meddler.on_adjust = [&funds](const AccountAdjustmentContext&, AccountId account, const AccountAdjustmentRecord& a,
                               Mutations&) -> AdjustmentCheck {
    if (a.balance_operation()->asset->name() != "EUR") return {};
    funds.holdings().change(HoldingsKey{account, funds.holdings().assets().find("USD")},
                            [](const Holdings& old, Holdings& next) {
                              next = old;
                              next.available = kMax.negated();
                              return true;
                            });
    return Rejects(Reject::make("Meddler", RejectCode::Other, "no", ""));
  };
  EngineCore& engine = f.build();
  const AdjustmentBatchOutcome out = f.apply(1, adjust("USD", delta(D(10))), adjust("EUR", delta(D(1))));
  EXPECT_EQ(out.failed_index, 1u);
  EXPECT_EQ(f.slot(1, "USD"), HD(kMax.negated(), D(0)));
  EXPECT_EQ(f.slot(1, "EUR"), H(0, 0));
  const std::optional<AccountBlock> block = engine.blocks().block_of(AccountId{1});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->reason, "rollback overflow: slot left inconsistent");
  EXPECT_EQ(block->details,
            "adjustment rollback overflow: account 1, asset USD, available_delta 10, held_delta 0, incoming_delta 0, "
            "slot Holdings { available: PositionSize(-79228162514264337593543950335), held: PositionSize(0), "
            "incoming: PositionSize(0) }");
  EXPECT_EQ(block->code, RejectCode::ArithmeticOverflow);
}

TEST(SpotFundsAdjustments, UndoThatCannotRemakeItsSlotBlocksTheAccount) {
  FundsEngine f;
  f.add_funds();
  f.add<testing::ScriptedPolicy>("Failing").on_adjust = [](const AccountAdjustmentContext&, AccountId,
                                                           const AccountAdjustmentRecord& a, Mutations&) {
    if (a.balance_operation()->asset->name() != "EUR") return AdjustmentCheck();
    AdjustmentCheck no(Rejects(Reject::make("Failing", RejectCode::Other, "no", "")));
    testing::t_refused_allocations = 1;  // the next one: the emptied USD slot made again by its undo
    return no;
  };
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(10));
  const AdjustmentBatchOutcome out = f.apply(1, adjust("USD", absolute(D(0))), adjust("EUR", delta(D(1))));
  EXPECT_EQ(testing::t_refused_allocations, 0);
  EXPECT_EQ(out.failed_index, 1u);
  EXPECT_FALSE(f.has_slot(1, "USD"));
  EXPECT_FALSE(f.has_slot(1, "EUR"));
  const std::optional<AccountBlock> block = engine.blocks().block_of(AccountId{1});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->details,
            "adjustment rollback overflow: account 1, asset USD, available_delta -10, held_delta 0, incoming_delta 0, "
            "slot Holdings { available: PositionSize(0), held: PositionSize(0), incoming: PositionSize(0) }");
}

// A name is interned only where a slot or an undo keeps it: orders asking
// about an asset and zero adjustments leave the table as it was.
TEST_P(FundsModes, NamesAreInternedOnlyWhereSomethingKeepsThem) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  const AssetNames& names = f.funds().holdings().assets();
  for (int i = 0; i < 50; ++i) {
    const std::string underlying = "U" + std::to_string(i), settlement = "S" + std::to_string(i);
    EXPECT_NE(only_reject(engine.execute(order(1, Side::Buy, qty("1"), D(1), underlying.c_str(), settlement.c_str()))),
              nullptr);
    EXPECT_NE(only_reject(engine.execute(order(1, Side::Sell, qty("1"), D(1), underlying.c_str(), settlement.c_str()))),
              nullptr);
    const AdjustmentBatchOutcome zero =
        f.apply(1, adjust(underlying.c_str(), delta(D(0)), delta(D(0)), delta(D(0))),
                adjust(settlement.c_str(), absolute(D(0))));
    EXPECT_FALSE(zero.failed_index);
  }
  EXPECT_EQ(names.size(), 0u);
  // A zero adjustment's undo, run by a later refusal, has nothing to find.
  AccountAdjustmentRecord position;
  position.operation = AccountAdjustmentRecord::PositionOperation{};
  EXPECT_EQ(f.apply(1, adjust("Z", delta(D(0))), std::move(position)).failed_index, 1u);
  EXPECT_EQ(names.size(), 0u);
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
  // A report that only releases nothing, and a fill that moves nothing, intern nothing either.
  engine.apply_execution_report(report(1, Side::Sell, std::nullopt, "0", true, Lock(), "U1", "S1"));
  engine.apply_execution_report(report(1, Side::Sell, P{"0", "0"}, "0", true, Lock(), "U2", "S2"));
  EXPECT_EQ(names.size(), 0u);
  // What makes a slot interns its asset.
  f.deposit(1, "USD", D(5));
  EXPECT_EQ(names.size(), 1u);
  engine.apply_execution_report(report(1, Side::Sell, P{"2", "1"}, "0", true, Lock(), "BTC", "USD"));
  EXPECT_EQ(names.size(), 2u);  // BTC: held -1
  EXPECT_EQ(f.slot(1, "BTC"), (Holdings{D(0), D(-1), D(0)}));
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(7), D(0), D(0)}));
}

// ---- account adjustments ----

TEST(SpotFundsAdjustments, DepositCreatesTheSlotAndABatchRollbackRemovesIt) {
  FundsEngine f;
  f.add_funds(4);
  EngineCore& engine = f.build();
  AccountAdjustmentRecord position;
  position.operation = AccountAdjustmentRecord::PositionOperation{};
  const AdjustmentBatchOutcome failed = f.apply(1, adjust("USD", delta(D(100))), std::move(position));
  EXPECT_EQ(failed.failed_index, 1u);
  ASSERT_TRUE(failed.rejects);
  EXPECT_EQ(failed.rejects->front().reason, "failed to access required field 'balance asset'");
  EXPECT_EQ(failed.rejects->front().details, "failed to access field 'operation.balance_asset'");
  EXPECT_EQ(failed.rejects->front().scope, RejectScope::Account);
  EXPECT_FALSE(f.has_slot(1, "USD"));
  EXPECT_FALSE(engine.blocks().any_block());

  const AdjustmentBatchOutcome ok = f.apply(1, adjust("USD", delta(D(100)), std::nullopt, absolute(D(3))));
  ASSERT_FALSE(ok.failed_index);
  ASSERT_EQ(ok.outcomes.size(), 1u);
  EXPECT_EQ(adjustment_outcome_text(ok.outcomes[0]),
            "AccountAdjustmentOutcome(policy_group_id=4, entry=AccountOutcomeEntry(asset=\"USD\", "
            "balance=Some(\"OutcomeAmount(delta=100, absolute=100)\"), held=None, "
            "incoming=Some(\"OutcomeAmount(delta=3, absolute=3)\")))");
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(100), D(0), D(3)}));
  // An amount with no field: no entry, nothing staged.
  EXPECT_TRUE(f.apply(1, adjust("USD", std::nullopt)).outcomes.empty());
}

// A balance delta with balance bounds (nullptr: that bound is absent).
AccountAdjustmentRecord balance_change_within(Decimal change, const char* lower, const char* upper) {
  AccountAdjustmentRecord a = adjust("USD", delta(change));
  a.bounds = AccountAdjustmentRecord::Bounds{};
  if (lower != nullptr) a.bounds->balance_lower = PositionSize{D(lower)};
  if (upper != nullptr) a.bounds->balance_upper = PositionSize{D(upper)};
  return a;
}

TEST(SpotFundsAdjustments, RejectTexts) {
  FundsEngine f;
  f.add_funds();
  f.build();
  f.deposit(1, "USD", D(20));
  // Account 3 holds 1E-36 of 5: its available has 36 places. Account 4 has the largest decimal.
  f.deposit(3, "USD", D(5));
  MainOutcome tiny = f.engine().execute(order(3, Side::Buy, qty("0.000000000000000001"), D("0.000000000000000001")));
  ASSERT_NE(std::get_if<CoreReservation>(&tiny), nullptr);
  std::get<CoreReservation>(tiny).commit();
  f.deposit(4, "USD", kMax);
  struct Case {
    AccountAdjustmentRecord (*make)();
    const char* reason;
    const char* details;
    RejectCode code;
    std::uint64_t account = 1;
  };

  const Case cases[] = {
      {[] {
         AccountAdjustmentRecord bounded = adjust("USD", delta(D(-50)));
         bounded.bounds = AccountAdjustmentRecord::Bounds{};
         bounded.bounds->balance_lower = PositionSize{D(0)};
         bounded.bounds->held_upper = PositionSize{D(-1)};  // held is not adjusted
         return bounded;
       },
       "account adjustment bounds exceeded", "account 1, asset USD: balance -30, lower Some(PositionSize(0)), upper None",
       RejectCode::AccountAdjustmentBoundsExceeded},
      {[] {
         AccountAdjustmentRecord bounded = adjust("USD", std::nullopt, std::nullopt, absolute(D("2.5")));
         bounded.bounds = AccountAdjustmentRecord::Bounds{};
         bounded.bounds->incoming_lower = PositionSize{D(-3)};
         bounded.bounds->incoming_upper = PositionSize{D("2.4")};
         return bounded;
       },
       "account adjustment bounds exceeded",
       "account 1, asset USD: incoming 2.5, lower Some(PositionSize(-3)), upper Some(PositionSize(2.4))",
       RejectCode::AccountAdjustmentBoundsExceeded},
      {[] { return adjust("USD", delta(kMax)); }, "arithmetic overflow",
       "account adjustment overflow: account 1, asset USD, field balance, current 20, applied "
       "79228162514264337593543950335",
       RejectCode::ArithmeticOverflow},
      // The refused value is shown rounded away from the bound it breached, never on it.
      {[] { return balance_change_within(D(1), nullptr, "5.9999999999999999999999999999"); },
       "account adjustment bounds exceeded",
       "account 3, asset USD: balance 6.0000000000000000000000000000, lower None, upper "
       "Some(PositionSize(5.9999999999999999999999999999))",
       RejectCode::AccountAdjustmentBoundsExceeded, 3},
      {[] { return balance_change_within(D(1), "0", "5.9999999999999999999999999999"); },
       "account adjustment bounds exceeded",
       "account 3, asset USD: balance 6.0000000000000000000000000000, lower Some(PositionSize(0)), upper "
       "Some(PositionSize(5.9999999999999999999999999999))",
       RejectCode::AccountAdjustmentBoundsExceeded, 3},
      {[] { return balance_change_within(D(-4), "1", "7"); }, "account adjustment bounds exceeded",
       "account 3, asset USD: balance 0.9999999999999999999999999999, lower Some(PositionSize(1)), upper "
       "Some(PositionSize(7))",
       RejectCode::AccountAdjustmentBoundsExceeded, 3},
      // The largest decimal with a fraction is beyond the range, not a value shown rounded.
      {[] { return adjust("USD", delta(D("0.5"))); }, "arithmetic overflow",
       "account adjustment overflow: account 4, asset USD, field balance, current 79228162514264337593543950335, "
       "applied 0.5",
       RejectCode::ArithmeticOverflow, 4},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const Holdings before = f.slot(c.account, "USD");
    const AdjustmentBatchOutcome out = f.apply(c.account, c.make());
    ASSERT_TRUE(out.rejects) << i;
    EXPECT_EQ(out.rejects->front().reason, c.reason);
    EXPECT_EQ(out.rejects->front().details, c.details);
    EXPECT_EQ(out.rejects->front().code, c.code);
    EXPECT_EQ(out.rejects->front().scope, RejectScope::Account);
    EXPECT_EQ(f.slot(c.account, "USD"), before);
  }
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(20), D(0), D(0)}));
  const AdjustmentBatchOutcome delta_overflow =
      f.apply(2, adjust("USD", absolute(D(-1))), adjust("USD", absolute(kMax)));
  ASSERT_TRUE(delta_overflow.rejects);
  EXPECT_EQ(delta_overflow.failed_index, 1u);
  EXPECT_EQ(delta_overflow.rejects->front().details, "account adjustment delta overflow: account 2, asset USD, field balance");
  EXPECT_FALSE(f.has_slot(2, "USD"));
}

// Another policy of group 0 locks a price too: a buy can no longer tell which
// price is its own, and is blocked rather than settled at a guess.
TEST(SpotFundsReports, AnotherPolicyLockingInTheGroupBlocksBuys) {
  FundsEngine f;
  f.add_funds();
  auto& other = f.add<testing::ScriptedPolicy>("Other");
  other.on_main = [](const PreTradeContext&, const OrderRecord&, Mutations&) -> PreTradeCheck {
    PreTradeContribution c;
    c.lock_prices.push_back(Price{D(5)});
    return c;
  };
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(20));
  MainOutcome held = engine.execute(order(1, Side::Buy, qty("2"), D(10)));
  ASSERT_NE(std::get_if<CoreReservation>(&held), nullptr);
  CoreReservation& r = std::get<CoreReservation>(held);
  EXPECT_EQ(format_lock(r.lock()), "Lock([(0, 10), (0, 5)])");
  r.commit();
  const PostTradeOutcome out = engine.apply_execution_report(report(1, Side::Buy, P{"10", "2"}, "0", true, Lock(r.lock())));
  EXPECT_EQ(blocks_text(out),
            "pre-trade lock has multiple prices for buy fill; two SpotFundsPolicies share a group_id | group 0;");
  EXPECT_EQ(out.account_blocks.at(0).code, RejectCode::Other);
  EXPECT_EQ(f.slot(1, "USD"), H(0, 20));
}

}  // namespace
}  // namespace vantrel
