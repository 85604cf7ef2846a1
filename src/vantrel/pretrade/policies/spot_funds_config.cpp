#include "vantrel/pretrade/policies/spot_funds_config.hpp"

#include "vantrel/core/debug_text.hpp"

namespace vantrel {

std::string slippage_out_of_range_message(std::uint32_t bps) {
  return "slippage " + std::to_string(bps) + " bps is out of range (must be <= 10 000 bps)";
}

std::string pricing_source_message(std::string_view text) {
  std::string out = "pricing_source must be 'Mark' or 'BookTop', got ";
  append_debug_quoted(out, text);
  return out;
}

std::variant<SpotFundsPricing, std::string> SpotFundsPricing::configure(
    SyncMode engine_mode, std::shared_ptr<const MarketDataService> market_data,
    std::optional<std::uint16_t> default_slippage_bps, std::optional<std::string_view> pricing_source,
    const std::vector<SlippageOverride>& overrides) {
  SpotFundsPricing pricing;
  if (!market_data) return pricing;
  if (engine_mode != SyncMode::None && !market_data->is_synced())
    return std::string(kMultiThreadedNoSyncMarketDataMessage);
  if (!default_slippage_bps) return std::string(kSlippageRequiredMessage);
  PricingMode mode = PricingMode::Mark;
  if (pricing_source) {
    if (*pricing_source == "BookTop")
      mode = PricingMode::BookTop;
    else if (*pricing_source != "Mark")
      return pricing_source_message(*pricing_source);
  }
  if (*default_slippage_bps > kMaxSlippageBps) return slippage_out_of_range_message(*default_slippage_bps);
  pricing.default_fraction_ = slippage_fraction(*default_slippage_bps);
  for (const SlippageOverride& o : overrides) {
    if (!o.bps) continue;
    if (*o.bps > kMaxSlippageBps) return slippage_out_of_range_message(*o.bps);
    const Decimal fraction = slippage_fraction(*o.bps);
    if (o.account)
      pricing.by_account_.insert_or_assign({o.instrument.value, o.account->value}, fraction);
    else if (o.group)
      pricing.by_group_.insert_or_assign({o.instrument.value, o.group->value}, fraction);
    else
      pricing.by_instrument_.insert_or_assign(o.instrument.value, fraction);
  }
  pricing.mode_ = mode;
  pricing.market_data_ = std::move(market_data);
  return pricing;
}

std::optional<Decimal> SpotFundsPricing::base_price(Side side, const Quote& quote) const noexcept {
  const std::optional<Price>& base =
      mode_ == PricingMode::Mark ? quote.mark : (side == Side::Buy ? quote.ask : quote.bid);
  if (!base) return std::nullopt;
  return base->value;
}

}  // namespace vantrel
