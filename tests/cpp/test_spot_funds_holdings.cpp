// Slot arithmetic of the funds policy: holds, releases, fill legs, adjustments
// and the valuation of orders. Every failing step must leave no new value.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
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
  EXPECT_EQ(*step.after.available.plus(step.after.held), *before.available.plus(before.held));
  // The undo restores the slot exactly.
  EXPECT_EQ(release_step(step.after, step.moved), before);
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

// On a packed slot in place the hold decides where every amount is non-negative
// and 128 bits hold each at the largest scale, and then gives what hold_into()
// gives, scales included; elsewhere it leaves the slot to hold_into().
TEST(HoldStep, InPlaceAgreesWithTheGeneralStep) {
  struct Row {
    const char* available;
    const char* held;
    const char* amount;
    bool decides;
    const char* price = nullptr;       // set: the amount is amount × price, rounded up at the 36th place
    const char* held_after = nullptr;  // set: what the general step must leave held at, every digit
  };
  const Row rows[] = {{"20.00", "0", "19.99", true},
                      {"20.00", "3.00", "20.00", true},
                      {"20.00", "3.00", "20.01", true},
                      {"0.5", "0.7", "0.6", true},
                      {"20", "0.000", "20.0001", true},
                      {"20", "0", "19.9999", true},
                      {"20.00", "3.0", "1", true},
                      {"20.00", "3.000", "1", true},
                      {"0.000", "0", "0.5", true},
                      {"20", "0.00000", "1", true},
                      {"10.0", "-5.0", "1.0", false},
                      {"-1", "0", "1", false},
                      {"2", "0", "-1", false},
                      {"79228162514264337593543950335", "79228162514264337593543950335", "1", false},
                      {"79228162514264337593543950334", "0", "79228162514264337593543950335", true},
                      {"79228162514264337593543950335", "0", "0.0000000000000000000000000001", false},
                      {"1", "79228162514264337593543950335", "0.0000000000000000000000000001", false},
                      // Available at the amount's scale needs 120 bits.
                      {"1000000000", "0", "0.0000000000000000000000000001", false},
                      // held + amount at the finest scale carries past 2^128 by less than 2^96: no wrap.
                      {"0.50", "340.28", "1.000000000000000000", false, "0.002366920938463464",
                       "340.282366920938463464000000000000000000"},
                      {"1000000000.00025", "3402823669208.99975", "0.000001000000000000", false, "50000000.12345678",
                       "3402823669258.99975012345678000000000000"},
                      {"1", "34028236692", "0.5000000000000000000000000000", false, nullptr,
                       "34028236692.5000000000000000000000000000"},
                      {"1", "339.78236692093846346187460744", "1.000000000000000001", false, "0.500000000000000001",
                       "340.282366920938463463374607440000000001"}};
  for (const Row& r : rows) {
    const Holdings before = H(r.available, r.held, "7");
    const LedgerAmount amount = r.price == nullptr
                                    ? LedgerAmount(D(r.amount))
                                    : *LedgerAmount::product(D(r.amount), D(r.price), RoundingStrategy::Up);
    Holdings after;
    LedgerAmount figure;
    const HoldVerdict verdict = hold_into(before, amount, figure, after);
    if (r.held_after != nullptr) {
      ASSERT_EQ(verdict, HoldVerdict::Held) << r.held;
      EXPECT_EQ(after.held.to_string(), r.held_after);
      EXPECT_EQ(*after.available.plus(after.held), *before.available.plus(before.held)) << r.held;
    }
    PackedHoldings slot;
    std::unique_ptr<Holdings> none;
    ASSERT_TRUE(slot.reshape(before, none));
    LedgerAmount in_place_figure;
    const std::optional<HoldVerdict> decided = hold_in_place(slot.packed(), *amount.pack_as_is(), in_place_figure);
    ASSERT_EQ(decided.has_value(), r.decides) << r.available << " " << r.held << " " << r.amount;
    if (!decided) {
      EXPECT_EQ(slot.load(), before);
      continue;
    }
    EXPECT_EQ(*decided, verdict) << r.amount;
    EXPECT_EQ(in_place_figure.to_string(), figure.to_string()) << r.amount;
    const Holdings now = slot.load();
    const Holdings expected = verdict == HoldVerdict::Held ? after : before;
    EXPECT_EQ(now.available.to_string(), expected.available.to_string()) << r.amount;
    EXPECT_EQ(now.held.to_string(), expected.held.to_string()) << r.amount;
    EXPECT_EQ(now.incoming, expected.incoming);
  }
}

