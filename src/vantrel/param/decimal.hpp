#pragma once
// Exact decimal: sign, 96-bit unsigned mantissa, scale 0..28; value = (sign) mantissa / 10^scale.
// Every operation is allocation-free and noexcept; checked operations return std::nullopt
// when no scale from 0 to 28 can hold the result.
// Thread-safety: a plain value; no shared state.

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

enum class RoundingStrategy : std::uint8_t {
  MidpointNearestEven,   // nearest; an exact half goes to the even last digit
  MidpointAwayFromZero,  // nearest; an exact half goes away from zero
  Up,                    // toward positive infinity
  Down,                  // toward negative infinity
};

namespace decimal_detail {
using u128 = unsigned __int128;

inline constexpr std::uint32_t kMaxScale = 28;
inline constexpr u128 kMaxMantissa = (u128{1} << 96) - 1;

constexpr u128 pow10(unsigned n) noexcept {
  u128 p = 1;
  for (unsigned i = 0; i < n; ++i) p *= 10;
  return p;
}

struct Pow10Table {
  u128 v[39];
  constexpr Pow10Table() : v{} {
    for (unsigned i = 0; i < 39; ++i) v[i] = pow10(i);
  }
};
inline constexpr Pow10Table kPow10{};
}  // namespace decimal_detail

// A requested rounding: at most `scale` fractional digits, by `strategy`.
struct Rounding {
  std::uint32_t scale;
  RoundingStrategy strategy;
};

enum class DecimalError : std::uint8_t {
  None,
  Empty,                    // "Invalid decimal: empty"
  NoDigits,                 // "Invalid decimal: no digits found"
  TwoDecimalPoints,         // "Invalid decimal: two decimal points"
  MustStartWithNumber,      // "Invalid decimal: must start lead with a number"
  UnknownCharacter,         // "Invalid decimal: unknown character"
  TooManyDigits,            // "Invalid decimal: overflow from too many digits"
  MantissaAfterRounding,    // "Invalid decimal: overflow from mantissa after rounding"
  FailedToParse,            // "Failed to parse"
  ScaleExceedsMaximum,      // "Scale exceeds the maximum precision allowed: {detail} > 28"
  ExceedsMaximum,           // "Number exceeds maximum value that can be represented."
  LessThanMinimum,          // "Number less than minimum value that can be represented."
};

struct DecimalParse;

class Decimal {
 public:
  static constexpr std::uint32_t kMaxScale = decimal_detail::kMaxScale;
  // "-" + 29 digits + "." (scale 28 with 29 digits), or "-0." + 28 digits.
  static constexpr std::size_t kMaxTextLength = 31;

  constexpr Decimal() noexcept = default;

  // Precondition: scale <= 28 (larger values are clamped so table lookups stay in bounds).
  static constexpr Decimal from_parts(std::uint64_t lo, std::uint32_t hi, std::uint32_t scale,
                                      bool negative) noexcept {
    Decimal d;
    d.lo_ = lo;
    d.hi_ = hi;
    d.flags_ = ((scale > kMaxScale ? kMaxScale : scale) << 16) | (negative ? kSignBit : 0u);
    return d;
  }
  static constexpr Decimal from_i64(std::int64_t v) noexcept {
    const bool neg = v < 0;
    const std::uint64_t mag = neg ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
    return from_parts(mag, 0, 0, neg);
  }
  static constexpr Decimal from_u64(std::uint64_t v) noexcept { return from_parts(v, 0, 0, false); }

  constexpr std::uint32_t scale() const noexcept { return (flags_ >> 16) & 0xFFu; }
  // The sign flag; true for a negative zero as well.
  constexpr bool is_negative() const noexcept { return (flags_ & kSignBit) != 0; }
  constexpr bool is_zero() const noexcept { return lo_ == 0 && hi_ == 0; }
  constexpr std::uint64_t lo64() const noexcept { return lo_; }
  constexpr std::uint32_t hi32() const noexcept { return hi_; }
  constexpr decimal_detail::u128 mantissa() const noexcept {
    return (decimal_detail::u128{hi_} << 64) | lo_;
  }

