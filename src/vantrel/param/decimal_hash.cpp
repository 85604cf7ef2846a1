// Process-independent hash: SipHash-1-3 with zero keys over the normalised 16-byte layout.

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/sip_hash.hpp"

namespace vantrel {

std::int64_t Decimal::hash() const noexcept {
  // Equal values hash equal: strip trailing fractional zeros; every zero is the all-zero value.
  auto m = mantissa();
  std::uint32_t s = scale();
  std::uint32_t flags = 0;
  if (m != 0) {
    while (s > 0 && m % 10 == 0) {
      m /= 10;
      --s;
    }
    flags = (s << 16) | (is_negative() ? 0x80000000u : 0u);
  }
  // Words: mantissa bits 0-31, 32-63, 64-95, flags; each 4 bytes little-endian.
  const std::uint64_t w0 = static_cast<std::uint64_t>(m);
  const std::uint64_t w1 = static_cast<std::uint64_t>(m >> 64) | (std::uint64_t{flags} << 32);
  const auto h = static_cast<std::int64_t>(sip_hash13({w0, w1}));
  return h == -1 ? -2 : h;
}

}  // namespace vantrel
