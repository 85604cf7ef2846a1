// Canonical text, hashing, and conversions from and to binary doubles.

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "decimal_test_util.hpp"

namespace vantrel {
namespace {

using testing::dec;
using testing::text;

constexpr std::uint64_t kMaxLo = ~std::uint64_t{0};
constexpr std::uint32_t kMaxHi = ~std::uint32_t{0};

struct ConvertTextCase {
  Decimal value;
  const char* expected;
};

void PrintTo(const ConvertTextCase& c, std::ostream* os) { *os << c.expected; }

class TextTable : public ::testing::TestWithParam<ConvertTextCase> {};

TEST_P(TextTable, WritesCanonicalText) {
  const ConvertTextCase& c = GetParam();
  char buf[Decimal::kMaxTextLength];
  const std::size_t n = c.value.write_text(buf);
  EXPECT_EQ(std::string(buf, n), c.expected);
  EXPECT_EQ(c.value.to_string(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextTable,
    ::testing::Values(
        ConvertTextCase{Decimal(), "0"}, ConvertTextCase{Decimal::from_parts(0, 0, 2, true), "-0.00"},
        ConvertTextCase{Decimal::from_parts(0, 0, 0, true), "-0"}, ConvertTextCase{Decimal::from_parts(150, 0, 2, false), "1.50"},
        ConvertTextCase{Decimal::from_parts(5, 0, 3, true), "-0.005"}, ConvertTextCase{Decimal::from_i64(-100), "-100"},
        ConvertTextCase{Decimal::from_i64(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
        ConvertTextCase{Decimal::from_u64(kMaxLo), "18446744073709551615"},
        ConvertTextCase{Decimal::from_parts(0, 1, 0, false), "18446744073709551616"},
        // 10^28: the low 19 digits are all zeros and must be padded.
        ConvertTextCase{Decimal::from_parts(0x3E25026110000000ULL, 0x204FCE5E, 0, false), "10000000000000000000000000000"},
        ConvertTextCase{Decimal::from_parts(kMaxLo, kMaxHi, 0, false), "79228162514264337593543950335"},
        // The two longest texts: kMaxTextLength characters.
        ConvertTextCase{Decimal::from_parts(kMaxLo, kMaxHi, 28, true), "-7.9228162514264337593543950335"},
        ConvertTextCase{Decimal::from_parts(1, 0, 28, true), "-0.0000000000000000000000000001"}));

TEST(DecimalText, LongestTextsFillTheBufferExactly) {
  EXPECT_EQ(Decimal::from_parts(kMaxLo, kMaxHi, 28, true).to_string().size(), Decimal::kMaxTextLength);
  EXPECT_EQ(Decimal::from_parts(1, 0, 28, true).to_string().size(), Decimal::kMaxTextLength);
}

TEST(DecimalText, RoundTripsThroughTheParser) {
  for (const char* t : {"1.50", "-0.005", "79228162514264337593543950335", "-7.9228162514264337593543950335",
                        "0.0000000000000000000000000001", "10000000000000000000000000000", "0.00"}) {
    EXPECT_EQ(dec(t).to_string(), t);
  }
}

TEST(DecimalHash, EqualValuesHashEqual) {
  const Decimal groups[][4] = {
      {dec("1.5"), dec("1.50"), dec("1.5000000000000000000000000000"), dec("15e-1")},
      {Decimal(), dec("0.000"), Decimal::from_parts(0, 0, 7, true), Decimal::from_parts(0, 0, 0, true)},
      {dec("-100"), dec("-100.0"), dec("-1e2"), dec("-100.000000")},
  };
  for (const auto& g : groups)
    for (const Decimal& d : g) EXPECT_EQ(d.hash(), g[0].hash()) << d.to_string();
  EXPECT_NE(dec("1.5").hash(), dec("-1.5").hash());
  EXPECT_NE(dec("1.5").hash(), dec("15").hash());
}

TEST(DecimalHash, IsSipHash13OfTheLayout) {
  // Reference values: the interpreter's bytes hash with a zero seed (SipHash-1-3, zero keys)
  // of the 16-byte layout (mantissa words, then scale << 16 | sign << 31).
  EXPECT_EQ(dec("1.5").hash(), -8455534599171854371LL);
  EXPECT_EQ(Decimal().hash(), 8556445246977061536LL);
}

struct FromDoubleCase {
  double input;
  const char* expected;  // canonical text or "none"
};

void PrintTo(const FromDoubleCase& c, std::ostream* os) { *os << c.input; }

class FromDouble : public ::testing::TestWithParam<FromDoubleCase> {};

TEST_P(FromDouble, KeepsShortestDigitsFittedToScale28) {
  EXPECT_EQ(text(Decimal::from_double(GetParam().input)), GetParam().expected) << GetParam().input;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FromDouble,
    ::testing::Values(
        FromDoubleCase{0.1, "0.1"}, FromDoubleCase{2.5, "2.5"}, FromDoubleCase{1e-7, "0.0000001"},
        FromDoubleCase{100.0, "100"}, FromDoubleCase{-0.0, "0"}, FromDoubleCase{-1.25, "-1.25"},
        FromDoubleCase{18446744073709551616.0, "18446744073709552000"},
        FromDoubleCase{1e-30, "0"}, FromDoubleCase{5e-324, "0"},
        FromDoubleCase{1.5e-28, "0.0000000000000000000000000002"},
        FromDoubleCase{2.5e-28, "0.0000000000000000000000000002"},
        FromDoubleCase{1.2345e-27, "0.0000000000000000000000000012"},
        FromDoubleCase{7.922816251426433e28, "79228162514264330000000000000"},
        FromDoubleCase{7.922816251426434e28, "none"}, FromDoubleCase{1e30, "none"},
        FromDoubleCase{std::numeric_limits<double>::quiet_NaN(), "none"},
        FromDoubleCase{std::numeric_limits<double>::infinity(), "none"},
        FromDoubleCase{-std::numeric_limits<double>::infinity(), "none"}));

TEST(DecimalToDouble, RoundsToNearest) {
  EXPECT_EQ(dec("0.1").to_double(), 0.1);
  EXPECT_EQ(dec("1.50").to_double(), 1.5);
  EXPECT_EQ(dec("-2.5").to_double(), -2.5);
  EXPECT_EQ(dec("0.3333333333333333333333333333").to_double(), 1.0 / 3.0);
  EXPECT_EQ(dec("79228162514264337593543950335").to_double(), 79228162514264337593543950336.0);
  // 2^53 + 1 is a tie between two doubles: even wins; anything above it rounds up.
  EXPECT_EQ(dec("9007199254740993").to_double(), 9007199254740992.0);
  EXPECT_EQ(dec("9007199254740993.000000000001").to_double(), 9007199254740994.0);
  EXPECT_EQ(dec("0.0000000000000000000000000001").to_double(), 1e-28);
  const double neg_zero = Decimal::from_parts(0, 0, 2, true).to_double();
  EXPECT_EQ(neg_zero, 0.0);
  EXPECT_TRUE(std::signbit(neg_zero));
}

TEST(DecimalToDouble, RoundTripsShortestDigits) {
  for (double v : {0.1, 123.456, -9.87654321e-5, 1e-20, 12345678901234567.0, 7.922816251426433e28}) {
    const auto d = Decimal::from_double(v);
    ASSERT_TRUE(d.has_value()) << v;
    EXPECT_EQ(d->to_double(), v);
  }
}

}  // namespace
}  // namespace vantrel
