// Checked arithmetic and ordering of Decimal beyond the inline same-scale fast paths.

#include <algorithm>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {

using namespace decimal_detail;

int Decimal::compare_slow(Decimal a, Decimal b) noexcept {
  // Same sign, both non-zero, different scales: align the smaller scale up.
  const bool a_low = a.scale() < b.scale();
  const Decimal lo = a_low ? a : b, hi = a_low ? b : a;
  const unsigned k = hi.scale() - lo.scale();
  const u128 m_lo = lo.mantissa(), m_hi = hi.mantissa();
  int mag;  // sign of |lo| - |hi|
  if (m_lo > kMaxDiv.v[k]) {
    mag = 1;  // m_lo * 10^k exceeds every 96-bit mantissa
  } else {
    const u128 scaled = m_lo * kPow10.v[k];
    mag = scaled < m_hi ? -1 : (scaled > m_hi ? 1 : 0);
  }
  const int c = a_low ? mag : -mag;  // sign of |a| - |b|
  return a.is_negative() ? -c : c;
}

std::optional<Decimal> Decimal::add_slow(Decimal other, RoundingStrategy strategy) const noexcept {
  const unsigned sa = scale(), sb = other.scale();
  const unsigned s = std::max(sa, sb);
  const unsigned ka = s - sa, kb = s - sb;
  const u128 ma = mantissa(), mb = other.mantissa();
  const bool same_sign = is_negative() == other.is_negative();

  if (ma <= kMaxDiv.v[ka] && mb <= kMaxDiv.v[kb]) {
    // One of ka, kb is zero; 64-bit operands scale with a single widening multiply.
    const u128 a = hi_ == 0 && ka <= 19 ? static_cast<u128>(lo_) * static_cast<std::uint64_t>(kPow10.v[ka])
                                        : ma * kPow10.v[ka];
    const u128 b = other.hi_ == 0 && kb <= 19
                       ? static_cast<u128>(other.lo_) * static_cast<std::uint64_t>(kPow10.v[kb])
                       : mb * kPow10.v[kb];
    if (!same_sign) {
      if (a >= b) return make_decimal(a - b, s, is_negative() && a != b);
      return make_decimal(b - a, s, other.is_negative());
    }
    if (a + b <= kMaxMantissa) return make_decimal(a + b, s, is_negative() && a + b != 0);
  }

  const U192 a = mul_wide(ma, kPow10.v[ka]), b = mul_wide(mb, kPow10.v[kb]);
  if (same_sign) return fit_wide(add_wide(a, b), s, is_negative(), strategy);
  const int c = cmp_wide(a, b);
  if (c == 0) return make_decimal(0, s, false);
  if (c > 0) return fit_wide(sub_wide(a, b), s, is_negative(), strategy);
  return fit_wide(sub_wide(b, a), s, other.is_negative(), strategy);
}

std::optional<Decimal> Decimal::checked_add(Decimal other, RoundingStrategy strategy) const noexcept {
  const std::optional<Decimal> sum = checked_add(other);
  // Kept at the larger scale: nothing was rounded.
  if (sum && sum->scale() >= std::max(scale(), other.scale())) return sum;
  return add_slow(other, strategy);
}

std::optional<Decimal> Decimal::checked_mul(Decimal other, RoundingStrategy strategy) const noexcept {
  if (hi_ == 0 && other.hi_ == 0 && scale() + other.scale() <= kMaxScale) {
    const u128 p = static_cast<u128>(lo_) * other.lo_;
    if (p <= kMaxMantissa) return checked_mul(other);  // exact
  }
  const bool neg = is_negative() != other.is_negative();
  return fit_wide(mul_wide(mantissa(), other.mantissa()), scale() + other.scale(), neg, strategy);
}

std::optional<Decimal> Decimal::exact_or_none(Decimal other, Decimal sum) const noexcept {
  // this + other - sum at the largest scale, positive and negative terms summed apart:
  // each term is below 2^96 * 10^28 < 2^190, so neither side leaves 192 bits.
  const unsigned s = std::max(scale(), other.scale());
  U192 plus, minus;
  const auto add = [&](Decimal d, bool subtract) {
    U192& side = d.is_negative() != subtract ? minus : plus;
    side = add_wide(side, mul_wide(d.mantissa(), kPow10.v[s - d.scale()]));
  };
  add(*this, false);
  add(other, false);
  add(sum, true);
  if (cmp_wide(plus, minus) != 0) return std::nullopt;
  return sum;
}

