#pragma once
// The funds of one account in one asset, and the arithmetic of every change
// made to them. Each step computes all new amounts before anything is written:
// a step that fails returns no new value, so no caller can write half of one.
// Plain values and pure functions; any thread may use them.
#include <array>
#include <cstdint>
#include <initializer_list>
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

// ---- exact movements ----
//
// Every change to a slot moves amounts that each side represents exactly, so
// no change creates or loses funds through rounding: a+held+incoming moves by
// exactly what the change reports. An amount with more digits than a side can
// take next to its own (20000 less a 28-digit quotient) is rounded once, at
// the finest coarser scale every side can take, in the direction that leaves
// the account with less to spend: a hold or a consumption rounds up, a credit
// down, and a release as rounded_release says. Undos never round: they move
// back exactly what was moved, or block.

// `amount` when every `from - amount` and `to + amount` is exact; otherwise
// `amount` rounded `toward` (Up or Down) at the finest coarser scale where all
// are, for every amount of that scale (0.0 fits where 0.1 may not: the scale is
// the one whose unit fits); nullopt when no scale is.
inline std::optional<Decimal> exact_amount(Decimal amount, RoundingStrategy toward, std::initializer_list<Decimal> from,
                                           std::initializer_list<Decimal> to) noexcept;

struct HoldStep {
  HoldVerdict verdict = HoldVerdict::Overflow;
  Decimal usable;     // Insufficient: the usable amount the reject names
  Decimal requested;  // Insufficient: the amount the reject names (rounded up when the slot needs it)
  Decimal moved;      // Held: what went from available to held
  Holdings after;     // Held: the new slot
};

// Usable funds are `available`, less any debt in a negative `held`. A hold of
// `amount` <= usable moves the amount plus that debt, so `held` ends at
// `amount` (more only when rounded up): a later hold can no longer spend funds
// that an over-consumption already took. The undo moves the same `moved` back.
inline HoldStep hold_step(const Holdings& slot, Decimal amount) noexcept;

// ---- releases and fills ----

struct Released {
  Decimal amount;  // what went from held to available
  Holdings after;
};

// `amount` back from held to available (a finished order's remainder), moved
// as rounded_release says when a side cannot take it exactly. `held_record`
// and `balance_record` are running totals the caller adds the move to, which
// must stay exact as well.
inline std::optional<Released> release_step(const Holdings& slot, Decimal amount, Decimal held_record = Decimal(),
                                            Decimal balance_record = Decimal()) noexcept;

struct FilledLeg {
  Decimal consumed;  // what left held (`consume`, rounded up if need be)
  Decimal credited;  // what arrived in available (`credit`, rounded down if need be)
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

// Each present field becomes its absolute value or the old value plus its delta
// (rounded when the field cannot hold every digit), within that field's
// bounds; then the three deltas, each exactly what its field moved. The first
// failure decides.
AdjustStep adjust_step(const Holdings& slot, const BalanceAdjustment& adjustment) noexcept;

// The undo of an applied adjustment: every delta taken back exactly, or nothing.
std::optional<Holdings> unadjust_step(const Holdings& slot, const HoldingsDelta& delta) noexcept;

// ---- the two steps of every order, inline for the hot path ----

namespace holdings_detail {

inline bool absorbs(Decimal amount, std::initializer_list<Decimal> from, std::initializer_list<Decimal> to) noexcept {
  for (const Decimal x : from)
    if (!x.exact_sub(amount)) return false;
  for (const Decimal x : to)
    if (!x.exact_add(amount)) return false;
  return true;
}

// Rounded to nothing, an amount moves nothing and leaves every side's scale as it was.
inline Decimal without_scale_if_zero(Decimal x) noexcept { return x.is_zero() ? Decimal() : x; }

std::optional<Decimal> coarser_exact_amount(Decimal amount, RoundingStrategy toward,
                                            std::initializer_list<Decimal> from,
                                            std::initializer_list<Decimal> to) noexcept;

// The release rule, for an amount the sides cannot take exactly: rounded down
// at the finest coarser scale they take; when that would leave in held more
// than nothing but at most one unit of that scale (what rounding up a hold
// added), all of held is released instead.
std::optional<Decimal> rounded_release(const Holdings& slot, Decimal amount, Decimal held_record,
                                       Decimal balance_record) noexcept;

}  // namespace holdings_detail

inline std::optional<Decimal> exact_amount(Decimal amount, RoundingStrategy toward, std::initializer_list<Decimal> from,
                                           std::initializer_list<Decimal> to) noexcept {
  if (holdings_detail::absorbs(amount, from, to)) return amount;
  const std::optional<Decimal> rounded = holdings_detail::coarser_exact_amount(amount, toward, from, to);
  if (!rounded) return std::nullopt;
  return holdings_detail::without_scale_if_zero(*rounded);
}

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
    step.requested = amount;
    return step;
  }
  // Settle the debt with the hold: held ends at `amount`.
  Decimal wanted = amount;
  if (in_debt) {
    const std::optional<Decimal> m = amount.checked_sub(slot.held);
    if (!m) return step;
    wanted = *m;
  }
  std::optional<Decimal> moved = wanted;
  std::optional<Decimal> available = slot.available.exact_sub(wanted);
  std::optional<Decimal> held = slot.held.exact_add(wanted);
  if (!available || !held) {
    moved = exact_amount(wanted, RoundingStrategy::Up, {slot.available}, {slot.held});
    if (!moved) return step;
    available = slot.available.checked_sub(*moved);
    held = slot.held.checked_add(*moved);
    if (!available || !held) return step;
  }
  if (*available < Decimal()) {
    // Only rounding up can take more than available holds.
    step.verdict = HoldVerdict::Insufficient;
    step.usable = usable;
    step.requested = in_debt ? *held : *moved;  // the amount, rounded up
    return step;
  }
  step.verdict = HoldVerdict::Held;
  step.moved = *moved;
  step.after = Holdings{*available, *held, slot.incoming};
  return step;
}

inline std::optional<Released> release_step(const Holdings& slot, Decimal amount, Decimal held_record,
                                            Decimal balance_record) noexcept {
  std::optional<Decimal> available = slot.available.exact_add(amount);
  std::optional<Decimal> held = slot.held.exact_sub(amount);
  // Records at zero (an undo's) take any amount exactly.
  if (available && held && (held_record.is_zero() || held_record.exact_sub(amount)) &&
      (balance_record.is_zero() || balance_record.exact_add(amount)))
    return Released{amount, Holdings{*available, *held, slot.incoming}};
  const std::optional<Decimal> moved = holdings_detail::rounded_release(slot, amount, held_record, balance_record);
  if (!moved) return std::nullopt;
  available = slot.available.checked_add(*moved);
  held = slot.held.checked_sub(*moved);
  if (!available || !held) return std::nullopt;
  return Released{*moved, Holdings{*available, *held, slot.incoming}};
}

}  // namespace vantrel
