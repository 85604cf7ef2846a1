// Checked arithmetic and comparison: boundaries at 2^96 - 1 and scale 28, carries that force a
// lower scale, zero results (no sign, kept scale), exact versus rounded quotients, remainders.

#include <algorithm>
#include <optional>
#include <random>
#include <string>

#include "decimal_test_util.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {
namespace {

using testing::dec;
using testing::text;

enum class Op { Add, Sub, Mul, Div, Rem, ExactAdd, AddUp, AddDown, MulUp, MulDown, MulAway, MulEven };

struct ArithCase {
  const char* a;
  Op op;
  const char* b;
  const char* expected;  // canonical text (sign and scale included), or "none"
};

void PrintTo(const ArithCase& c, std::ostream* os) {
  *os << c.a << "_op" << static_cast<int>(c.op) << "_" << c.b;
}

std::optional<Decimal> apply(Decimal a, Op op, Decimal b) {
  switch (op) {
    case Op::Add: return a.checked_add(b);
    case Op::Sub: return a.checked_sub(b);
    case Op::Mul: return a.checked_mul(b);
    case Op::Div: return a.checked_div(b);
    case Op::Rem: return a.checked_rem(b);
    case Op::ExactAdd: return a.exact_add(b);
    case Op::AddUp: return a.checked_add(b, RoundingStrategy::Up);
    case Op::AddDown: return a.checked_add(b, RoundingStrategy::Down);
    case Op::MulUp: return a.checked_mul(b, RoundingStrategy::Up);
    case Op::MulDown: return a.checked_mul(b, RoundingStrategy::Down);
    case Op::MulAway: return a.checked_mul(b, RoundingStrategy::MidpointAwayFromZero);
    case Op::MulEven: return a.checked_mul(b, RoundingStrategy::MidpointNearestEven);
  }
  return std::nullopt;
}

class ArithTable : public ::testing::TestWithParam<ArithCase> {};

TEST_P(ArithTable, MatchesExpectedText) {
  const ArithCase& c = GetParam();
  EXPECT_EQ(text(apply(dec(c.a), c.op, dec(c.b))), c.expected) << c.a << " op " << static_cast<int>(c.op) << " " << c.b;
}

// Expected values come from exact rational arithmetic (see the Python differential oracle).
const ArithCase kArithCases[] = {
    {"1.5", Op::Add, "2.25", "3.75"},
    {"0.00", Op::Add, "0", "0.00"},
    {"-0", Op::Add, "0", "0"},
    {"1.10", Op::Sub, "1.1", "0.00"},
    {"-1", Op::Add, "1", "0"},
    {"-1", Op::Sub, "2", "-3"},
    {"79228162514264337593543950335", Op::Add, "1", "none"},
    {"79228162514264337593543950335", Op::Add, "0.4", "79228162514264337593543950335"},
    {"79228162514264337593543950335", Op::Sub, "0.5", "79228162514264337593543950334"},
    {"-79228162514264337593543950335", Op::Sub, "1", "none"},
    {"-79228162514264337593543950335", Op::Add, "-0.5", "none"},
    {"7922816251426433759354395033.5", Op::Add, "0.05", "7922816251426433759354395034"},
    {"79228162514264337593543950335", Op::Add, "0.0000000000000000000000000001", "79228162514264337593543950335"},
    {"1", Op::Add, "0.0000000000000000000000000001", "1.0000000000000000000000000001"},
    {"9", Op::Add, "0.0000000000000000000000000005", "9.000000000000000000000000000"},
    {"9", Op::Add, "0.0000000000000000000000000015", "9.000000000000000000000000002"},
    {"-9", Op::Sub, "0.0000000000000000000000000015", "-9.000000000000000000000000002"},
    {"1.5", Op::Mul, "2", "3.0"},
    {"0", Op::Mul, "-1.5", "0.0"},
    {"-0.00", Op::Mul, "3", "0.00"},
    {"-2", Op::Mul, "-3", "6"},
    {"-2", Op::Mul, "3", "-6"},
    {"0.0000000000000000000000000001", Op::Mul, "0.0000000000000000000000000001", "0.0000000000000000000000000000"},
    {"0.5", Op::Mul, "0.0000000000000000000000000001", "0.0000000000000000000000000000"},
    {"1.5", Op::Mul, "0.0000000000000000000000000001", "0.0000000000000000000000000002"},
    {"-1.5", Op::Mul, "0.0000000000000000000000000001", "-0.0000000000000000000000000002"},
    {"79228162514264337593543950335", Op::Mul, "0.5", "39614081257132168796771975168"},
    {"79228162514264337593543950335", Op::Mul, "2", "none"},
    {"-79228162514264337593543950335", Op::Mul, "1.0", "-79228162514264337593543950335"},
    {"4294967296", Op::Mul, "18446744073709551616", "none"},
    {"3.9614081257132168796771975168", Op::Mul, "2", "7.922816251426433759354395034"},
    {"1.0000000000000000000000000001", Op::Mul, "1.0000000000000000000000000001", "1.0000000000000000000000000002"},
    {"18446744073709551615", Op::Mul, "4294967295", "79228162495817593515539431425"},
    {"1", Op::Div, "3", "0.3333333333333333333333333333"},
    {"3", Op::Div, "2", "1.5"},
    {"6.00", Op::Div, "2", "3.00"},
    {"6", Op::Div, "2.0", "3"},
    {"1", Op::Div, "4", "0.25"},
    {"2", Op::Div, "3", "0.6666666666666666666666666667"},
    {"100", Op::Div, "3", "33.333333333333333333333333333"},
    {"0.00", Op::Div, "3", "0.00"},
    {"0", Op::Div, "0.5", "0"},
    {"-0", Op::Div, "5", "0"},
    {"-7", Op::Div, "2", "-3.5"},
    {"1", Op::Div, "0", "none"},
    {"0", Op::Div, "0", "none"},
    {"79228162514264337593543950335", Op::Div, "0.1", "none"},
    {"79228162514264337593543950335", Op::Div, "0.5", "none"},
    {"79228162514264337593543950335", Op::Div, "1.0", "79228162514264337593543950335"},
    {"0.0000000000000000000000000001", Op::Div, "3", "0.0000000000000000000000000000"},
    {"0.0000000000000000000000000002", Op::Div, "4", "0.0000000000000000000000000000"},
    {"0.0000000000000000000000000006", Op::Div, "4", "0.0000000000000000000000000002"},
    {"79228162514264337593543950335", Op::Div, "3", "26409387504754779197847983445"},
    {"1", Op::Div, "7", "0.1428571428571428571428571429"},
    {"79228162514264337593543950335", Op::Div, "79228162514264337593543950335", "1"},
    {"1", Op::Div, "79228162514264337593543950335", "0.0000000000000000000000000000"},
    {"1", Op::Div, "18446744073709551617", "0.0000000000000000000542101086"},
    {"-5", Op::Div, "0.0000000000000000000000000002", "-25000000000000000000000000000"},
    {"71305346262837903834189555302", Op::Div, "9", "7922816251426433759354395034"},
    {"1000", Op::Div, "0.0000000000000000000000000001", "none"},
    {"12345678901234567890.123456789", Op::Div, "0.000000001", "12345678901234567890123456789"},
    {"-7", Op::Rem, "2", "-1"},
    {"7", Op::Rem, "-2", "1"},
    {"7.5", Op::Rem, "2", "1.5"},
    {"1", Op::Rem, "0.3", "0.1"},
    {"-7", Op::Rem, "7", "0"},
    {"5", Op::Rem, "0", "none"},
    {"0.00", Op::Rem, "3", "0.00"},
    {"79228162514264337593543950335", Op::Rem, "0.0000000000000000000000000003", "0.0000000000000000000000000000"},
    {"0.0000000000000000000000000001", Op::Rem, "79228162514264337593543950335", "0.0000000000000000000000000001"},
    {"-10", Op::Rem, "0.0000000000000000000000000003", "-0.0000000000000000000000000001"},
    {"79228162514264337593543950335", Op::Rem, "18446744073709551617", "18446744069414584320"},
    {"1", Op::Rem, "0.0000000000000000000000000007", "0.0000000000000000000000000004"},
    // Sums that need no rounding; "none" where checked_add would round or overflow.
    {"1.5", Op::ExactAdd, "-1.5", "0.0"},
    {"20000", Op::ExactAdd, "-0.0251256281407035175879396985", "none"},
    {"20000", Op::ExactAdd, "-0.025125628140703517587940", "19999.974874371859296482412060"},
    {"-20000", Op::ExactAdd, "0.0000000000000000000000000001", "none"},
    {"7922816251426433759354395033.5", Op::ExactAdd, "0.05", "none"},
    {"7922816251426433759354395033.5", Op::ExactAdd, "0.50", "7922816251426433759354395034"},
    {"-7922816251426433759354395033.5", Op::ExactAdd, "-0.50", "-7922816251426433759354395034"},
    {"-7922816251426433759354395033.5", Op::ExactAdd, "-0.49", "none"},
    {"79228162514264337593543950335", Op::ExactAdd, "0.0", "79228162514264337593543950335"},
    {"79228162514264337593543950335", Op::ExactAdd, "1", "none"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ArithTable, ::testing::ValuesIn(kArithCases));

// Divisors whose mantissa exceeds 64 bits: the three-limb long division and its chunk edges.
const ArithCase kWideDivisorCases[] = {
    // Just above 2^64: the smallest wide divisors.
    {"1", Op::Div, "18446744073709551616", "0.0000000000000000000542101086"},
    {"36893488147419103233", Op::Div, "18446744073709551616", "2.0000000000000000000542101086"},
    {"-1", Op::Div, "18446744073709551617", "-0.0000000000000000000542101086"},
    {"2", Op::Div, "55340232221128654851", "0.0000000000000000000361400724"},
    // Terminating quotients keep exact digits (up to 28; 1 / 5^29 needs 29 and rounds).
    {"110680464442257309.696", Op::Div, "36893488147419103.232", "3"},
    {"12345", Op::Div, "100000000000000000000", "0.00000000000000012345"},
    {"7", Op::Div, "40000000000000000000", "0.000000000000000000175"},
    {"1", Op::Div, "37252902984619140625", "0.0000000000000000000268435456"},
    {"3", Op::Div, "37252902984619140625", "0.0000000000000000000805306368"},
    {"1", Op::Div, "186264514923095703125", "0.0000000000000000000053687091"},
    {"6.00", Op::Div, "2.00000000000000000000", "3"},
    // Ties at scale 28 and at the last digit a full mantissa takes: half to even.
    {"0.00000001", Op::Div, "200000000000000000000", "0.0000000000000000000000000000"},
    {"0.00000003", Op::Div, "200000000000000000000", "0.0000000000000000000000000002"},
    {"0.00000005", Op::Div, "200000000000000000000", "0.0000000000000000000000000002"},
    {"-0.00000003", Op::Div, "200000000000000000000", "-0.0000000000000000000000000002"},
    {"20000000000000000000000000001", Op::Div, "2.00000000000000000000", "10000000000000000000000000000"},
    {"20000000000000000000000000003", Op::Div, "2.00000000000000000000", "10000000000000000000000000002"},
    // Near 2^96 - 1, and quotients just below 1 whose digit estimates run high: rounding to a
    // new digit, signs, zero results.
    {"-1", Op::Div, "79228162514264337593543950335", "0.0000000000000000000000000000"},
    {"79228162514264337593543950334", Op::Div, "79228162514264337593543950335", "1.0000000000000000000000000000"},
    {"79228162514264337593543950335", Op::Div, "79228162514264337593543950334", "1.0000000000000000000000000000"},
    {"79228162514264337593543950335", Op::Div, "18446744073709551617", "4294967295.9999999997671693563"},
    {"79228162514264337593543950335", Op::Div, "-7922816251426433759354395033.5", "-10"},
    {"-39614081257132168796771975167", Op::Div, "79228162514264337593543950334", "-0.5"},
    {"1284602568372018468915539519", Op::Div, "1284602568372018468915539521", "0.9999999999999999999999999984"},
    // At the edge of 96 bits: a 29th digit that overflows drops a digit, too large fails.
    {"79228162514264337593543950328", Op::Div, "9999999999999999999999999999", "7.922816251426433759354395034"},
    {"79228162514264337593543950329", Op::Div, "9999999999999999999999999999", "7.922816251426433759354395034"},
    {"-79228162514264337593543950329", Op::Div, "99999999999999999999.99999999", "-792281625.1426433759354395034"},
    {"39614081257132168796771975168", Op::Div, "-50000000000000000000", "-792281625.1426433759354395034"},
    {"79228162514264337593543950328", Op::Div, "0.9999999999999999999999999999", "none"},
    {"79228162514264337593543950335", Op::Div, "0.0000000018446744073709551617", "none"},
    {"42949672960000000000", Op::Div, "0.0000000018446744073709551616", "23283064365386962890625000000"},
    {"7922816251426433759.3543950335", Op::Div, "0.0000000018446744073709551616", "4294967295999999999999999999.9"},
    {"1", Op::Div, "0.0000000018446744073709551616", "542101086.24275221700372640043"},
    // Remainders that fold a power of ten into a wide divisor.
    {"79228162514264337593543950335", Op::Rem, "0.0000000018446744073709551617", "0.0000000015144140985790156992"},
    {"-12345.6789", Op::Rem, "18446744073.709551617", "-12345.678900000"},
    {"1", Op::Rem, "0.0000000079228162514264337593", "0.0000000066184187489357149808"},
};

INSTANTIATE_TEST_SUITE_P(WideDivisor, ArithTable, ::testing::ValuesIn(kWideDivisorCases));

// Rounded once, toward positive (Up) or negative (Down) infinity; exact results keep their scale.
const ArithCase kDirectedCases[] = {
    {"1.0000000000000000000000000001", Op::MulUp, "1.0000000000000000000000000001", "1.0000000000000000000000000003"},
    {"1.0000000000000000000000000001", Op::MulDown, "1.0000000000000000000000000001", "1.0000000000000000000000000002"},
    {"-1.0000000000000000000000000001", Op::MulUp, "1.0000000000000000000000000001", "-1.0000000000000000000000000002"},
    {"-1.0000000000000000000000000001", Op::MulDown, "1.0000000000000000000000000001", "-1.0000000000000000000000000003"},
    {"2.5", Op::MulUp, "0.0000000000000000000000000001", "0.0000000000000000000000000003"},
    {"3.5", Op::MulDown, "0.0000000000000000000000000001", "0.0000000000000000000000000003"},
    {"1.5", Op::MulUp, "2", "3.0"},
    {"0.0000000000000001", Op::MulDown, "0.0000000000000001", "0.0000000000000000000000000000"},
    {"0.0000000000000001", Op::MulUp, "0.0000000000000001", "0.0000000000000000000000000001"},
    {"-0.0000000000000001", Op::MulUp, "0.0000000000000001", "0.0000000000000000000000000000"},
    {"-0.0000000000000001", Op::MulDown, "0.0000000000000001", "-0.0000000000000000000000000001"},
    {"79228162514264337593543950335", Op::MulUp, "1.0000000000000000000000000001", "none"},
    {"50000000000000000000000000000", Op::AddDown, "0.6", "50000000000000000000000000000"},
    {"50000000000000000000000000000", Op::AddUp, "0.6", "50000000000000000000000000001"},
    {"50000000000000000000000000000", Op::AddDown, "-0.4", "49999999999999999999999999999"},
    {"50000000000000000000000000000", Op::AddUp, "-0.4", "50000000000000000000000000000"},
    {"79228162514264337593543950335", Op::AddDown, "0.5", "79228162514264337593543950335"},
    {"79228162514264337593543950335", Op::AddUp, "0.5", "none"},
    {"1.5", Op::AddUp, "2.25", "3.75"},
    {"8.776543210987654321098765432", Op::AddDown, "0.1234567890123456789012345678", "8.899999999999999999999999999"},
    // The product's sign comes from both factors.
    {"1.0000000000000000000000000001", Op::MulUp, "-1.0000000000000000000000000001", "-1.0000000000000000000000000002"},
    {"1.0000000000000000000000000001", Op::MulDown, "-1.0000000000000000000000000001", "-1.0000000000000000000000000003"},
    {"-1.0000000000000000000000000001", Op::MulUp, "-1.0000000000000000000000000001", "1.0000000000000000000000000003"},
    {"-1.0000000000000000000000000001", Op::MulDown, "-1.0000000000000000000000000001", "1.0000000000000000000000000002"},
    {"2.5", Op::MulUp, "-0.0000000000000000000000000001", "-0.0000000000000000000000000002"},
    {"2.5", Op::MulDown, "-0.0000000000000000000000000001", "-0.0000000000000000000000000003"},
    // Midpoints: away from zero goes up in magnitude at an exact half and past it; nearest-even only past it.
    {"0.0000000000000000000000000001", Op::MulAway, "0.5", "0.0000000000000000000000000001"},
    {"0.0000000000000000000000000001", Op::MulAway, "0.51", "0.0000000000000000000000000001"},
    {"0.0000000000000000000000000001", Op::MulAway, "0.49", "0.0000000000000000000000000000"},
    {"-0.0000000000000000000000000001", Op::MulAway, "0.5", "-0.0000000000000000000000000001"},
    {"0.0000000000000000000000000001", Op::MulAway, "-0.5", "-0.0000000000000000000000000001"},
    {"0.0000000000000000000000000001", Op::MulEven, "0.5", "0.0000000000000000000000000000"},
    {"0.0000000000000000000000000003", Op::MulEven, "0.5", "0.0000000000000000000000000002"},
    {"0.0000000000000000000000000001", Op::MulEven, "0.51", "0.0000000000000000000000000001"},
};

INSTANTIATE_TEST_SUITE_P(Directed, ArithTable, ::testing::ValuesIn(kDirectedCases));

TEST(DecimalArith, NegativeZeroOperandsGiveUnsignedZeros) {
  const Decimal neg_zero = dec("0.0").negated();
  ASSERT_EQ(neg_zero.to_string(), "-0.0");
  EXPECT_EQ(text(neg_zero.checked_add(neg_zero)), "0.0");
  EXPECT_EQ(text(neg_zero.checked_mul(dec("-2"))), "0.0");
  EXPECT_EQ(text(neg_zero.checked_div(dec("2"))), "0.0");
  EXPECT_EQ(text(neg_zero.checked_rem(dec("2"))), "0.0");
}

TEST(DecimalArith, SubtractionIsAdditionOfTheNegation) {
  for (const char* a : {"1.5", "-2.25", "79228162514264337593543950335", "0.0000000000000000000000000001"})
    for (const char* b : {"0.5", "-7922816251426433759354395033.5", "3"})
      EXPECT_EQ(text(dec(a).checked_sub(dec(b))), text(dec(a).checked_add(dec(b).negated()))) << a << " - " << b;
}

struct CompareCase {
  const char* a;
  const char* b;
  int expected;
};

void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.a << "_vs_" << c.b; }

class CompareTable : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareTable, OrdersNumerically) {
  const CompareCase& c = GetParam();
  const Decimal a = dec(c.a), b = dec(c.b);
  EXPECT_EQ(Decimal::compare(a, b), c.expected) << c.a << " vs " << c.b;
  EXPECT_EQ(Decimal::compare(b, a), -c.expected) << c.b << " vs " << c.a;
  EXPECT_EQ(a == b, c.expected == 0);
  EXPECT_EQ(a < b, c.expected < 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompareTable,
    ::testing::Values(
        CompareCase{"1.50", "1.5", 0}, CompareCase{"0", "0.000", 0}, CompareCase{"-1", "0", -1},
        CompareCase{"-1.5", "-1.4", -1}, CompareCase{"1", "0.9999999999999999999999999999", 1},
        CompareCase{"-1", "-0.9999999999999999999999999999", -1},
        CompareCase{"79228162514264337593543950335", "7.9228162514264337593543950335", 1},
        CompareCase{"79228162514264337593543950335", "1.0000000000000000000000000000", 1},
        CompareCase{"-79228162514264337593543950335", "-1.0000000000000000000000000000", -1},
        CompareCase{"7922816251426433759354395033.5", "7922816251426433759354395033.50", 0},
        CompareCase{"0.0000000000000000000000000001", "0", 1}, CompareCase{"-0.0000000000000000000000000001", "0", -1}));

TEST(DecimalCompare, NegativeZeroEqualsEveryZero) {
  const Decimal neg_zero = Decimal::from_parts(0, 0, 3, true);
  EXPECT_EQ(Decimal::compare(neg_zero, Decimal()), 0);
  EXPECT_EQ(Decimal::compare(neg_zero, dec("0.0")), 0);
  EXPECT_LT(neg_zero, dec("0.0000000000000000000000000001"));
  EXPECT_GT(neg_zero, dec("-0.0000000000000000000000000001"));
}


// The wide routines are one template over the limb count: on values both hold,
// 3 and 4 limbs give the same sums, differences, orders, products, quotients
// and roundings, and 128-bit arithmetic gives the same where it suffices.
TEST(WideLimbs, ThreeAndFourLimbsAgree) {
  using namespace decimal_detail;
  using U256 = WideUInt<4>;
  std::mt19937_64 rng(96);
  // Below 2^bits, with limbs all ones, zero or random: carries and borrows run far.
  const auto draw = [&](unsigned bits) {
    U192 v;
    for (std::uint64_t& limb : v.w) {
      const unsigned kind = rng() % 4;
      limb = kind == 0 ? 0 : (kind == 1 ? ~std::uint64_t{0} : rng());
    }
    for (unsigned i = 0; i < 3; ++i) {
      if (64 * i >= bits) {
        v.w[i] = 0;
      } else if (64 * (i + 1) > bits) {
        v.w[i] &= (std::uint64_t{1} << (bits - 64 * i)) - 1;
      }
    }
    return v;
  };
  const auto widen = [](const U192& v) {
    U256 r;
    for (int i = 0; i < 3; ++i) r.w[i] = v.w[i];
    return r;
  };
  const auto same = [](const U192& three, const U256& four) {
    return three.w[0] == four.w[0] && three.w[1] == four.w[1] && three.w[2] == four.w[2] && four.w[3] == 0;
  };
  const RoundingStrategy strategies[] = {RoundingStrategy::MidpointNearestEven, RoundingStrategy::MidpointAwayFromZero,
                                         RoundingStrategy::Up, RoundingStrategy::Down};
  for (int i = 0; i < 20000; ++i) {
    U192 a = draw(rng() % 192), b = draw(rng() % 192);
    if (cmp_wide(a, b) < 0) std::swap(a, b);
    const U256 a4 = widen(a), b4 = widen(b);
    ASSERT_EQ(cmp_wide(a, b), cmp_wide(a4, b4)) << i;
    ASSERT_EQ(cmp_wide(b, a), cmp_wide(b4, a4)) << i;
    ASSERT_TRUE(same(sub_wide(a, b), sub_wide(a4, b4))) << i;
    const U192 sum = add_wide(a, b);
    if (cmp_wide(sum, a) >= 0) {  // no carry out of 192 bits
      ASSERT_TRUE(same(sum, add_wide(a4, b4))) << i;
    }
    const unsigned factor_bits = rng() % 129;
    const u128 factor = draw(factor_bits).low128();
    const U192 small = draw(192 - factor_bits);  // the product fits 192 bits
    ASSERT_TRUE(same(mul_wide(small, factor), mul_wide(widen(small), factor))) << i;
    if (small.fits128()) {  // the 128 x 128 product, from its four partial products
      ASSERT_TRUE(same(mul_wide(small.low128(), factor), mul_wide(widen(small), factor))) << i;
    }
    ASSERT_EQ(a.bit_length(), a4.bit_length()) << i;
    ASSERT_EQ(a.fits96(), a4.fits96()) << i;
    U192 q = a;
    U256 q4 = a4;
    const std::uint64_t d = rng() | 1;
    ASSERT_EQ(q.divmod(d), q4.divmod(d)) << i;
    ASSERT_TRUE(same(q, q4)) << i;
    const unsigned k = 1 + rng() % 57;
    const bool negative = rng() % 2 != 0;
    for (RoundingStrategy strategy : strategies)
      ASSERT_TRUE(same(div_pow10_rounded(a, k, strategy, negative), div_pow10_rounded(a4, k, strategy, negative))) << i;
    ASSERT_TRUE(same(div_pow10_half_even(a, k), div_pow10_half_even(a4, k))) << i;
    if (a.w[2] == 0 && (a.w[1] >> 63) == 0) {  // below 2^127: 128 bits hold the sum and the difference
      const u128 x = a.low128(), y = b.low128();
      ASSERT_EQ(add_wide(a, b).low128(), x + y) << i;
      ASSERT_EQ(sub_wide(a, b).low128(), x - y) << i;
      ASSERT_EQ(q.low128(), x / d) << i;
      ASSERT_EQ(mul_wide(U192::of(a.w[0]), d).low128(), static_cast<u128>(a.w[0]) * d) << i;
    }
  }
}

}  // namespace
}  // namespace vantrel