std::optional<Decimal> Decimal::mul_slow(Decimal other) const noexcept {
  const bool neg = is_negative() != other.is_negative();
  return fit_wide(mul_wide(mantissa(), other.mantissa()), scale() + other.scale(), neg);
}

namespace {

// Long division of a 96-bit dividend's remainder by the divisor, up to 19 digits at a time:
// with r < d, r * 10^19 < d * 2^64, so every chunk's quotient fits 64 bits.
inline constexpr unsigned kChunkDigits = 19;

struct Divisor {
  u128 d;
  bool small;
  // Divisors of 65 to 96 bits are kept shifted left by `shift` so the top bit is set, as
  // div192_by128 needs; numerators are shifted alike and remainders shifted back.
  unsigned shift = 0;
  std::uint64_t d1 = 0, d0 = 0;

  explicit Divisor(u128 v) noexcept : d(v), small((v >> 64) == 0) {
    if (!small) {
      shift = static_cast<unsigned>(__builtin_clzll(static_cast<std::uint64_t>(v >> 64)));
      const u128 norm = v << shift;
      d1 = static_cast<std::uint64_t>(norm >> 64);
      d0 = static_cast<std::uint64_t>(norm);
    }
  }

  // Next k digits of r / d: returns floor(r * 10^k / d) and leaves the remainder in r.
  std::uint64_t next(u128& r, unsigned k) const noexcept {
    const auto p = static_cast<std::uint64_t>(kPow10.v[k]);
    if (small) {
      std::uint64_t rem;
      const std::uint64_t q = div128_by64(r * p, static_cast<std::uint64_t>(d), &rem);
      r = rem;
      return q;
    }
    // r < d keeps r << shift below 2^128, and the shifted numerator below
    // (d1 + 1) * 2^64 * 10^19 <= d1 * 2^128: its top limb is below d1.
    const u128 rn = r << shift;
    const u128 lo = static_cast<u128>(static_cast<std::uint64_t>(rn)) * p;
    const u128 hi = static_cast<u128>(static_cast<std::uint64_t>(rn >> 64)) * p + (lo >> 64);
    u128 rem;
    const std::uint64_t q = div192_by128(static_cast<std::uint64_t>(hi >> 64), static_cast<std::uint64_t>(hi),
                                         static_cast<std::uint64_t>(lo), d1, d0, &rem);
    r = rem >> shift;
    return q;
  }

  void divmod(u128 n, u128& q, u128& r) const noexcept {
    if (n < d) {
      q = 0;
      r = n;
      return;
    }
    if (!small) {
      // n < 2^96 and shift <= 63: the shifted dividend's top limb is below 2^31 < d1.
      const u128 low = n << shift;
      u128 rem;
      q = div192_by128(static_cast<std::uint64_t>(n >> (128 - shift)), static_cast<std::uint64_t>(low >> 64),
                       static_cast<std::uint64_t>(low), d1, d0, &rem);
      r = rem >> shift;
      return;
    }
    const std::uint64_t dd = static_cast<std::uint64_t>(d);
    const std::uint64_t hi = static_cast<std::uint64_t>(n >> 64);
    std::uint64_t rem;
    const std::uint64_t qhi = hi / dd;
    const std::uint64_t qlo = div128_by64((static_cast<u128>(hi % dd) << 64) | static_cast<std::uint64_t>(n), dd, &rem);
    q = (static_cast<u128>(qhi) << 64) | qlo;
    r = rem;
  }
};

// The most digits (<= k) that q can surely take: q * 10^j plus any j-digit tail fits while
// q < kMaxDiv[j]; at q == kMaxDiv[j] it depends on the tail.
unsigned digits_with_room(u128 q, unsigned k) noexcept {
  while (k > 0 && q > kMaxDiv.v[k]) --k;
  return k;
}

// Removes trailing zero digits of a non-zero chunk, lowering its digit count to match.
void strip_trailing_zeros(std::uint64_t& chunk, unsigned& digits) noexcept {
  for (unsigned step : {16u, 8u, 4u, 2u, 1u}) {
    const auto p = static_cast<std::uint64_t>(kPow10.v[step]);
    if (chunk % p == 0) {
      chunk /= p;
      digits -= step;
    }
  }
}

}  // namespace

