#pragma once
// The funds policy's exact amount: a signed decimal with up to 36 places and a
// magnitude of at most 2^96 - 1 (the range of a 96-bit decimal), so that it is
// reported as a 96-bit decimal rounded either way. Sums and differences of such
// amounts are exact; so is a product of two 96-bit decimals up to 36 places,
// and one with more places is rounded once, at the 36th, in the direction the
// caller names. Only a magnitude above 2^96 - 1 fails (nullopt): that is an
// overflow, nothing else is.
//
// Kept as a 256-bit magnitude at a scale of 0..36 (the larger of the
// operands' scales, so amounts of one order's scale add as plain integers), and
// in a slot packed into 16 bytes where 119 bits hold the magnitude.
// Plain values; any thread may use them.
#include <bit>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {

namespace ledger_detail {

using u128 = decimal_detail::u128;
using U256 = decimal_detail::WideUInt<4>;

inline constexpr unsigned kPlaces = 36;

// (2^96 - 1) * 10^s + 1: the least magnitude at scale s out of range, that is
// above the largest 96-bit decimal.
struct LimitTable {
  U256 v[kPlaces + 1];
  constexpr LimitTable() : v{} {
    for (unsigned s = 0; s <= kPlaces; ++s)
      v[s] = decimal_detail::add_wide(
          decimal_detail::mul_wide(U256::of(decimal_detail::kMaxMantissa), decimal_detail::pow10(s)), U256::of(1));
  }
};
inline constexpr LimitTable kLimit{};

// m * 10^places in place, the alignment of a magnitude to a finer scale; false
// where 128 bits cannot hold it (m is then no magnitude).
inline bool scale_up(u128& m, unsigned places) noexcept {
  return places == 0 || !__builtin_mul_overflow(m, decimal_detail::kPow10.v[places], &m);
}

inline constexpr u128 kIntegerRangeAtAnyScale = u128{1} << 96;

// The 128-bit move on magnitudes aligned to one scale: from - amount and
// to + amount. Not `ok` where from < amount, where the sum carries past 2^128,
// or where it reaches 2^96 (below that every scale's integer part is in
// range): the general step decides those. Every fast move of funds goes
// through here, so none can lose the carry.
struct AlignedMove {
  u128 from;
  u128 to;
  bool ok;
};
inline AlignedMove move_aligned(u128 from, u128 to, u128 amount) noexcept {
  const u128 sum = to + amount;
  const bool carried = sum < to;
  return {from - amount, sum, from >= amount && !carried && sum < kIntegerRangeAtAnyScale};
}

}  // namespace ledger_detail

class LedgerAmount {
 public:
  static constexpr std::uint32_t kPlaces = ledger_detail::kPlaces;

  constexpr LedgerAmount() noexcept = default;
  // Exact: every 96-bit decimal is a ledger amount.
  constexpr LedgerAmount(Decimal d) noexcept  // NOLINT: implicit, a decimal is an exact amount
      : mag_(ledger_detail::U256::of(d.mantissa())),
        scale_(static_cast<std::uint8_t>(d.scale())),
        neg_(d.is_negative() && !d.is_zero()) {}

  // a × b, rounded at the 36th place by `strategy` (Up: towards +infinity, Down:
  // towards -infinity; other strategies round down) where it has more places.
  // nullopt when the magnitude is above 2^96 - 1.
  static std::optional<LedgerAmount> product(Decimal a, Decimal b, RoundingStrategy strategy) noexcept {
    using ledger_detail::u128;
    const u128 ma = a.mantissa(), mb = b.mantissa();
    const unsigned scale = a.scale() + b.scale();
    if ((ma >> 64) == 0 && (mb >> 64) == 0 && scale <= kPlaces) [[likely]] {
      // Exact, and below 2^128: in range wherever it is below 2^96 (at any scale).
      const u128 p = static_cast<u128>(static_cast<std::uint64_t>(ma)) * static_cast<std::uint64_t>(mb);
      if ((p >> 96) == 0) {
        LedgerAmount r;
        r.mag_ = ledger_detail::U256::of(p);
        r.scale_ = static_cast<std::uint8_t>(scale);
        r.neg_ = a.is_negative() != b.is_negative() && p != 0;
        return r;
      }
    }
    return product_wide(a, b, strategy);
  }

  // Exact; nullopt when the magnitude is above 2^96 - 1.
  std::optional<LedgerAmount> plus(const LedgerAmount& other) const noexcept;
  std::optional<LedgerAmount> minus(const LedgerAmount& other) const noexcept { return plus(other.negated()); }

