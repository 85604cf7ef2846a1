#include "vantrel/pretrade/policies/order_size.hpp"

namespace vantrel {

namespace {

// max_quantity * |price| when the product is exact on the 64-bit fast path, else nullopt.
std::optional<Decimal> exact_product(Decimal a, Decimal b) noexcept {
  if (a.hi32() != 0 || b.hi32() != 0 || a.scale() + b.scale() > Decimal::kMaxScale) return std::nullopt;
  const decimal_detail::u128 p = static_cast<decimal_detail::u128>(a.lo64()) * b.lo64();
  if (p > decimal_detail::kMaxMantissa) return std::nullopt;
  return Decimal::from_parts(static_cast<std::uint64_t>(p), static_cast<std::uint32_t>(p >> 64),
                             a.scale() + b.scale(), false);
}

constexpr std::uint64_t kPow10[20] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
                                      10000000ull, 100000000ull, 1000000000ull, 10000000000ull,
                                      100000000000ull, 1000000000000ull, 10000000000000ull,
                                      100000000000000ull, 1000000000000000ull, 10000000000000000ull,
                                      100000000000000000ull, 1000000000000000000ull,
                                      10000000000000000000ull};

// Decimal::compare for the common case of two non-negative 64-bit mantissas whose scales differ
// by at most 19: one 64x64 multiply instead of a 128-bit one.
inline int compare_amounts(Decimal a, Decimal b) noexcept {
  if ((a.hi32() | b.hi32()) == 0 && !a.is_negative() && !b.is_negative()) {
    const std::uint32_t sa = a.scale(), sb = b.scale();
    decimal_detail::u128 ma = a.lo64(), mb = b.lo64();
    if (sa < sb && sb - sa <= 19)
      ma = static_cast<decimal_detail::u128>(a.lo64()) * kPow10[sb - sa];
    else if (sa > sb && sa - sb <= 19)
      mb = static_cast<decimal_detail::u128>(b.lo64()) * kPow10[sa - sb];
    else if (sa != sb)
      return Decimal::compare(a, b);
    return ma < mb ? -1 : (ma > mb ? 1 : 0);
  }
  return Decimal::compare(a, b);
}

// a * b into `out` (kept out of std::optional so the hot path stays in registers); false on
// overflow.
inline bool signed_product(Decimal a, Decimal b, Decimal& out) noexcept {
  if (a.hi32() == 0 && b.hi32() == 0 && a.scale() + b.scale() <= Decimal::kMaxScale) {
    const decimal_detail::u128 p = static_cast<decimal_detail::u128>(a.lo64()) * b.lo64();
    if (p <= decimal_detail::kMaxMantissa) {
      out = Decimal::from_parts(static_cast<std::uint64_t>(p), static_cast<std::uint32_t>(p >> 64),
                                a.scale() + b.scale(), p != 0 && a.is_negative() != b.is_negative());
      return true;
    }
  }
  const std::optional<Decimal> r = a.checked_mul(b);
  if (r) out = *r;
  return r.has_value();
}

// Whether a volume v at |price| surely asks for no more than max_quantity. If v <= maxQ * |p|
// exactly, v / |p| <= maxQ, and the rounded quotient keeps a scale at which maxQ is
// representable, so rounding cannot lift it above maxQ.
bool volume_within_quantity(Decimal volume, Decimal abs_price, Decimal max_quantity) noexcept {
  const std::optional<Decimal> bound = exact_product(max_quantity, abs_price);
  return bound && compare_amounts(volume, *bound) <= 0;
}

SizeFinding::Kind breach_kind(bool quantity_over, bool notional_over) noexcept {
  using Kind = SizeFinding::Kind;
  if (quantity_over) return notional_over ? Kind::SizeExceeded : Kind::QuantityExceeded;
  return notional_over ? Kind::NotionalExceeded : Kind::Pass;
}

SizeFinding value_failure(SizeFinding::Kind kind) noexcept {
  SizeFinding f;
  f.kind = kind;
  return f;
}

}  // namespace

SizeFinding evaluate_order_size(const TradeAmount& amount, const std::optional<Price>& price,
                                const OrderSizeLimit* specific, const OrderSizeLimit* broker) noexcept {
  using Kind = SizeFinding::Kind;
  if (specific == nullptr && broker == nullptr) return {};
  if (!price) return value_failure(Kind::PriceMissing);

  Decimal notional;
  std::optional<Decimal> quantity;  // unset: every limit's quantity bound is known to hold
  if (amount.is_quantity()) {
    if (!signed_product(price->value, amount.value, notional) || (notional.is_negative() && !notional.is_zero()))
      return value_failure(Kind::NotionalUnavailable);
    quantity = amount.value;
  } else {
    if (price->value.is_zero()) return value_failure(Kind::QuantityUnavailable);
    notional = amount.value;
    const Decimal abs_price = price->value.abs();
    const bool settled =
        (specific == nullptr || volume_within_quantity(notional, abs_price, specific->max_quantity.value)) &&
        (broker == nullptr || volume_within_quantity(notional, abs_price, broker->max_quantity.value));
    if (!settled) {
      quantity = notional.checked_div(abs_price);
      if (!quantity) return value_failure(Kind::QuantityUnavailable);
    }
  }

  for (const OrderSizeLimit* limit : {specific, broker}) {
    if (limit == nullptr) continue;
    const bool quantity_over = quantity && compare_amounts(*quantity, limit->max_quantity.value) > 0;
    const bool notional_over = compare_amounts(notional, limit->max_notional.value) > 0;
    const Kind kind = breach_kind(quantity_over, notional_over);
    if (kind == Kind::Pass) continue;
    SizeFinding f;
    f.kind = kind;
    f.by_specific = limit == specific;
    f.limit = limit;
    f.notional = notional;
    if (quantity) f.quantity = *quantity;
    return f;
  }
  return {};
}

std::string order_size_reason(const SizeFinding& finding) {
  using Kind = SizeFinding::Kind;
  switch (finding.kind) {
    case Kind::Pass:
      return {};
    case Kind::PriceMissing:
    case Kind::NotionalUnavailable:
    case Kind::QuantityUnavailable:
      return "order value calculation failed";
    case Kind::NotionalExceeded:
      return "order notional exceeded";
    case Kind::QuantityExceeded:
      return "order quantity exceeded";
    case Kind::SizeExceeded:
      return "order size exceeded";
  }
  return {};
}

std::string order_size_details(const SizeFinding& finding) {
  using Kind = SizeFinding::Kind;
  switch (finding.kind) {
    case Kind::Pass:
      return {};
    case Kind::PriceMissing:
      return "price not provided for evaluating cash flow/notional/volume";
    case Kind::NotionalUnavailable:
      return "price or quantity could not be used to evaluate order notional";
    case Kind::QuantityUnavailable:
      return "price or volume could not be used to evaluate order quantity";
    case Kind::NotionalExceeded:
      return "requested " + finding.notional.to_string() +
             ", max allowed: " + finding.limit->max_notional.value.to_string();
    case Kind::QuantityExceeded:
      return "requested " + finding.quantity.to_string() +
             ", max allowed: " + finding.limit->max_quantity.value.to_string();
    case Kind::SizeExceeded:
      return "requested quantity " + finding.quantity.to_string() +
             ", max allowed: " + finding.limit->max_quantity.value.to_string() + "; requested notional " +
             finding.notional.to_string() + ", max allowed: " + finding.limit->max_notional.value.to_string();
  }
  return {};
}

}  // namespace vantrel
