#pragma once
// Per-instrument settings that a policy may override per account and per
// account group (SpotFunds' slippage and pricing choices), and the cascade
// that picks one: (instrument, account), then (instrument, the account's
// group), then the instrument, then the default. Not thread-safe: the tables
// are filled while the policy is configured and only read afterwards.
#include <cstdint>
#include <functional>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "vantrel/core/placement.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel {

template <class T>
struct InstrumentOverrides {
  using PairMap = std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, T, KeyedIdPairHash>;

  PairMap by_account;  // (instrument id, account id)
  PairMap by_group;    // (instrument id, account group id)
  std::unordered_map<std::uint64_t, T, KeyedIdHash> by_instrument;
  T default_value{};
};

// The first level set, by reference. `group_source()` (returning
// optional<AccountGroupId>) is called only when the account level misses.
template <class T, class GroupSource>
  requires std::is_invocable_r_v<std::optional<AccountGroupId>, GroupSource&>
const T& lookup_instrument_override(const InstrumentOverrides<T>& overrides, InstrumentId instrument,
                                    AccountId account, GroupSource&& group_source) {
  if (auto it = overrides.by_account.find({instrument.value, account.value}); it != overrides.by_account.end())
    return it->second;
  if (const std::optional<AccountGroupId> group = group_source()) {
    if (auto it = overrides.by_group.find({instrument.value, group->value}); it != overrides.by_group.end())
      return it->second;
  }
  if (auto it = overrides.by_instrument.find(instrument.value); it != overrides.by_instrument.end())
    return it->second;
  return overrides.default_value;
}

}  // namespace vantrel
