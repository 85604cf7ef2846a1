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

std::optional<Holdings> fill_leg_step(const Holdings& slot, Decimal consume, Decimal credit) noexcept {
  const std::optional<Decimal> held = slot.held.checked_sub(consume);
  if (!held) return std::nullopt;
  Decimal available = slot.available;
  if (!credit.is_zero()) {
    const std::optional<Decimal> a = slot.available.checked_add(credit);
    if (!a) return std::nullopt;
    available = *a;
  }
  return Holdings{available, *held, slot.incoming};
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
      const std::optional<Decimal> sum = current.checked_add(change->value);
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
    const std::optional<Decimal> d = field_of(step.after, i).checked_sub(field_of(slot, i));
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
  const std::optional<Decimal> available = slot.available.checked_sub(delta.available);
  const std::optional<Decimal> held = slot.held.checked_sub(delta.held);
  const std::optional<Decimal> incoming = slot.incoming.checked_sub(delta.incoming);
  if (!available || !held || !incoming) return std::nullopt;
  return Holdings{*available, *held, *incoming};
}

}  // namespace vantrel
