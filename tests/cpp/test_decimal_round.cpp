// Rounding to a number of fractional digits, strategy names, and Unicode white-space trimming.

#include <string>

#include "decimal_test_util.hpp"
#include "vantrel/param/text.hpp"

namespace vantrel {
namespace {

using testing::dec;
using RS = RoundingStrategy;

struct RoundCase {
  const char* value;
  unsigned scale;
  RS strategy;
  const char* expected;
};

void PrintTo(const RoundCase& c, std::ostream* os) {
  *os << c.value << "_to_" << c.scale << "_s" << static_cast<int>(c.strategy);
}

class RoundTable : public ::testing::TestWithParam<RoundCase> {};

TEST_P(RoundTable, RoundsToScale) {
  const RoundCase& c = GetParam();
  EXPECT_EQ(dec(c.value).round_to(c.scale, c.strategy).to_string(), c.expected)
      << c.value << " to " << c.scale << " with strategy " << static_cast<int>(c.strategy);
}

INSTANTIATE_TEST_SUITE_P(
    Strategies, RoundTable,
    ::testing::Values(
        RoundCase{"2.345", 2, RS::MidpointNearestEven, "2.34"}, RoundCase{"2.345", 2, RS::MidpointAwayFromZero, "2.35"},
        RoundCase{"2.355", 2, RS::MidpointNearestEven, "2.36"}, RoundCase{"-2.345", 2, RS::MidpointAwayFromZero, "-2.35"},
        RoundCase{"-2.345", 2, RS::Up, "-2.34"}, RoundCase{"-2.345", 2, RS::Down, "-2.35"},
        RoundCase{"2.341", 2, RS::Up, "2.35"}, RoundCase{"2.349", 2, RS::Down, "2.34"},
        RoundCase{"1.999", 2, RS::Up, "2.00"}, RoundCase{"1.25", 0, RS::Up, "2"},
        // Exact midpoints under all four strategies, both signs.
        RoundCase{"2.5", 0, RS::MidpointNearestEven, "2"}, RoundCase{"3.5", 0, RS::MidpointNearestEven, "4"},
        RoundCase{"-2.5", 0, RS::MidpointNearestEven, "-2"}, RoundCase{"-3.5", 0, RS::MidpointNearestEven, "-4"},
        RoundCase{"2.5", 0, RS::MidpointAwayFromZero, "3"}, RoundCase{"-2.5", 0, RS::MidpointAwayFromZero, "-3"},
        RoundCase{"2.5", 0, RS::Up, "3"}, RoundCase{"-2.5", 0, RS::Up, "-2"},
        RoundCase{"2.5", 0, RS::Down, "2"}, RoundCase{"-2.5", 0, RS::Down, "-3"},
        // Just off the midpoint, every digit counts.
        RoundCase{"2.5000000000000000000000000001", 0, RS::MidpointNearestEven, "3"},
        RoundCase{"2.4999999999999999999999999999", 0, RS::MidpointAwayFromZero, "2"}));

INSTANTIATE_TEST_SUITE_P(
    ScaleAndZero, RoundTable,
    ::testing::Values(
        RoundCase{"1.5", 3, RS::Down, "1.5"},  // no trailing zeros are added
        RoundCase{"1.50", 2, RS::Up, "1.50"},
        RoundCase{"7.9228162514264337593543950335", 28, RS::Up, "7.9228162514264337593543950335"},
        RoundCase{"7.9228162514264337593543950335", 4000000000u, RS::Up, "7.9228162514264337593543950335"},
        RoundCase{"7.9228162514264337593543950335", 0, RS::MidpointNearestEven, "8"},
        RoundCase{"7.9228162514264337593543950335", 0, RS::Down, "7"},
        RoundCase{"-7.9228162514264337593543950335", 27, RS::Down, "-7.922816251426433759354395034"},
        RoundCase{"0.0000000000000000000000000005", 27, RS::MidpointNearestEven, "0.000000000000000000000000000"},
        RoundCase{"0.0000000000000000000000000005", 27, RS::MidpointAwayFromZero, "0.000000000000000000000000001"},
        // A result of zero carries no sign; a zero input keeps its sign (below).
        RoundCase{"-0.001", 2, RS::Up, "0.00"}, RoundCase{"-0.001", 2, RS::Down, "-0.01"},
        RoundCase{"-0.004", 2, RS::MidpointNearestEven, "0.00"}, RoundCase{"0.000", 1, RS::Up, "0.0"}));

TEST(DecimalRound, ZeroInputKeepsItsSignAndTakesTheScale) {
  const Decimal neg_zero = dec("0.000").negated();
  EXPECT_EQ(neg_zero.round_to(1, RS::Up).to_string(), "-0.0");
  EXPECT_EQ(neg_zero.round_to(5, RS::Up).to_string(), "-0.000");
}

struct StrategyNameCase {
  const char* text;
  std::optional<RS> expected;
  const char* placeholder;  // the error's placeholder when not recognised
};

void PrintTo(const StrategyNameCase& c, std::ostream* os) { *os << testing::printable(c.text); }

class StrategyNames : public ::testing::TestWithParam<StrategyNameCase> {};

TEST_P(StrategyNames, TrimsAndIgnoresAsciiCase) {
  const StrategyNameCase& c = GetParam();
  EXPECT_EQ(parse_rounding_strategy(c.text), c.expected) << "'" << c.text << "'";
  if (!c.expected) {
    EXPECT_EQ(rounding_strategy_error(c.text),
              std::string("invalid rounding strategy ") + c.placeholder +
                  "; expected 'MidpointNearestEven', 'MidpointAwayFromZero', 'Up', or 'Down'");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StrategyNames,
    ::testing::Values(
        StrategyNameCase{"MidpointNearestEven", RS::MidpointNearestEven, ""},
        StrategyNameCase{" MIDPOINTNEARESTEVEN ", RS::MidpointNearestEven, ""},
        StrategyNameCase{"midpointAwayFromZero", RS::MidpointAwayFromZero, ""},
        StrategyNameCase{"\tUp\n", RS::Up, ""}, StrategyNameCase{"\xe3\x80\x80" "down\xc2\xa0", RS::Down, ""},
        StrategyNameCase{"\xc2\x85" "DOWN\xe2\x80\xa8", RS::Down, ""},
        StrategyNameCase{" Nearest ", std::nullopt, "nearest"}, StrategyNameCase{"", std::nullopt, ""},
        StrategyNameCase{"U p", std::nullopt, "u p"},
        // U+001C is white space to some definitions but lacks the White_Space property.
        StrategyNameCase{"\x1cUp", std::nullopt, "\x1cup"},
        // Only ASCII letters are lower-cased; U+200B (zero width space) is not white space.
        StrategyNameCase{"\xc3\x9cP", std::nullopt, "\xc3\x9cp"},
        StrategyNameCase{"\xe2\x80\x8bUp", std::nullopt, "\xe2\x80\x8bup"}));

struct TrimCase {
  const char* input;
  const char* expected;
};

void PrintTo(const TrimCase& c, std::ostream* os) { *os << testing::printable(c.input); }

class TrimTable : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTable, StripsWhiteSpaceCodePoints) {
  EXPECT_EQ(trim_unicode_whitespace(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TrimTable,
    ::testing::Values(
        TrimCase{"", ""}, TrimCase{" \t\r\n\v\f", ""}, TrimCase{" a b ", "a b"},
        TrimCase{"\xc2\xa0" "x" "\xc2\xa0", "x"},                      // no-break space
        TrimCase{"\xe1\x9a\x80" "x" "\xe2\x80\x8a", "x"},              // U+1680, U+200A
        TrimCase{"\xe2\x80\xaf" "x" "\xe2\x81\x9f" "\xe3\x80\x80", "x"},  // U+202F, U+205F, U+3000
        TrimCase{"\xe1\xa0\x8e" "x", "\xe1\xa0\x8e" "x"},              // U+180E lost the property
        TrimCase{"\xa0" "x" "\xa0", "\xa0" "x" "\xa0"},                // a lone byte is not a code point
        TrimCase{"x\xe3\x80", "x\xe3\x80"},                            // truncated sequence kept
        TrimCase{"\xf0\x9f\x98\x80 ", "\xf0\x9f\x98\x80"}));           // 4-byte code point kept

// Texts and doubles wider than 96 bits or 28 places are rounded once, from their exact digits.
struct RoundedParseCase {
  const char* text;
  unsigned scale;
  RS strategy;
  const char* expected;  // nullptr: refused
};

void PrintTo(const RoundedParseCase& c, std::ostream* os) {
  *os << c.text << "_to_" << c.scale << "_s" << static_cast<int>(c.strategy);
}

class RoundedParseTable : public ::testing::TestWithParam<RoundedParseCase> {};

TEST_P(RoundedParseTable, RoundsTheExactTextOnce) {
  const RoundedParseCase& c = GetParam();
  const DecimalParse p = Decimal::parse_rounded(c.text, {c.scale, c.strategy});
  if (c.expected == nullptr) {
    EXPECT_FALSE(p.ok()) << p.value.to_string();
    return;
  }
  ASSERT_TRUE(p.ok()) << p.message();
  EXPECT_EQ(p.value.to_string(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Wide, RoundedParseTable,
    ::testing::Values(
        RoundedParseCase{"98765432109.876543210987654329", 17, RS::Down, "98765432109.87654321098765432"},
        RoundedParseCase{"98765432109.876543210987654329", 17, RS::Up, "98765432109.87654321098765433"},
        RoundedParseCase{"98765432109.876543210987654321", 28, RS::Up, "98765432109.87654321098765433"},
        RoundedParseCase{"-98765432109.876543210987654329", 28, RS::Up, "-98765432109.87654321098765432"},
        RoundedParseCase{"1.00000000000000000000000000001", 28, RS::Up, "1.0000000000000000000000000001"},
        RoundedParseCase{"1.00000000000000000000000000001", 28, RS::Down, "1.0000000000000000000000000000"},
        RoundedParseCase{"0.00000000000000000000000000015", 28, RS::MidpointNearestEven,
                         "0.0000000000000000000000000002"},
        RoundedParseCase{"0.00000000000000000000000000025", 28, RS::MidpointNearestEven,
                         "0.0000000000000000000000000002"},
        RoundedParseCase{"0.000000000000000000000000000250001", 28, RS::MidpointNearestEven,
                         "0.0000000000000000000000000003"},
        RoundedParseCase{"-0.00000000000000000000000000001", 28, RS::Up, "0.0000000000000000000000000000"},
        RoundedParseCase{"79228162514264337593543950335.5", 0, RS::Down, "79228162514264337593543950335"},
        RoundedParseCase{"79228162514264337593543950335.5", 0, RS::MidpointNearestEven, nullptr},
        RoundedParseCase{"79228162514264337593543950335.4", 0, RS::Up, nullptr},
        RoundedParseCase{"2.5e-1", 0, RS::Up, "1"}, RoundedParseCase{"15e-29", 28, RS::Down, nullptr},
        RoundedParseCase{"1.234567890123456789012345678912e1", 28, RS::Down, nullptr},  // scale 29: the text rule
        RoundedParseCase{"9.234567890123456789012345678912", 28, RS::Down, "9.234567890123456789012345678"},
        RoundedParseCase{"9.234567890123456789012345678912", 28, RS::Up, "9.234567890123456789012345679"},
        RoundedParseCase{"2.345", 2, RS::MidpointNearestEven, "2.34"}, RoundedParseCase{"1.5", 3, RS::Down, "1.5"},
        // Texts too long to collect exactly: the first dropped digit and those after it decide.
        RoundedParseCase{"0.12500000000000000000000", 2, RS::MidpointAwayFromZero, "0.13"},
        RoundedParseCase{"0.12510000000000000000000", 2, RS::MidpointAwayFromZero, "0.13"},
        RoundedParseCase{"-0.12500000000000000000000", 2, RS::MidpointAwayFromZero, "-0.13"},
        RoundedParseCase{"0.12499999999999999999999", 2, RS::MidpointAwayFromZero, "0.12"},
        RoundedParseCase{"0.12500000000000000000000", 2, RS::MidpointNearestEven, "0.12"},
        RoundedParseCase{"0.12500000000000000000001", 2, RS::MidpointNearestEven, "0.13"}));

TEST(RoundedDouble, RoundsTheShortestDigitsOnce) {
  EXPECT_EQ(Decimal::from_double_rounded(1.5e-28, {28, RS::Down})->to_string(), "0.0000000000000000000000000001");
  EXPECT_EQ(Decimal::from_double_rounded(1.5e-28, {28, RS::Up})->to_string(), "0.0000000000000000000000000002");
  EXPECT_EQ(Decimal::from_double_rounded(-1.5e-28, {28, RS::Up})->to_string(), "-0.0000000000000000000000000001");
  EXPECT_EQ(Decimal::from_double_rounded(1e-40, {10, RS::Up})->to_string(), "0.0000000001");
  EXPECT_EQ(Decimal::from_double_rounded(1e-40, {10, RS::Down})->to_string(), "0.0000000000");
  EXPECT_EQ(Decimal::from_double_rounded(-1e-40, {10, RS::Up})->to_string(), "0.0000000000");
  EXPECT_EQ(Decimal::from_double_rounded(2.675, {2, RS::MidpointNearestEven})->to_string(), "2.68");
  EXPECT_EQ(Decimal::from_double_rounded(0.1, {5, RS::Up})->to_string(), "0.1");
  // Nothing rounded on request: from_double's form.
  EXPECT_EQ(Decimal::from_double_rounded(1.25e-29, {40, RS::Down})->to_string(), "0");
  EXPECT_EQ(Decimal::from_double_rounded(1.25e-29, {40, RS::Up})->to_string(), "0.0000000000000000000000000001");
  EXPECT_FALSE(Decimal::from_double_rounded(1e30, {2, RS::Down}));
  // An exact half, and a digit past it, both go away from zero.
  EXPECT_EQ(Decimal::from_double_rounded(0.125, {2, RS::MidpointAwayFromZero})->to_string(), "0.13");
  EXPECT_EQ(Decimal::from_double_rounded(0.1251, {2, RS::MidpointAwayFromZero})->to_string(), "0.13");
  EXPECT_EQ(Decimal::from_double_rounded(-0.125, {2, RS::MidpointAwayFromZero})->to_string(), "-0.13");
  EXPECT_EQ(Decimal::from_double_rounded(0.1249, {2, RS::MidpointAwayFromZero})->to_string(), "0.12");
  EXPECT_EQ(Decimal::from_double_rounded(0.125, {2, RS::MidpointNearestEven})->to_string(), "0.12");
}

}  // namespace
}  // namespace vantrel
