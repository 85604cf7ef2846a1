#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "vantrel/param/amount.hpp"
#include "vantrel/param/leverage.hpp"

namespace vantrel {
namespace {

struct IntCase {
  std::int64_t multiplier;
  LeverageError error;
  std::uint16_t tenths;
};

TEST(Leverage, FromInt) {
  const IntCase cases[] = {
      {1, LeverageError::None, 10},          {3000, LeverageError::None, 30000},
      {5, LeverageError::None, 50},          {0, LeverageError::Invalid, 0},
      {3001, LeverageError::Invalid, 0},     {6553, LeverageError::Invalid, 0},
      {6554, LeverageError::Overflow, 0},    {65535, LeverageError::Overflow, 0},
      {65536, LeverageError::Invalid, 0},    {-1, LeverageError::Invalid, 0},
      {INT64_MIN, LeverageError::Invalid, 0}, {INT64_MAX, LeverageError::Invalid, 0},
  };
  for (const IntCase& c : cases) {
    LeverageResult r = leverage_from_int(c.multiplier);
    EXPECT_EQ(r.error, c.error) << c.multiplier;
    if (r.ok()) {
      EXPECT_EQ(r.value.tenths, c.tenths) << c.multiplier;
    }
  }
}

struct FloatCase {
  double multiplier;
  int tenths;  // 0: refused as invalid
};

TEST(Leverage, FromFloat) {
  const double inf = std::numeric_limits<double>::infinity();
  const FloatCase cases[] = {
      {2.5, 25},          {1.1, 11},   {2.30000000001, 23}, {5.0, 50},    {1.0, 10},      {3000.0, 30000},
      {2.3000001, 0},     {2.55, 0},   {0.95, 0},           {3000.04, 0}, {3000.1, 0},    {0.0, 0},
      {-1.0, 0},          {-2.5, 0},   {inf, 0},            {-inf, 0},    {std::nan(""), 0}, {1e300, 0},
      {-1e300, 0},        {9.2233720368547758e18, 0},
  };
  for (const FloatCase& c : cases) {
    LeverageResult r = leverage_from_float(c.multiplier);
    if (c.tenths == 0) {
      EXPECT_EQ(r.error, LeverageError::Invalid) << c.multiplier;
    } else {
      ASSERT_TRUE(r.ok()) << c.multiplier;
      EXPECT_EQ(r.value.tenths, c.tenths) << c.multiplier;
    }
  }
}

TEST(Leverage, ToleranceIsOneBillionthOfATenth) {
  // x = d * 10 must lie within 1e-9 of a whole number.
  EXPECT_TRUE(leverage_from_float(2.3 + 0.5e-10).ok());
  EXPECT_FALSE(leverage_from_float(2.3 + 2e-10).ok());
}

TEST(Leverage, MultiplierIsSinglePrecision) {
  EXPECT_EQ(static_cast<double>(Leverage{23}.multiplier()), 2.299999952316284);
  EXPECT_EQ(static_cast<double>(Leverage{11}.multiplier()), 1.100000023841858);
  EXPECT_EQ(static_cast<double>(Leverage{25}.multiplier()), 2.5);
}

TEST(Leverage, TextHasOneDigitAfterThePointForEveryCount) {
  char buffer[kLeverageTextMax];
  for (int tenths = Leverage::kMinTenths; tenths <= Leverage::kMaxTenths; ++tenths) {
    std::string text(buffer, write_leverage_text(Leverage{static_cast<std::uint16_t>(tenths)}, buffer));
    std::string expected = std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
    ASSERT_EQ(text, expected);
  }
}

TEST(Leverage, ErrorKinds) {
  EXPECT_EQ(leverage_error_kind(LeverageError::Invalid).message(), "invalid leverage value");
  EXPECT_EQ(leverage_error_kind(LeverageError::Overflow).message(), "arithmetic overflow in Leverage");
}

Notional notional(const char* text) { return *from_text<ValueKind::Notional>(text); }

TEST(Leverage, MarginRequired) {
  EXPECT_EQ(margin_required(notional("1000"), 40)->value, notional("250").value);
  EXPECT_EQ(margin_required(notional("1000"), 25)->value, notional("400").value);
  EXPECT_EQ(margin_required(notional("1000"), 100)->value, notional("100").value);
  EXPECT_TRUE(margin_required(notional("0"), 30000)->value.is_zero());
  Result<Notional> overflow = margin_required(notional("10000000000000000000000000000"), 10);
  ASSERT_FALSE(overflow);
  EXPECT_EQ(overflow.error().message(), "arithmetic overflow in Notional");
  EXPECT_TRUE(margin_required(notional("1000000000000000000000000000.5"), 10));
}

}  // namespace
}  // namespace vantrel
