// Checked kind-level operations on decimal amounts.

#include "vantrel/param/amount.hpp"

namespace vantrel {

namespace {
bool below_zero(Decimal d) noexcept { return d.is_negative() && !d.is_zero(); }
}  // namespace

Result<Decimal> decimal_from_text(ValueKind kind, std::string_view text) {
  const DecimalParse p = Decimal::parse(text);
  if (!p.ok()) return ParamErrorKind::invalid_format(kind, text);
  if (never_negative(kind) && below_zero(p.value)) return ParamErrorKind::negative_value(kind);
  return p.value;
}

Result<Decimal> kind_checked_add(ValueKind kind, Decimal a, Decimal b) {
  const std::optional<Decimal> r = a.checked_add(b);
  if (!r) return ParamErrorKind::overflow(kind);
  if (never_negative(kind) && below_zero(*r)) return ParamErrorKind::underflow(kind);
  return *r;
}

Result<Decimal> kind_checked_sub(ValueKind kind, Decimal a, Decimal b) {
  const std::optional<Decimal> r = a.checked_sub(b);
  if (!r) return ParamErrorKind::overflow(kind);
  if (never_negative(kind) && below_zero(*r)) return ParamErrorKind::underflow(kind);
  return *r;
}

Result<Decimal> decimal_checked_mul(Decimal a, Decimal b) {
  const std::optional<Decimal> r = a.checked_mul(b);
  if (!r) return ParamErrorKind::overflow(ValueKind::Price);
  return *r;
}

Result<Volume> volume_from_price_quantity(Price price, Quantity quantity) {
  if (price.value.is_zero() || quantity.value.is_zero()) return Volume{Decimal()};
  const std::optional<Decimal> r = price.value.abs().checked_mul(quantity.value.abs());
  if (!r) return ParamErrorKind::overflow(ValueKind::Price);
  return Volume{*r};
}

Result<Quantity> quantity_from_volume_price(Volume volume, Price price) {
  if (price.value.is_zero()) return ParamErrorKind::invalid_price();
  const std::optional<Decimal> r = volume.value.checked_div(price.value.abs());
  if (!r) return ParamErrorKind::overflow(ValueKind::Volume);
  return Quantity{*r};
}

Result<Notional> margin_required(Notional notional, std::uint16_t tenths) {
  std::optional<Decimal> r = notional.value.checked_mul(Decimal::from_u64(10));
  if (r) r = r->checked_div(Decimal::from_u64(tenths));
  if (!r) return ParamErrorKind::overflow(ValueKind::Notional);
  return Notional{*r};
}

}  // namespace vantrel
