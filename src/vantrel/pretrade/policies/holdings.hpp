#pragma once
// The funds of one account in one asset, and the arithmetic of every change
// made to them. Each step computes all new amounts before anything is written:
// a step that fails returns no new value, so no caller can write half of one.
// Plain values and pure functions; any thread may use them.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vantrel/param/decimal.hpp"

namespace vantrel {

struct Holdings {
  Decimal available;  // usable by new orders
  Decimal held;       // set aside for open orders; negative after over-consumption
  Decimal incoming;   // expected, not yet usable (changed by adjustments only)

  bool all_zero() const noexcept { return available.is_zero() && held.is_zero() && incoming.is_zero(); }
  friend bool operator==(const Holdings&, const Holdings&) = default;
};

// "Holdings { available: PositionSize(1), held: PositionSize(0), incoming: PositionSize(0) }"
std::string holdings_text(const Holdings& holdings);

// -x without ever producing a negative zero (a zero prints without a sign).
constexpr Decimal negate(Decimal x) noexcept { return x.is_zero() ? Decimal() : x.negated(); }
constexpr Decimal clamp_at_zero(Decimal x) noexcept { return x.is_negative() && !x.is_zero() ? Decimal() : x; }

// ---- pre-trade hold ----

enum class HoldVerdict : std::uint8_t { Held, Insufficient, Overflow };

// ---- rounded results ----
//
// A change that the slot can hold exactly is made exactly. When a resulting
// `available` or `held` needs more digits than 96 bits hold, that value is
// rounded at the finest scale that holds it, towards negative infinity: the
// account is left short by less than one unit of the last place kept, and
// never gets more than the exact figure. Only an integer part too large for
// 96 bits refuses the change. Undos never round: they take back exactly what
// was moved, or nothing.

// x + y, rounded towards negative infinity where 96 bits cannot hold the sum; y
// at zero leaves x as it is, scale included. nullopt on overflow.
inline std::optional<Decimal> add_rounded_down(Decimal x, Decimal y) noexcept {
  if (y.is_zero()) return x;
  return x.checked_add(y, RoundingStrategy::Down);
}

// new - old: exact when 96 bits hold it, else rounded towards negative infinity.
inline std::optional<Decimal> moved_by(Decimal old_value, Decimal new_value) noexcept {
  if (const std::optional<Decimal> d = new_value.exact_sub(old_value)) return d;
  return new_value.checked_add(old_value.negated(), RoundingStrategy::Down);
}

struct HoldStep {
  HoldVerdict verdict = HoldVerdict::Overflow;
  Decimal usable;     // Insufficient: the usable amount the reject names
  Decimal moved;      // Held: the amount held was to take (with any debt settled)
  Decimal taken;      // Held: what left available (`moved`, more only where available was rounded)
  Decimal lost;       // Held: what rounding held down took: held moved by `moved` less it
  Holdings after;     // Held: the new slot
};

// Usable funds are `available`, less any debt in a negative `held`. A hold of
// `amount` <= usable settles that debt as well, so `held` ends at `amount`: a
// later hold can no longer spend funds that an over-consumption already took.
// Each side takes the amount exactly where it can and is rounded down where it
// cannot. The hold is refused as an overflow only when the undo could not take
// back exactly what it moved (both sides rounded, or an integer part too large).
inline HoldStep hold_step(const Holdings& slot, const Decimal& amount) noexcept;

// The undo of a hold: `taken` back into available, `wanted` out of held and
// `lost` (what rounding held down took) back into it. Exactly, or nothing.
std::optional<Holdings> unhold_step(const Holdings& slot, Decimal taken, Decimal wanted, Decimal lost) noexcept;

// ---- releases and fills ----

struct Released {
  Decimal amount;  // what left held
  Holdings after;
};

// `amount` back from held to available (a finished order's remainder).
inline std::optional<Released> release_step(const Holdings& slot, Decimal amount) noexcept;

struct FilledLeg {
  Decimal consumed;  // what left held
  Decimal credited;  // what arrived in available
  Holdings after;
};

// One leg of a fill: `consume` leaves held, `credit` arrives in available.
std::optional<FilledLeg> fill_leg_step(const Holdings& slot, Decimal consume, Decimal credit) noexcept;

// ---- account adjustments ----

enum class HoldingsField : std::uint8_t { Balance, Held, Incoming };
inline constexpr std::array<std::string_view, 3> kHoldingsFieldNames = {"balance", "held", "incoming"};

struct FieldAdjustment {
  bool absolute = false;  // else a delta
  Decimal value;
};

struct FieldBounds {
  std::optional<Decimal> lower;
  std::optional<Decimal> upper;
};

// Fields in the order balance (acting on available), held, incoming.
struct BalanceAdjustment {
  std::array<std::optional<FieldAdjustment>, 3> fields;
  std::array<FieldBounds, 3> bounds;

