// The funds policy where amounts need more digits than a 96-bit decimal has:
// the slot keeps them exactly, an undo moves back exactly what was moved, and
// only an amount past the largest 96-bit decimal blocks. Each case in every mode.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "spot_funds_test_util.hpp"

namespace vantrel {
namespace {

using namespace funds_testing;

class FundsAtTheEdge : public ::testing::TestWithParam<EngineSync> {};

Holdings HA(const char* available, const char* held) { return Holdings{D(available), D(held), D(0)}; }

const OutcomeEntryRecord& only_entry(std::span<const AdjustmentOutcomeRecord> outcomes) {
  if (outcomes.size() != 1) throw std::runtime_error("expected one outcome");
  return outcomes.front().entry;
}

// Next to a 29-digit balance a hold keeps every place: the cancel restores
// available to the digit, and the entries report what a decimal can hold.
TEST_P(FundsAtTheEdge, CancelsNextToA29DigitBalanceRestoreAvailableToTheDigit) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "BTC", D("50000000000000000000000000000"));
  f.deposit(1, "USD", D("42995115941683571703859617460"));
  MainOutcome sell = engine.execute(order(1, Side::Sell, qty("0.05"), D(1)));
  ASSERT_NE(std::get_if<CoreReservation>(&sell), nullptr);
  std::get<CoreReservation>(sell).commit();
  EXPECT_EQ(f.slot(1, "BTC").available.to_string(), "49999999999999999999999999999.95");
  MainOutcome buy = engine.execute(order(1, Side::Buy, qty("1"), D("88286.0663947")));
  ASSERT_NE(std::get_if<CoreReservation>(&buy), nullptr);
  // 42995115941683571703859617460 - 88286.0663947, reported rounded down.
  EXPECT_EQ(only_entry(std::get<CoreReservation>(buy).account_adjustments()).balance->absolute.value.to_string(),
            "42995115941683571703859529173");
  std::get<CoreReservation>(buy).commit();
  const PostTradeOutcome out = engine.apply_execution_report(report(1, Side::Sell, std::nullopt, "0.05", true, Lock()));
  EXPECT_TRUE(out.account_blocks.empty());
  EXPECT_EQ(only_entry(out.account_adjustments).held->delta.value, D("-0.05"));
  EXPECT_EQ(f.slot(1, "BTC"), HA("50000000000000000000000000000", "0"));
  engine.apply_execution_report(report(1, Side::Buy, std::nullopt, "1", true, lock_of({{0, "88286.0663947"}})));
  EXPECT_EQ(f.slot(1, "USD"), HA("42995115941683571703859617460", "0"));
}

// Holds whose sums with held need more places than a decimal has are taken
// exactly, and undone exactly, after a deposit as well.
TEST_P(FundsAtTheEdge, HoldsOfEveryPlaceAreUndoneExactly) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D("2000000000000000"));
  MainOutcome first = engine.execute(order(1, Side::Buy, qty("1"), D("0.1234567890123456789012345678")));
  ASSERT_NE(std::get_if<CoreReservation>(&first), nullptr);
  std::get<CoreReservation>(first).commit();
  const Holdings before = f.slot(1, "USD");
  MainOutcome second = engine.execute(order(1, Side::Buy, qty("1"), D("1234567890123456.1")));
  ASSERT_NE(std::get_if<CoreReservation>(&second), nullptr);
  EXPECT_EQ(f.slot(1, "USD").held.to_string(), "1234567890123456.2234567890123456789012345678");
  f.deposit(1, "USD", D("7.9"));
  std::get<CoreReservation>(second).rollback();
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{*before.available.plus(D("7.9")), before.held, D(0)}));
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
}

// Only an amount past the largest decimal blocks an undo: the slot stays, the block says what it saw.
TEST_P(FundsAtTheEdge, HoldUndoBlocksOnlyAtTheIntegerRange) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(1));
  MainOutcome placed = engine.execute(order(1, Side::Buy, qty("1"), D(1)));
  ASSERT_NE(std::get_if<CoreReservation>(&placed), nullptr);
  ASSERT_FALSE(f.apply(1, adjust("USD", absolute(kMax))).failed_index);
  const Holdings before = f.slot(1, "USD");
  std::get<CoreReservation>(placed).rollback();
  EXPECT_EQ(f.slot(1, "USD"), before);
  const std::optional<AccountBlock> block = engine.blocks().block_of(AccountId{1});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->reason, "rollback overflow: slot left inconsistent");
  EXPECT_EQ(block->details, "hold rollback overflow: account 1, asset USD, release 1, slot Holdings { available: "
                            "PositionSize(79228162514264337593543950335), held: PositionSize(1), incoming: "
                            "PositionSize(0) }");
}

