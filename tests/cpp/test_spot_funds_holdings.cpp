// Slot arithmetic of the funds policy: holds, releases, fill legs, adjustments
// and the valuation of orders. Every failing step must leave no new value.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "vantrel/pretrade/policies/holdings.hpp"
#include "vantrel/pretrade/policies/spot_funds_value.hpp"

namespace vantrel {
namespace {

Decimal D(const char* text) {
  const DecimalParse p = Decimal::parse(text);
  EXPECT_TRUE(p.ok()) << text;
  return p.value;
}
const Decimal kMax = Decimal::from_parts(~0ull, ~0u, 0, false);
const Decimal kMin = kMax.negated();

Holdings H(const char* a, const char* h, const char* i = "0") { return Holdings{D(a), D(h), D(i)}; }

// The slot a release or fill leg leaves, if it was allowed.
std::optional<Holdings> after(const std::optional<Released>& r) { return r ? std::optional(r->after) : std::nullopt; }
std::optional<Holdings> after(const std::optional<FilledLeg>& f) { return f ? std::optional(f->after) : std::nullopt; }

TEST(HoldingsText, PrintsEachAmountWithItsScale) {
  EXPECT_EQ(holdings_text(H("1.50", "-2", "0")),
            "Holdings { available: PositionSize(1.50), held: PositionSize(-2), incoming: PositionSize(0) }");
}

struct HoldCase {
  const char* available;
  const char* held;
  const char* amount;
  HoldVerdict verdict;
  const char* usable_or_moved;  // usable when refused, moved when held
  const char* available_after;
  const char* held_after;
};

void PrintTo(const HoldCase& c, std::ostream* os) {
  *os << "(" << c.available << ", " << c.held << ") hold " << c.amount;
}

class HoldStepTable : public ::testing::TestWithParam<HoldCase> {};

TEST_P(HoldStepTable, DecidesAndMovesAsExpected) {
  const HoldCase& c = GetParam();
  const Holdings before = H(c.available, c.held, "7");
  const HoldStep step = hold_step(before, D(c.amount));
  ASSERT_EQ(step.verdict, c.verdict);
  if (c.verdict == HoldVerdict::Insufficient) {
    EXPECT_EQ(step.usable, D(c.usable_or_moved));
  }
  if (c.verdict != HoldVerdict::Held) return;
  EXPECT_EQ(step.moved, D(c.usable_or_moved));
  EXPECT_EQ(step.after, H(c.available_after, c.held_after, "7"));
  // Conservation: a hold moves funds, it creates none.
  EXPECT_EQ(*step.after.available.checked_add(step.after.held), *before.available.checked_add(before.held));
  EXPECT_EQ(step.taken, step.moved);
  // The undo restores the slot exactly.
  EXPECT_EQ(unadjust_step(step.after, HoldingsDelta{step.taken.negated(), step.moved, Decimal()}), before);
}

INSTANTIATE_TEST_SUITE_P(
    Holds, HoldStepTable,
    ::testing::Values(HoldCase{"20", "0", "20", HoldVerdict::Held, "20", "0", "20"},
                      HoldCase{"20", "3", "5", HoldVerdict::Held, "5", "15", "8"},
                      HoldCase{"20", "0", "20.0001", HoldVerdict::Insufficient, "20", "", ""},
                      HoldCase{"0", "0", "1", HoldVerdict::Insufficient, "0", "", ""},
                      // A debt in held shrinks what is usable...
                      HoldCase{"10", "-5", "6", HoldVerdict::Insufficient, "5", "", ""},
                      // ...and the hold that passes settles it, leaving held at the amount.
                      HoldCase{"10", "-5", "5", HoldVerdict::Held, "10", "0", "5"},
                      HoldCase{"25", "-20", "5", HoldVerdict::Held, "25", "0", "5"},
                      HoldCase{"25", "-20", "2", HoldVerdict::Held, "22", "3", "2"},
                      // The usable sum itself overflows.
                      HoldCase{"-79228162514264337593543950335", "-1", "1", HoldVerdict::Overflow, "", "", ""},
                      // held + amount overflows.
                      HoldCase{"79228162514264337593543950335", "79228162514264337593543950335", "1",
                               HoldVerdict::Overflow, "", "", ""}));

TEST(HoldStep, DebtIsSettledOnceSoRepeatedHoldsCannotOverspend) {
  Holdings slot = H("25", "-20");
  const HoldStep first = hold_step(slot, D("5"));
  ASSERT_EQ(first.verdict, HoldVerdict::Held);
  slot = first.after;
  const HoldStep second = hold_step(slot, D("5"));
  EXPECT_EQ(second.verdict, HoldVerdict::Insufficient);
  EXPECT_EQ(second.usable, D("0"));
  EXPECT_EQ(unadjust_step(slot, HoldingsDelta{first.taken.negated(), first.moved, Decimal()}), H("25", "-20"));
}

TEST(ReleaseStep, OverflowOfEitherAmountGivesNothing) {
  EXPECT_EQ(after(release_step(H("79228162514264337593543950335", "5"), D("1"))), std::nullopt);
  EXPECT_EQ(after(release_step(H("0", "-79228162514264337593543950335"), D("1"))), std::nullopt);
  EXPECT_EQ(after(release_step(H("1", "3", "2"), D("2"))), H("3", "1", "2"));
}

TEST(FillLegStep, ConsumesHeldAndCreditsAvailable) {
  EXPECT_EQ(after(fill_leg_step(H("0", "20", "1"), D("20"), D("2"))), H("2", "0", "1"));
  // A zero credit leaves available exactly as it was, scale included.
  const std::optional<Holdings> same = after(fill_leg_step(H("1.50", "3"), D("3"), Decimal()));
  ASSERT_TRUE(same);
  EXPECT_EQ(same->available.to_string(), "1.50");
  EXPECT_EQ(after(fill_leg_step(H("0", "79228162514264337593543950335"), D("-1"), D("0"))), std::nullopt);
  EXPECT_EQ(after(fill_leg_step(H("79228162514264337593543950335", "3"), D("3"), D("1"))), std::nullopt);
}

// Results with more digits than 96 bits hold: each resulting amount is
// rounded towards negative infinity at the finest scale that holds it (the
// exact value is in the comment), never refused for precision alone.
enum class Move : std::uint8_t { Hold, Release, Fill };
struct RoundedMoveCase {
  Move move;
  const char* available;
  const char* held;
  const char* amount;  // held, released or consumed
  const char* credit;  // fills only
  const char* available_after;  // nullptr: refused
  const char* held_after;
};

void PrintTo(const RoundedMoveCase& c, std::ostream* os) {
  *os << static_cast<int>(c.move) << " (" << c.available << ", " << c.held << ") " << c.amount;
}

class RoundedMoves : public ::testing::TestWithParam<RoundedMoveCase> {};

TEST_P(RoundedMoves, RoundEachResultDownAndRefuseOnlyOverflow) {
  const RoundedMoveCase& c = GetParam();
  const Holdings before = H(c.available, c.held, "7");
  std::optional<Holdings> next;
  Decimal into_held, into_available;
  switch (c.move) {
    case Move::Hold: {
      const HoldStep step = hold_step(before, D(c.amount));
      if (step.verdict == HoldVerdict::Held) {
        next = step.after, into_held = step.moved, into_available = step.taken.negated();
        // The undo takes back exactly what moved.
        EXPECT_EQ(unhold_step(step.after, step.taken, step.moved, step.lost), before);
      }
      break;
    }
    case Move::Release:
      if (const std::optional<Released> r = release_step(before, D(c.amount)))
        next = r->after, into_held = r->amount.negated(), into_available = *r->after.available.checked_sub(before.available);
      break;
    case Move::Fill:
      if (const std::optional<FilledLeg> f = fill_leg_step(before, D(c.amount), D(c.credit)))
        next = f->after, into_held = f->consumed.negated(), into_available = f->credited;
      break;
  }
  if (c.available_after == nullptr) {
    EXPECT_EQ(next, std::nullopt);
    return;
  }
  ASSERT_TRUE(next);
  EXPECT_EQ(next->available.to_string(), c.available_after);
  EXPECT_EQ(next->held.to_string(), c.held_after);
  EXPECT_EQ(next->incoming, D("7"));
  // What each step reports as moved is what the side moved by (held's change
  // may itself need more places than 96 bits hold: the undo above covers it).
  EXPECT_EQ(before.available.exact_add(into_available), next->available);
  if (const std::optional<Decimal> exact = before.held.exact_add(into_held)) EXPECT_EQ(*exact, next->held);
}

INSTANTIATE_TEST_SUITE_P(
    Holdings, RoundedMoves,
    ::testing::Values(
        // 20000 - 0.0251256281407035175879396985 = 19999.9748743718592964824120603015: held takes
        // the amount whole, available keeps 24 places.
        RoundedMoveCase{Move::Hold, "20000", "0", "0.0251256281407035175879396985", "",
                        "19999.974874371859296482412060", "0.0251256281407035175879396985"},
        // A debt of 10000 settled with it: 10000.0251256281407035175879396985 moved, rounded up.
        RoundedMoveCase{Move::Hold, "30000", "-10000", "0.0251256281407035175879396985", "",
                        "19999.974874371859296482412060", "0.025125628140703517587940"},
        // 7E+28 - 0.5: only whole units fit next to a 29-digit balance.
        RoundedMoveCase{Move::Hold, "70000000000000000000000000000", "0", "0.5", "",
                        "69999999999999999999999999999", "0.5"},
        // held's own digits overflow: 7.5555555555555555555555555555 + 0.5 = 8.0555555555555555555555555555.
        RoundedMoveCase{Move::Hold, "1", "7.5555555555555555555555555555", "0.5", "", "0.5",
                        "8.055555555555555555555555555"},
        // 19999.974874371859296482412060 + 0.0251256281407035175879396985 = 19999.9999999999999999999999996985.
        RoundedMoveCase{Move::Release, "19999.974874371859296482412060", "0.0251256281407035175879396985",
                        "0.0251256281407035175879396985", "", "19999.999999999999999999999999", "0.0000000000000000000000000000"},
        // A negative result rounds away from zero: -7.5555555555555555555555555555 - 0.5.
        RoundedMoveCase{Move::Release, "1", "-7.5555555555555555555555555555", "0.5", "", "1.5",
                        "-8.055555555555555555555555556"},
        RoundedMoveCase{Move::Release, "-7.5555555555555555555555555555", "1", "0.5", "",
                        "-7.0555555555555555555555555555", "0.5"},
        // 30000 - 0.0000000000000000000000000015 and 20000 + 0.0000000000000000000000000025.
        RoundedMoveCase{Move::Fill, "20000", "30000", "0.0000000000000000000000000015", "0.0000000000000000000000000025",
                        "20000.000000000000000000000000", "29999.999999999999999999999999"},
        // A negative credit that fits is exact.
        RoundedMoveCase{Move::Fill, "69.87884716237750733502933787", "0", "0", "-0.00000000000000000000000001",
                        "69.87884716237750733502933786", "0"},
        // 0.0000391258208955223880597015 + 10 needs 29 places after 2 digits: held is rounded
        // down to 10.000039125820895522388059701 and the undo adds back the 5E-28 it lost.
        RoundedMoveCase{Move::Hold, "7922.816960874179104477611940", "0.0000391258208955223880597015", "10", "",
                        "7912.816960874179104477611940", "10.000039125820895522388059701"},
        // Both sides round (20000 - 0.5000000000000000000000000001, 7.5 + it); held's change,
        // 0.5, is exact, so the undo is.
        RoundedMoveCase{Move::Hold, "20000", "7.5", "0.5000000000000000000000000001", "",
                        "19999.499999999999999999999999", "8.000000000000000000000000000"},
        // Both sides round and held's change would need 29 places: 20000 - 8.000000000000000000000000001
        // and 0.0000391258208955223880597015 + 8.000000000000000000000000001 = 8.0000391258208955223880597025.
        RoundedMoveCase{Move::Hold, "20000", "0.0000391258208955223880597015", "8.000000000000000000000000001", "",
                        "19991.999999999999999999999999", "8.000039125820895522388059702"},
        // Only an integer part too large refuses.
        RoundedMoveCase{Move::Hold, "79228162514264337593543950335", "79228162514264337593543950335", "1", "", nullptr,
                        ""},
        RoundedMoveCase{Move::Release, "79228162514264337593543950335", "5", "1", "", nullptr, ""},
        RoundedMoveCase{Move::Fill, "0", "-79228162514264337593543950335", "1", "0", nullptr, ""}));

BalanceAdjustment adjustment(std::optional<FieldAdjustment> balance, std::optional<FieldAdjustment> held = {},
                             std::optional<FieldAdjustment> incoming = {}) {
  BalanceAdjustment a;
  a.fields = {balance, held, incoming};
  return a;
}
FieldAdjustment delta(const char* v) { return {false, D(v)}; }
FieldAdjustment absolute(const char* v) { return {true, D(v)}; }

TEST(AdjustStep, DeltasAndAbsolutesGiveNewValuesAndDeltas) {
  const AdjustStep deposit = adjust_step(Holdings{}, adjustment(delta("100")));
  ASSERT_EQ(deposit.verdict, AdjustVerdict::Adjusted);
  EXPECT_EQ(deposit.after, H("100", "0"));
  EXPECT_EQ(deposit.delta.available, D("100"));

  const AdjustStep reset = adjust_step(H("5", "30", "2"), adjustment({}, absolute("0"), delta("-3")));
  ASSERT_EQ(reset.verdict, AdjustVerdict::Adjusted);
  EXPECT_EQ(reset.after, H("5", "0", "-1"));
  EXPECT_EQ(reset.delta.available, D("0"));
  EXPECT_EQ(reset.delta.held, D("-30"));
  EXPECT_EQ(reset.delta.incoming, D("-3"));
  EXPECT_EQ(unadjust_step(reset.after, reset.delta), H("5", "30", "2"));
}

TEST(AdjustStep, BoundsApplyToPresentFieldsOnly) {
  BalanceAdjustment a = adjustment(delta("-50"));
  a.bounds[0].lower = D("0");
  a.bounds[1].upper = D("-1000");  // held is not adjusted: its bound is not looked at
  const AdjustStep refused = adjust_step(H("20", "0"), a);
  EXPECT_EQ(refused.verdict, AdjustVerdict::BoundsExceeded);
  EXPECT_EQ(refused.field, HoldingsField::Balance);
  EXPECT_EQ(refused.value, D("-30"));

  a.fields[0] = delta("-20");
  EXPECT_EQ(adjust_step(H("20", "0"), a).verdict, AdjustVerdict::Adjusted);  // the bound is inclusive
  a.bounds[2].upper = D("4");
  a.fields[2] = absolute("4.0001");
  const AdjustStep over = adjust_step(H("20", "0"), a);
  EXPECT_EQ(over.verdict, AdjustVerdict::BoundsExceeded);
  EXPECT_EQ(over.field, HoldingsField::Incoming);
}

TEST(AdjustStep, FirstFailureInFieldOrderDecides) {
  BalanceAdjustment a = adjustment(delta("1"), absolute("-5"));
  a.bounds[1].lower = D("0");
  const AdjustStep value_overflow = adjust_step(H("79228162514264337593543950335", "0"), a);
  EXPECT_EQ(value_overflow.verdict, AdjustVerdict::ValueOverflow);
  EXPECT_EQ(value_overflow.field, HoldingsField::Balance);
  EXPECT_EQ(value_overflow.current, kMax);
  EXPECT_EQ(value_overflow.applied, D("1"));

  // The new value fits, its delta does not.
  const AdjustStep delta_overflow = adjust_step(Holdings{kMin, Decimal(), Decimal()}, adjustment(absolute("1")));
  EXPECT_EQ(delta_overflow.verdict, AdjustVerdict::DeltaOverflow);
  EXPECT_EQ(delta_overflow.field, HoldingsField::Balance);
  // A second field whose delta must be rounded has no room for its remainder.
  BalanceAdjustment both = adjustment(absolute("0.0000000000000000000000000001"), absolute("0.0000000000000000000000000001"));
  const AdjustStep two = adjust_step(H("20000", "20000"), both);
  EXPECT_EQ(two.verdict, AdjustVerdict::DeltaOverflow);
  EXPECT_EQ(two.field, HoldingsField::Held);
  // A sum too long for the field is rounded, and its delta is the change made.
  const AdjustStep rounded = adjust_step(H("20000", "0"), adjustment(delta("0.0000000000000000000000000001")));
  ASSERT_EQ(rounded.verdict, AdjustVerdict::Adjusted);
  EXPECT_EQ(rounded.after.available.exact_sub(rounded.delta.available), D("20000"));
}

// Changes whose delta needs more than 96 bits: applied, the entry's delta
// rounded down (never more than the change made), and the undo exact.
TEST(AdjustStep, ADeltaTooLongIsRoundedDownAndUndoneExactly) {
  struct Case {
    Holdings before;
    BalanceAdjustment change;
  };
  const Case cases[] = {
      {H("20000", "0"), adjustment(absolute("0.0000000000000000000000000001"))},
      {H("10000000.00000000000000000001", "0"), adjustment(delta("1000000000.000000000000000000"))},
      {H("0.00999999999999999999999", "0.00000000000000000000001"), adjustment(delta("792281.63"))},
      {H("0", "0.00000000000000000000001"), adjustment(std::nullopt, delta("-792281.63"))},
      {H("-3.0000000000000000000000000005", "1"), adjustment(absolute("79228162514264.337593543950335"))},
  };
  for (const Case& c : cases) {
    const AdjustStep step = adjust_step(c.before, c.change);
    ASSERT_EQ(step.verdict, AdjustVerdict::Adjusted) << holdings_text(c.before);
    ASSERT_NE(step.remainder.field, AdjustRemainder::kNone);
    const std::size_t f = step.remainder.field;
    const Decimal old_value = f == 0 ? c.before.available : c.before.held;
    const Decimal new_value = f == 0 ? step.after.available : step.after.held;
    const Decimal d = f == 0 ? step.delta.available : step.delta.held;
    // old + delta falls short of the new value by the remainder, less than a unit of the delta's last place.
    const Decimal taken = step.remainder.taken;
    EXPECT_FALSE(taken.is_negative());
    EXPECT_GT(taken, Decimal());
    EXPECT_LT(taken, Decimal::from_parts(1, 0, d.scale(), false));
    const std::optional<Decimal> rebuilt = new_value.exact_sub(d);
    if (rebuilt) EXPECT_EQ(rebuilt->exact_sub(taken), old_value);
    EXPECT_EQ(unadjust_step(step.after, step.delta, step.remainder), c.before) << holdings_text(c.before);
    // The rounded delta alone would not give the old value back.
    EXPECT_NE(unadjust_step(step.after, step.delta), std::optional<Holdings>(c.before));
  }
}

TEST(UnadjustStep, AllOrNothing) {
  const HoldingsDelta d{D("1"), D("-1"), D("0")};
  EXPECT_EQ(unadjust_step(Holdings{kMin, Decimal(), Decimal()}, d), std::nullopt);
  EXPECT_EQ(unadjust_step(Holdings{Decimal(), kMax, Decimal()}, d), std::nullopt);
  // Taken back only exactly.
  EXPECT_EQ(unadjust_step(H("20000", "0"), HoldingsDelta{D("0.0000000000000000000000000001"), D("0"), D("0")}),
            std::nullopt);
}

// ---- valuation ----

struct SlipCase {
  Side side;
  const char* base;
  std::uint16_t bps;
  const char* expected;  // nullptr: no price
};

void PrintTo(const SlipCase& c, std::ostream* os) {
  *os << (c.side == Side::Buy ? "buy " : "sell ") << c.base << " at " << c.bps << " bps";
}

class SlippedPrice : public ::testing::TestWithParam<SlipCase> {};

TEST_P(SlippedPrice, MovesAgainstTheTrader) {
  const SlipCase& c = GetParam();
  const std::optional<Decimal> price = slipped_price(c.side, D(c.base), slippage_fraction(c.bps));
  if (c.expected == nullptr) {
    EXPECT_EQ(price, std::nullopt);
  } else {
    ASSERT_TRUE(price);
    EXPECT_EQ(*price, D(c.expected));
  }
}

INSTANTIATE_TEST_SUITE_P(Valuation, SlippedPrice,
                         ::testing::Values(SlipCase{Side::Buy, "100", 100, "101"},
                                           SlipCase{Side::Sell, "100", 100, "99"},
                                           SlipCase{Side::Buy, "100", 25, "100.25"},
                                           SlipCase{Side::Buy, "100", 0, "100"},
                                           SlipCase{Side::Buy, "100", 10000, "200"},
                                           SlipCase{Side::Sell, "100", 10000, nullptr},
                                           SlipCase{Side::Sell, "100", 9999, "0.01"},
                                           SlipCase{Side::Buy, "0", 10, nullptr},
                                           SlipCase{Side::Buy, "-1", 10, nullptr},
                                           SlipCase{Side::Sell, "-1", 10, nullptr},
                                           SlipCase{Side::Buy, "79228162514264337593543950335", 1, nullptr}));

TEST(SlippageFraction, IsBasisPointsOverTenThousand) {
  EXPECT_EQ(slippage_fraction(25), D("0.0025"));
  EXPECT_EQ(slippage_fraction(10000), D("1"));
}

struct NeedCase {
  Side side;
  bool by_volume;
  const char* amount;
  const char* price;  // nullptr: no price
  const char* underlying;
  const char* settlement;
  const char* lock;  // nullptr: nothing locked; "fail": no value
};

void PrintTo(const NeedCase& c, std::ostream* os) {
  *os << (c.side == Side::Buy ? "buy " : "sell ") << (c.by_volume ? "volume " : "quantity ") << c.amount << " at "
      << (c.price ? c.price : "market");
}

class Requirements : public ::testing::TestWithParam<NeedCase> {};

TEST_P(Requirements, FollowSideAmountAndPrice) {
  const NeedCase& c = GetParam();
  const TradeAmount amount{c.by_volume ? TradeAmount::Kind::Volume : TradeAmount::Kind::Quantity, D(c.amount)};
  const std::optional<Decimal> price = c.price ? std::optional<Decimal>(D(c.price)) : std::nullopt;
  const std::optional<FundsRequirements> need = funds_requirements(c.side, amount, price);
  if (c.lock != nullptr && std::string(c.lock) == "fail") {
    EXPECT_EQ(need, std::nullopt);
    return;
  }
  ASSERT_TRUE(need);
  EXPECT_EQ(need->underlying, D(c.underlying));
  EXPECT_EQ(need->settlement, D(c.settlement));
  EXPECT_FALSE(need->settlement.is_negative() && !need->settlement.is_zero());
  if (c.lock == nullptr)
    EXPECT_EQ(need->lock_price, std::nullopt);
  else
    EXPECT_EQ(need->lock_price, D(c.lock));
}

INSTANTIATE_TEST_SUITE_P(
    Orders, Requirements,
    ::testing::Values(NeedCase{Side::Buy, false, "2", "10", "0", "20", "10"},
                      NeedCase{Side::Buy, false, "2", "-1", "0", "0", "-1"},
                      NeedCase{Side::Buy, true, "50", "10", "0", "50", "10"},
                      NeedCase{Side::Buy, true, "50", "-1", "0", "0", "-1"},
                      NeedCase{Side::Buy, true, "50", "0", "0", "0", "0"},
                      NeedCase{Side::Buy, false, "2", nullptr, "", "", "fail"},
                      NeedCase{Side::Buy, false, "2", "79228162514264337593543950335", "", "", "fail"},
                      NeedCase{Side::Sell, false, "3", "5", "3", "0", nullptr},
                      NeedCase{Side::Sell, false, "3", nullptr, "3", "0", nullptr},
                      NeedCase{Side::Sell, false, "3", "-2", "3", "6", "-2"},
                      NeedCase{Side::Sell, true, "50", "10", "5", "0", nullptr},
                      NeedCase{Side::Sell, true, "50", "0", "", "", "fail"},
                      NeedCase{Side::Sell, true, "50", nullptr, "", "", "fail"},
                      NeedCase{Side::Sell, false, "79228162514264337593543950335", "2", "", "", "fail"}));

// Reports give back what the hold took only if both compute an order's hold alike.
TEST(SettlementHold, IsWhatTheOrderHolds) {
  struct Case {
    Side side;
    const char* quantity;
    const char* price;
  };
  const Case cases[] = {
      {Side::Buy, "2", "10"},
      {Side::Buy, "1.0000000000000000000000000001", "1.0000000000000000000000000001"},
      {Side::Buy, "0.781183198343459", "10.94342330598699409987"},
      {Side::Buy, "2", "-1"},
      {Side::Sell, "0.3333333333333333333333333333", "-1.5"},
      {Side::Sell, "0.0000000000000000000000000001", "-2.5"},
      {Side::Sell, "3", "5"},
  };
  for (const Case& c : cases) {
    const std::optional<FundsRequirements> need =
        funds_requirements(c.side, TradeAmount{TradeAmount::Kind::Quantity, D(c.quantity)}, D(c.price));
    ASSERT_TRUE(need);
    Decimal hold = D("123");
    ASSERT_TRUE(settlement_hold(c.side, D(c.price), D(c.quantity), hold));
    EXPECT_EQ(hold.to_string(), need->settlement.to_string()) << c.quantity << " at " << c.price;
  }
  Decimal untouched = D("7");
  EXPECT_FALSE(settlement_hold(Side::Buy, kMax, D("2"), untouched));
  EXPECT_EQ(untouched, D("7"));
}

}  // namespace
}  // namespace vantrel
