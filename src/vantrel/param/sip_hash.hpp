#pragma once
// SipHash-1-3 under the all-zero key, for hashes that must be the same in every
// process (ids and decimal values hash alike everywhere).
#include <cstdint>
#include <initializer_list>

namespace vantrel {

// The hash of the message made of `words`, each 8 little-endian bytes.
std::uint64_t sip_hash13(std::initializer_list<std::uint64_t> words) noexcept;

}  // namespace vantrel
