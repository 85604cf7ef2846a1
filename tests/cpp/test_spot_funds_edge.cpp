// The funds policy where a slot already uses 28 or 29 significant digits: a
// result the slot cannot hold exactly is rounded down, against the account, and
// an undo moves back exactly what was moved or blocks. Each case in every mode.
#include <gtest/gtest.h>

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

// Next to a 29-digit balance only whole units fit in available: a hold takes
// the exact amount into held and leaves available rounded down; the cancel
// empties held and leaves available one unit short of where it began, never above.
TEST_P(FundsAtTheEdge, CancelledSellEmptiesHeldAndLeavesAvailableAtMostOneUnitShort) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "BTC", D("50000000000000000000000000000"));
  MainOutcome placed = engine.execute(order(1, Side::Sell, qty("0.05"), D(1)));
  ASSERT_NE(std::get_if<CoreReservation>(&placed), nullptr);
  std::get<CoreReservation>(placed).commit();
  EXPECT_EQ(f.slot(1, "BTC"), HA("49999999999999999999999999999", "0.05"));
  const PostTradeOutcome out = engine.apply_execution_report(report(1, Side::Sell, std::nullopt, "0.05", true, Lock()));
  EXPECT_TRUE(out.account_blocks.empty());
  EXPECT_EQ(only_entry(out.account_adjustments).held->delta.value, D("-0.05"));
  EXPECT_EQ(f.slot(1, "BTC"), HA("49999999999999999999999999999", "0"));
}

TEST_P(FundsAtTheEdge, CancelledBuyEmptiesHeldAndLeavesAvailableAtMostOneUnitShort) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D("42995115941683571703859617460"));
  MainOutcome placed = engine.execute(order(1, Side::Buy, qty("1"), D("88286.0663947")));
  ASSERT_NE(std::get_if<CoreReservation>(&placed), nullptr);
  std::get<CoreReservation>(placed).commit();
  // 42995115941683571703859617460 - 88286.0663947 = 42995115941683571703859529173.9336053
  EXPECT_EQ(f.slot(1, "USD"), HA("42995115941683571703859529173", "88286.0663947"));
  const PostTradeOutcome out = engine.apply_execution_report(
      report(1, Side::Buy, std::nullopt, "1", true, lock_of({{0, "88286.0663947"}})));
  EXPECT_TRUE(out.account_blocks.empty());
  // 42995115941683571703859529173 + 88286.0663947 = 42995115941683571703859617459.0663947
  EXPECT_EQ(f.slot(1, "USD"), HA("42995115941683571703859617459", "0"));
}

// A hold whose sum with held needs more places than held keeps: held is
// rounded down, the order accepted, and its undo restores the slot exactly.
TEST_P(FundsAtTheEdge, HoldThatRoundsHeldIsAcceptedAndUndoneExactly) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "BTC", D("7922.817"));
  MainOutcome first = engine.execute(order(1, Side::Sell, vol("0.00262143"), D(67)));
  ASSERT_NE(std::get_if<CoreReservation>(&first), nullptr);
  std::get<CoreReservation>(first).commit();
  const Holdings before = f.slot(1, "BTC");
  EXPECT_EQ(before.held.to_string(), "0.0000391258208955223880597015");
  MainOutcome second = engine.execute(order(1, Side::Sell, qty("10"), D(1)));
  ASSERT_NE(std::get_if<CoreReservation>(&second), nullptr);
  // 0.0000391258208955223880597015 + 10 = 10.0000391258208955223880597015
  EXPECT_EQ(f.slot(1, "BTC").held.to_string(), "10.000039125820895522388059701");
  std::get<CoreReservation>(second).rollback();
  EXPECT_EQ(f.slot(1, "BTC").held.to_string(), before.held.to_string());
  EXPECT_EQ(f.slot(1, "BTC"), before);
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
}

// What rounding held down took may need every digit a decimal has (here 15,
// past any short form): the hold is still taken and its undo gives it back.
TEST_P(FundsAtTheEdge, HoldWhoseRoundingTookManyDigitsIsUndoneExactly) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D("2000000000000000"));
  MainOutcome first = engine.execute(order(1, Side::Buy, qty("1"), D("0.1234567890123456789012345678")));
  ASSERT_NE(std::get_if<CoreReservation>(&first), nullptr);
  std::get<CoreReservation>(first).commit();
  const Holdings before = f.slot(1, "USD");
  EXPECT_EQ(before.held, D("0.1234567890123456789012345678"));
  MainOutcome second = engine.execute(order(1, Side::Buy, qty("1"), D("1234567890123456.1")));
  ASSERT_NE(std::get_if<CoreReservation>(&second), nullptr);
  // 1234567890123456.2234567890123456789012345678, rounded down at 13 places.
  EXPECT_EQ(f.slot(1, "USD").held.to_string(), "1234567890123456.2234567890123");
  std::get<CoreReservation>(second).rollback();
  EXPECT_EQ(f.slot(1, "USD"), before);
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
}

