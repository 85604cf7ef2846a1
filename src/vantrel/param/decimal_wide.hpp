#pragma once
// Internal to the decimal implementation and the funds ledger: wide magnitudes for exact
// intermediate results, and their rounding.

#include <cstdint>
#include <optional>
#include <utility>

#include "vantrel/param/decimal.hpp"

namespace vantrel::decimal_detail {

// floor(kMaxMantissa / 10^k): a mantissa m can take k more digits iff m * 10^k + tail <= max.
struct MaxDivTable {
  u128 v[29];
  constexpr MaxDivTable() : v{} {
    for (unsigned k = 0; k < 29; ++k) v[k] = kMaxMantissa / pow10(k);
  }
};
inline constexpr MaxDivTable kMaxDiv{};

// True when m * 10^k + tail <= kMaxMantissa (tail < 10^k, k <= 28).
inline bool append_fits(u128 m, u128 tail, unsigned k) noexcept {
  if (m < kMaxDiv.v[k]) return true;
  if (m > kMaxDiv.v[k]) return false;
  return m * kPow10.v[k] <= kMaxMantissa - tail;
}

// Quotient of n / d when it fits 64 bits (n < d * 2^64).
inline std::uint64_t div128_by64(u128 n, std::uint64_t d, std::uint64_t* rem) noexcept {
#if defined(__x86_64__)
  std::uint64_t q, r;
  __asm__("divq %[d]"
          : "=a"(q), "=d"(r)
          : [d] "r"(d), "a"(static_cast<std::uint64_t>(n)), "d"(static_cast<std::uint64_t>(n >> 64)));
  *rem = r;
  return q;
#else
  *rem = static_cast<std::uint64_t>(n % d);
  return static_cast<std::uint64_t>(n / d);
#endif
}

// One quotient limb of (u2:u1:u0) / (d1:d0), for a divisor with its top bit set and u2 < d1
// (so the quotient fits 64 bits). The estimate from the top limbs over d1 is at most two too
// large for a normalised divisor (Knuth's Algorithm D); the low limb settles it.
inline std::uint64_t div192_by128(std::uint64_t u2, std::uint64_t u1, std::uint64_t u0, std::uint64_t d1,
                                  std::uint64_t d0, u128* rem) noexcept {
  std::uint64_t rhat;
  std::uint64_t q = div128_by64((static_cast<u128>(u2) << 64) | u1, d1, &rhat);
  // The remainder is (rhat:u0) - q * d0; a borrow means q is too large.
  const u128 num = (static_cast<u128>(rhat) << 64) | u0;
  const u128 prod = static_cast<u128>(q) * d0;
  u128 r = num - prod;
  if (prod > num) {
    const u128 d = (static_cast<u128>(d1) << 64) | d0;
    --q;
    r += d;
    if (r >= d) {  // no carry out of the add: still negative, q was two too large
      --q;
      r += d;
    }
  }
  *rem = r;
  return q;
}

// An unsigned integer of N little-endian 64-bit limbs: the decimal's exact
// intermediates take 3 (a mantissa times 10^28, or the product of two
// mantissas), the funds ledger's amounts 4. One set of routines serves both.
template <int N>
struct WideUInt {
  static_assert(N >= 3);
  std::uint64_t w[N];

  // Zero, limb by limb.
  constexpr WideUInt() noexcept : WideUInt(std::make_index_sequence<N>{}) {}

  static constexpr WideUInt of(u128 v) noexcept {
    WideUInt r;
    r.w[0] = static_cast<std::uint64_t>(v);
    r.w[1] = static_cast<std::uint64_t>(v >> 64);
    return r;
  }
  constexpr bool is_zero() const noexcept { return limbs_or<0>(std::make_index_sequence<N>{}) == 0; }
  constexpr bool fits128() const noexcept { return limbs_or<2>(std::make_index_sequence<N - 2>{}) == 0; }
  constexpr bool fits96() const noexcept { return fits128() && (w[1] >> 32) == 0; }
  constexpr u128 low128() const noexcept { return (static_cast<u128>(w[1]) << 64) | w[0]; }
  constexpr unsigned bit_length() const noexcept {
    for (int i = N - 1; i >= 0; --i)
      if (w[i] != 0) return static_cast<unsigned>(64 * i + 64 - __builtin_clzll(w[i]));
    return 0;
  }
  // In place n /= d; returns n % d.
  std::uint64_t divmod(std::uint64_t d) noexcept {
    std::uint64_t rem = 0;
    for (int i = N - 1; i >= 0; --i) w[i] = div128_by64((static_cast<u128>(rem) << 64) | w[i], d, &rem);
    return rem;
  }

