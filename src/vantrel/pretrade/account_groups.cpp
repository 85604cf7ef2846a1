#include "vantrel/pretrade/account_groups.hpp"

namespace vantrel {

AccountGroupRegistry::AccountGroupRegistry(SyncMode mode, SyncMode entry_mode)
    : op_lock_(mode), map_lock_(mode), entry_lock_(entry_mode) {}

std::optional<AccountGroupId> AccountGroupRegistry::lookup(AccountId account) const {
  SharedGuard map(map_lock_);
  auto found = groups_.find(account);
  if (found == groups_.end()) return std::nullopt;
  SharedGuard entry(entry_lock_);
  return AccountGroupId{found->second};
}

std::optional<AccountGroupId> AccountGroupRegistry::group_of(AccountId account) const {
  SharedGuard op(op_lock_);
  return lookup(account);
}

std::optional<AccountGroupError> AccountGroupRegistry::register_group(std::span<const AccountId> accounts,
                                                                      AccountGroupId group) {
  if (group.is_default()) return AccountGroupError{AccountGroupError::ReservedDefaultGroup{}};
  ExclusiveGuard op(op_lock_);
  for (AccountId account : accounts) {
    if (std::optional<AccountGroupId> current = lookup(account))
      return AccountGroupError{AccountGroupError::AlreadyInGroup{account, *current}};
  }
  ExclusiveGuard map(map_lock_);
  ExclusiveGuard entry(entry_lock_);
  for (AccountId account : accounts) groups_.insert_or_assign(account, group.value);
  return std::nullopt;
}

std::optional<AccountGroupError> AccountGroupRegistry::unregister_group(std::span<const AccountId> accounts,
                                                                        AccountGroupId group) {
  if (group.is_default()) return AccountGroupError{AccountGroupError::ReservedDefaultGroup{}};
  ExclusiveGuard op(op_lock_);
  for (AccountId account : accounts) {
    std::optional<AccountGroupId> current = lookup(account);
    if (current != group) return AccountGroupError{AccountGroupError::NotInGroup{account, group, current}};
  }
  ExclusiveGuard map(map_lock_);
  for (AccountId account : accounts) groups_.erase(account);
  return std::nullopt;
}

}  // namespace vantrel