// A delta is applied exactly in each field; the entry reports it, and the
// value rounded down where a decimal cannot hold it.
TEST_P(FundsAtTheEdge, DeltaAdjustmentsAreExact) {
  const char* const deltas[] = {"0.6", "1.5", "-0.4", "-0.5", "-0.25"};
  for (std::size_t field = 0; field < 3; ++field) {
    for (const char* d : deltas) {
      FundsEngine f(GetParam());
      f.add_funds();
      f.build();
      std::optional<AdjustmentAmount> start[3], change[3];
      start[field] = absolute(D("50000000000000000000000000000"));
      change[field] = delta(D(d));
      ASSERT_FALSE(f.apply(1, adjust("USD", start[0], start[1], start[2])).failed_index);
      const AdjustmentBatchOutcome out = f.apply(1, adjust("USD", change[0], change[1], change[2]));
      ASSERT_FALSE(out.failed_index);
      const OutcomeEntryRecord& entry = only_entry(out.outcomes);
      const std::optional<OutcomeAmount>& amount = field == 0 ? entry.balance : (field == 1 ? entry.held : entry.incoming);
      ASSERT_TRUE(amount);
      EXPECT_EQ(amount->delta.value, D(d)) << "field " << field << ", delta " << d;
      const Holdings slot = f.slot(1, "USD");
      const LedgerAmount value = field == 0 ? slot.available : (field == 1 ? slot.held : slot.incoming);
      EXPECT_EQ(value, *LedgerAmount(D("50000000000000000000000000000")).plus(D(d)));
      EXPECT_EQ(amount->absolute.value, value.to_decimal(RoundingStrategy::Down));
    }
  }
}

// price × quantity is rounded once, at the 36th place, up for what a buy holds
// and pays, down for what a sell receives: never to nearest first.
TEST_P(FundsAtTheEdge, ProductsRoundOnceTowardsTheHouse) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(2));
  const char* const tiny_over_one = "1.0000000000000000000000000001";
  MainOutcome placed = engine.execute(order(1, Side::Buy, qty(tiny_over_one), D(tiny_over_one)));
  ASSERT_NE(std::get_if<CoreReservation>(&placed), nullptr);
  const Lock lock = std::get<CoreReservation>(placed).lock();
  std::get<CoreReservation>(placed).commit();
  EXPECT_EQ(f.slot(1, "USD").held.to_string(), "1.000000000000000000000000000200000001");
  // Filled in full at its locked price: it pays exactly what it held.
  const PostTradeOutcome filled = engine.apply_execution_report(
      report(1, Side::Buy, std::pair{tiny_over_one, tiny_over_one}, "0", true, lock));
  EXPECT_TRUE(filled.account_blocks.empty());
  EXPECT_EQ(f.slot(1, "USD").available.to_string(), "0.999999999999999999999999999799999999");
  EXPECT_TRUE(f.slot(1, "USD").held.is_zero());
  EXPECT_EQ(f.slot(1, "BTC"), HA(tiny_over_one, "0"));

  // 1E-28 × 2.5E-8 holds 3E-36, not 2E-36.
  MainOutcome tiny = engine.execute(order(1, Side::Buy, qty("0.0000000000000000000000000001"), D("0.000000025")));
  ASSERT_NE(std::get_if<CoreReservation>(&tiny), nullptr);
  EXPECT_EQ(f.slot(1, "USD").held, LedgerAmount::product(D("0.000000000000000001"), D("0.000000000000000003"),
                                                         RoundingStrategy::Up));
  std::get<CoreReservation>(tiny).rollback();

  // A sell of 1E-28 at 3.5E-8 receives 3E-36, not 4E-36.
  MainOutcome sold = engine.execute(order(1, Side::Sell, qty("0.0000000000000000000000000001"), D("0.000000035")));
  ASSERT_NE(std::get_if<CoreReservation>(&sold), nullptr);
  std::get<CoreReservation>(sold).commit();
  const LedgerAmount usd = f.slot(1, "USD").available;
  engine.apply_execution_report(
      report(1, Side::Sell, std::pair{"0.000000035", "0.0000000000000000000000000001"}, "0", true, Lock()));
  EXPECT_EQ(f.slot(1, "USD").available,
            *usd.plus(*LedgerAmount::product(D("0.000000000000000001"), D("0.000000000000000003"),
                                              RoundingStrategy::Up)));
}

