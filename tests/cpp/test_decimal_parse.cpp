// Decimal text parsing: accepted forms, rounding of excess digits, and the exact error texts.

#include <string>

#include "decimal_test_util.hpp"

namespace vantrel {
namespace {

struct ParseCase {
  const char* input;
  const char* expected;  // canonical text, or the error message
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << testing::printable(c.input); }

class ParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, ParsesOrReportsExactText) {
  const ParseCase& c = GetParam();
  const DecimalParse p = Decimal::parse(c.input);
  EXPECT_EQ(p.ok() ? p.value.to_string() : p.message(), c.expected) << "input: '" << c.input << "'";
}

INSTANTIATE_TEST_SUITE_P(
    PlainForm, ParseTable,
    ::testing::Values(
        ParseCase{"1.50", "1.50"}, ParseCase{"100", "100"}, ParseCase{"+2", "2"},
        ParseCase{"1_000.5", "1000.5"}, ParseCase{"1__0_.5_", "10.5"}, ParseCase{".5", "0.5"},
        ParseCase{"5.", "5"}, ParseCase{"-.5", "-0.5"}, ParseCase{"007", "7"},
        ParseCase{"-0", "0"}, ParseCase{"-0.00", "0.00"}, ParseCase{"0.0000000000000000000000000000", "0.0000000000000000000000000000"},
        ParseCase{"79228162514264337593543950335", "79228162514264337593543950335"},
        ParseCase{"-79228162514264337593543950335", "-79228162514264337593543950335"},
        ParseCase{"7.9228162514264337593543950335", "7.9228162514264337593543950335"}));

INSTANTIATE_TEST_SUITE_P(
    PlainErrors, ParseTable,
    ::testing::Values(
        ParseCase{"", "Invalid decimal: empty"}, ParseCase{".", "Invalid decimal: no digits found"},
        ParseCase{"-", "Invalid decimal: no digits found"}, ParseCase{"+.", "Invalid decimal: no digits found"},
        ParseCase{"1.2.3", "Invalid decimal: two decimal points"},
        ParseCase{"_1", "Invalid decimal: must start lead with a number"},
        ParseCase{"-_1", "Invalid decimal: must start lead with a number"},
        ParseCase{"._5", "Invalid decimal: must start lead with a number"},
        ParseCase{" 1", "Invalid decimal: unknown character"}, ParseCase{"1 ", "Invalid decimal: unknown character"},
        ParseCase{"1-", "Invalid decimal: unknown character"}, ParseCase{"+-1", "Invalid decimal: unknown character"},
        ParseCase{"abc", "Invalid decimal: unknown character"}, ParseCase{"NaN", "Invalid decimal: unknown character"},
        ParseCase{"-Infinity", "Invalid decimal: unknown character"},
        ParseCase{"79228162514264337593543950336", "Invalid decimal: overflow from too many digits"},
        ParseCase{"100000000000000000000000000000.1", "Invalid decimal: overflow from too many digits"},
        // The integer part fits, but the fraction rounds it past 2^96 - 1 at scale 0.
        ParseCase{"79228162514264337593543950335.5", "Invalid decimal: overflow from mantissa after rounding"},
        // An invalid character far beyond the rounding position still fails.
        ParseCase{"1.00000000000000000000000000000000000x", "Invalid decimal: unknown character"},
        ParseCase{"1.0000000000000000000000000000000.0", "Invalid decimal: two decimal points"}));

// Digits beyond scale 28 or beyond 96 bits round half to even, using every remaining digit.
INSTANTIATE_TEST_SUITE_P(
    ExcessDigits, ParseTable,
    ::testing::Values(
        ParseCase{"0.00000000000000000000000000005", "0.0000000000000000000000000000"},   // tie, even stays
        ParseCase{"0.00000000000000000000000000015", "0.0000000000000000000000000002"},   // tie, odd goes up
        ParseCase{"0.000000000000000000000000000050000001", "0.0000000000000000000000000001"},  // tail decides
        ParseCase{"0.000000000000000000000000000049999999", "0.0000000000000000000000000000"},
        ParseCase{"-0.00000000000000000000000000001", "0.0000000000000000000000000000"},  // no sign on zero
        // 29 significant digits fill 96 bits: the 30th digit is rounded away at scale 27.
        ParseCase{"79.2281625142643375935439503354", "79.228162514264337593543950335"},
        ParseCase{"79.2281625142643375935439503356", "79.22816251426433759354395034"},
        ParseCase{"1.23456789012345678901234567891", "1.2345678901234567890123456789"},
        ParseCase{"792281625142643375935439503.355", "792281625142643375935439503.4"},
        // Rounding carries past 2^96 - 1: one digit fewer, rounded from the exact digits.
        ParseCase{"7922816251426433759354395033.55", "7922816251426433759354395034"},
        ParseCase{"79228162514264337593543950334.5", "79228162514264337593543950334"},
        ParseCase{"79228162514264337593543950334.50001", "79228162514264337593543950335"}));

INSTANTIATE_TEST_SUITE_P(
    Scientific, ParseTable,
    ::testing::Values(
        ParseCase{"1e3", "1000"}, ParseCase{"1E3", "1000"}, ParseCase{"1E+3", "1000"},
        ParseCase{"1.5E-7", "0.00000015"}, ParseCase{"1.50e1", "15.0"}, ParseCase{"-2.5e0", "-2.5"},
        ParseCase{"-0e5", "0"}, ParseCase{"0E-28", "0.0000000000000000000000000000"},
        ParseCase{"5e-28", "0.0000000000000000000000000005"}, ParseCase{"1_0e1", "100"},
        ParseCase{"7.9228162514264337593543950335e28", "79228162514264337593543950335"},
        ParseCase{"e", "Failed to parse"}, ParseCase{"e5", "Failed to parse"}, ParseCase{"1e", "Failed to parse"},
        ParseCase{"1e+", "Failed to parse"}, ParseCase{"1e+-3", "Failed to parse"}, ParseCase{"1e--3", "Failed to parse"},
        ParseCase{"1e3e3", "Failed to parse"}, ParseCase{"1.2.3e3", "Failed to parse"}, ParseCase{"1e3 ", "Failed to parse"},
        ParseCase{"1e1_0", "Failed to parse"}, ParseCase{"_1e3", "Failed to parse"},
        ParseCase{"1e-29", "Scale exceeds the maximum precision allowed: 29 > 28"},
        ParseCase{"1.5e-28", "Scale exceeds the maximum precision allowed: 29 > 28"},
        ParseCase{"0E-30", "Scale exceeds the maximum precision allowed: 30 > 28"},
        ParseCase{"1e29", "Number exceeds maximum value that can be represented."},
        ParseCase{"-1e29", "Number less than minimum value that can be represented."},
        ParseCase{"7.9228162514264337593543950336e28", "Number exceeds maximum value that can be represented."},
        ParseCase{"1e999999999999999999999", "Number exceeds maximum value that can be represented."},
        ParseCase{"0e999999999999999999999", "0"}));

TEST(DecimalParse, PlainAndScientificEntryPointsAreSeparate) {
  EXPECT_EQ(Decimal::parse_plain("1e3").message(), "Invalid decimal: unknown character");
  EXPECT_EQ(Decimal::parse_scientific("1.5").message(), "Failed to parse");
  EXPECT_EQ(Decimal::parse_scientific("12.5e-1").value.to_string(), "1.25");
}

TEST(DecimalParse, ScientificRetryReplacesThePlainError) {
  // Without an 'e' the plain error stands; with one, the scientific error replaces it.
  EXPECT_EQ(Decimal::parse("1.2.3").message(), "Invalid decimal: two decimal points");
  EXPECT_EQ(Decimal::parse("1.2.3e1").message(), "Failed to parse");
}

}  // namespace
}  // namespace vantrel
