#include <gtest/gtest.h>

#include "limit_policy_util.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"

namespace vantrel {
namespace {

using namespace limit_test;

OrderSizeLimit limit(const char* q, const char* n) { return {Quantity{dec(q)}, Volume{dec(n)}}; }
TradeAmount qty(const char* q) { return TradeAmount::of_quantity(Quantity{dec(q)}); }

OrderRecord sized(std::uint64_t account, const char* asset, const char* quantity, const char* price = "1") {
  return order(OrderSpec{account, asset, qty(quantity), dec(price)});
}

TEST(OrderSizeLimitPolicy, AccountAssetLimitReplacesAssetLimit) {
  OrderSizeLimitConfig config;
  config.asset_barriers = {{limit("10", "1e9"), "USD"}};
  config.account_asset_barriers = {{limit("100", "1e9"), 7, "USD"}};
  const OrderSizeLimitPolicy policy(config);
  EXPECT_FALSE(policy.check_start(sized(7, "USD", "50")));
  const std::optional<Reject> other = policy.check_start(sized(8, "USD", "50"));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->scope, RejectScope::Order);
  EXPECT_EQ(other->details, "requested 50, max allowed: 10");
}

TEST(OrderSizeLimitPolicy, ScopesAndPrecedence) {
  OrderSizeLimitConfig config;
  config.broker = limit("10", "1e9");
  config.account_asset_barriers = {{limit("1000", "1e9"), 7, "USD"}, {limit("5", "1e12"), 9, "USD"}};
  const OrderSizeLimitPolicy policy(config);
  // The specific limit holds, the broker limit still applies.
  std::optional<Reject> r = policy.check_start(sized(7, "USD", "50"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scope, RejectScope::Order);
  EXPECT_EQ(r->details, "requested 50, max allowed: 10");
  // Both breached: the account limit's reject alone, scope account.
  r = policy.check_start(sized(9, "USD", "50"));
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, (Reject{"OrderSizeLimitPolicy", "order quantity exceeded", "requested 50, max allowed: 5", 0,
                        RejectScope::Account, RejectCode::OrderQtyExceedsLimit}));
  r = policy.check_start(sized(9, "USD", "5", "1e10"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->code, RejectCode::OrderNotionalExceedsLimit);
  EXPECT_EQ(r->scope, RejectScope::Order);  // the broker's notional limit
}

TEST(OrderSizeLimitPolicy, MissingFieldsInOrder) {
  OrderSizeLimitConfig config;
  config.asset_barriers = {{limit("1", "1"), "EUR"}};
  const OrderSizeLimitPolicy policy(config);
  const struct {
    OrderSpec spec;
    const char* reason;
    const char* details;
  } cases[] = {
      {{std::nullopt, std::nullopt, std::nullopt}, "failed to access required field 'instrument'",
       "failed to access field 'operation.instrument'"},
      {{std::nullopt, "USD", std::nullopt}, "failed to access required field 'account ID'",
       "failed to access field 'operation.account_id'"},
      {{7, "USD", std::nullopt}, "failed to access required field 'trade amount'",
       "failed to access field 'operation.trade_amount'"},
  };
  for (const auto& c : cases) {
    const std::optional<Reject> r = policy.check_start(order(c.spec));
    ASSERT_TRUE(r) << c.reason;
    EXPECT_EQ(*r, (Reject{"OrderSizeLimitPolicy", c.reason, c.details, 0, RejectScope::Order,
                          RejectCode::MissingRequiredField}));
  }
  EXPECT_FALSE(policy.check_start(order(OrderSpec{7, "USD", qty("5"), std::nullopt})))
      << "no limit applies, so a missing price does not matter";
  const std::optional<Reject> r = policy.check_start(order(OrderSpec{7, "EUR", qty("5"), std::nullopt}));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->code, RejectCode::OrderValueCalculationFailed);
  EXPECT_EQ(r->details, "price not provided for evaluating cash flow/notional/volume");
}

// A volume order at price 0 has no quantity, whatever its volume and whichever
// limit applies: volume 0 would otherwise pass every bound.
TEST(OrderSizeLimitPolicy, VolumeAtZeroPriceIsRefused) {
  OrderSizeLimitConfig broker, asset, account_asset;
  broker.broker = limit("10", "100");
  asset.asset_barriers = {{limit("10", "100"), "USD"}};
  account_asset.account_asset_barriers = {{limit("10", "100"), 7, "USD"}};
  for (const OrderSizeLimitConfig* config : {&broker, &asset, &account_asset}) {
    const OrderSizeLimitPolicy policy(*config);
    for (const char* volume : {"0", "5", "0.000"}) {
      for (const char* price : {"0", "-0.0"}) {
        const std::optional<Reject> r = policy.check_start(
            order(OrderSpec{7, "USD", TradeAmount::of_volume(Volume{dec(volume)}), dec(price)}));
        ASSERT_TRUE(r) << volume << " at " << price;
        EXPECT_EQ(r->code, RejectCode::OrderValueCalculationFailed) << volume << " at " << price;
        EXPECT_EQ(r->details, "price or volume could not be used to evaluate order quantity");
      }
    }
    // The same volumes at a price are judged by the limits.
    EXPECT_FALSE(policy.check_start(order(OrderSpec{7, "USD", TradeAmount::of_volume(Volume{dec("0")}), dec("2")})));
  }
}

TEST(OrderSizeLimitPolicy, LaterBarrierForTheSameKeyWins) {
  OrderSizeLimitConfig config;
  config.asset_barriers = {{limit("1", "1e9"), "USD"}, {limit("100", "1e9"), "USD"}};
  config.account_asset_barriers = {{limit("100", "1e9"), 7, "EUR"}, {limit("2", "1e9"), 7, "EUR"}};
  const OrderSizeLimitPolicy policy(config);
  EXPECT_FALSE(policy.check_start(sized(7, "USD", "50")));
  EXPECT_TRUE(policy.check_start(sized(7, "EUR", "3")));
}

TEST(OrderSizeLimitPolicy, ConfigNeedsABarrier) {
  EXPECT_EQ(order_size_limit_config_error({}).value_or(""),
            "at least one broker, asset, or account+asset barrier must be configured");
  OrderSizeLimitConfig config;
  config.account_asset_barriers = {{limit("1", "1"), 0, "X"}};
  EXPECT_FALSE(order_size_limit_config_error(config));
}

}  // namespace
}  // namespace vantrel