 private:
  template <std::size_t... I>
  constexpr explicit WideUInt(std::index_sequence<I...>) noexcept : w{(static_cast<void>(I), std::uint64_t{0})...} {}
  // w[From] | w[From + 1] | ...: one expression, as a hand-written test of the limbs is.
  template <int From, std::size_t... I>
  constexpr std::uint64_t limbs_or(std::index_sequence<I...>) const noexcept {
    return (std::uint64_t{0} | ... | w[From + I]);
  }
};
using U192 = WideUInt<3>;

template <int N>
constexpr WideUInt<N> add_wide(const WideUInt<N>& a, const WideUInt<N>& b) noexcept {
  WideUInt<N> r;
  std::uint64_t carry = 0;
  for (int i = 0; i < N; ++i) {
    const u128 s = static_cast<u128>(a.w[i]) + b.w[i] + carry;
    r.w[i] = static_cast<std::uint64_t>(s);
    carry = static_cast<std::uint64_t>(s >> 64);
  }
  return r;
}

template <int N>
constexpr int cmp_wide(const WideUInt<N>& a, const WideUInt<N>& b) noexcept {
  for (int i = N - 1; i >= 0; --i)
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
  return 0;
}

// a - b for a >= b.
template <int N>
constexpr WideUInt<N> sub_wide(const WideUInt<N>& a, const WideUInt<N>& b) noexcept {
  WideUInt<N> r;
  std::uint64_t borrow = 0;
  for (int i = 0; i < N; ++i) {
    const std::uint64_t x = a.w[i] - b.w[i];
    const std::uint64_t y = x - borrow;
    borrow = (a.w[i] < b.w[i]) || (x < borrow) ? 1 : 0;
    r.w[i] = y;
  }
  return r;
}

// The low N limbs of a * b (callers know the product fits).
template <int N>
constexpr WideUInt<N> mul_wide(const WideUInt<N>& a, u128 b) noexcept {
  WideUInt<N> r;
  for (int j = 0; j < 2; ++j) {
    const std::uint64_t bj = static_cast<std::uint64_t>(b >> (64 * j));
    if (bj == 0) continue;
    std::uint64_t carry = 0;
    for (int i = 0; i + j < N; ++i) {
      const u128 p = static_cast<u128>(a.w[i]) * bj + r.w[i + j] + carry;
      r.w[i + j] = static_cast<std::uint64_t>(p);
      carry = static_cast<std::uint64_t>(p >> 64);
    }
  }
  return r;
}

// a * b, both below 2^128: mul_wide(U192::of(a), b) from four partial products at once.
inline U192 mul_wide(u128 a, u128 b) noexcept {
  const std::uint64_t a0 = static_cast<std::uint64_t>(a), a1 = static_cast<std::uint64_t>(a >> 64);
  const std::uint64_t b0 = static_cast<std::uint64_t>(b), b1 = static_cast<std::uint64_t>(b >> 64);
  const u128 p00 = static_cast<u128>(a0) * b0;
  const u128 p01 = static_cast<u128>(a0) * b1;
  const u128 p10 = static_cast<u128>(a1) * b0;
  const u128 p11 = static_cast<u128>(a1) * b1;
  U192 r;
  r.w[0] = static_cast<std::uint64_t>(p00);
  u128 mid = (p00 >> 64) + static_cast<std::uint64_t>(p01) + static_cast<std::uint64_t>(p10);
  r.w[1] = static_cast<std::uint64_t>(mid);
  r.w[2] = static_cast<std::uint64_t>((mid >> 64) + (p01 >> 64) + (p10 >> 64) + p11);
  return r;
}

// n / 10^k rounded half to even (k <= 57).
template <int N>
inline WideUInt<N> div_pow10_half_even(WideUInt<N> n, unsigned k) noexcept {
  if (k == 0) return n;
  bool sticky = false;
  while (k > 19) {
    sticky |= n.divmod(static_cast<std::uint64_t>(kPow10.v[19])) != 0;
    k -= 19;
  }
  const std::uint64_t r = n.divmod(static_cast<std::uint64_t>(kPow10.v[k]));
  const std::uint64_t half = static_cast<std::uint64_t>(kPow10.v[k] / 2);
  const bool up = r > half || (r == half && (sticky || (n.w[0] & 1) != 0));
  if (up) n = add_wide(n, WideUInt<N>::of(1));
  return n;
}

// Whether dropping digits moves the kept magnitude up by one unit of its last digit:
// `first` is the first dropped digit, `sticky` whether any later dropped digit is non-zero,
// `odd` whether the last kept digit is odd.
inline bool rounds_up(RoundingStrategy strategy, bool negative, unsigned first, bool sticky, bool odd) noexcept {
  const bool inexact = first != 0 || sticky;
  switch (strategy) {
    case RoundingStrategy::MidpointNearestEven: return first > 5 || (first == 5 && (sticky || odd));
    case RoundingStrategy::MidpointAwayFromZero: return first >= 5;
    case RoundingStrategy::Up: return inexact && !negative;
    case RoundingStrategy::Down: return inexact && negative;
  }
  return false;
}

// n / 10^k rounded by `strategy` (k <= 57), for a value of that sign.
template <int N>
inline WideUInt<N> div_pow10_rounded(WideUInt<N> n, unsigned k, RoundingStrategy strategy, bool negative) noexcept {
  if (k == 0) return n;
  bool sticky = false;
  while (k > 19) {
    sticky |= n.divmod(static_cast<std::uint64_t>(kPow10.v[19])) != 0;
    k -= 19;
  }
  const std::uint64_t r = n.divmod(static_cast<std::uint64_t>(kPow10.v[k]));
  const auto unit = static_cast<std::uint64_t>(kPow10.v[k - 1]);
  sticky |= r % unit != 0;
  if (rounds_up(strategy, negative, static_cast<unsigned>(r / unit), sticky, (n.w[0] & 1) != 0))
    n = add_wide(n, WideUInt<N>::of(1));
  return n;
}

// The exact magnitude n at `scale` (up to 56), fitted to 96 bits at the largest scale <= 28
// that holds it after rounding by `strategy`; nullopt when not even scale 0 does.
inline std::optional<Decimal> fit_wide(const U192& n, unsigned scale, bool negative,
                                       RoundingStrategy strategy = RoundingStrategy::MidpointNearestEven) noexcept {
  unsigned k = scale > kMaxScale ? scale - kMaxScale : 0;
  const unsigned bits = n.bit_length();
  if (bits > 96) {
    // digits(n) >= floor((bits - 1) * log10(2)) + 1, and the result may keep at most 29
    const unsigned min_digits = (bits - 1) * 30102u / 100000u + 1;
    if (min_digits > 29 && min_digits - 29 > k) k = min_digits - 29;
  }
  for (; k <= scale; ++k) {
    const U192 q = strategy == RoundingStrategy::MidpointNearestEven ? div_pow10_half_even(n, k)
                                                                     : div_pow10_rounded(n, k, strategy, negative);
    if (q.fits96()) {
      const u128 m = q.low128();
      return Decimal::from_parts(static_cast<std::uint64_t>(m), static_cast<std::uint32_t>(m >> 64),
                                 scale - k, negative && m != 0);
    }
  }
  return std::nullopt;
}

inline Decimal make_decimal(u128 m, unsigned scale, bool negative) noexcept {
  return Decimal::from_parts(static_cast<std::uint64_t>(m), static_cast<std::uint32_t>(m >> 64), scale,
                             negative);
}

}  // namespace vantrel::decimal_detail
