#include "vantrel/param/ids.hpp"

#include "vantrel/param/sip_hash.hpp"
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

std::uint64_t stable_id_hash(std::uint64_t value) noexcept {
  // The message is the 8 little-endian bytes of the value: one full block, then
  // the final block holding only the length (8) in its top byte.
  return sip_hash13({value});
}

}  // namespace vantrel
