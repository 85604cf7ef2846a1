#pragma once
// SipHash-1-3. Under the all-zero key, for hashes that must be the same in
// every process (ids and decimal values hash alike everywhere); under a secret
// key, for placing host-chosen text where a collision would cost time.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace vantrel {

struct SipKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// The hash of the message made of `words`, each 8 little-endian bytes, under the
// all-zero key or under `key`.
std::uint64_t sip_hash13(std::initializer_list<std::uint64_t> words) noexcept;
std::uint64_t sip_hash13(SipKey key, std::initializer_list<std::uint64_t> words) noexcept;

namespace sip_detail {

struct SipState {
  std::uint64_t v0 = 0x736f6d6570736575ull;  // under the all-zero key, v = the constants
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

// The first `n` (< 8) bytes at `p` as a little-endian word, by fixed-size loads.
inline std::uint64_t load_tail(const char* p, std::size_t n) noexcept {
  if constexpr (std::endian::native != std::endian::little) {
    std::uint64_t w = 0;
    for (std::size_t i = 0; i < n; ++i) w |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    return w;
  }
  std::uint64_t w = 0;
  std::size_t i = 0;
  if (n >= 4) {
    std::uint32_t x;
    std::memcpy(&x, p, 4);
    w = x;
    i = 4;
  }
  if (n - i >= 2) {
    std::uint16_t x;
    std::memcpy(&x, p + i, 2);
    w |= std::uint64_t{x} << (8 * i);
    i += 2;
  }
  if (n > i) w |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  return w;
}

inline std::uint64_t load_word(const char* p) noexcept {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native != std::endian::little) w = __builtin_bswap64(w);
  return w;
}

}  // namespace sip_detail

// The hash of `bytes` under `key`. Inline: asset names of a few bytes hash in a few rounds.
inline std::uint64_t sip_hash13(SipKey key, std::string_view bytes) noexcept {
  sip_detail::SipState s(key);
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  for (; left >= 8; p += 8, left -= 8) s.absorb(sip_detail::load_word(p));
  // The final block: the tail's bytes, and the length's low byte on top.
  s.absorb(sip_detail::load_tail(p, left) | (static_cast<std::uint64_t>(bytes.size()) << 56));
  return s.finish();
}

// The hash of a message given in pieces: the same as sip_hash13(key, bytes) of their
// concatenation, for keys made of several texts (a length word first keeps the texts apart).
class SipStream {
 public:
  explicit SipStream(SipKey key) noexcept : state_(key) {}

  SipStream& add_word(std::uint64_t word) noexcept {
    if (pending_bytes_ == 0) {
      state_.absorb(word);
    } else {
      state_.absorb(pending_ | (word << (8 * pending_bytes_)));
      pending_ = word >> (64 - 8 * pending_bytes_);
    }
    length_ += 8;
    return *this;
  }
  SipStream& add_bytes(std::string_view bytes) noexcept {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 8; p += 8, left -= 8) add_word(sip_detail::load_word(p));
    if (left == 0) return *this;
    const std::uint64_t tail = sip_detail::load_tail(p, left);
    pending_ |= tail << (8 * pending_bytes_);
    if (pending_bytes_ + left >= 8) {
      state_.absorb(pending_);
      pending_ = tail >> (64 - 8 * pending_bytes_);  // pending_bytes_ > 0 here: left < 8
      pending_bytes_ = pending_bytes_ + left - 8;
    } else {
      pending_bytes_ += left;
    }
    length_ += left;
    return *this;
  }
  // The final block: the bytes still pending, and the length's low byte on top.
  std::uint64_t finish() noexcept {
    state_.absorb(pending_ | (static_cast<std::uint64_t>(length_) << 56));
    return state_.finish();
  }

 private:
  sip_detail::SipState state_;
  std::uint64_t pending_ = 0;  // the first pending_bytes_ bytes of the next block
  std::size_t pending_bytes_ = 0;
  std::size_t length_ = 0;
};

}  // namespace vantrel
