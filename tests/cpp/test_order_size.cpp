#include <gtest/gtest.h>

#include <random>
#include <string>

#include "vantrel/pretrade/policies/order_size.hpp"

namespace vantrel {
namespace {

using Kind = SizeFinding::Kind;

Decimal d(const char* text) { return Decimal::parse(text).value; }
OrderSizeLimit limit(const char* q, const char* n) { return {Quantity{d(q)}, Volume{d(n)}}; }
TradeAmount qty(const char* q) { return TradeAmount::of_quantity(Quantity{d(q)}); }
TradeAmount vol(const char* v) { return TradeAmount::of_volume(Volume{d(v)}); }
std::optional<Price> px(const char* p) { return Price{d(p)}; }

struct Case {
  const char* name;
  TradeAmount amount;
  std::optional<Price> price;
  std::optional<OrderSizeLimit> specific, broker;
  Kind kind;
  bool by_specific;
  const char* details;
};

TEST(OrderSize, Findings) {
  const auto L = limit;
  const Case cases[] = {
      {"no limit, no price", qty("5"), std::nullopt, std::nullopt, std::nullopt, Kind::Pass, false, ""},
      {"no price", qty("5"), std::nullopt, std::nullopt, L("10", "100"), Kind::PriceMissing, false,
       "price not provided for evaluating cash flow/notional/volume"},
      {"volume no price", vol("5"), std::nullopt, L("10", "100"), std::nullopt, Kind::PriceMissing, false,
       "price not provided for evaluating cash flow/notional/volume"},
      {"negative price", qty("1"), px("-2"), std::nullopt, L("10", "100"), Kind::NotionalUnavailable, false,
       "price or quantity could not be used to evaluate order notional"},
      {"notional overflow", qty("79228162514264337593543950335"), px("2"), std::nullopt, L("10", "100"),
       Kind::NotionalUnavailable, false, "price or quantity could not be used to evaluate order notional"},
      {"volume zero price", vol("5"), px("0"), std::nullopt, L("10", "100"), Kind::QuantityUnavailable, false,
       "price or volume could not be used to evaluate order quantity"},
      {"quotient overflow", vol("79228162514264337593543950335"), px("0.5"), std::nullopt, L("10", "1e40"),
       Kind::QuantityUnavailable, false, "price or volume could not be used to evaluate order quantity"},
      {"quantity at max", qty("10"), px("3"), std::nullopt, L("10", "30"), Kind::Pass, false, ""},
      {"one unit over", qty("10.01"), px("1"), std::nullopt, L("10.00", "1000"), Kind::QuantityExceeded, false,
       "requested 10.01, max allowed: 10.00"},
      {"scale kept", qty("1.50"), px("2.0"), std::nullopt, L("10", "2"), Kind::NotionalExceeded, false,
       "requested 3.000, max allowed: 2"},
      {"both", qty("20"), px("10"), std::nullopt, L("10", "100"), Kind::SizeExceeded, false,
       "requested quantity 20, max allowed: 10; requested notional 200, max allowed: 100"},
      {"specific wins over broker", qty("50"), px("1"), L("10", "1000"), L("20", "1"), Kind::QuantityExceeded, true,
       "requested 50, max allowed: 10"},
      {"broker applies after specific", qty("50"), px("1"), L("100", "1000"), L("20", "1000"),
       Kind::QuantityExceeded, false, "requested 50, max allowed: 20"},
      {"volume negative price uses abs", vol("30"), px("-3"), std::nullopt, L("10", "100"), Kind::Pass, false, ""},
      {"volume over by quantity", vol("30.1"), px("3"), std::nullopt, L("10", "100"), Kind::QuantityExceeded,
       false, "requested 10.033333333333333333333333333, max allowed: 10"},
      {"volume over notional only", vol("30"), px("3"), std::nullopt, L("10", "29.99"), Kind::NotionalExceeded,
       false, "requested 30, max allowed: 29.99"},
      {"zero quantity negative price", qty("0"), px("-5"), std::nullopt, L("0", "0"), Kind::Pass, false, ""},
  };
  for (const Case& c : cases) {
    const SizeFinding f = evaluate_order_size(c.amount, c.price, c.specific ? &*c.specific : nullptr,
                                              c.broker ? &*c.broker : nullptr);
    EXPECT_EQ(f.kind, c.kind) << c.name;
    EXPECT_EQ(order_size_details(f), c.details) << c.name;
    if (f.is_breach()) {
      EXPECT_EQ(f.by_specific, c.by_specific) << c.name;
    }
  }
}

TEST(OrderSize, Reasons) {
  const OrderSizeLimit l = limit("10", "100");
  EXPECT_EQ(order_size_reason(evaluate_order_size(qty("1"), std::nullopt, &l, nullptr)), "order value calculation failed");
  EXPECT_EQ(order_size_reason(evaluate_order_size(qty("11"), px("1"), &l, nullptr)), "order quantity exceeded");
  EXPECT_EQ(order_size_reason(evaluate_order_size(qty("1"), px("101"), &l, nullptr)), "order notional exceeded");
  EXPECT_EQ(order_size_reason(evaluate_order_size(qty("11"), px("11"), &l, nullptr)), "order size exceeded");
}

// A volume exactly at max_quantity * |price| passes; one unit of the volume's last digit more
// is refused.
TEST(OrderSize, VolumeAtQuantityBoundary) {
  const struct {
    const char* max_q;
    const char* price;
    const char* at;
    const char* above;
  } cases[] = {
      {"2", "1.5", "3.0", "3.1"},
      {"2", "1.5", "3.000", "3.001"},
      {"7", "-0.003", "0.021", "0.0210000000000000000000000001"},
      {"1000000", "12345.6789", "12345678900", "12345678900.0001"},
  };
  for (const auto& c : cases) {
    const OrderSizeLimit l = limit(c.max_q, "1e20");
    EXPECT_EQ(evaluate_order_size(vol(c.at), px(c.price), &l, nullptr).kind, Kind::Pass) << c.at;
    EXPECT_EQ(evaluate_order_size(vol(c.above), px(c.price), &l, nullptr).kind, Kind::QuantityExceeded) << c.above;
  }
}

// The multiplication shortcut and a plain division agree on random inputs.
TEST(OrderSize, VolumeShortcutMatchesDivision) {
  std::mt19937_64 rng(7);
  auto random_decimal = [&](bool allow_zero) {
    std::uint64_t m = rng() % (rng() % 2 ? 1000 : 100000000000ull);
    if (!allow_zero && m == 0) m = 1;
    return Decimal::from_parts(m, 0, static_cast<std::uint32_t>(rng() % 8), false);
  };
  for (int i = 0; i < 100000; ++i) {
    const OrderSizeLimit l{Quantity{random_decimal(true)}, Volume{Decimal::from_parts(UINT64_MAX, UINT32_MAX, 0, false)}};
    const Decimal price = random_decimal(false);
    // Volumes near max_quantity * price, where rounding of the quotient matters most.
    std::optional<Decimal> v = l.max_quantity.value.checked_mul(price);
    ASSERT_TRUE(v);
    const Decimal step = Decimal::from_parts(1, 0, static_cast<std::uint32_t>(rng() % 12), false);
    const int shift = static_cast<int>(rng() % 3) - 1;
    if (shift > 0) v = v->checked_add(step);
    if (shift < 0 && Decimal::compare(*v, step) >= 0) v = v->checked_sub(step);
    const std::optional<Decimal> q = v->checked_div(price);
    ASSERT_TRUE(q);
    const Kind expected = Decimal::compare(*q, l.max_quantity.value) > 0 ? Kind::QuantityExceeded : Kind::Pass;
    ASSERT_EQ(evaluate_order_size(TradeAmount::of_volume(Volume{*v}), Price{price}, &l, nullptr).kind, expected)
        << v->to_string() << " / " << price.to_string() << " vs " << l.max_quantity.value.to_string();
  }
}

}  // namespace
}  // namespace vantrel