// A deposit after an exact hold leaves no room for the hold's last digits: the
// undo moves nothing and blocks, rather than leave part of the hold behind.
TEST_P(FundsAtTheEdge, HoldUndoThatCannotMoveBackExactlyBlocks) {
  FundsEngine f(GetParam());
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(1));
  MainOutcome placed = engine.execute(order(1, Side::Buy, qty("1"), D("0.1234567890123456789012345678")));
  ASSERT_NE(std::get_if<CoreReservation>(&placed), nullptr);
  EXPECT_EQ(f.slot(1, "USD"), HA("0.8765432109876543210987654322", "0.1234567890123456789012345678"));
  f.deposit(1, "USD", D("7.9"));
  const Holdings before = f.slot(1, "USD");
  EXPECT_EQ(before.held, D("0.1234567890123456789012345678"));
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));
  std::get<CoreReservation>(placed).rollback();
  EXPECT_EQ(f.slot(1, "USD"), before);
  const std::optional<AccountBlock> block = engine.blocks().block_of(AccountId{1});
  ASSERT_TRUE(block);
  EXPECT_EQ(block->reason, "rollback overflow: slot left inconsistent");
  EXPECT_EQ(block->details, "hold rollback overflow: account 1, asset USD, release 0.1234567890123456789012345678, "
                            "slot " + holdings_text(before));
}

// A delta the field cannot take exactly is rounded towards less for the account, in each field.
TEST_P(FundsAtTheEdge, DeltaAdjustmentsRoundAgainstTheAccount) {
  struct Case {
    const char* delta;
    const char* moved;
  };
  const Case cases[] = {{"0.6", "0"}, {"1.5", "1"}, {"-0.4", "-1"}, {"-0.5", "-1"}, {"-0.25", "-1"}};
  for (std::size_t field = 0; field < 3; ++field) {
    for (const Case& c : cases) {
      FundsEngine f(GetParam());
      f.add_funds();
      f.build();
      std::optional<AdjustmentAmount> start[3], change[3];
      start[field] = absolute(D("50000000000000000000000000000"));
      change[field] = delta(D(c.delta));
      ASSERT_FALSE(f.apply(1, adjust("USD", start[0], start[1], start[2])).failed_index);
      const AdjustmentBatchOutcome out = f.apply(1, adjust("USD", change[0], change[1], change[2]));
      ASSERT_FALSE(out.failed_index);
      const OutcomeEntryRecord& entry = only_entry(out.outcomes);
      const std::optional<OutcomeAmount>& amount = field == 0 ? entry.balance : (field == 1 ? entry.held : entry.incoming);
      ASSERT_TRUE(amount);
      EXPECT_EQ(amount->delta.value, D(c.moved)) << "field " << field << ", delta " << c.delta;
      const Holdings slot = f.slot(1, "USD");
      const Decimal value = field == 0 ? slot.available : (field == 1 ? slot.held : slot.incoming);
      EXPECT_EQ(value, *D("50000000000000000000000000000").checked_add(D(c.moved)));
    }
  }
}

// price × quantity is rounded once, up for what a buy holds and pays, down for
// what a sell receives: never to nearest first.
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
  EXPECT_EQ(f.slot(1, "USD"), HA("0.9999999999999999999999999997", "1.0000000000000000000000000003"));
  // Filled in full at its locked price: it pays exactly what it held.
  const PostTradeOutcome filled = engine.apply_execution_report(
      report(1, Side::Buy, std::pair{tiny_over_one, tiny_over_one}, "0", true, lock));
  EXPECT_TRUE(filled.account_blocks.empty());
  EXPECT_EQ(f.slot(1, "USD"), HA("0.9999999999999999999999999997", "0"));
  EXPECT_EQ(f.slot(1, "BTC"), HA(tiny_over_one, "0"));

  // 2.5 × 1E-28 holds 3E-28, not 2E-28.
  MainOutcome tiny = engine.execute(order(1, Side::Buy, qty("0.0000000000000000000000000001"), D("2.5")));
  ASSERT_NE(std::get_if<CoreReservation>(&tiny), nullptr);
  EXPECT_EQ(f.slot(1, "USD").held, D("0.0000000000000000000000000003"));
  std::get<CoreReservation>(tiny).rollback();

  // A sell of 1E-28 at 3.5 receives 3E-28, not 4E-28.
  MainOutcome sold = engine.execute(order(1, Side::Sell, qty("0.0000000000000000000000000001"), D("3.5")));
  ASSERT_NE(std::get_if<CoreReservation>(&sold), nullptr);
  std::get<CoreReservation>(sold).commit();
  const Decimal usd = f.slot(1, "USD").available;
  engine.apply_execution_report(
      report(1, Side::Sell, std::pair{"3.5", "0.0000000000000000000000000001"}, "0", true, Lock()));
  EXPECT_EQ(f.slot(1, "USD").available, *usd.checked_add(D("0.0000000000000000000000000003")));
}

INSTANTIATE_TEST_SUITE_P(Modes, FundsAtTheEdge,
                         ::testing::Values(EngineSync::NoSync, EngineSync::FullSync, EngineSync::AccountSync));

}  // namespace
}  // namespace vantrel