// Every digit of a magnitude at `scale`, with no trailing zero in a fraction:
// the value, whatever scale it is written at.
std::string value_text(std::string text) {
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}
std::string value_text(ledger_detail::U256 m, unsigned scale) {
  using ledger_detail::u128;
  std::string digits;
  do {
    u128 rem = 0;
    for (int i = 3; i >= 0; --i) {
      const u128 cur = (rem << 64) | m.w[i];
      m.w[i] = static_cast<std::uint64_t>(cur / 10);
      rem = cur % 10;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(rem)));
  } while (!m.is_zero());
  while (digits.size() <= scale) digits.insert(digits.begin(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  return value_text(digits);
}

// Generated packed slots whose aligned held + amount lands next to 2^64, 2^96,
// 2^119 and 2^128 at every scale 0-36: where the in-place hold decides it gives
// exactly what the general step gives on the loaded slot, and the general step
// gives what the amounts aligned in 256 bits give (no carry can leave them).
TEST(HoldStep, InPlaceAgreesWithTheGeneralStepNextToEveryCarry) {
  using ledger_detail::U256;
  using ledger_detail::u128;
  using Packed = LedgerAmount::Packed;
  constexpr int kCases = 200000;
  constexpr u128 kBelow119 = u128{1} << 119;
  const unsigned target_bits[] = {64, 96, 119, 128};  // 2^128 is 0 in 128 bits: the sums below wrap to it
  std::mt19937_64 rng(38);
  const auto below_bits = [&](unsigned bits) -> u128 {
    const u128 r = (static_cast<u128>(rng()) << 64) | rng();
    return bits >= 128 ? r : r & ((u128{1} << bits) - 1);
  };
  const auto some = [&](unsigned max_bits) { return below_bits(static_cast<unsigned>(rng() % (max_bits + 1))); };
  const auto p10 = [](unsigned k) { return decimal_detail::kPow10.v[k]; };
  // A ledger amount packed: below 2^119, and its integer part below 2^96.
  const auto packable = [&](u128 m, unsigned scale) {
    const u128 limit = scale >= 7 ? kBelow119 : (u128{1} << 96) * p10(scale);
    return m < limit ? m : limit - 1 - some(20);
  };
  const auto word = [](u128 m, unsigned scale, bool negative) {
    return Packed{static_cast<std::uint64_t>(m), static_cast<std::uint64_t>(m >> 64) |
                                                     (negative && m != 0 ? std::uint64_t{1} << 55 : 0) |
                                                     std::uint64_t{scale} << 56};
  };
  int carried = 0, at_the_integer_range = 0, unaligned = 0, decided = 0, out_of_range = 0;
  for (int i = 0; i < kCases; ++i) {
    const unsigned s = static_cast<unsigned>(i % 37);
    const unsigned bits = target_bits[(i / 37) % 4];
    const u128 target = bits == 128 ? 0 : u128{1} << bits;
    unsigned sa = rng() % 2 ? s : rng() % (s + 1), sh = rng() % 2 ? s : rng() % (s + 1),
             sm = rng() % 2 ? s : rng() % (s + 1);
    (rng() % 2 ? sh : sm) = s;
    // One of held and the amount takes the most of the target, the other the
    // rest, exactly or a few units off.
    const u128 part = some(bits - 1) + 1;
    const u128 off = rng() % 2 ? 0 : static_cast<u128>(rng() % 7) - 3;
    const bool held_big = sh != sm ? sh < sm : rng() % 2 != 0;  // the coarser scale has the room
    u128 h, m;
    if (held_big) {
      h = packable((target - part) / p10(s - sh), sh);
      m = packable((target - h * p10(s - sh) + off) / p10(s - sm), sm);
    } else {
      m = packable((target - part) / p10(s - sm), sm);
      h = packable((target - m * p10(s - sm) + off) / p10(s - sh), sh);
    }
    // Available covers the amount, by a little or a lot, or falls just short.
    const u128 m_aligned = m * p10(s - sm);
    u128 a_aligned = m_aligned + some(127);
    if (a_aligned < m_aligned) a_aligned = ~u128{0};
    if (rng() % 8 == 0) a_aligned = m_aligned - (rng() % 3);
    u128 a = packable(a_aligned / p10(s - sa) + (a_aligned % p10(s - sa) != 0), sa);
    switch (rng() % 16) {
      case 0: h = 0; break;
      case 1: sh = rng() % 37, h = packable(some(119), sh); break;  // misaligned on purpose
      case 2: sa = rng() % 37, a = packable(some(119), sa); break;
      case 3: sm = rng() % 37, m = packable(some(119), sm); break;
      default: break;
    }
    const unsigned sign = rng() % 16 == 0 ? static_cast<unsigned>(rng() % 3) : 3;  // the one made negative, 3: none
    const Holdings loaded{LedgerAmount::unpack(word(a, sa, sign == 0)), LedgerAmount::unpack(word(h, sh, sign == 1)),
                          LedgerAmount::unpack(word(packable(some(119), 36), 36, false))};
    const Packed amount_word = word(m, sm, sign == 2);
    const auto describe = [&] {
      return loaded.available.to_string() + " " + loaded.held.to_string() + " " +
             LedgerAmount::unpack(amount_word).to_string() + " (case " + std::to_string(i) + ")";
    };
    PackedHoldings slot;
    std::unique_ptr<Holdings> none;
    ASSERT_TRUE(slot.reshape(loaded, none)) << describe();
    const Holdings before = slot.load();
    const LedgerAmount amount = LedgerAmount::unpack(amount_word);
    Holdings after;
    LedgerAmount figure;
    const HoldVerdict verdict = hold_into(before, amount, figure, after);
    LedgerAmount in_place_figure;
    const std::optional<HoldVerdict> in_place = hold_in_place(slot.packed(), amount_word, in_place_figure);
    const Holdings now = slot.load();
    const Holdings& expected = in_place && verdict == HoldVerdict::Held ? after : before;
    if (in_place) {
      ++decided;
      ASSERT_EQ(*in_place, verdict) << describe();
      ASSERT_EQ(in_place_figure.to_string(), figure.to_string()) << describe();
    }
    ASSERT_EQ(now.available.to_string(), expected.available.to_string()) << describe();
    ASSERT_EQ(now.held.to_string(), expected.held.to_string()) << describe();
    ASSERT_EQ(now.incoming.to_string(), expected.incoming.to_string()) << describe();
    if (before.available.is_negative() || before.held.is_negative() || amount.is_negative()) {
      ASSERT_FALSE(in_place) << describe();
      continue;
    }
    // The reference: every amount at 36 places in 256 bits.
    const auto wide_at = [&](u128 magnitude, unsigned scale, unsigned to) {
      return decimal_detail::mul_wide(U256::of(magnitude), p10(to - scale));
    };
    const U256 A = wide_at(a, sa, 36), H = wide_at(h, sh, 36), M = wide_at(m, sm, 36), sum = decimal_detail::add_wide(H, M);
    // A slot the generator filled past the range (above the largest decimal) is no
    // ledger state: only the agreement above holds for it.
    const bool slot_in_range = decimal_detail::cmp_wide(A, ledger_detail::kLimit.v[36]) < 0 &&
                               decimal_detail::cmp_wide(H, ledger_detail::kLimit.v[36]) < 0;
    if (!slot_in_range) {
      ++out_of_range;
    } else if (decimal_detail::cmp_wide(M, A) > 0) {
      ASSERT_EQ(verdict, HoldVerdict::Insufficient) << describe();
      ASSERT_EQ(value_text(figure.to_string()), value_text(A, 36)) << describe();
    } else if (decimal_detail::cmp_wide(sum, ledger_detail::kLimit.v[36]) >= 0) {
      ASSERT_EQ(verdict, HoldVerdict::Overflow) << describe();
    } else {
      ASSERT_EQ(verdict, HoldVerdict::Held) << describe();
      ASSERT_EQ(value_text(after.held.to_string()), value_text(sum, 36)) << describe();
      ASSERT_EQ(value_text(after.available.to_string()), value_text(decimal_detail::sub_wide(A, M), 36)) << describe();
      ASSERT_EQ(figure.to_string(), amount.to_string()) << describe();
    }
    // What the generator reached, at the scale a move aligns to.
    const unsigned at = std::max({sa, sm, h != 0 ? sh : 0u});
    const U256 a_at = wide_at(a, sa, at), m_at = wide_at(m, sm, at), h_at = h == 0 ? U256() : wide_at(h, sh, at),
               sum_at = decimal_detail::add_wide(h_at, m_at);
    if (!a_at.fits128() || !m_at.fits128() || !h_at.fits128()) {
      ++unaligned;
    } else if (decimal_detail::cmp_wide(m_at, a_at) <= 0) {
      if (sum_at.w[3] == 0 && sum_at.w[2] == 1 && (sum_at.w[1] >> 32) == 0) ++carried;  // [2^128, 2^128 + 2^96)
      if (at == 0 && decimal_detail::cmp_wide(sum_at, U256::of(u128{1} << 96)) == 0) ++at_the_integer_range;
    }
  }
  // The generator must keep reaching the edges it exists for.
  EXPECT_GE(carried, 3000);
  EXPECT_GE(at_the_integer_range, 300);
  EXPECT_GE(unaligned, 10000);
  EXPECT_GE(decided, kCases / 4);
  EXPECT_LE(out_of_range, kCases / 10);
}

TEST(HoldStep, DebtIsSettledOnceSoRepeatedHoldsCannotOverspend) {
  Holdings slot = H("25", "-20");
  const HoldStep first = hold_step(slot, D("5"));
  ASSERT_EQ(first.verdict, HoldVerdict::Held);
  slot = first.after;
  const HoldStep second = hold_step(slot, D("5"));
  EXPECT_EQ(second.verdict, HoldVerdict::Insufficient);
  EXPECT_EQ(second.usable, D("0"));
  EXPECT_EQ(release_step(slot, first.moved), H("25", "-20"));
}

TEST(ReleaseStep, OverflowOfEitherAmountGivesNothing) {
  EXPECT_EQ((release_step(H("79228162514264337593543950335", "5"), D("1"))), std::nullopt);
  EXPECT_EQ((release_step(H("0", "-79228162514264337593543950335"), D("1"))), std::nullopt);
  EXPECT_EQ((release_step(H("1", "3", "2"), D("2"))), H("3", "1", "2"));
}

TEST(FillLegStep, ConsumesHeldAndCreditsAvailable) {
  EXPECT_EQ((fill_leg_step(H("0", "20", "1"), D("20"), D("2"))), H("2", "0", "1"));
  // A zero credit leaves available exactly as it was, scale included.
  const std::optional<Holdings> same = (fill_leg_step(H("1.50", "3"), D("3"), Decimal()));
  ASSERT_TRUE(same);
  EXPECT_EQ(same->available.to_string(), "1.50");
  EXPECT_EQ((fill_leg_step(H("0", "79228162514264337593543950335"), D("-1"), D("0"))), std::nullopt);
  EXPECT_EQ((fill_leg_step(H("79228162514264337593543950335", "3"), D("3"), D("1"))), std::nullopt);
}

// Results with more digits than a 96-bit decimal has are exact; each step's
// undo (a release for a hold, the opposite leg for a fill) restores the slot;
// only an amount past the largest 96-bit decimal refuses.
enum class Move : std::uint8_t { Hold, Release, Fill };
struct ExactMoveCase {
  Move move;
  const char* available;
  const char* held;
  const char* amount;  // held, released or consumed
  const char* credit;  // fills only
  const char* available_after;  // nullptr: refused
  const char* held_after;
};

void PrintTo(const ExactMoveCase& c, std::ostream* os) {
  *os << static_cast<int>(c.move) << " (" << c.available << ", " << c.held << ") " << c.amount;
}

class ExactMoves : public ::testing::TestWithParam<ExactMoveCase> {};

TEST_P(ExactMoves, KeepEveryPlaceAndRefuseOnlyOverflow) {
  const ExactMoveCase& c = GetParam();
  const Holdings before = H(c.available, c.held, "7");
  std::optional<Holdings> next, back;
  switch (c.move) {
    case Move::Hold: {
      const HoldStep step = hold_step(before, D(c.amount));
      if (step.verdict == HoldVerdict::Held) next = step.after, back = release_step(step.after, step.moved);
      break;
    }
    case Move::Release:
      next = release_step(before, D(c.amount));
      if (next) back = release_step(*next, LedgerAmount(D(c.amount)).negated());
      break;
    case Move::Fill:
      next = fill_leg_step(before, D(c.amount), D(c.credit));
      if (next) back = fill_leg_step(*next, LedgerAmount(D(c.amount)).negated(), LedgerAmount(D(c.credit)).negated());
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
  EXPECT_EQ(back, before);
}

INSTANTIATE_TEST_SUITE_P(
    Holdings, ExactMoves,
    ::testing::Values(
        ExactMoveCase{Move::Hold, "20000", "0", "0.0251256281407035175879396985", "",
                      "19999.9748743718592964824120603015", "0.0251256281407035175879396985"},
        // A debt of 10000 settled with it.
        ExactMoveCase{Move::Hold, "30000", "-10000", "0.0251256281407035175879396985", "",
                      "19999.9748743718592964824120603015", "0.0251256281407035175879396985"},
        ExactMoveCase{Move::Hold, "70000000000000000000000000000", "0", "0.5", "", "69999999999999999999999999999.5",
                      "0.5"},
        ExactMoveCase{Move::Hold, "1", "7.5555555555555555555555555555", "0.5", "", "0.5",
                      "8.0555555555555555555555555555"},
        ExactMoveCase{Move::Release, "1", "-7.5555555555555555555555555555", "0.5", "", "1.5",
                      "-8.0555555555555555555555555555"},
        ExactMoveCase{Move::Fill, "20000", "30000", "0.0000000000000000000000000015", "0.0000000000000000000000000025",
                      "20000.0000000000000000000000000025", "29999.9999999999999999999999999985"},
        // Only an amount too large refuses.
        ExactMoveCase{Move::Hold, "79228162514264337593543950335", "79228162514264337593543950335", "1", "", nullptr,
                      ""},
        ExactMoveCase{Move::Release, "79228162514264337593543950335", "5", "1", "", nullptr, ""},
        ExactMoveCase{Move::Fill, "0", "-79228162514264337593543950335", "1", "0", nullptr, ""},
        // Nor any fraction past the largest decimal, which could be reported only rounded towards zero.
        ExactMoveCase{Move::Hold, "1", "79228162514264337593543950335", "0.5", "", nullptr, ""},
        ExactMoveCase{Move::Release, "79228162514264337593543950335", "1", "0.0000000000000000000000000001", "",
                      nullptr, ""},
        ExactMoveCase{Move::Fill, "79228162514264337593543950335", "1", "0", "0.5", nullptr, ""}));

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
  // A sum of more places than a decimal has is exact, and so is its delta.
  const AdjustStep exact = adjust_step(H("20000", "0"), adjustment(delta("0.0000000000000000000000000001")));
  ASSERT_EQ(exact.verdict, AdjustVerdict::Adjusted);
  EXPECT_EQ(exact.after.available.to_string(), "20000.0000000000000000000000000001");
  EXPECT_EQ(exact.delta.available, D("0.0000000000000000000000000001"));
}

// Changes whose delta needs more than 96 bits: applied, and undone exactly.
TEST(AdjustStep, LongDeltasAreExactAndUndoneExactly) {
  struct Case {
    Holdings before;
    BalanceAdjustment change;
  };
  const Case cases[] = {
      {H("20000", "0"), adjustment(absolute("0.0000000000000000000000000001"))},
      {H("10000000.00000000000000000001", "0"), adjustment(delta("1000000000.000000000000000000"))},
      {H("0", "0.00000000000000000000001"), adjustment(std::nullopt, delta("-792281.63"))},
      {H("-3.0000000000000000000000000005", "1"), adjustment(absolute("79228162514264.337593543950335"))},
      {H("20000", "20000"), adjustment(absolute("0.0000000000000000000000000001"), absolute("0.0000000000000000000000000001"))},
  };
  for (const Case& c : cases) {
    const AdjustStep step = adjust_step(c.before, c.change);
    ASSERT_EQ(step.verdict, AdjustVerdict::Adjusted) << holdings_text(c.before);
    EXPECT_EQ(step.after.available, *c.before.available.plus(step.delta.available));
    EXPECT_EQ(step.after.held, *c.before.held.plus(step.delta.held));
    EXPECT_EQ(unadjust_step(step.after, step.delta), c.before) << holdings_text(c.before);
  }
}

TEST(UnadjustStep, AllOrNothing) {
  const HoldingsDelta d{D("1"), D("-1"), D("0")};
  EXPECT_EQ(unadjust_step(Holdings{kMin, Decimal(), Decimal()}, d), std::nullopt);
  EXPECT_EQ(unadjust_step(Holdings{Decimal(), kMax, Decimal()}, d), std::nullopt);
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
    LedgerAmount hold = D("123");
    ASSERT_TRUE(settlement_hold(c.side, D(c.price), D(c.quantity), hold));
    EXPECT_EQ(hold.to_string(), need->settlement.to_string()) << c.quantity << " at " << c.price;
  }
  LedgerAmount untouched = D("7");
  EXPECT_FALSE(settlement_hold(Side::Buy, kMax, D("2"), untouched));
  EXPECT_EQ(untouched, D("7"));
}

}  // namespace
}  // namespace vantrel