  // from - amount and to + amount, both written only when both are in range
  // (false: nothing written). The move of every hold and release.
  static bool transfer(LedgerAmount& from, LedgerAmount& to, const LedgerAmount& amount) noexcept {
    using ledger_detail::u128;
    // Non-negative amounts within 128 bits at the largest of their scales: plain 128-bit steps.
    if (!(from.neg_ | to.neg_ | amount.neg_)) [[likely]] {
      u128 f = 0, t = 0, m = 0;
      unsigned scale = amount.scale_;
      bool aligned = from.scale_ == scale && (to.scale_ == scale || to.is_zero()) && from.mag_.fits128() &&
                     to.mag_.fits128() && amount.mag_.fits128();
      if (aligned) [[likely]] {
        f = from.mag_.low128();
        t = to.mag_.low128();
        m = amount.mag_.low128();
      } else {
        if (from.scale_ > scale) scale = from.scale_;
        if (to.scale_ > scale && !to.is_zero()) scale = to.scale_;
        aligned = from.magnitude_at(scale, f) && (to.is_zero() || to.magnitude_at(scale, t)) &&
                  amount.magnitude_at(scale, m);
      }
      const ledger_detail::AlignedMove move = ledger_detail::move_aligned(f, t, m);
      if (aligned && move.ok) {
        from.mag_ = ledger_detail::U256::of(move.from);
        from.scale_ = static_cast<std::uint8_t>(scale);
        to.mag_ = ledger_detail::U256::of(move.to);
        to.scale_ = static_cast<std::uint8_t>(scale);
        return true;
      }
    }
    const std::optional<LedgerAmount> less = from.minus(amount), more = to.plus(amount);
    if (!less || !more) return false;
    from = *less;
    to = *more;
    return true;
  }

  constexpr LedgerAmount negated() const noexcept {
    LedgerAmount r = *this;
    r.neg_ = !neg_ && !mag_.is_zero();
    return r;
  }
  constexpr bool is_zero() const noexcept { return mag_.is_zero(); }
  // Strictly below zero (there is no negative zero).
  constexpr bool is_negative() const noexcept { return neg_; }
  constexpr std::uint32_t scale() const noexcept { return scale_; }

  // The 96-bit decimal reported for it: the amount itself where a decimal holds
  // it, else rounded by `strategy` (Up or Down, as product()) at the finest
  // scale that holds it.
  Decimal to_decimal(RoundingStrategy strategy = RoundingStrategy::Down) const noexcept {
    if (mag_.fits128() && (mag_.w[1] >> 32) == 0 && scale_ <= Decimal::kMaxScale) [[likely]]
      return Decimal::from_parts(mag_.w[0], static_cast<std::uint32_t>(mag_.w[1]), scale_, neg_);
    return to_decimal_rounded(strategy);
  }
  // Every digit, no exponent ("-0.000000000000000000000000000000000001").
  std::string to_string() const;

  static int compare(const LedgerAmount& a, const LedgerAmount& b) noexcept;
  friend bool operator==(const LedgerAmount& a, const LedgerAmount& b) noexcept { return compare(a, b) == 0; }
  friend std::strong_ordering operator<=>(const LedgerAmount& a, const LedgerAmount& b) noexcept {
    const int c = compare(a, b);
    return c < 0 ? std::strong_ordering::less : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
  }

  // The packed form of a slot, 16 bytes: bits 0-118 the magnitude, bit 119 the
  // sign, bits 120-127 the scale. Scale 0xff marks a form that is no amount (a
  // slot uses it for amounts kept apart).
  struct Packed {
    std::uint64_t lo = 0;
    std::uint64_t hi = 0;
    static constexpr std::uint64_t kMagnitudeBits = (std::uint64_t{1} << 55) - 1;
    static constexpr std::uint8_t kApart = 0xff;
    constexpr std::uint8_t scale() const noexcept { return static_cast<std::uint8_t>(hi >> 56); }
  };
  // The packed form, with trailing zeros dropped where 119 bits need it;
  // nullopt when even then they cannot hold the magnitude.
  std::optional<Packed> pack() const noexcept {
    if ((mag_.w[2] | mag_.w[3]) == 0 && (mag_.w[1] & ~Packed::kMagnitudeBits) == 0) [[likely]]
      return Packed{mag_.w[0], mag_.w[1] | (neg_ ? std::uint64_t{1} << 55 : 0) | std::uint64_t{scale_} << 56};
    return pack_shortened();
  }
  // The packed form at this very scale (no zeros dropped); nullopt where 119 bits cannot hold it.
  std::optional<Packed> pack_as_is() const noexcept {
    if ((mag_.w[2] | mag_.w[3]) == 0 && (mag_.w[1] & ~Packed::kMagnitudeBits) == 0) [[likely]]
      return Packed{mag_.w[0], mag_.w[1] | (neg_ ? std::uint64_t{1} << 55 : 0) | std::uint64_t{scale_} << 56};
    return std::nullopt;
  }
  static constexpr LedgerAmount unpack(const Packed& p) noexcept {
    LedgerAmount r;
    r.mag_.w[0] = p.lo;
    r.mag_.w[1] = p.hi & Packed::kMagnitudeBits;
    r.neg_ = ((p.hi >> 55) & 1) != 0;
    r.scale_ = p.scale();
    return r;
  }
  // unpack(p).to_decimal(strategy), read straight from the words where the magnitude is below
  // 2^96 and the scale at most 28 (a form that is no amount never is).
  static Decimal to_decimal(const Packed& p, RoundingStrategy strategy = RoundingStrategy::Down) noexcept {
    // The magnitude's bits 96-118 and the scale, rotated so the scale is the low byte: one compare.
    constexpr std::uint64_t kAbove96AndScale = ~(std::uint64_t{1} << 55) & ~std::uint64_t{0xFFFFFFFF};
    if (std::rotl(p.hi & kAbove96AndScale, 8) <= Decimal::kMaxScale) [[likely]]
      return Decimal::from_parts(p.lo, static_cast<std::uint32_t>(p.hi), p.scale(), ((p.hi >> 55) & 1) != 0);
    return unpack(p).to_decimal(strategy);
  }

