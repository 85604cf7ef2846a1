// Conversions between Decimal and binary doubles.

#include <charconv>
#include <cmath>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {

using namespace decimal_detail;

std::optional<Decimal> Decimal::from_double(double v) noexcept {
  if (!std::isfinite(v)) return std::nullopt;
  if (v == 0) return Decimal();
  // Shortest round-trip digits, as "d.ddde[+-]xx".
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

  int scale = count - 1 - exponent;
  u128 m = digits;
  if (scale > static_cast<int>(kMaxScale)) {
    const unsigned k = static_cast<unsigned>(scale) - kMaxScale;
    scale = kMaxScale;
    if (k > 19) {
      m = 0;  // at most 17 digits: far below half of 10^k
    } else {
      const std::uint64_t p10 = static_cast<std::uint64_t>(kPow10.v[k]);
      std::uint64_t q = digits / p10;
      const std::uint64_t r = digits % p10;
      if (2 * r > p10 || (2 * r == p10 && (q & 1) != 0)) ++q;
      m = q;
    }
  } else if (scale < 0) {
    const unsigned k = static_cast<unsigned>(-scale);
    if (k > kMaxScale || !append_fits(m, 0, k)) return std::nullopt;
    m *= kPow10.v[k];
    scale = 0;
  }
  if (m == 0) return Decimal();
  while (scale > 0 && m % 10 == 0) {
    m /= 10;
    --scale;
  }
  return make_decimal(m, static_cast<unsigned>(scale), neg);
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
