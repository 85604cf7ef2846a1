#pragma once
// The funds of one account in one asset, and the arithmetic of every change
// made to them. Amounts are exact (LedgerAmount): every step below is exact,
// and fails only when a magnitude would pass 2^96 - 1. Each step computes all
// new amounts before anything is written: a step that fails returns no new
// value, so no caller can write half of one.
// Plain values and pure functions; any thread may use them.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vantrel/pretrade/policies/ledger_amount.hpp"

namespace vantrel {

struct Holdings {
  LedgerAmount available;  // usable by new orders
  LedgerAmount held;       // set aside for open orders; negative after over-consumption
  LedgerAmount incoming;   // expected, not yet usable (changed by adjustments only)

  bool all_zero() const noexcept { return available.is_zero() && held.is_zero() && incoming.is_zero(); }
  friend bool operator==(const Holdings&, const Holdings&) = default;
};

// What each amount of a slot moved by: the same three fields.
using HoldingsDelta = Holdings;

// "Holdings { available: PositionSize(1), held: PositionSize(0), incoming: PositionSize(0) }",
// each amount as reported (rounded down where a 96-bit decimal cannot hold it).
std::string holdings_text(const Holdings& holdings);

// Three amounts in 48 bytes: packed in place where 119 bits hold each, else
// kept apart on the heap (in a block the owner hands in, so that a write never
// allocates). Move-only; a moved-from value is all zero.
class PackedHoldings {
 public:
  PackedHoldings() noexcept = default;
  PackedHoldings(PackedHoldings&& other) noexcept : p_{other.p_[0], other.p_[1], other.p_[2]} { other.clear(); }
  PackedHoldings& operator=(PackedHoldings&& other) noexcept {
    if (this != &other) {
      release();
      for (int i = 0; i < 3; ++i) p_[i] = other.p_[i];
      other.clear();
    }
    return *this;
  }
  PackedHoldings(const PackedHoldings&) = delete;
  PackedHoldings& operator=(const PackedHoldings&) = delete;
  ~PackedHoldings() { release(); }

  Holdings load() const noexcept {
    if (const Holdings* h = apart()) [[unlikely]]
      return *h;
    return Holdings{LedgerAmount::unpack(p_[0]), LedgerAmount::unpack(p_[1]), LedgerAmount::unpack(p_[2])};
  }
  // Writes `h` where the slot keeps its form: packed amounts that still pack,
  // or amounts already kept apart. False (nothing written) where `h` would turn
  // a packed slot into one kept apart: only reshape() does that.
  bool store(const Holdings& h) noexcept {
    if (Holdings* kept = apart()) [[unlikely]] {
      *kept = h;
      return true;
    }
    const auto a = h.available.pack(), b = h.held.pack(), c = h.incoming.pack();
    if (!(a && b && c)) [[unlikely]]
      return false;
    p_[0] = *a;
    p_[1] = *b;
    p_[2] = *c;
    return true;
  }
  // store(), and where `h` cannot be packed and nothing is kept apart yet,
  // takes `spare` for it; false (nothing written) when `spare` is empty then.
  //
  // Turning a packed slot into one kept apart rewrites the word that a load()
  // dereferences, so the caller must exclude every other load() and store() of
  // the slot (the shard's write lock, or a value no other thread can reach yet).
  // After that the block is never replaced nor freed while the slot lives: a
  // slot kept apart stays apart, and a slot is moved or destroyed only under
  // that same exclusion. A load() racing a store() of a slot that keeps its
  // form (the host breaking its promise not to overlap calls on one account)
  // may read torn amounts, each a valid one, but never a wild pointer.
  bool reshape(const Holdings& h, std::unique_ptr<Holdings>& spare) noexcept {
    if (store(h)) return true;
    if (!spare) return false;
    *spare = h;
    p_[0] = LedgerAmount::Packed{reinterpret_cast<std::uintptr_t>(spare.release()),
                                 std::uint64_t{LedgerAmount::Packed::kApart} << 56};
    return true;
  }
  // The packed words of available, held and incoming, for a step that changes
  // them in place (HoldingsState::change_in_place); nullptr where the amounts
  // are kept apart.
  LedgerAmount::Packed* packed() noexcept { return apart() != nullptr ? nullptr : p_; }
  // Whether store(h) needs a spare block.
  static bool needs_room(const Holdings& h) noexcept {
    return !h.available.pack() || !h.held.pack() || !h.incoming.pack();
  }

