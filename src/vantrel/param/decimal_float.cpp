// Conversions between Decimal and binary doubles.

#include <charconv>
#include <cmath>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {

using namespace decimal_detail;

namespace {

// A finite non-zero double's shortest round-trip digits: value = digits / 10^scale.
struct ShortestDigits {
  bool negative;
  std::uint64_t digits;  // at most 17 decimal digits
  int scale;
};

ShortestDigits shortest_digits(double v) noexcept {
  // As "d.ddde[+-]xx".
  char buf[40];
  const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  const char* p = buf;
  const bool neg = *p == '-';
  if (neg) ++p;
  std::uint64_t digits = 0;
  int count = 0;
  for (; *p != 'e'; ++p) {
    if (*p == '.') continue;
    digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
    ++count;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), res.ptr, exponent);
  return {neg, digits, count - 1 - exponent};
}

// digits / 10^scale rounded once to scale `target` (< scale) by `strategy`.
u128 round_digits(const ShortestDigits& d, unsigned target, RoundingStrategy strategy) noexcept {
  const unsigned k = static_cast<unsigned>(d.scale) - target;
  if (k > 19) {
    // At most 17 digits are dropped, all below the first dropped place.
    return rounds_up(strategy, d.negative, 0, true, false) ? 1 : 0;
  }
  const std::uint64_t unit = static_cast<std::uint64_t>(kPow10.v[k - 1]);
  const std::uint64_t q = d.digits / (unit * 10);
  const std::uint64_t r = d.digits % (unit * 10);
  const bool up = rounds_up(strategy, d.negative, static_cast<unsigned>(r / unit), r % unit != 0, (q & 1) != 0);
  return u128{q} + (up ? 1 : 0);
}

// The digits at a scale of at most 28 that needs no rounding.
std::optional<Decimal> exact_digits(const ShortestDigits& d) noexcept {
  u128 m = d.digits;
  int scale = d.scale;
  if (scale < 0) {
    const unsigned k = static_cast<unsigned>(-scale);
    if (k > kMaxScale || !append_fits(m, 0, k)) return std::nullopt;
    m *= kPow10.v[k];
    scale = 0;
  }
  return make_decimal(m, static_cast<unsigned>(scale), d.negative);
}

Decimal without_trailing_zeros(u128 m, unsigned scale, bool negative) noexcept {
  if (m == 0) return Decimal();
  while (scale > 0 && m % 10 == 0) {
    m /= 10;
    --scale;
  }
  return make_decimal(m, scale, negative);
}

}  // namespace

std::optional<Decimal> Decimal::from_double(double v) noexcept {
  if (!std::isfinite(v)) return std::nullopt;
  if (v == 0) return Decimal();
  const ShortestDigits d = shortest_digits(v);
  if (d.scale > static_cast<int>(kMaxScale))
    return without_trailing_zeros(round_digits(d, kMaxScale, RoundingStrategy::MidpointNearestEven), kMaxScale,
                                  d.negative);
  const std::optional<Decimal> exact = exact_digits(d);
  if (!exact) return std::nullopt;
  return without_trailing_zeros(exact->mantissa(), exact->scale(), d.negative);
}

std::optional<Decimal> Decimal::from_double_rounded(double v, Rounding rounding) noexcept {
  if (!std::isfinite(v)) return std::nullopt;
  if (v == 0) return Decimal();
  const ShortestDigits d = shortest_digits(v);
  const unsigned target = rounding.scale < kMaxScale ? rounding.scale : kMaxScale;
  if (d.scale <= static_cast<int>(target)) return from_double(v);
  const u128 m = round_digits(d, target, rounding.strategy);
  // At scale 28 or more nothing is rounded on request: the value takes from_double's form.
  if (rounding.scale >= kMaxScale) return without_trailing_zeros(m, target, d.negative);
  return make_decimal(m, target, d.negative && m != 0);
}

namespace {
// Powers of ten that are exact doubles.
constexpr double kExactPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
}  // namespace

double Decimal::to_double() const noexcept {
  const u128 m = mantissa();
  const unsigned s = scale();
  double d;
  if (m < (u128{1} << 53) && s <= 22) {
    // Both operands are exact doubles, so one IEEE division rounds correctly.
    d = static_cast<double>(static_cast<std::uint64_t>(m)) / kExactPow10[s];
    return is_negative() ? -d : d;
  }
  char buf[kMaxTextLength];
  const std::size_t n = abs().write_text(buf);
  std::from_chars(buf, buf + n, d);
  return is_negative() ? -d : d;
}

}  // namespace vantrel
