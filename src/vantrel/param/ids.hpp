#pragma once
// Identifiers the engine keys its state by: accounts, account groups, instruments.
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

namespace vantrel {

struct AccountId {
  std::uint64_t value;
  friend constexpr auto operator<=>(AccountId, AccountId) = default;
};

// 0 is the default ("everyone-else") group; named groups are 1..=4294967295.
struct AccountGroupId {
  std::uint32_t value;
  static constexpr std::uint32_t kDefault = 0;
  constexpr bool is_default() const noexcept { return value == kDefault; }
  friend constexpr auto operator<=>(AccountGroupId, AccountGroupId) = default;
};

struct InstrumentId {
  std::uint64_t value;
  friend constexpr auto operator<=>(InstrumentId, InstrumentId) = default;
};

constexpr std::uint64_t fnv1a_64(std::string_view bytes) noexcept {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ull;
  }
  return h;
}

constexpr std::uint32_t fnv1a_32(std::string_view bytes) noexcept {
  std::uint32_t h = 0x811c9dc5u;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x01000193u;
  }
  return h;
}

inline constexpr std::string_view kEmptyAccountIdMessage = "account id string must not be empty";
inline constexpr std::string_view kEmptyAccountGroupIdMessage = "account group id string must not be empty";

// The hash covers the text exactly as given; only the emptiness test trims.
// nullopt: the text is blank.
std::optional<AccountId> account_id_from_text(std::string_view utf8) noexcept;
// Never the default group: a hash of 0 becomes 1.
std::optional<AccountGroupId> account_group_id_from_text(std::string_view utf8) noexcept;

// SipHash-1-3 under an all-zero key of the value's 8 little-endian bytes: a hash
// that is the same in every process.
std::uint64_t stable_id_hash(std::uint64_t value) noexcept;

}  // namespace vantrel

template <>
struct std::hash<vantrel::AccountId> {
  std::size_t operator()(vantrel::AccountId id) const noexcept { return std::hash<std::uint64_t>{}(id.value); }
};
template <>
struct std::hash<vantrel::AccountGroupId> {
  std::size_t operator()(vantrel::AccountGroupId id) const noexcept { return std::hash<std::uint32_t>{}(id.value); }
};
template <>
struct std::hash<vantrel::InstrumentId> {
  std::size_t operator()(vantrel::InstrumentId id) const noexcept { return std::hash<std::uint64_t>{}(id.value); }
};
