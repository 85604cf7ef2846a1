#include "vantrel/pretrade/policies/spot_funds_value.hpp"

#include "vantrel/param/amount.hpp"
#include "vantrel/pretrade/policies/holdings.hpp"

namespace vantrel {

std::optional<Decimal> slipped_price(Side side, Decimal base, Decimal fraction) noexcept {
  const Decimal one = Decimal::from_u64(1);
  if (side == Side::Buy) {
    if (!(base > Decimal())) return std::nullopt;
    const std::optional<Decimal> factor = one.checked_add(fraction);
    if (!factor) return std::nullopt;
    return base.checked_mul(*factor);
  }
  const std::optional<Decimal> factor = one.checked_sub(fraction);
  if (!factor) return std::nullopt;
  const std::optional<Decimal> value = base.checked_mul(*factor);
  if (!value || !(*value > Decimal())) return std::nullopt;
  return value;
}

std::optional<FundsRequirements> funds_requirements(Side side, const TradeAmount& amount,
                                                    std::optional<Decimal> price) noexcept {
  FundsRequirements need;
  if (side == Side::Buy) {
    if (!price) return std::nullopt;
    if (amount.is_quantity()) {
      if (!settlement_hold(side, *price, amount.value, need.settlement)) return std::nullopt;
    } else if (*price > Decimal()) {
      need.settlement = amount.value;
    }
    need.lock_price = price;
    return need;
  }
  Decimal quantity = amount.value;
  if (amount.is_volume()) {
    if (!price) return std::nullopt;
    const Result<Quantity> q = quantity_from_volume_price(Volume{amount.value}, Price{*price});
    if (!q) return std::nullopt;
    quantity = q->value;
  }
  need.underlying = quantity;
  // Only a negative price makes a sell pay in the settlement asset.
  if (price) {
    if (!settlement_hold(side, *price, quantity, need.settlement)) return std::nullopt;
    if (!need.settlement.is_zero()) need.lock_price = price;
  }
  return need;
}

}  // namespace vantrel
