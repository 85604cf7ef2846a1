#include "vantrel/param/ids.hpp"

#include <bit>

#include "vantrel/param/text.hpp"

namespace vantrel {

std::optional<AccountId> account_id_from_text(std::string_view utf8) noexcept {
  if (trim_unicode_whitespace(utf8).empty()) return std::nullopt;
  return AccountId{fnv1a_64(utf8)};
}

std::optional<AccountGroupId> account_group_id_from_text(std::string_view utf8) noexcept {
  if (trim_unicode_whitespace(utf8).empty()) return std::nullopt;
  const std::uint32_t h = fnv1a_32(utf8);
  return AccountGroupId{h == AccountGroupId::kDefault ? 1u : h};
}

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
    round();  // one compression round (SipHash-1-3)
    v0 ^= m;
  }
};

}  // namespace

std::uint64_t stable_id_hash(std::uint64_t value) noexcept {
  // The message is the 8 little-endian bytes of the value: one full block, then
  // the final block holding only the length (8) in its top byte.
  SipState s;
  s.absorb(value);
  s.absorb(std::uint64_t{8} << 56);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace vantrel
