#pragma once
// Which account belongs to which account group. An account in no group belongs
// to the default group 0, which is never stored and never a valid target.
// Thread-safety: `op_lock_` is held exclusively for the whole of a
// multi-account change and shared by every lookup, so no lookup sees a change
// half applied. Place in the lock order: the table in core/rw_lock.hpp.
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>

#include "vantrel/core/placement.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/pretrade/account_group_error.hpp"

namespace vantrel {

class AccountGroupRegistry : public std::enable_shared_from_this<AccountGroupRegistry> {
 public:
  // `entry_mode` locks only in full_sync.
  AccountGroupRegistry(SyncMode mode, SyncMode entry_mode);

  // All or nothing: on an error the membership is unchanged.
  std::optional<AccountGroupError> register_group(std::span<const AccountId> accounts, AccountGroupId group);
  std::optional<AccountGroupError> unregister_group(std::span<const AccountId> accounts, AccountGroupId group);
  // nullopt: the account is in no group.
  std::optional<AccountGroupId> group_of(AccountId account) const;

  // The modes of the op and map locks, and of the entry lock.
  SyncMode lock_mode() const noexcept { return op_lock_.mode(); }
  SyncMode entry_lock_mode() const noexcept { return entry_lock_.mode(); }

 private:
  // Callers hold the op lock.
  std::optional<AccountGroupId> lookup(AccountId account) const;

  mutable RwLock op_lock_;
  mutable RwLock map_lock_;
  mutable RwLock entry_lock_;
  std::unordered_map<AccountId, std::uint32_t, KeyedIdHash> groups_;
};

}  // namespace vantrel
