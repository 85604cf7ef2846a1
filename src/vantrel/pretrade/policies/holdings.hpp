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

struct HoldStep {
  HoldVerdict verdict = HoldVerdict::Overflow;
  Decimal usable;  // Insufficient: the usable amount the reject names
  Decimal moved;   // Held: what went from available to held
  Holdings after;  // Held: the new slot
};

// Usable funds are `available`, less any debt in a negative `held`. A hold of
// `amount` <= usable moves the amount plus that debt, so `held` ends at exactly
// `amount`: a later hold can no longer spend funds that an over-consumption
// already took. The undo moves the same `moved` back.
inline HoldStep hold_step(const Holdings& slot, Decimal amount) noexcept;

// ---- releases and fills ----

// `amount` back from held to available (a hold's undo, a finished order's remainder).
inline std::optional<Holdings> release_step(const Holdings& slot, Decimal amount) noexcept;

// One leg of a fill: `consume` leaves held, `credit` arrives in available.
std::optional<Holdings> fill_leg_step(const Holdings& slot, Decimal consume, Decimal credit) noexcept;

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

enum class AdjustVerdict : std::uint8_t { Adjusted, ValueOverflow, BoundsExceeded, DeltaOverflow };

struct AdjustStep {
  AdjustVerdict verdict = AdjustVerdict::Adjusted;
  HoldingsField field = HoldingsField::Balance;  // the failing field
  Decimal current;                                // ValueOverflow: the slot's value
  Decimal applied;                                // ValueOverflow: the delta
  Decimal value;                                  // BoundsExceeded: the refused new value
  Holdings after;
  HoldingsDelta delta;
};

// Each present field becomes its absolute value or the old value plus its delta,
// within that field's bounds; then the three deltas. The first failure decides.
AdjustStep adjust_step(const Holdings& slot, const BalanceAdjustment& adjustment) noexcept;

// The undo of an applied adjustment: every delta taken back, or nothing.
std::optional<Holdings> unadjust_step(const Holdings& slot, const HoldingsDelta& delta) noexcept;

// ---- the two steps of every order, inline for the hot path ----

inline HoldStep hold_step(const Holdings& slot, Decimal amount) noexcept {
  HoldStep step;
  const bool in_debt = slot.held < Decimal();
  Decimal usable = slot.available;
  if (in_debt) {
    const std::optional<Decimal> sum = slot.available.checked_add(slot.held);
    if (!sum) return step;
    usable = *sum;
  }
  if (amount > usable) {
    step.verdict = HoldVerdict::Insufficient;
    step.usable = usable;
    return step;
  }
  // Settle the debt with the hold: held ends at exactly `amount`.
  Decimal moved = amount;
  if (in_debt) {
    const std::optional<Decimal> m = amount.checked_sub(slot.held);
    if (!m) return step;
    moved = *m;
  }
  const std::optional<Decimal> available = slot.available.checked_sub(moved);
  const std::optional<Decimal> held = slot.held.checked_add(moved);
  if (!available || !held) return step;
  step.verdict = HoldVerdict::Held;
  step.moved = moved;
  step.after = Holdings{*available, *held, slot.incoming};
  return step;
}

inline std::optional<Holdings> release_step(const Holdings& slot, Decimal amount) noexcept {
  const std::optional<Decimal> available = slot.available.checked_add(amount);
  const std::optional<Decimal> held = slot.held.checked_sub(amount);
  if (!available || !held) return std::nullopt;
  return Holdings{*available, *held, slot.incoming};
}

}  // namespace vantrel