std::optional<Decimal> Decimal::checked_div(Decimal other) const noexcept {
  if (other.is_zero()) return std::nullopt;
  const bool neg = is_negative() != other.is_negative();
  const Divisor div(other.mantissa());
  u128 q, r;
  div.divmod(mantissa(), q, r);
  // q + r/d is the quotient at scale s; each digit appended raises s by one.
  int s = static_cast<int>(scale()) - static_cast<int>(other.scale());

  while (s < 0) {  // digits needed to reach scale 0; these must fit
    const unsigned k = std::min<unsigned>(static_cast<unsigned>(-s), kChunkDigits);
    const std::uint64_t chunk = div.next(r, k);
    if (!append_fits(q, chunk, k)) return std::nullopt;
    q = q * kPow10.v[k] + chunk;
    s += static_cast<int>(k);
  }

  // Exact digits up to scale 28 while the mantissa has room; an exact quotient keeps the
  // dividend-minus-divisor scale and no trailing zeros beyond it.
  while (r != 0 && s < static_cast<int>(kMaxScale)) {
    const unsigned want = std::min<unsigned>(kMaxScale - static_cast<unsigned>(s), kChunkDigits);
    unsigned k = digits_with_room(q, want);
    if (k == 0) break;
    const u128 r_before = r;
    std::uint64_t chunk = div.next(r, k);
    if (q == kMaxDiv.v[k] && !append_fits(q, chunk, k)) {  // the last digit overflows
      if (--k == 0) {
        r = r_before;
        break;
      }
      chunk /= 10;
      // Both products may pass 2^128, but their difference, the remainder, is below d:
      // arithmetic modulo 2^128 gives it exactly.
      r = r_before * kPow10.v[k] - static_cast<u128>(chunk) * div.d;
    }
    if (r == 0) strip_trailing_zeros(chunk, k);
    q = q * kPow10.v[k] + chunk;
    s += static_cast<int>(k);
    if (k < want && r != 0) break;  // the mantissa is full
  }

  if (r != 0) {
    const u128 twice = r << 1;
    if (twice > div.d || (twice == div.d && (q & 1) != 0)) {
      if (q == kMaxMantissa) {
        // The exact value lies in (max + 1/2, max + 1) at scale s: one digit less, and the
        // dropped "5" plus a non-zero tail rounds up.
        if (s == 0) return std::nullopt;
        q = kMaxMantissa / 10 + 1;
        --s;
      } else {
        ++q;
      }
    }
  }
  return make_decimal(q, static_cast<unsigned>(s), neg && q != 0);
}

std::optional<Decimal> Decimal::checked_rem(Decimal other) const noexcept {
  if (other.is_zero()) return std::nullopt;
  const unsigned sa = scale(), sb = other.scale();
  const u128 ma = mantissa(), mb = other.mantissa();
  u128 r;
  if (sa == sb) {
    r = ma % mb;
  } else if (sa < sb) {
    // (ma * 10^k) mod mb, folding the power of ten in a chunk at a time.
    const Divisor div(mb);
    u128 q;
    div.divmod(ma, q, r);
    for (unsigned k = sb - sa; k > 0 && r != 0;) {
      const unsigned step = std::min(k, kChunkDigits);
      div.next(r, step);
      k -= step;
    }
  } else {
    const unsigned k = sa - sb;
    // A divisor scaled beyond every 96-bit mantissa exceeds the dividend: the remainder is it.
    r = mb > kMaxDiv.v[k] ? ma : ma % (mb * kPow10.v[k]);
  }
  return make_decimal(r, std::max(sa, sb), is_negative() && r != 0);
}

}  // namespace vantrel
