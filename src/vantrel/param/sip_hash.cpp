#include "vantrel/param/sip_hash.hpp"

#include <bit>
#include <cstring>

namespace vantrel {
namespace {

struct SipState {
  std::uint64_t v0 = 0x736f6d6570736575ull;  // the key is all zeros, so v = the constants
  std::uint64_t v1 = 0x646f72616e646f6dull;
  std::uint64_t v2 = 0x6c7967656e657261ull;
  std::uint64_t v3 = 0x7465646279746573ull;

  SipState() noexcept = default;
  explicit SipState(SipKey key) noexcept {
    v0 ^= key.k0;
    v1 ^= key.k1;
    v2 ^= key.k0;
    v3 ^= key.k1;
  }

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
  std::uint64_t finish() noexcept {
    v2 ^= 0xff;
    round();  // three finalisation rounds
    round();
    round();
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

std::uint64_t load_le(const char* p, std::size_t n) noexcept {
  std::uint64_t w = 0;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&w, p, n);
  } else {
    for (std::size_t i = 0; i < n; ++i) w |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  }
  return w;
}

}  // namespace

std::uint64_t sip_hash13(std::initializer_list<std::uint64_t> words) noexcept {
  SipState s;
  for (std::uint64_t word : words) s.absorb(word);
  // The final block holds only the message length in bytes, in its top byte.
  s.absorb(static_cast<std::uint64_t>(words.size() * 8) << 56);
  return s.finish();
}

std::uint64_t sip_hash13(SipKey key, std::string_view bytes) noexcept {
  SipState s(key);
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  for (; left >= 8; p += 8, left -= 8) s.absorb(load_le(p, 8));
  // The final block: the tail's bytes, and the length's low byte on top.
  s.absorb(load_le(p, left) | (static_cast<std::uint64_t>(bytes.size()) << 56));
  return s.finish();
}

}  // namespace vantrel
