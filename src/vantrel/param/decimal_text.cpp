// Canonical text of a Decimal: plain positional notation, exactly scale() fractional digits.

#include <cstring>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {

using namespace decimal_detail;

namespace {

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes v right-aligned ending at `end`; returns the first digit written.
char* write_u64_backwards(char* end, std::uint64_t v) noexcept {
  while (v >= 100) {
    const std::uint64_t pair = v % 100;
    v /= 100;
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * pair, 2);
  }
  if (v >= 10) {
    end -= 2;
    std::memcpy(end, kDigitPairs + 2 * v, 2);
  } else {
    *--end = static_cast<char>('0' + v);
  }
  return end;
}

// Exactly `width` digits, zero-padded.
void write_u64_padded(char* end, std::uint64_t v, int width) noexcept {
  char* start = end - width;
  char* p = write_u64_backwards(end, v);
  while (p > start) *--p = '0';
}

}  // namespace

std::size_t Decimal::write_text(char* out) const noexcept {
  char digits[40];
  char* const end = digits + sizeof digits;
  char* first;
  const u128 m = mantissa();
  if (hi_ == 0) {
    first = write_u64_backwards(end, lo_);
  } else {
    // m < 2^96, so m / 10^19 < 2^34 and one 128-by-64 division splits it.
    std::uint64_t low19;
    const std::uint64_t high = div128_by64(m, static_cast<std::uint64_t>(kPow10.v[19]), &low19);
    write_u64_padded(end, low19, 19);
    first = write_u64_backwards(end - 19, high);
  }
  const std::size_t n = static_cast<std::size_t>(end - first);
  const std::size_t s = scale();

  char* o = out;
  if (is_negative()) *o++ = '-';
  if (s == 0) {
    std::memcpy(o, first, n);
    o += n;
  } else if (n > s) {
    std::memcpy(o, first, n - s);
    o += n - s;
    *o++ = '.';
    std::memcpy(o, first + (n - s), s);
    o += s;
  } else {
    *o++ = '0';
    *o++ = '.';
    std::memset(o, '0', s - n);
    o += s - n;
    std::memcpy(o, first, n);
    o += n;
  }
  return static_cast<std::size_t>(o - out);
}

std::string Decimal::to_string() const {
  char buf[kMaxTextLength];
  return std::string(buf, write_text(buf));
}

}  // namespace vantrel