// Desk amounts (cents balances, 18-decimal quantities, prices of 2 to 8 places):
// unsent orders rolled back in any order, around deposits and fills, give the
// slot back to the digit and block nothing.
TEST_P(FundsAtTheEdge, RollbacksOfDeskOrdersGiveBackToTheDigit) {
  struct DeskBuy {
    const char* qty;
    const char* price;
  };
  struct RollbackCase {
    const char* deposit;
    std::vector<DeskBuy> buys;            // rolled back first to last
    const char* deposit_between;      // after the buys, before the rollbacks (nullptr: none)
    const char* available_after;
  };
  const RollbackCase cases[] = {
      {"138155.58", {{"0.623195555824052630", "44894.70"}, {"0.876053428479969896", "62825.837488"}}, nullptr,
       "138155.58"},
      {"627667.85", {{"0.426762883984833456", "6670.992560"}}, "782123.04", "1409790.89"},
  };
  for (const RollbackCase& c : cases) {
    FundsEngine f(GetParam());
    f.add_funds();
    EngineCore& engine = f.build();
    f.deposit(1, "USD", D(c.deposit));
    std::vector<MainOutcome> placed;
    for (const DeskBuy& b : c.buys) placed.push_back(engine.execute(order(1, Side::Buy, qty(b.qty), D(b.price))));
    if (c.deposit_between != nullptr) f.deposit(1, "USD", D(c.deposit_between));
    for (MainOutcome& p : placed) {
      ASSERT_NE(std::get_if<CoreReservation>(&p), nullptr) << c.deposit;
      std::get<CoreReservation>(p).rollback();
    }
    EXPECT_EQ(f.slot(1, "USD"), HA(c.available_after, "0")) << c.deposit;
    EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
  }

  // An unsent order rolled back after another one was filled and finished.
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D("7960509.60"));
  MainOutcome a = engine.execute(order(1, Side::Buy, qty("0.860267288012637606"), D("33961.68")));
  MainOutcome b = engine.execute(order(1, Side::Buy, qty("0.906516410248449355"), D("15390.96229624")));
  ASSERT_TRUE(std::get_if<CoreReservation>(&a) && std::get_if<CoreReservation>(&b));
  const Lock lock = std::get<CoreReservation>(b).lock();
  std::get<CoreReservation>(b).commit();
  engine.apply_execution_report(report(1, Side::Buy, std::pair{"15344.78940935", "0.754221653326709863"},
                                       "0.152294756921739492", true, lock));
  std::get<CoreReservation>(a).rollback();
  const LedgerAmount paid = *LedgerAmount::product(D("15344.78940935"), D("0.754221653326709863"), RoundingStrategy::Up);
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{*LedgerAmount(D("7960509.60")).minus(paid), D(0), D(0)}));
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
}

