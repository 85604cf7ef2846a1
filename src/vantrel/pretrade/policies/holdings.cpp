#include "vantrel/pretrade/policies/holdings.hpp"

namespace vantrel {

std::string holdings_text(const Holdings& h) {
  std::string out = "Holdings { available: PositionSize(";
  out += h.available.to_string();
  out += "), held: PositionSize(";
  out += h.held.to_string();
  out += "), incoming: PositionSize(";
  out += h.incoming.to_string();
  out += ") }";
  return out;
}

namespace holdings_detail {

std::optional<Decimal> coarser_exact_amount(Decimal amount, RoundingStrategy toward,
                                            std::initializer_list<Decimal> from,
                                            std::initializer_list<Decimal> to) noexcept {
  for (std::uint32_t scale = amount.scale(); scale-- > 0;) {
    const Decimal rounded = amount.round_to(scale, toward);
    if (!absorbs(rounded, from, to)) continue;
    // A rounded value ending in zero (0.0, 88286.0) may fit where that scale's
    // other values would not: the scale counts only if its unit fits as well.
    const decimal_detail::u128 m = rounded.mantissa();
    if (scale == 0 || m % 10 != 0) return rounded;
    const Decimal unit = Decimal::from_parts(1, 0, scale, false);
    const std::optional<Decimal> next = rounded.is_negative() ? rounded.checked_sub(unit) : rounded.checked_add(unit);
    if (next && absorbs(*next, from, to)) return rounded;
  }
  return std::nullopt;
}

std::optional<Decimal> rounded_release(const Holdings& slot, Decimal amount, Decimal held_record,
                                       Decimal balance_record) noexcept {
  const std::initializer_list<Decimal> from = {slot.held, held_record}, to = {slot.available, balance_record};
  const std::optional<Decimal> down = coarser_exact_amount(amount, RoundingStrategy::Down, from, to);
  if (!down) return std::nullopt;
  const std::optional<Decimal> up = down->checked_add(Decimal::from_parts(1, 0, down->scale(), false));
  if (up && slot.held > *down && slot.held <= *up && absorbs(slot.held, from, to)) return slot.held;
  return without_scale_if_zero(*down);
}

}  // namespace holdings_detail

std::optional<FilledLeg> fill_leg_step(const Holdings& slot, Decimal consume, Decimal credit) noexcept {
  const std::optional<Decimal> consumed = exact_amount(consume, RoundingStrategy::Up, {slot.held}, {});
  const std::optional<Decimal> credited = exact_amount(credit, RoundingStrategy::Down, {}, {slot.available});
  if (!consumed || !credited) return std::nullopt;
  const std::optional<Decimal> held = slot.held.checked_sub(*consumed);
  const std::optional<Decimal> available = slot.available.checked_add(*credited);
  if (!held || !available) return std::nullopt;
  return FilledLeg{*consumed, *credited, Holdings{*available, *held, slot.incoming}};
}

namespace {

Decimal& field_of(Holdings& h, std::size_t i) noexcept {
  return i == 0 ? h.available : (i == 1 ? h.held : h.incoming);
}
Decimal field_of(const Holdings& h, std::size_t i) noexcept {
  return i == 0 ? h.available : (i == 1 ? h.held : h.incoming);
}
Decimal& field_of(HoldingsDelta& d, std::size_t i) noexcept {
  return i == 0 ? d.available : (i == 1 ? d.held : d.incoming);
}

}  // namespace

AdjustStep adjust_step(const Holdings& slot, const BalanceAdjustment& adjustment) noexcept {
  AdjustStep step;
  step.after = slot;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::optional<FieldAdjustment>& change = adjustment.fields[i];
    if (!change) continue;
    step.field = static_cast<HoldingsField>(i);
    const Decimal current = field_of(step.after, i);
    Decimal next = change->value;
    if (!change->absolute) {
      // Rounded, where the field cannot take every digit, against the account.
      const std::optional<Decimal> sum = current.checked_add(change->value, RoundingStrategy::Down);
      if (!sum) {
        step.verdict = AdjustVerdict::ValueOverflow;
        step.current = current;
        step.applied = change->value;
        return step;
      }
      next = *sum;
    }
    const FieldBounds& bounds = adjustment.bounds[i];
    if ((bounds.lower && next < *bounds.lower) || (bounds.upper && next > *bounds.upper)) {
      step.verdict = AdjustVerdict::BoundsExceeded;
      step.value = next;
      return step;
    }
    field_of(step.after, i) = next;
  }
  for (std::size_t i = 0; i < 3; ++i) {
    if (!adjustment.fields[i]) continue;
    // Exact, so that old + delta is the new value; a delta no scale holds is refused.
    const std::optional<Decimal> d = field_of(step.after, i).exact_sub(field_of(slot, i));
    if (!d) {
      step.verdict = AdjustVerdict::DeltaOverflow;
      step.field = static_cast<HoldingsField>(i);
      return step;
    }
    field_of(step.delta, i) = *d;
  }
  step.verdict = AdjustVerdict::Adjusted;
  return step;
}

std::optional<Holdings> unadjust_step(const Holdings& slot, const HoldingsDelta& delta) noexcept {
  const std::optional<Decimal> available = slot.available.exact_sub(delta.available);
  const std::optional<Decimal> held = slot.held.exact_sub(delta.held);
  const std::optional<Decimal> incoming = slot.incoming.exact_sub(delta.incoming);
  if (!available || !held || !incoming) return std::nullopt;
  return Holdings{*available, *held, *incoming};
}

}  // namespace vantrel
