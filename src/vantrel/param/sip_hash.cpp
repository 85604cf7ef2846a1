#include "vantrel/param/sip_hash.hpp"

namespace vantrel {

std::uint64_t sip_hash13(std::initializer_list<std::uint64_t> words) noexcept { return sip_hash13(SipKey{}, words); }

std::uint64_t sip_hash13(SipKey key, std::initializer_list<std::uint64_t> words) noexcept {
  sip_detail::SipState s(key);
  for (std::uint64_t word : words) s.absorb(word);
  // The final block holds only the message length in bytes, in its top byte.
  s.absorb(static_cast<std::uint64_t>(words.size() * 8) << 56);
  return s.finish();
}

}  // namespace vantrel
