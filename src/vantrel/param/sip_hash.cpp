#include "vantrel/param/sip_hash.hpp"

#include <bit>

namespace vantrel {
namespace {

struct SipState {
  std::uint64_t v0 = 0x736f6d6570736575ull;  // the key is all zeros, so v = the constants
  std::uint64_t v1 = 0x646f72616e646f6dull;
  std::uint64_t v2 = 0x6c7967656e657261ull;
  std::uint64_t v3 = 0x7465646279746573ull;

  void round() noexcept {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
  void absorb(std::uint64_t m) noexcept {
    v3 ^= m;
    round();  // one compression round
    v0 ^= m;
  }
};

}  // namespace

std::uint64_t sip_hash13(std::initializer_list<std::uint64_t> words) noexcept {
  SipState s;
  for (std::uint64_t word : words) s.absorb(word);
  // The final block holds only the message length in bytes, in its top byte.
  s.absorb(static_cast<std::uint64_t>(words.size() * 8) << 56);
  s.v2 ^= 0xff;
  s.round();  // three finalisation rounds
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace vantrel
