// Checked arithmetic and comparison: boundaries at 2^96 - 1 and scale 28, carries that force a
// lower scale, zero results (no sign, kept scale), exact versus rounded quotients, remainders.

#include <optional>
#include <string>

#include "decimal_test_util.hpp"

namespace vantrel {
namespace {

using testing::dec;
using testing::text;

enum class Op { Add, Sub, Mul, Div, Rem };

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
};

INSTANTIATE_TEST_SUITE_P(Cases, ArithTable, ::testing::ValuesIn(kArithCases));

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

}  // namespace
}  // namespace vantrel