// Many accounts: two unsent buys rolled back first in, first out, and one buy
// cancelled at once by its final report, each at an 8-decimal price for an
// 18-decimal quantity against a cents balance: every slot comes back to the digit.
TEST_P(FundsAtTheEdge, DeskOrdersOverManyBalancesComeBackToTheDigit) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  std::mt19937_64 rng(33);
  auto amount = [&](std::uint64_t below, std::uint32_t places) {
    return Decimal::from_parts(rng() % below + 1, 0, places, false);
  };
  for (std::uint64_t account = 1; account <= 300; ++account) {
    const Decimal cash = amount(9'999'999'999ull, 2);
    f.deposit(account, "USD", cash);
    MainOutcome first = engine.execute(order(account, Side::Buy, TradeAmount::of_quantity(Quantity{amount(500'000'000'000'000'000ull, 18)}),
                                             amount(10'000'000'000'000ull, 8)));
    MainOutcome second = engine.execute(order(account, Side::Buy, TradeAmount::of_quantity(Quantity{amount(500'000'000'000'000'000ull, 18)}),
                                              amount(10'000'000'000'000ull, 8)));
    if (auto* r = std::get_if<CoreReservation>(&first)) r->rollback();
    if (auto* r = std::get_if<CoreReservation>(&second)) r->rollback();
    const Decimal q = amount(500'000'000'000'000'000ull, 18), px = amount(10'000'000'000'000ull, 8);
    MainOutcome cancelled = engine.execute(order(account, Side::Buy, TradeAmount::of_quantity(Quantity{q}), px));
    if (auto* r = std::get_if<CoreReservation>(&cancelled)) {
      const Lock lock = r->lock();
      r->commit();
      engine.apply_execution_report(report(account, Side::Buy, std::nullopt, q.to_string().c_str(), true, lock));
    }
    ASSERT_EQ(f.slot(account, "USD"), (Holdings{cash, D(0), D(0)})) << cash.to_string();
  }
  EXPECT_FALSE(engine.blocks().any_block());
}

// A hold that settles a debt of many places takes the amount and the debt
// exactly: held ends at the amount, not above it, and the undo restores the debt.
TEST_P(FundsAtTheEdge, HoldThatSettlesALongDebtLeavesHeldAtTheAmount) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  ASSERT_FALSE(f.apply(1, adjust("USD", absolute(D("58983398.40")), absolute(D("-0.1234567890123456789012345678"))))
                   .failed_index);
  const Holdings before = f.slot(1, "USD");
  MainOutcome placed = engine.execute(order(1, Side::Buy, qty("0.623195555824052630"), D("44894.70123456")));
  ASSERT_NE(std::get_if<CoreReservation>(&placed), nullptr);
  EXPECT_EQ(f.slot(1, "USD").held,
            LedgerAmount::product(D("0.623195555824052630"), D("44894.70123456"), RoundingStrategy::Up));
  std::get<CoreReservation>(placed).rollback();
  EXPECT_EQ(f.slot(1, "USD"), before);
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
}

// A wide incoming (more than 119 bits) keeps a slot apart; an adjustment
// whose delta needs more than 119 bits in incoming alone is undone whole.
TEST_P(FundsAtTheEdge, IncomingPast119BitsIsKeptAndUndoneExactly) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  const auto fail = [] {
    AccountAdjustmentRecord position;
    position.operation = AccountAdjustmentRecord::PositionOperation{};
    return position;
  };
  ASSERT_FALSE(f.apply(1, adjust("USD", absolute(D(5)), absolute(D(1)), absolute(D("100000000000000000000"))))
                   .failed_index);
  const LedgerAmount wide = *LedgerAmount(D("100000000000000000000")).plus(D("0.0000000000000000000000000001"));
  struct Step {
    AccountAdjustmentRecord (*change)();
    bool fails;
    LedgerAmount incoming;  // after the step
  };
  const Step steps[] = {
      {[] { return adjust("USD", std::nullopt, std::nullopt, delta(D("1E-28"))); }, true, D("1E20")},
      {[] { return adjust("USD", std::nullopt, std::nullopt, delta(D("1E-28"))); }, false, wide},
      // The undo's delta is the whole wide incoming.
      {[] { return adjust("USD", std::nullopt, std::nullopt, absolute(D(0))); }, true, wide},
      {[] { return adjust("USD", absolute(D(7)), std::nullopt, absolute(D(0))); }, true, wide},
      {[] { return adjust("USD", std::nullopt, delta(D(2)), delta(D("-100000000000000000000.00000001"))); }, true, wide},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const Step& s = steps[i];
    const AdjustmentBatchOutcome out = s.fails ? f.apply(1, s.change(), fail()) : f.apply(1, s.change());
    EXPECT_EQ(out.failed_index.has_value(), s.fails) << i;
    EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(5), D(1), s.incoming})) << i;
  }
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
}

// What a reject names is what the account has rounded down and what the order
// asks rounded up; an entry reports the amount moved at its own scale, on a
// packed slot (changed in place) and on one kept apart (the general step) alike.
TEST_P(FundsAtTheEdge, RejectsAndEntriesReportTheAmountAsTheOrderMadeIt) {
  struct RejectRow {
    const char* available;  // nullptr: no slot
    const char* held;
    const char* details;
  };
  const RejectRow rejects[] = {
      {nullptr, "0", "account 1, asset USD: available 0, requested 1.0000000000000000020000000001"},
      {"1", "0", "account 1, asset USD: available 1, requested 1.0000000000000000020000000001"},
      {"1.5", "-0.5", "account 1, asset USD: available 1.0, requested 1.0000000000000000020000000001"},
  };
  for (const RejectRow& r : rejects) {
    FundsEngine f(GetParam());
    f.add_funds();
    EngineCore& engine = f.build();
    if (r.available != nullptr) {
      ASSERT_FALSE(f.apply(1, adjust("USD", absolute(D(r.available)), absolute(D(r.held)))).failed_index);
    }
    const Holdings before = f.slot(1, "USD");
    const MainOutcome out = engine.execute(order(1, Side::Buy, qty("1.000000000000000001"), D("1.000000000000000001")));
    ASSERT_NE(only_reject(out), nullptr) << r.details;
    EXPECT_EQ(only_reject(out)->details, r.details);
    EXPECT_EQ(f.slot(1, "USD"), before);
  }

  struct EntryRow {
    const char* deposit;
    const char* quantity;
    const char* price;
    const char* balance_delta;
    const char* balance;
    const char* held_delta;
    const char* held;
  };
  const EntryRow entries[] = {
      {"5", "1", "1.0000000000000000000000000000", "-1.0000000000000000000000000000", "4.0000000000000000000000000000",
       "1.0000000000000000000000000000", "1.0000000000000000000000000000"},
      {"5", "1.000000000000000000", "1.0000000000", "-1.0000000000000000000000000000", "4.0000000000000000000000000000",
       "1.0000000000000000000000000000", "1.0000000000000000000000000000"},
      {"5.0000000000000000000000000000", "1", "1", "-1", "4.0000000000000000000000000000", "1",
       "1.0000000000000000000000000000"},
      {"10.00", "1.000", "1.0", "-1.0000", "9.0000", "1.0000", "1.0000"},
      // 9 at 28 places needs more than 96 bits: reported at 27.
      {"10", "1", "1.0000000000000000000000000000", "-1.0000000000000000000000000000", "9.000000000000000000000000000",
       "1.0000000000000000000000000000", "1.0000000000000000000000000000"},
      // 36 places, past 119 bits: only the general step takes it.
      {"5", "1.000000000000000000", "1.000000000000000000", "-1.0000000000000000000000000000",
       "4.0000000000000000000000000000", "1.0000000000000000000000000000", "1.0000000000000000000000000000"},
  };
  for (const EntryRow& e : entries) {
    for (bool apart : {false, true}) {
      FundsEngine f(GetParam());
      f.add_funds();
      EngineCore& engine = f.build();
      f.deposit(1, "USD", D(e.deposit));
      // A wide incoming keeps the slot apart, so the hold takes the general step.
      if (apart) {
        ASSERT_FALSE(f.apply(1, adjust("USD", std::nullopt, std::nullopt, absolute(D("1E20"))),
                             adjust("USD", std::nullopt, std::nullopt, delta(D("1E-28")))).failed_index);
      }
      MainOutcome placed = engine.execute(order(1, Side::Buy, qty(e.quantity), D(e.price)));
      CoreReservation* r = std::get_if<CoreReservation>(&placed);
      ASSERT_NE(r, nullptr) << e.quantity << " @ " << e.price;
      const OutcomeEntryRecord& entry = only_entry(r->account_adjustments());
      const std::string seen[] = {entry.balance->delta.value.to_string(), entry.balance->absolute.value.to_string(),
                                  entry.held->delta.value.to_string(), entry.held->absolute.value.to_string()};
      const std::string want[] = {e.balance_delta, e.balance, e.held_delta, e.held};
      for (int k = 0; k < 4; ++k) EXPECT_EQ(seen[k], want[k]) << e.quantity << " @ " << e.price << (apart ? " apart" : " packed");
      r->rollback();
      EXPECT_EQ(f.slot(1, "USD").available, D(e.deposit));
      EXPECT_TRUE(f.slot(1, "USD").held.is_zero());
    }
  }
}

// The undo of a change staged with a block registry other than the engine's
// (the policy learns it from the stage) takes the change back all the same.
TEST_P(FundsAtTheEdge, UndoStagedWithAnotherRegistryTakesEverythingBack) {
  FundsEngine f(GetParam());
  f.add_funds(0, {}, /*share_blocks=*/false);
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(100));
  AccountAdjustmentRecord position;
  position.operation = AccountAdjustmentRecord::PositionOperation{};
  const AdjustmentBatchOutcome out = f.apply(1, adjust("USD", delta(D(-40)), delta(D(7))), std::move(position));
  EXPECT_EQ(out.failed_index, 1u);
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(100), D(0), D(0)}));
  MainOutcome placed = engine.execute(order(1, Side::Buy, qty("3"), D("2.5")));
  ASSERT_NE(std::get_if<CoreReservation>(&placed), nullptr);
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D("92.5"), D("7.5"), D(0)}));
  std::get<CoreReservation>(placed).rollback();
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(100), D(0), D(0)}));
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
}

