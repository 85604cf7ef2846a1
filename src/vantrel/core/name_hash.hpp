#pragma once
// The keyed hash of a name the host chooses (an asset name, either name of an
// instrument), shared by every table placed by names. A name of at most 8 bytes
// is one word: its bytes and its length go through the one-word placement hash
// (two 128-bit multiplies, where SipHash-1-3 spends four rounds and more); the
// length keeps "A" apart from "A\0", since a name may hold NUL bytes. A longer
// name goes through SipHash-1-3. Both are keyed by the caller's keys, so names
// chosen against any fixed hash land at random.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vantrel/core/placement.hpp"
#include "vantrel/param/sip_hash.hpp"

namespace vantrel {

// Apart, so that a lookup by a short name keeps few registers.
[[gnu::noinline]] inline std::uint64_t keyed_long_name_hash(const SipKey& key, std::string_view name) noexcept {
  return sip_hash13(key, name);
}

// `words` places names of at most 8 bytes, `long_names` the others.
inline std::uint64_t keyed_name_hash(std::string_view name, const PlacementKey& words,
                                     const SipKey& long_names) noexcept {
  if (name.size() > 8) [[unlikely]]
    return keyed_long_name_hash(long_names, name);
  const std::uint64_t word = name.size() == 8 ? sip_detail::load_word(name.data())
                                              : sip_detail::load_tail(name.data(), name.size());
  return placement_hash(word, name.size(), words);
}

// Names are a few bytes: an inline loop beats a call into the library's memcmp.
inline bool same_text(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace vantrel
