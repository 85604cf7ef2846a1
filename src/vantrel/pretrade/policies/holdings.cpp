#include "vantrel/pretrade/policies/holdings.hpp"

namespace vantrel {

std::string holdings_text(const Holdings& h) {
  std::string out = "Holdings { available: PositionSize(";
  out += h.available.to_decimal().to_string();
  out += "), held: PositionSize(";
  out += h.held.to_decimal().to_string();
  out += "), incoming: PositionSize(";
  out += h.incoming.to_decimal().to_string();
  out += ") }";
  return out;
}

namespace {

LedgerAmount& field_of(Holdings& h, std::size_t i) noexcept {
  return i == 0 ? h.available : (i == 1 ? h.held : h.incoming);
}
const LedgerAmount& field_of(const Holdings& h, std::size_t i) noexcept {
  return i == 0 ? h.available : (i == 1 ? h.held : h.incoming);
}

}  // namespace

AdjustStep adjust_step(const Holdings& slot, const BalanceAdjustment& adjustment) noexcept {
  AdjustStep step;
  step.after = slot;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::optional<FieldAdjustment>& change = adjustment.fields[i];
    if (!change) continue;
    step.field = static_cast<HoldingsField>(i);
    const LedgerAmount current = field_of(step.after, i);
    LedgerAmount next = change->value;
    if (!change->absolute) {
      const std::optional<LedgerAmount> sum = current.plus(change->value);
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
    // Within range unless an absolute value lies more than 2^96 - 1 from the old one.
    const std::optional<LedgerAmount> d = field_of(step.after, i).minus(field_of(slot, i));
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
  Holdings back;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::optional<LedgerAmount> value = field_of(slot, i).minus(field_of(delta, i));
    if (!value) return std::nullopt;
    field_of(back, i) = *value;
  }
  return back;
}

}  // namespace vantrel
