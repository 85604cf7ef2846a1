#pragma once
// SipHash-1-3. Under the all-zero key, for hashes that must be the same in
// every process (ids and decimal values hash alike everywhere); under a secret
// key, for placing host-chosen text where a collision would cost time.
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace vantrel {

// The hash of the message made of `words`, each 8 little-endian bytes.
std::uint64_t sip_hash13(std::initializer_list<std::uint64_t> words) noexcept;

struct SipKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// The hash of `bytes` under `key`.
std::uint64_t sip_hash13(SipKey key, std::string_view bytes) noexcept;

}  // namespace vantrel
