#pragma once
// What an order is worth to the funds policy: the price assumed for an order
// without one (a quote's price moved by slippage against the trader), and the
// amounts of each asset that the order must be able to pay.
// Pure functions; any thread may use them.
#include <cstdint>
#include <optional>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/enums.hpp"
#include "vantrel/param/tagged.hpp"
#include "vantrel/pretrade/policies/holdings.hpp"

namespace vantrel {

inline constexpr std::uint16_t kMaxSlippageBps = 10000;

// bps / 10000, exact: 25 bps is 0.0025, 10000 bps is 1.
constexpr Decimal slippage_fraction(std::uint16_t bps) noexcept { return Decimal::from_parts(bps, 0, 4, false); }

// Buy: base * (1 + f), the base above zero. Sell: base * (1 - f), the result
// above zero (so full slippage never prices a sell). nullopt otherwise or on
// overflow.
std::optional<Decimal> slipped_price(Side side, Decimal base, Decimal fraction) noexcept;

// What an order on `side` priced at `price` holds in the settlement asset for
// `quantity`, written to `hold`: a buy price × quantity, a sell what a negative
// price makes it pay, -(price × quantity); never below zero. A product with
// more than 36 places is rounded once at the 36th, against the account (a
// buy's cost up, a sell's proceeds down). The hold, each fill's consumption
// (the hold of the remainder before it less the hold of the remainder after)
// and the final release all use it, so an order's steps telescope exactly to
// its hold. False on overflow (`hold` is then unchanged).
inline bool settlement_hold(Side side, Decimal price, Decimal quantity, LedgerAmount& hold) noexcept {
  const bool buy = side == Side::Buy;
  const std::optional<LedgerAmount> value =
      LedgerAmount::product(price, quantity, buy ? RoundingStrategy::Up : RoundingStrategy::Down);
  if (!value) return false;
  hold = clamp_at_zero(buy ? *value : value->negated());
  return true;
}

struct FundsRequirements {
  LedgerAmount underlying;            // to hold in the underlying asset
  LedgerAmount settlement;            // to hold in the settlement asset
  std::optional<Decimal> lock_price;  // the price filed for the post-trade path
};

// The amounts an order needs. A buy always has a price (its own or a valued
// one) and always locks it; a sell locks its price only when it must pay
// settlement (a negative price). A sell by volume needs a price to know its
// quantity. nullopt: the value cannot be computed (overflow, a zero price).
std::optional<FundsRequirements> funds_requirements(Side side, const TradeAmount& amount,
                                                    std::optional<Decimal> price) noexcept;

}  // namespace vantrel