// An order placed on a debt in held settles it with its hold: a rollback brings
// the debt back, a cancel gives back only the order's own hold, and a finished
// order leaves held higher by the debt settled. available + held is back to the
// digit every way.
TEST_P(FundsAtTheEdge, AnOrderPlacedOnADebtEndsBackInAvailablePlusHeld) {
  enum class End { Rollback, Cancel, Fill };
  struct Row {
    End end;
    Holdings after;
  };
  const Row rows[] = {
      {End::Rollback, HA("911", "-10")},
      {End::Cancel, HA("901", "0")},
      {End::Fill, HA("851", "0")},
  };
  for (const Row& row : rows) {
    FundsEngine f(GetParam());
    f.add_funds();
    EngineCore& engine = f.build();
    f.deposit(1, "USD", D(1000));
    // A buy by volume of 100 at 10 filled 11 at 9: a debt of 10 in held, within the contract.
    MainOutcome volume = engine.execute(order(1, Side::Buy, vol("100"), D(10)));
    ASSERT_NE(std::get_if<CoreReservation>(&volume), nullptr);
    std::get<CoreReservation>(volume).commit();
    engine.apply_execution_report(report(1, Side::Buy, std::pair{"9", "11"}, "0", true, lock_of({{0, "10"}})));
    ASSERT_EQ(f.slot(1, "USD"), HA("911", "-10"));

    MainOutcome placed = engine.execute(order(1, Side::Buy, qty("1"), D(50)));
    CoreReservation* r = std::get_if<CoreReservation>(&placed);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(f.slot(1, "USD"), HA("851", "50"));
    if (row.end == End::Rollback) {
      r->rollback();
    } else {
      const Lock lock = r->lock();
      r->commit();
      const std::optional<std::pair<const char*, const char*>> trade =
          row.end == End::Fill ? std::optional{std::pair{"50", "1"}} : std::nullopt;
      engine.apply_execution_report(report(1, Side::Buy, trade, row.end == End::Fill ? "0" : "1", true, lock));
    }
    const Holdings end = f.slot(1, "USD");
    EXPECT_EQ(end, row.after) << static_cast<int>(row.end);
    if (row.end != End::Fill) {
      EXPECT_EQ(*end.available.plus(end.held), D(901));
    }
    EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
  }
}