  // Plain decimal text first; on failure, if the text holds 'e' or 'E', scientific notation.
  static DecimalParse parse(std::string_view text) noexcept;
  static DecimalParse parse_plain(std::string_view text) noexcept;
  static DecimalParse parse_scientific(std::string_view text) noexcept;
  // The text's exact value rounded once, by the strategy, to at most the requested scale (to
  // fewer digits when 96 bits cannot hold that many); a value of no greater scale that fits is
  // kept as it is. Grammar and errors as parse(); a rounded value that does not fit 96 bits
  // even at scale 0 is MantissaAfterRounding (ExceedsMaximum / LessThanMinimum for scientific).
  static DecimalParse parse_rounded(std::string_view text, Rounding rounding) noexcept;

  // Shortest round-trip digits of the double, fitted to scale <= 28 (half to even), trailing
  // fractional zeros dropped. Not finite, or too large for 96 bits: nullopt.
  static std::optional<Decimal> from_double(double v) noexcept;
  // The shortest round-trip digits rounded once, as parse_rounded does; a value that needs no
  // rounding is from_double's. Not finite, or too large for 96 bits: nullopt.
  static std::optional<Decimal> from_double_rounded(double v, Rounding rounding) noexcept;
  // The double nearest to the exact value (ties to even).
  double to_double() const noexcept;

  // Canonical text: "-" when the sign flag is set (a negative zero prints "-0"), exactly
  // scale() fractional digits. Writes at most kMaxTextLength chars, no terminator; returns length.
  std::size_t write_text(char* out) const noexcept;
  std::string to_string() const;

  std::optional<Decimal> checked_add(Decimal other) const noexcept;
  std::optional<Decimal> checked_sub(Decimal other) const noexcept { return checked_add(other.negated()); }
  // The sum when it needs no rounding: nullopt when it overflows or when no scale from 0 to 28
  // holds it exactly (checked_add would round it).
  std::optional<Decimal> exact_add(Decimal other) const noexcept;
  std::optional<Decimal> exact_sub(Decimal other) const noexcept { return exact_add(other.negated()); }
  std::optional<Decimal> checked_mul(Decimal other) const noexcept;
  // The sum or product rounded once by `strategy` where 96 bits cannot hold it exactly
  // (the overloads above round half to even); nullopt on overflow.
  std::optional<Decimal> checked_add(Decimal other, RoundingStrategy strategy) const noexcept;
  std::optional<Decimal> checked_mul(Decimal other, RoundingStrategy strategy) const noexcept;
  // Exact when the quotient terminates within scale 28 and 96 bits, else rounded half to even
  // at the largest scale <= 28 that fits. Division by zero: nullopt.
  std::optional<Decimal> checked_div(Decimal other) const noexcept;
  // Exact remainder of truncating division: sign of the dividend, scale max of the two.
  std::optional<Decimal> checked_rem(Decimal other) const noexcept;

  // A value whose scale is not above `scale` is returned unchanged.
  Decimal round_to(std::uint32_t scale, RoundingStrategy strategy) const noexcept;

  constexpr Decimal negated() const noexcept {
    Decimal d = *this;
    d.flags_ ^= kSignBit;
    return d;
  }
  constexpr Decimal abs() const noexcept {
    Decimal d = *this;
    d.flags_ &= ~kSignBit;
    return d;
  }

  // Numeric order: scale ignored, every zero equal.
  static int compare(Decimal a, Decimal b) noexcept;
  friend bool operator==(Decimal a, Decimal b) noexcept { return compare(a, b) == 0; }
  friend std::strong_ordering operator<=>(Decimal a, Decimal b) noexcept {
    const int c = compare(a, b);
    return c < 0 ? std::strong_ordering::less
                 : (c > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
  }

  // SipHash-1-3 (zero keys) of the normalised value's 16-byte layout; -1 becomes -2.
  std::int64_t hash() const noexcept;

 private:
  static constexpr std::uint32_t kSignBit = 0x80000000u;
  static int compare_slow(Decimal a, Decimal b) noexcept;
  std::optional<Decimal> add_slow(Decimal other,
                                  RoundingStrategy strategy = RoundingStrategy::MidpointNearestEven) const noexcept;
  // `sum` when it is exactly *this + other, else nullopt.
  std::optional<Decimal> exact_or_none(Decimal other, Decimal sum) const noexcept;
  std::optional<Decimal> mul_slow(Decimal other) const noexcept;

  std::uint64_t lo_ = 0;
  std::uint32_t hi_ = 0;
  std::uint32_t flags_ = 0;  // scale in bits 16-23, sign in bit 31
};

static_assert(sizeof(Decimal) == 16);

struct DecimalParse {
  Decimal value;
  DecimalError error = DecimalError::None;
  std::uint32_t detail = 0;  // the requested scale for ScaleExceedsMaximum

