#pragma once
// The inverse of mix_hash, the unkeyed mixer tables once placed ids by: with it an
// attacker picks ids whose hashes are any values he likes. The placement tests and
// the placement benchmark choose their hostile ids with it.
#include <cstdint>

#include "vantrel/core/flat_table.hpp"

namespace vantrel::old_mixer {

constexpr std::uint64_t inverse_odd(std::uint64_t a) {
  std::uint64_t x = a;  // Newton's iteration doubles the correct low bits each step
  for (int i = 0; i < 6; ++i) x *= 2 - a * x;
  return x;
}
constexpr std::uint64_t unshift(std::uint64_t y, int s) {
  std::uint64_t x = y;
  for (int i = 0; i < 64 / s + 1; ++i) x = y ^ (x >> s);
  return x;
}
constexpr std::uint64_t unmix(std::uint64_t h) {
  std::uint64_t x = unshift(h, 31);
  x *= inverse_odd(0x94D049BB133111EBull);
  x = unshift(x, 27);
  x *= inverse_odd(0xBF58476D1CE4E5B9ull);
  return unshift(x, 30);
}
static_assert(mix_hash(unmix(0x1234567890ABCDE0ull)) == 0x1234567890ABCDE0ull);

}  // namespace vantrel::old_mixer