 private:
  Holdings* apart() const noexcept {
    if (p_[0].scale() != LedgerAmount::Packed::kApart) [[likely]]
      return nullptr;
    return reinterpret_cast<Holdings*>(static_cast<std::uintptr_t>(p_[0].lo));
  }
  void release() noexcept { delete apart(); }
  void clear() noexcept {
    for (LedgerAmount::Packed& p : p_) p = LedgerAmount::Packed{};
  }

  LedgerAmount::Packed p_[3];
};
static_assert(sizeof(PackedHoldings) == 48);

// ---- pre-trade hold ----

enum class HoldVerdict : std::uint8_t { Held, Insufficient, Overflow };

struct HoldStep {
  HoldVerdict verdict = HoldVerdict::Overflow;
  LedgerAmount usable;  // Insufficient: the usable amount the reject names
  LedgerAmount moved;   // Held: what left available for held (the amount and any debt settled)
  Holdings after;       // Held: the new slot
};

// Usable funds are `available`, less any debt in a negative `held`. A hold of
// `amount` <= usable settles that debt as well, so `held` ends at `amount`: a
// later hold can no longer spend funds that an over-consumption already took.
// Held: writes the new slot to `after` and what left available for held to
// `figure`. Insufficient: writes the usable amount to `figure`.
inline HoldVerdict hold_into(const Holdings& slot, const LedgerAmount& amount, LedgerAmount& figure,
                             Holdings& after) noexcept {
  if (!slot.held.is_negative()) {
    if (amount > slot.available) {
      figure = slot.available;
      return HoldVerdict::Insufficient;
    }
    after = slot;
    if (!LedgerAmount::transfer(after.available, after.held, amount)) return HoldVerdict::Overflow;
    figure = amount;
    return HoldVerdict::Held;
  }
  const std::optional<LedgerAmount> usable = slot.available.plus(slot.held);
  if (!usable) return HoldVerdict::Overflow;
  if (amount > *usable) {
    figure = *usable;
    return HoldVerdict::Insufficient;
  }
  const std::optional<LedgerAmount> moved = amount.minus(slot.held);
  if (!moved) return HoldVerdict::Overflow;
  after = slot;
  if (!LedgerAmount::transfer(after.available, after.held, *moved)) return HoldVerdict::Overflow;
  figure = *moved;
  return HoldVerdict::Held;
}

inline HoldStep hold_step(const Holdings& slot, const LedgerAmount& amount) noexcept {
  HoldStep step;
  LedgerAmount figure;
  step.verdict = hold_into(slot, amount, figure, step.after);
  if (step.verdict == HoldVerdict::Insufficient) step.usable = figure;
  if (step.verdict == HoldVerdict::Held) step.moved = figure;
  return step;
}

// hold_into() on a slot's packed words in place, where available, held and
// `amount` are non-negative and 128 bits hold each at the largest of their
// scales (a zero held's scale aside), held + amount stays below 2^96 and
// available - amount below 2^119: then it is a plain 128-bit compare, subtract
// and add, and gives what hold_into() gives, in the same form. Elsewhere
// nullopt, nothing written.
inline std::optional<HoldVerdict> hold_in_place(LedgerAmount::Packed* slot, const LedgerAmount::Packed& amount,
                                                LedgerAmount& figure) noexcept {
  using ledger_detail::u128;
  using Packed = LedgerAmount::Packed;
  const auto magnitude = [](const Packed& p) { return (static_cast<u128>(p.hi & Packed::kMagnitudeBits) << 64) | p.lo; };
  // The magnitude of `p` at `scale` (>= its own), false where 128 bits cannot hold it.
  const auto at = [&magnitude](const Packed& p, unsigned scale, u128& out) {
    out = magnitude(p);
    if (p.scale() == scale) [[likely]]
      return true;
    return ledger_detail::scale_up(out, scale - p.scale());
  };
  constexpr std::uint64_t kSign = std::uint64_t{1} << 55;
  Packed& available = slot[0];
  Packed& held = slot[1];
  if (((amount.hi | available.hi | held.hi) & kSign) != 0) return std::nullopt;
  u128 h = magnitude(held);
  // The scale a transfer aligns to: a zero held's own scale does not count.
  unsigned scale = amount.scale() > available.scale() ? amount.scale() : available.scale();
  if (h != 0 && held.scale() > scale) scale = held.scale();
  u128 a, m;
  if (!at(available, scale, a) || !at(amount, scale, m) || (h != 0 && !at(held, scale, h))) return std::nullopt;
  if (m > a) {
    figure = LedgerAmount::unpack(available);
    return HoldVerdict::Insufficient;
  }
  // The move a transfer makes; a rest of 119 bits or more is packed otherwise
  // (or kept apart): store() decides.
  const ledger_detail::AlignedMove move = ledger_detail::move_aligned(a, h, m);
  if (!move.ok || (move.from >> 119) != 0) return std::nullopt;
  const std::uint64_t tag = std::uint64_t{scale} << 56;
  available = Packed{static_cast<std::uint64_t>(move.from), static_cast<std::uint64_t>(move.from >> 64) | tag};
  held = Packed{static_cast<std::uint64_t>(move.to), static_cast<std::uint64_t>(move.to >> 64) | tag};
  figure = LedgerAmount::unpack(amount);
  return HoldVerdict::Held;
}

// `amount` from held back to available: the undo of a hold (what it moved) and
// a finished order's release. nullopt on overflow.
inline std::optional<Holdings> release_step(const Holdings& slot, const LedgerAmount& amount) noexcept {
  Holdings after = slot;
  if (!LedgerAmount::transfer(after.held, after.available, amount)) return std::nullopt;
  return after;
}

// One leg of a fill: `consume` leaves held, `credit` arrives in available.
inline std::optional<Holdings> fill_leg_step(const Holdings& slot, const LedgerAmount& consume,
                                             const LedgerAmount& credit) noexcept {
  const std::optional<LedgerAmount> held = slot.held.minus(consume);
  const std::optional<LedgerAmount> available = slot.available.plus(credit);
  if (!held || !available) return std::nullopt;
  return Holdings{*available, *held, slot.incoming};
}

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

enum class AdjustVerdict : std::uint8_t { Adjusted, ValueOverflow, BoundsExceeded, DeltaOverflow };

struct AdjustStep {
  AdjustVerdict verdict = AdjustVerdict::Adjusted;
  HoldingsField field = HoldingsField::Balance;  // the failing field
  LedgerAmount current;                          // ValueOverflow: the slot's value
  Decimal applied;                               // ValueOverflow: the delta
  LedgerAmount value;                            // BoundsExceeded: the refused new value
  Holdings after;
  HoldingsDelta delta;  // exactly what each amount moved; absent fields move by zero
};

// Each present field becomes its absolute value or the old value plus its
// delta, within that field's bounds; then the three deltas, new less old. The
// first failure decides; only a magnitude above 2^96 - 1 is an overflow.
AdjustStep adjust_step(const Holdings& slot, const BalanceAdjustment& adjustment) noexcept;

// The undo of an applied adjustment: every delta taken back, or nothing.
std::optional<Holdings> unadjust_step(const Holdings& slot, const HoldingsDelta& delta) noexcept;

}  // namespace vantrel
