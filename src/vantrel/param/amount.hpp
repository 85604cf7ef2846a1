#pragma once
// Typed decimal amounts (one Decimal under a distinct type per kind) and the checked
// kind-level operations that value classes and policies share.

#include <cstdint>
#include <string_view>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/param_error.hpp"
#include "vantrel/param/value_kind.hpp"

namespace vantrel {

template <ValueKind K>
struct Amount {
  static_assert(K != ValueKind::Leverage, "Leverage is a count of tenths, not a decimal amount");
  static constexpr ValueKind kKind = K;
  Decimal value;
};

using Quantity = Amount<ValueKind::Quantity>;
using Volume = Amount<ValueKind::Volume>;
using Notional = Amount<ValueKind::Notional>;
using Price = Amount<ValueKind::Price>;
using Pnl = Amount<ValueKind::Pnl>;
using CashFlow = Amount<ValueKind::CashFlow>;
using PositionSize = Amount<ValueKind::PositionSize>;
using Fee = Amount<ValueKind::Fee>;

// Decimal text (plain, then scientific) of any kind; the parser's own error is replaced by
// InvalidFormat carrying the input as given.
Result<Decimal> decimal_from_text(ValueKind kind, std::string_view text);

// InvalidFormat for text that does not parse; NegativeValue for a never-negative kind below zero.
template <ValueKind K>
Result<Amount<K>> from_text(std::string_view text) {
  Result<Decimal> d = decimal_from_text(K, text);
  if (!d) return d.error();
  return Amount<K>{*d};
}

// Overflow on failure; Underflow for a never-negative kind whose result is below zero.
Result<Decimal> kind_checked_add(ValueKind kind, Decimal a, Decimal b);
Result<Decimal> kind_checked_sub(ValueKind kind, Decimal a, Decimal b);

template <ValueKind K>
Result<Amount<K>> checked_add(Amount<K> a, Amount<K> b) {
  Result<Decimal> d = kind_checked_add(K, a.value, b.value);
  if (!d) return d.error();
  return Amount<K>{*d};
}

template <ValueKind K>
Result<Amount<K>> checked_sub(Amount<K> a, Amount<K> b) {
  Result<Decimal> d = kind_checked_sub(K, a.value, b.value);
  if (!d) return d.error();
  return Amount<K>{*d};
}

// Signed product; a zero product carries no sign. Failure: "arithmetic overflow in Price".
Result<Decimal> decimal_checked_mul(Decimal a, Decimal b);
// |price| * quantity; a zero operand gives zero at scale 0. Failure: overflow in Price.
Result<Volume> volume_from_price_quantity(Price price, Quantity quantity);
// volume / |price|. Zero price: InvalidPrice; failure: overflow in Volume.
Result<Quantity> quantity_from_volume_price(Volume volume, Price price);
// notional * 10 / tenths (a leverage of 10x is 100 tenths). Failure: overflow in Notional.
Result<Notional> margin_required(Notional notional, std::uint16_t tenths);

}  // namespace vantrel