 private:
  // The magnitude at `scale` (>= its own) when 128 bits hold it.
  bool magnitude_at(unsigned scale, ledger_detail::u128& out) const noexcept {
    if (!mag_.fits128()) [[unlikely]]
      return false;
    out = mag_.low128();
    if (scale == scale_) [[likely]]
      return true;
    return ledger_detail::scale_up(out, scale - scale_);
  }
  static std::optional<LedgerAmount> product_wide(Decimal a, Decimal b, RoundingStrategy strategy) noexcept;
  Decimal to_decimal_rounded(RoundingStrategy strategy) const noexcept;
  // The general cases, out of line so that the common ones inline.
  std::optional<LedgerAmount> plus_wide(const LedgerAmount& other) const noexcept;
  static int compare_magnitudes(const LedgerAmount& a, const LedgerAmount& b) noexcept;
  std::optional<Packed> pack_shortened() const noexcept;
  // The magnitude at `scale` >= scale_ (exact: in range, it fits).
  ledger_detail::U256 at_scale(unsigned scale) const noexcept {
    return scale == scale_ ? mag_ : decimal_detail::mul_wide(mag_, decimal_detail::kPow10.v[scale - scale_]);
  }

  ledger_detail::U256 mag_;
  std::uint8_t scale_ = 0;
  bool neg_ = false;
};

// -x, and x with a negative value taken as zero.
constexpr LedgerAmount negate(const LedgerAmount& x) noexcept { return x.negated(); }
constexpr LedgerAmount clamp_at_zero(const LedgerAmount& x) noexcept { return x.is_negative() ? LedgerAmount() : x; }

inline int LedgerAmount::compare(const LedgerAmount& a, const LedgerAmount& b) noexcept {
  const bool az = a.is_zero(), bz = b.is_zero();
  if (az || bz) {
    if (az && bz) return 0;
    if (az) return b.neg_ ? 1 : -1;
    return a.neg_ ? -1 : 1;
  }
  if (a.neg_ != b.neg_) return a.neg_ ? -1 : 1;
  int c;
  const unsigned scale = a.scale_ > b.scale_ ? a.scale_ : b.scale_;
  ledger_detail::u128 x, y;
  if (a.magnitude_at(scale, x) && b.magnitude_at(scale, y)) [[likely]] {
    c = x < y ? -1 : (x > y ? 1 : 0);
  } else {
    c = compare_magnitudes(a, b);
  }
  return a.neg_ ? -c : c;
}

inline std::optional<LedgerAmount> LedgerAmount::plus(const LedgerAmount& other) const noexcept {
  using ledger_detail::u128;
  if (other.is_zero()) return *this;
  if (is_zero()) return other;
  // Magnitudes within 128 bits at the larger of the two scales: plain 128-bit steps.
  const unsigned scale = scale_ > other.scale_ ? scale_ : other.scale_;
  u128 a, b;
  if (magnitude_at(scale, a) && other.magnitude_at(scale, b)) [[likely]] {
    LedgerAmount r;
    r.scale_ = static_cast<std::uint8_t>(scale);
    if (neg_ == other.neg_) {
      const u128 sum = a + b;
      // Below 2^96 every scale's integer part is in range; a carry goes the long way.
      if (sum >= a && (sum >> 96) == 0) {
        r.mag_ = ledger_detail::U256::of(sum);
        r.neg_ = neg_ && sum != 0;
        return r;
      }
    } else {
      // A difference is never larger than the larger operand: in range.
      const bool first = a >= b;
      const u128 diff = first ? a - b : b - a;
      r.mag_ = ledger_detail::U256::of(diff);
      r.neg_ = diff != 0 && (first ? neg_ : other.neg_);
      return r;
    }
  }
  return plus_wide(other);
}

}  // namespace vantrel
