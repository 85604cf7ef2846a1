// Process-independent hash: SipHash-1-3 with zero keys over the normalised 16-byte layout.

#include "vantrel/param/decimal.hpp"

namespace vantrel {

namespace {

constexpr std::uint64_t rotl(std::uint64_t x, int b) noexcept { return (x << b) | (x >> (64 - b)); }

struct SipState {
  std::uint64_t v0 = 0x736f6d6570736575ULL;  // keys are zero
  std::uint64_t v1 = 0x646f72616e646f6dULL;
  std::uint64_t v2 = 0x6c7967656e657261ULL;
  std::uint64_t v3 = 0x7465646279746573ULL;

  void round() noexcept {
    v0 += v1; v1 = rotl(v1, 13); v1 ^= v0; v0 = rotl(v0, 32);
    v2 += v3; v3 = rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = rotl(v1, 17); v1 ^= v2; v2 = rotl(v2, 32);
  }
  void compress(std::uint64_t m) noexcept {
    v3 ^= m;
    round();
    v0 ^= m;
  }
};

// SipHash-1-3 of exactly 16 bytes given as two little-endian words.
std::uint64_t siphash13_16(std::uint64_t w0, std::uint64_t w1) noexcept {
  SipState s;
  s.compress(w0);
  s.compress(w1);
  s.compress(std::uint64_t{16} << 56);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace

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
  const auto h = static_cast<std::int64_t>(siphash13_16(w0, w1));
  return h == -1 ? -2 : h;
}

}  // namespace vantrel
