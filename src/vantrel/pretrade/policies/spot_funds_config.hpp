#pragma once
// How the funds policy prices an order that carries no price: which quote it
// reads, and the slippage it applies, by instrument, account group or account.
// Read-only after configuration and shared by every thread; valuation reads the
// market-data service through that service's own locks, and finishes before
// the policy takes any holdings lock.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "vantrel/core/instrument.hpp"
#include "vantrel/core/placement.hpp"
#include "vantrel/core/reject.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/marketdata/service.hpp"
#include "vantrel/param/decimal.hpp"
#include "vantrel/param/enums.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/pretrade/policies/spot_funds_value.hpp"

namespace vantrel {

enum class PricingMode : std::uint8_t { Mark, BookTop, None };

// One slippage override as configured: an instrument, at most one of an
// account and a group, and its basis points (none: no effect).
struct SlippageOverride {
  InstrumentId instrument;
  std::optional<AccountId> account;
  std::optional<AccountGroupId> group;
  std::optional<std::uint16_t> bps;
};

inline constexpr std::string_view kOverrideTargetsBothMessage =
    "spot funds override cannot target both an account and a group";
inline constexpr std::string_view kMultiThreadedNoSyncMarketDataMessage =
    "market data service is in no-sync mode but the engine is multi-threaded; call .full_sync() on the "
    "market-data builder before .build()";
inline constexpr std::string_view kSlippageRequiredMessage =
    "default_slippage_bps is required when market_data is provided";

// "slippage {} bps is out of range (must be <= 10 000 bps)"
std::string slippage_out_of_range_message(std::uint32_t bps);
// "pricing_source must be 'Mark' or 'BookTop', got {}" with the text quoted.
std::string pricing_source_message(std::string_view text);

// Why a market valuation produced no price; the texts are the rejects'.
struct ValuationFailure {
  RejectCode code;
  std::string_view reason;  // a constant: rejects refer to it, uncopied
};
inline constexpr ValuationFailure kMarketOrdersUnsupported{RejectCode::UnsupportedOrderType,
                                                           "market orders not supported"};
inline constexpr ValuationFailure kMarkPriceUnavailable{RejectCode::MarkPriceUnavailable, "mark price unavailable"};
inline constexpr ValuationFailure kPriceCalculationFailed{RejectCode::OrderValueCalculationFailed,
                                                          "price calculation failed"};

using Valuation = std::variant<Decimal, ValuationFailure>;

class SpotFundsPricing {
 public:
  // No market data: market orders are refused.
  SpotFundsPricing() = default;

  // The checks and conversions of configuration once the arguments are
  // converted: without `market_data` nothing further is checked or kept;
  // otherwise the sync modes, the default slippage, the pricing source and each
  // override's basis points, in that order. The error is the ValueError text.
  static std::variant<SpotFundsPricing, std::string> configure(
      SyncMode engine_mode, std::shared_ptr<const MarketDataService> market_data,
      std::optional<std::uint16_t> default_slippage_bps, std::optional<std::string_view> pricing_source,
      const std::vector<SlippageOverride>& overrides);

  PricingMode mode() const noexcept { return mode_; }
  const std::shared_ptr<const MarketDataService>& market_data() const noexcept { return market_data_; }

  // First match: (instrument, account), the account's group (resolved only
  // when a group table exists), the instrument, the default.
  template <class GroupSource>
  Decimal slippage(InstrumentId instrument, AccountId account, GroupSource& group_source) const;

  // The price assumed for an order without one: the quote's mark, or the top
  // of book on the order's side, moved by slippage against the trader.
  // `group_source()` gives the account's group (once per order, cached by the caller).
  template <class GroupSource>
  Valuation value(const Instrument& instrument, AccountId account, Side side, GroupSource& group_source) const;

 private:

  // Mark, or the ask for a buy and the bid for a sell.
  std::optional<Decimal> base_price(Side side, const Quote& quote) const noexcept;

  PricingMode mode_ = PricingMode::None;
  std::shared_ptr<const MarketDataService> market_data_;
  Decimal default_fraction_;
  std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, Decimal, KeyedIdPairHash> by_account_;
  std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, Decimal, KeyedIdPairHash> by_group_;
  std::unordered_map<std::uint64_t, Decimal, KeyedIdHash> by_instrument_;
};

template <class GroupSource>
Decimal SpotFundsPricing::slippage(InstrumentId instrument, AccountId account, GroupSource& group_source) const {
  if (!by_account_.empty()) {
    const auto it = by_account_.find({instrument.value, account.value});
    if (it != by_account_.end()) return it->second;
  }
  if (!by_group_.empty()) {
    if (const std::optional<AccountGroupId> group = group_source()) {
      const auto it = by_group_.find({instrument.value, group->value});
      if (it != by_group_.end()) return it->second;
    }
  }
  if (!by_instrument_.empty()) {
    const auto it = by_instrument_.find(instrument.value);
    if (it != by_instrument_.end()) return it->second;
  }
  return default_fraction_;
}

template <class GroupSource>
Valuation SpotFundsPricing::value(const Instrument& instrument, AccountId account, Side side,
                                  GroupSource& group_source) const {
  if (mode_ == PricingMode::None) return kMarketOrdersUnsupported;
  const MarketDataService::InstrumentQuote found = market_data_->resolve_instrument_quote(instrument, account, group_source);
  if (!found.id || found.lookup.status != LookupStatus::Found) return kMarkPriceUnavailable;
  const std::optional<InstrumentId> id = found.id;
  const std::optional<Decimal> base = base_price(side, found.lookup.quote);
  if (!base) return kMarkPriceUnavailable;
  const std::optional<Decimal> price = slipped_price(side, *base, slippage(*id, account, group_source));
  if (!price) return kPriceCalculationFailed;
  return *price;
}

}  // namespace vantrel