// Each delta and each absolute is the exact value rounded down on its own: where
// an amount has more places than 96 bits show, the absolutes are the slot (what a
// desk reconciles on) and the deltas need not add up to them; a change that fits
// a decimal, as every deposit and withdrawal does, is reported exactly.
TEST_P(FundsAtTheEdge, DeltasAndAbsolutesAreRoundedEachOnItsOwn) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(1));
  MainOutcome placed = engine.execute(order(1, Side::Buy, qty("0.000000000000000001"), D("0.000000000000000001")));
  CoreReservation* r = std::get_if<CoreReservation>(&placed);
  ASSERT_NE(r, nullptr);
  const OutcomeEntryRecord& hold = only_entry(r->account_adjustments());
  EXPECT_EQ(hold.balance->delta.value.to_string(), "-0.0000000000000000000000000001");
  EXPECT_EQ(hold.balance->absolute.value.to_string(), "0.9999999999999999999999999999");
  const Lock lock = r->lock();
  r->commit();
  const PostTradeOutcome cancel = engine.apply_execution_report(report(1, Side::Buy, std::nullopt, "0.000000000000000001", true, lock));
  const OutcomeEntryRecord& back = only_entry(cancel.account_adjustments);
  EXPECT_EQ(back.balance->delta.value.to_string(), "0.0000000000000000000000000000");
  EXPECT_EQ(back.balance->absolute.value.to_string(), "1.0000000000000000000000000000");
  EXPECT_EQ(f.slot(1, "USD"), HA("1", "0"));

  // A withdrawal from an account whose amounts have 36 places.
  f.deposit(2, "USD", D("100000000"));
  MainOutcome kept = engine.execute(order(2, Side::Buy, qty("0.000000000000000001"), D("0.000000000000000001")));
  ASSERT_NE(std::get_if<CoreReservation>(&kept), nullptr);
  std::get<CoreReservation>(kept).commit();
  const AdjustmentBatchOutcome out = f.apply(2, adjust("USD", delta(D("-81464609.57"))));
  ASSERT_FALSE(out.failed_index);
  EXPECT_EQ(only_entry(out.outcomes).balance->delta.value, D("-81464609.57"));
  EXPECT_EQ(only_entry(out.outcomes).balance->absolute.value.to_string(), "18535390.429999999999999999999");
}

