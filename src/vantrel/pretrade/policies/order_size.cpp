#include "vantrel/pretrade/policies/order_size.hpp"

#include <initializer_list>

namespace vantrel {

namespace {

using decimal_detail::u128;

constexpr std::uint64_t kPow10[20] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
                                      10000000ull, 100000000ull, 1000000000ull, 10000000000ull,
                                      100000000000ull, 1000000000000ull, 10000000000000ull,
                                      100000000000000ull, 1000000000000000ull, 10000000000000000ull,
                                      100000000000000000ull, 1000000000000000000ull,
                                      10000000000000000000ull};

// A non-negative exact value mantissa / 10^scale (96-bit mantissa, scale <= 28). The check
// works on these, held in registers; a Decimal is made only for the text of a breach.
struct Magnitude {
  u128 mantissa;
  std::uint32_t scale;

  static Magnitude of(Decimal d) noexcept { return {d.mantissa(), d.scale()}; }
  Decimal decimal() const noexcept {
    return Decimal::from_parts(static_cast<std::uint64_t>(mantissa), static_cast<std::uint32_t>(mantissa >> 64),
                               scale, false);
  }
};

#define VANTREL_HOT_INLINE inline __attribute__((always_inline))

// a <=> limit; the limit is a never-negative amount (a negative zero compares as zero).
VANTREL_HOT_INLINE int compare(Magnitude a, Decimal limit) noexcept {
  if ((a.mantissa >> 64) == 0 && limit.hi32() == 0) {
    const std::uint32_t sa = a.scale, sb = limit.scale();
    u128 ma = a.mantissa, mb = limit.lo64();
    if (sa < sb && sb - sa <= 19)
      ma = static_cast<u128>(static_cast<std::uint64_t>(a.mantissa)) * kPow10[sb - sa];
    else if (sa > sb && sa - sb <= 19)
      mb = static_cast<u128>(limit.lo64()) * kPow10[sa - sb];
    else if (sa != sb)
      return Decimal::compare(a.decimal(), limit);
    if (mb == 0) return ma == 0 ? 0 : 1;
    if (limit.is_negative()) return 1;
    return ma < mb ? -1 : (ma > mb ? 1 : 0);
  }
  return Decimal::compare(a.decimal(), limit);
}

// |a * b| when it is exact without rounding (both mantissas of 64 bits, the product within 96
// bits, scales adding up to 28 at most).
VANTREL_HOT_INLINE std::optional<Magnitude> exact_product(Decimal a, Decimal b) noexcept {
  if (a.hi32() != 0 || b.hi32() != 0 || a.scale() + b.scale() > Decimal::kMaxScale) return std::nullopt;
  const u128 p = static_cast<u128>(a.lo64()) * b.lo64();
  if (p > decimal_detail::kMaxMantissa) return std::nullopt;
  return Magnitude{p, a.scale() + b.scale()};
}

// quantity * price as the order's notional; nullopt when the product overflows or is below zero.
VANTREL_HOT_INLINE std::optional<Magnitude> notional_of(Decimal quantity, Decimal price) noexcept {
  if (const std::optional<Magnitude> exact = exact_product(quantity, price)) {
    if (price.is_negative() && exact->mantissa != 0) return std::nullopt;
    return exact;
  }
  const std::optional<Decimal> r = price.checked_mul(quantity);
  if (!r || (r->is_negative() && !r->is_zero())) return std::nullopt;
  return Magnitude::of(*r);
}

// Whether a volume v at |price| surely asks for no more than max_quantity. If v <= maxQ * |p|
// exactly, v / |p| <= maxQ, and the rounded quotient keeps a scale at which maxQ is
// representable, so rounding cannot lift it above maxQ.
VANTREL_HOT_INLINE bool volume_within_quantity(Magnitude volume, Decimal abs_price, Decimal max_quantity) noexcept {
  const std::optional<Magnitude> bound = exact_product(max_quantity, abs_price);
  return bound && compare(volume, bound->decimal()) <= 0;
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

  Magnitude notional;
  std::optional<Magnitude> quantity;  // unset: every limit's quantity bound is known to hold
  if (amount.is_quantity()) {
    const std::optional<Magnitude> n = notional_of(amount.value, price->value);
    if (!n) return value_failure(Kind::NotionalUnavailable);
    notional = *n;
    quantity = Magnitude::of(amount.value);
  } else {
    if (price->value.is_zero()) return value_failure(Kind::QuantityUnavailable);
    notional = Magnitude::of(amount.value);
    const Decimal abs_price = price->value.abs();
    const bool settled =
        (specific == nullptr || volume_within_quantity(notional, abs_price, specific->max_quantity.value)) &&
        (broker == nullptr || volume_within_quantity(notional, abs_price, broker->max_quantity.value));
    if (!settled) {
      const std::optional<Decimal> q = amount.value.checked_div(abs_price);
      if (!q) return value_failure(Kind::QuantityUnavailable);
      quantity = Magnitude::of(*q);
    }
  }

  for (const OrderSizeLimit* limit : {specific, broker}) {
    if (limit == nullptr) continue;
    const bool quantity_over = quantity && compare(*quantity, limit->max_quantity.value) > 0;
    const bool notional_over = compare(notional, limit->max_notional.value) > 0;
    const Kind kind = breach_kind(quantity_over, notional_over);
    if (kind == Kind::Pass) continue;
    SizeFinding f;
    f.kind = kind;
    f.by_specific = limit == specific;
    f.limit = limit;
    f.notional = notional.decimal();
    if (quantity) f.quantity = quantity->decimal();
    return f;
  }
  return {};
}

std::string_view order_size_reason(const SizeFinding& finding) noexcept {
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

namespace {

// A decimal's text in a buffer of its own, so joining texts allocates once.
class DecimalText {
 public:
  explicit DecimalText(Decimal d) noexcept : size_(d.write_text(text_)) {}
  operator std::string_view() const noexcept { return {text_, size_}; }  // NOLINT

 private:
  char text_[Decimal::kMaxTextLength];
  std::size_t size_;
};

std::string joined(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view p : parts) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : parts) out.append(p);
  return out;
}

}  // namespace

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
      return joined({"requested ", DecimalText(finding.notional), ", max allowed: ",
                     DecimalText(finding.limit->max_notional.value)});
    case Kind::QuantityExceeded:
      return joined({"requested ", DecimalText(finding.quantity), ", max allowed: ",
                     DecimalText(finding.limit->max_quantity.value)});
    case Kind::SizeExceeded:
      return joined({"requested quantity ", DecimalText(finding.quantity), ", max allowed: ",
                     DecimalText(finding.limit->max_quantity.value), "; requested notional ",
                     DecimalText(finding.notional), ", max allowed: ", DecimalText(finding.limit->max_notional.value)});
  }
  return {};
}

}  // namespace vantrel
