// Configuration of the funds policy's pricing, the slippage cascade and the
// market valuation against a live market-data service.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>

#include "vantrel/core/clock.hpp"
#include "vantrel/pretrade/policies/spot_funds_config.hpp"

namespace vantrel {
namespace {

Decimal D(const char* text) { return Decimal::parse(text).value; }
Price P(const char* text) { return Price{D(text)}; }

Instrument btc_usd() { return Instrument{*Asset::from_text("BTC"), *Asset::from_text("USD")}; }

std::shared_ptr<MarketDataService> service(SyncMode mode = SyncMode::Full,
                                           QuoteTtl ttl = QuoteTtl::infinite()) {
  return std::make_shared<MarketDataService>(ttl, mode);
}

std::variant<SpotFundsPricing, std::string> configure(std::shared_ptr<const MarketDataService> md,
                                                      std::optional<std::uint16_t> bps,
                                                      std::optional<std::string_view> source = std::nullopt,
                                                      std::vector<SlippageOverride> overrides = {},
                                                      SyncMode engine = SyncMode::Full) {
  return SpotFundsPricing::configure(engine, std::move(md), bps, source, overrides);
}

std::string error_of(const std::variant<SpotFundsPricing, std::string>& r) {
  return std::holds_alternative<std::string>(r) ? std::get<std::string>(r) : std::string("<configured>");
}

TEST(SpotFundsConfigure, ChecksRunInTheirOrder) {
  const InstrumentId i{1};
  // Without market data nothing further is looked at.
  const auto none = configure(nullptr, std::nullopt, "nonsense", {{i, std::nullopt, std::nullopt, 20000}});
  ASSERT_TRUE(std::holds_alternative<SpotFundsPricing>(none));
  EXPECT_EQ(std::get<SpotFundsPricing>(none).mode(), PricingMode::None);

  EXPECT_EQ(error_of(configure(service(SyncMode::None), std::nullopt, "x", {}, SyncMode::Account)),
            kMultiThreadedNoSyncMarketDataMessage);
  EXPECT_EQ(error_of(configure(service(SyncMode::None), 5, "x", {}, SyncMode::Full)),
            kMultiThreadedNoSyncMarketDataMessage);
  EXPECT_EQ(error_of(configure(service(SyncMode::None), 5, std::nullopt, {}, SyncMode::None)), "<configured>");
  EXPECT_EQ(error_of(configure(service(), std::nullopt, "x")), kSlippageRequiredMessage);
  EXPECT_EQ(error_of(configure(service(), 10001, "x")),
            "pricing_source must be 'Mark' or 'BookTop', got \"x\"");
  EXPECT_EQ(error_of(configure(service(), 5, "BookTop ")),
            "pricing_source must be 'Mark' or 'BookTop', got \"BookTop \"");
  EXPECT_EQ(error_of(configure(service(), 5, "mark")), "pricing_source must be 'Mark' or 'BookTop', got \"mark\"");
  EXPECT_EQ(error_of(configure(service(), 5, "a\"b\n")),
            "pricing_source must be 'Mark' or 'BookTop', got \"a\\\"b\\n\"");
  EXPECT_EQ(error_of(configure(service(), 10001)), "slippage 10001 bps is out of range (must be <= 10 000 bps)");
  EXPECT_EQ(error_of(configure(service(), 10000)), "<configured>");
  EXPECT_EQ(error_of(configure(service(), 5, std::nullopt,
                               {{i, std::nullopt, std::nullopt, std::nullopt}, {i, AccountId{1}, std::nullopt, 10001}})),
            "slippage 10001 bps is out of range (must be <= 10 000 bps)");
  const auto book = configure(service(), 5, "BookTop");
  ASSERT_TRUE(std::holds_alternative<SpotFundsPricing>(book));
  EXPECT_EQ(std::get<SpotFundsPricing>(book).mode(), PricingMode::BookTop);
  EXPECT_EQ(std::get<SpotFundsPricing>(configure(service(), 5)).mode(), PricingMode::Mark);
}

// The account's group as the engine context would give it, counting resolutions.
struct GroupOf {
  std::optional<AccountGroupId> group;
  int calls = 0;
  std::optional<AccountGroupId> operator()() {
    ++calls;
    return group;
  }
};

TEST(SpotFundsSlippage, AccountBeatsGroupBeatsInstrumentBeatsDefault) {
  const InstrumentId i{1}, other{2};
  const auto configured = configure(service(), 10, std::nullopt,
                                    {{i, AccountId{7}, std::nullopt, 50},
                                     {i, std::nullopt, AccountGroupId{3}, 40},
                                     {i, std::nullopt, std::nullopt, 30},
                                     {i, std::nullopt, std::nullopt, std::nullopt},  // no effect
                                     {i, std::nullopt, AccountGroupId{0}, 1},       // group 0 never resolves
                                     {other, std::nullopt, AccountGroupId{3}, 60},
                                     {other, std::nullopt, AccountGroupId{3}, 61}});  // the last one wins
  const SpotFundsPricing& p = std::get<SpotFundsPricing>(configured);
  GroupOf in3{AccountGroupId{3}}, none{std::nullopt};
  EXPECT_EQ(p.slippage(i, AccountId{7}, in3), D("0.0050"));
  EXPECT_EQ(in3.calls, 0);  // an account match needs no group
  EXPECT_EQ(p.slippage(i, AccountId{8}, in3), D("0.0040"));
  EXPECT_EQ(p.slippage(i, AccountId{8}, none), D("0.0030"));
  EXPECT_EQ(p.slippage(other, AccountId{8}, in3), D("0.0061"));
  EXPECT_EQ(p.slippage(other, AccountId{8}, none), D("0.0010"));
  EXPECT_EQ(p.slippage(InstrumentId{3}, AccountId{7}, none), D("0.0010"));

  // Without group overrides the group is never resolved.
  const SpotFundsPricing plain = std::get<SpotFundsPricing>(configure(service(), 10));
  GroupOf counted{AccountGroupId{3}};
  EXPECT_EQ(plain.slippage(i, AccountId{1}, counted), D("0.0010"));
  EXPECT_EQ(counted.calls, 0);
}

Instant g_now{};
Instant fake_clock() noexcept { return g_now; }

struct PricingTestClock {
  PricingTestClock() { set_test_clock(&fake_clock); }
  ~PricingTestClock() { set_test_clock(nullptr); }
};

std::string describe(const Valuation& v) {
  if (const Decimal* price = std::get_if<Decimal>(&v)) return price->to_string();
  return std::string(std::get<ValuationFailure>(v).reason);
}

Decimal price_of(const Valuation& v) {
  EXPECT_TRUE(std::holds_alternative<Decimal>(v)) << describe(v);
  return std::holds_alternative<Decimal>(v) ? std::get<Decimal>(v) : Decimal();
}

TEST(SpotFundsValuation, PricesFromTheQuoteWithSlippage) {
  PricingTestClock clock;
  g_now = Instant{100, 0};
  auto md = service(SyncMode::Full, QuoteTtl::within(Duration{1, 0}));
  const InstrumentId id = *md->register_instrument(btc_usd(), std::nullopt);
  GroupOf group{std::nullopt};
  const Instrument unknown{*Asset::from_text("ETH"), *Asset::from_text("USD")};

  const SpotFundsPricing none;
  EXPECT_EQ(describe(none.value(btc_usd(), AccountId{1}, Side::Buy, group)), "market orders not supported");

  const SpotFundsPricing mark = std::get<SpotFundsPricing>(configure(md, 100));
  EXPECT_EQ(describe(mark.value(unknown, AccountId{1}, Side::Buy, group)), "mark price unavailable");
  EXPECT_EQ(describe(mark.value(btc_usd(), AccountId{1}, Side::Buy, group)), "mark price unavailable");

  md->push(id, Quote{P("100"), P("98"), std::nullopt}, PushMode::Replace);
  EXPECT_EQ(price_of(mark.value(btc_usd(), AccountId{1}, Side::Buy, group)), D("101"));
  EXPECT_EQ(price_of(mark.value(btc_usd(), AccountId{1}, Side::Sell, group)), D("99"));

  // Book top: the ask for a buy (absent here, so "mark price unavailable"), the bid for a sell.
  const SpotFundsPricing book = std::get<SpotFundsPricing>(configure(md, 0, "BookTop"));
  EXPECT_EQ(describe(book.value(btc_usd(), AccountId{1}, Side::Buy, group)), "mark price unavailable");
  EXPECT_EQ(price_of(book.value(btc_usd(), AccountId{1}, Side::Sell, group)), D("98"));

  const SpotFundsPricing full = std::get<SpotFundsPricing>(configure(md, 10000));
  EXPECT_EQ(price_of(full.value(btc_usd(), AccountId{1}, Side::Buy, group)), D("200"));
  const Valuation sell = full.value(btc_usd(), AccountId{1}, Side::Sell, group);
  ASSERT_TRUE(std::holds_alternative<ValuationFailure>(sell));
  EXPECT_EQ(std::get<ValuationFailure>(sell).code, RejectCode::OrderValueCalculationFailed);
  EXPECT_EQ(describe(sell), "price calculation failed");

  // Age one nanosecond below the limit: fresh; equal to it: missing.
  g_now = Instant{100, 999'999'999};
  EXPECT_EQ(price_of(mark.value(btc_usd(), AccountId{1}, Side::Buy, group)), D("101"));
  g_now = Instant{101, 0};
  EXPECT_EQ(describe(mark.value(btc_usd(), AccountId{1}, Side::Buy, group)), "mark price unavailable");
}

}  // namespace
}  // namespace vantrel