// A hold whose sum with held, at the finer of their scales, carries past 2^128
// (by less than 2^96): held keeps every digit, and cancelling both orders gives
// the slot back to the digit, so the whole deposit can be held again.
TEST_P(FundsAtTheEdge, HoldsWhoseSumWithHeldCarriesPast2To128KeepTheCarry) {
  struct CarryCase {
    const char* deposit;
    const char* first_price;  // bought 1 at it, and left open
    const char* qty;
    const char* price;
    const char* held_after;
  };
  const CarryCase cases[] = {
      {"340.78", "340.28", "1.000000000000000000", "0.002366920938463464", "340.282366920938463464"},
      {"3403823669209.00000", "3402823669208.99975", "0.000001000000000000", "50000000.12345678",
       "3402823669258.99975012345678"},
  };
  for (const CarryCase& c : cases) {
    FundsEngine f(GetParam());
    f.add_funds();
    EngineCore& engine = f.build();
    f.deposit(1, "USD", D(c.deposit));
    MainOutcome first = engine.execute(order(1, Side::Buy, qty("1"), D(c.first_price)));
    ASSERT_NE(std::get_if<CoreReservation>(&first), nullptr) << c.deposit;
    const Lock first_lock = std::get<CoreReservation>(first).lock();
    std::get<CoreReservation>(first).commit();
    MainOutcome second = engine.execute(order(1, Side::Buy, qty(c.qty), D(c.price)));
    ASSERT_NE(std::get_if<CoreReservation>(&second), nullptr) << c.deposit;
    EXPECT_EQ(f.slot(1, "USD").held, D(c.held_after)) << c.deposit;
    const Lock second_lock = std::get<CoreReservation>(second).lock();
    std::get<CoreReservation>(second).commit();
    engine.apply_execution_report(report(1, Side::Buy, std::nullopt, "1", true, first_lock));
    engine.apply_execution_report(report(1, Side::Buy, std::nullopt, c.qty, true, second_lock));
    EXPECT_EQ(f.slot(1, "USD"), HA(c.deposit, "0")) << c.deposit;
    MainOutcome all = engine.execute(order(1, Side::Buy, qty("1"), D(c.deposit)));
    EXPECT_NE(std::get_if<CoreReservation>(&all), nullptr) << c.deposit;
    EXPECT_FALSE(engine.blocks().any_block());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, FundsAtTheEdge,
                         ::testing::Values(EngineSync::NoSync, EngineSync::FullSync, EngineSync::AccountSync));

}  // namespace
}  // namespace vantrel