  bool empty() const noexcept { return !fields[0] && !fields[1] && !fields[2]; }
};

// What each amount moved by; absent fields move by zero.
struct HoldingsDelta {
  Decimal available;
  Decimal held;
  Decimal incoming;
};

// What rounding an adjustment's delta down took, and of which field (at most
// one field's delta is rounded; `field` is kNone when none is). The remainder
// is below one unit of the delta's last place, at a scale of at most 28: a
// decimal always holds it.
struct AdjustRemainder {
  static constexpr std::uint8_t kNone = 0xff;
  Decimal taken;
  std::uint8_t field = kNone;
};

enum class AdjustVerdict : std::uint8_t { Adjusted, ValueOverflow, BoundsExceeded, DeltaOverflow };

struct AdjustStep {
  AdjustVerdict verdict = AdjustVerdict::Adjusted;
  HoldingsField field = HoldingsField::Balance;  // the failing field
  Decimal current;                                // ValueOverflow: the slot's value
  Decimal applied;                                // ValueOverflow: the delta
  Decimal value;                                  // BoundsExceeded: the refused new value
  Holdings after;
  HoldingsDelta delta;     // each rounded down where 96 bits cannot hold the change
  AdjustRemainder remainder;  // what rounding one delta took, so the undo stays exact
};

// Each present field becomes its absolute value or the old value plus its delta
// (rounded when the field cannot hold every digit), within that field's
// bounds; then the three deltas, each what its field moved, rounded down where
// 96 bits cannot hold it (with the remainder kept for the undo). The first
// failure decides; a delta is refused only for an integer part too large, or
// when a second field's delta would need its remainder kept.
AdjustStep adjust_step(const Holdings& slot, const BalanceAdjustment& adjustment) noexcept;

// The undo of an applied adjustment: every delta (and the remainder its
// rounding took) taken back exactly, or nothing.
std::optional<Holdings> unadjust_step(const Holdings& slot, const HoldingsDelta& delta,
                                      const AdjustRemainder& remainder = {}) noexcept;

// ---- the two steps of every order, inline for the hot path ----

namespace holdings_detail {
// A hold that settles a debt, or whose results need rounding: out of line.
HoldStep hold_rounded(const Holdings& slot, Decimal amount, Decimal usable, bool in_debt) noexcept;
// A release whose results need rounding: out of line.
std::optional<Released> release_rounded(const Holdings& slot, Decimal amount) noexcept;
}  // namespace holdings_detail

inline HoldStep hold_step(const Holdings& slot, const Decimal& amount) noexcept {
  HoldStep step;
  const bool in_debt = slot.held < Decimal();
  Decimal usable = slot.available;
  if (in_debt) {
    const std::optional<Decimal> sum = slot.available.checked_add(slot.held, RoundingStrategy::Down);
    if (!sum) return step;
    usable = *sum;
  }
  if (amount > usable) {
    step.verdict = HoldVerdict::Insufficient;
    step.usable = usable;
    return step;
  }
  if (in_debt) return holdings_detail::hold_rounded(slot, amount, usable, true);
  // The common case: both sides take the amount exactly.
  std::optional<Decimal> moved = amount;
  std::optional<Decimal> available = slot.available.exact_sub(amount);
  std::optional<Decimal> held = slot.held.exact_add(amount);
  if (!available || !held) return holdings_detail::hold_rounded(slot, amount, usable, false);
  if (*available < Decimal()) return holdings_detail::hold_rounded(slot, amount, usable, false);
  step.verdict = HoldVerdict::Held;
  step.moved = *moved;
  step.taken = *moved;
  step.after = Holdings{*available, *held, slot.incoming};
  return step;
}

inline std::optional<Released> release_step(const Holdings& slot, Decimal amount) noexcept {
  const std::optional<Decimal> available = slot.available.exact_add(amount);
  const std::optional<Decimal> held = slot.held.exact_sub(amount);
  if (available && held) return Released{amount, Holdings{*available, *held, slot.incoming}};
  return holdings_detail::release_rounded(slot, amount);
}

}  // namespace vantrel