  bool ok() const noexcept { return error == DecimalError::None; }
  std::string message() const;
};

std::optional<RoundingStrategy> parse_rounding_strategy(std::string_view text) noexcept;
// The ValueError text for an unrecognised strategy name.
std::string rounding_strategy_error(std::string_view text);

// ---- inline fast paths ----

inline int Decimal::compare(Decimal a, Decimal b) noexcept {
  const bool az = a.is_zero(), bz = b.is_zero();
  if (az || bz) {
    if (az && bz) return 0;
    if (az) return b.is_negative() ? 1 : -1;
    return a.is_negative() ? -1 : 1;
  }
  if (a.is_negative() != b.is_negative()) return a.is_negative() ? -1 : 1;
  decimal_detail::u128 ma = a.mantissa(), mb = b.mantissa();
  const std::uint32_t sa = a.scale(), sb = b.scale();
  if (sa != sb) {
    // 64-bit mantissas scaled by at most 10^19 stay below 2^128.
    if (a.hi_ != 0 || b.hi_ != 0 || (sa > sb ? sa - sb : sb - sa) > 19) return compare_slow(a, b);
    if (sa < sb)
      ma *= decimal_detail::kPow10.v[sb - sa];
    else
      mb *= decimal_detail::kPow10.v[sa - sb];
  }
  const int c = ma < mb ? -1 : (ma > mb ? 1 : 0);
  return a.is_negative() ? -c : c;
}

inline std::optional<Decimal> Decimal::checked_add(Decimal other) const noexcept {
  using decimal_detail::kMaxMantissa;
  const std::uint32_t sa = scale(), sb = other.scale();
  decimal_detail::u128 ma = mantissa(), mb = other.mantissa();
  if (sa != sb) {
    // 64-bit mantissas scaled by at most 10^19 stay below 2^128, and so does their sum.
    if (hi_ != 0 || other.hi_ != 0 || (sa > sb ? sa - sb : sb - sa) > 19) return add_slow(other);
    if (sa < sb)
      ma *= decimal_detail::kPow10.v[sb - sa];
    else
      mb *= decimal_detail::kPow10.v[sa - sb];
  }
  decimal_detail::u128 m;
  bool neg;
  if (is_negative() == other.is_negative()) {
    m = ma + mb;
    neg = is_negative();
  } else if (ma >= mb) {
    m = ma - mb;
    neg = is_negative();
  } else {
    m = mb - ma;
    neg = other.is_negative();
  }
  if (m > kMaxMantissa) return add_slow(other);  // needs a lower scale, or overflows
  Decimal r;
  r.lo_ = static_cast<std::uint64_t>(m);
  r.hi_ = static_cast<std::uint32_t>(m >> 64);
  r.flags_ = ((sa > sb ? sa : sb) << 16) | (neg && m != 0 ? kSignBit : 0u);
  return r;
}

inline std::optional<Decimal> Decimal::exact_add(Decimal other) const noexcept {
  const std::optional<Decimal> sum = checked_add(other);
  // A sum kept at the larger scale lost no digit; one at a smaller scale may have.
  if (!sum || sum->scale() >= (scale() > other.scale() ? scale() : other.scale())) return sum;
  return exact_or_none(other, *sum);
}

inline std::optional<Decimal> Decimal::checked_mul(Decimal other) const noexcept {
  if (hi_ == 0 && other.hi_ == 0) {
    const decimal_detail::u128 p = static_cast<decimal_detail::u128>(lo_) * other.lo_;
    const std::uint32_t s = scale() + other.scale();
    if (p <= decimal_detail::kMaxMantissa && s <= kMaxScale) {
      Decimal r;
      r.lo_ = static_cast<std::uint64_t>(p);
      r.hi_ = static_cast<std::uint32_t>(p >> 64);
      r.flags_ = (s << 16) | ((is_negative() != other.is_negative()) && p != 0 ? kSignBit : 0u);
      return r;
    }
  }
  return mul_slow(other);
}

}  // namespace vantrel
