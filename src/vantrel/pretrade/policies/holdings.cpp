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

HoldStep hold_rounded(const Holdings& slot, Decimal amount, Decimal usable, bool in_debt) noexcept {
  HoldStep step;
  // A debt is settled along with the amount (rounded up where 96 bits cannot
  // hold the sum), so held ends at the amount.
  Decimal wanted = amount;
  if (in_debt) {
    const std::optional<Decimal> w = amount.checked_add(slot.held.negated(), RoundingStrategy::Up);
    if (!w) return step;
    wanted = *w;
  }
  const std::optional<Decimal> available = add_rounded_down(slot.available, wanted.negated());
  const std::optional<Decimal> held = add_rounded_down(slot.held, wanted);
  if (!available || !held) return step;
  if (*available < Decimal()) {
    // Only a settled debt rounded up can take more than is usable.
    step.verdict = HoldVerdict::Insufficient;
    step.usable = usable;
    return step;
  }
  // What each side moved, exactly, so that the undo restores the slot.
  const std::optional<Decimal> taken = slot.available.exact_sub(*available);
  if (!taken) return step;
  if (const std::optional<Decimal> moved = held->exact_sub(slot.held)) {
    step.moved = *moved;
  } else {
    // held's change itself needs more places than 96 bits hold: the undo takes
    // `wanted` back out of held and adds what rounding held down took, `lost`.
    const std::optional<Decimal> less = held->exact_sub(wanted);
    const std::optional<Decimal> lost = less ? slot.held.exact_sub(*less) : std::nullopt;
    if (!lost) return step;
    step.moved = wanted;
    step.lost = *lost;
  }
  step.verdict = HoldVerdict::Held;
  step.taken = *taken;
  step.after = Holdings{*available, *held, slot.incoming};
  return step;
}

std::optional<Released> release_rounded(const Holdings& slot, Decimal amount) noexcept {
  const std::optional<Decimal> available = add_rounded_down(slot.available, amount);
  const std::optional<Decimal> held = add_rounded_down(slot.held, amount.negated());
  if (!available || !held) return std::nullopt;
  const std::optional<Decimal> released = moved_by(*held, slot.held);
  if (!released) return std::nullopt;
  return Released{*released, Holdings{*available, *held, slot.incoming}};
}

}  // namespace holdings_detail

std::optional<Holdings> unhold_step(const Holdings& slot, Decimal taken, Decimal wanted, Decimal lost) noexcept {
  if (lost.is_zero()) return unadjust_step(slot, HoldingsDelta{negate(taken), wanted, Decimal()});
  const std::optional<Decimal> available = slot.available.exact_add(taken);
  const std::optional<Decimal> less = slot.held.exact_sub(wanted);
  const std::optional<Decimal> held = less ? less->exact_add(lost) : std::nullopt;
  if (!available || !held) return std::nullopt;
  return Holdings{*available, *held, slot.incoming};
}

std::optional<FilledLeg> fill_leg_step(const Holdings& slot, Decimal consume, Decimal credit) noexcept {
  const std::optional<Decimal> held = add_rounded_down(slot.held, consume.negated());
  const std::optional<Decimal> available = add_rounded_down(slot.available, credit);
  if (!held || !available) return std::nullopt;
  const std::optional<Decimal> consumed = moved_by(*held, slot.held);
  const std::optional<Decimal> credited = moved_by(slot.available, *available);
  if (!consumed || !credited) return std::nullopt;
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
Decimal field_of(const HoldingsDelta& d, std::size_t i) noexcept {
  return i == 0 ? d.available : (i == 1 ? d.held : d.incoming);
}

// (after - before) - rounded, exactly, where `rounded` is that change rounded
// down: by whichever order of the steps 96 bits can hold.
std::optional<Decimal> remainder_of(Decimal before, Decimal after, Decimal rounded) noexcept {
  if (const std::optional<Decimal> less = after.exact_sub(rounded))
    if (const std::optional<Decimal> r = less->exact_sub(before)) return r;
  if (const std::optional<Decimal> more = before.exact_add(rounded)) return after.exact_sub(*more);
  return std::nullopt;
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
    const Decimal before = field_of(slot, i);
    const Decimal after = field_of(step.after, i);
    if (const std::optional<Decimal> d = after.exact_sub(before)) {
      field_of(step.delta, i) = *d;
      continue;
    }
    // 96 bits cannot hold the change itself: the entry reports it rounded down,
    // and the undo keeps what that rounding took, so it still gives back exactly.
    const std::optional<Decimal> d = moved_by(before, after);
    const std::optional<Decimal> taken = d ? remainder_of(before, after, *d) : std::nullopt;
    if (!taken || step.remainder.field != AdjustRemainder::kNone) {
      step.verdict = AdjustVerdict::DeltaOverflow;
      step.field = static_cast<HoldingsField>(i);
      return step;
    }
    field_of(step.delta, i) = *d;
    step.remainder = AdjustRemainder{*taken, static_cast<std::uint8_t>(i)};
  }
  step.verdict = AdjustVerdict::Adjusted;
  return step;
}

std::optional<Holdings> unadjust_step(const Holdings& slot, const HoldingsDelta& delta,
                                      const AdjustRemainder& remainder) noexcept {
  Holdings back;
  for (std::size_t i = 0; i < 3; ++i) {
    const Decimal now = field_of(slot, i);
    const Decimal d = field_of(delta, i);
    std::optional<Decimal> value;
    if (remainder.field == i) {
      // now - d - taken, exactly: one order of the two steps may pass through a
      // value 96 bits cannot hold where the other does not.
      const Decimal taken = remainder.taken;
      const std::optional<Decimal> less_delta = now.exact_sub(d);
      value = less_delta ? less_delta->exact_sub(taken) : std::nullopt;
      if (!value) {
        const std::optional<Decimal> less_taken = now.exact_sub(taken);
        value = less_taken ? less_taken->exact_sub(d) : std::nullopt;
      }
    } else {
      value = now.exact_sub(d);
    }
    if (!value) return std::nullopt;
    field_of(back, i) = *value;
  }
  return back;
}

}  // namespace vantrel
