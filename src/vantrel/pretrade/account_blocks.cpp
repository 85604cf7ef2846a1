#include "vantrel/pretrade/account_blocks.hpp"

#include <string>

namespace vantrel {
namespace {

constexpr const char* kEngine = "Engine";

Reject engine_reject(RejectScope scope, RejectCode code, const char* reason, const char* details) {
  return Reject::with_scope(kEngine, scope, code, reason, details);
}

}  // namespace

AccountBlockRegistry::AccountBlockRegistry(SyncMode mode) : map_lock_(mode) {}

std::optional<Reject> AccountBlockRegistry::check_slow(std::optional<AccountId> account) const {
  if (!account) {
    return engine_reject(RejectScope::Order, RejectCode::MissingRequiredField,
                         "account could not be verified as account ID is missing",
                         "unable to check account for blocking");
  }
  {
    SharedGuard map(map_lock_);
    auto found = blocks_.find(*account);
    if (found != blocks_.end()) return found->second.to_reject();
  }
  if (accountless_.load(std::memory_order_acquire)) {
    return engine_reject(RejectScope::Account, RejectCode::AccountBlocked, "account is blocked due to kill-switch",
                         "kill-switch was previously triggered for this account");
  }
  return std::nullopt;
}

void AccountBlockRegistry::record(AccountId account, AccountBlock block) {
  bool present;
  {
    SharedGuard map(map_lock_);
    present = blocks_.find(account) != blocks_.end();
  }
  if (!present) {
    ExclusiveGuard map(map_lock_);
    // Another thread may have recorded one meanwhile; the first block wins.
    blocks_.try_emplace(account, std::move(block));
  }
  any_block_.store(true, std::memory_order_release);
}

void AccountBlockRegistry::record_accountless() noexcept {
  // In this order: a check that sees the any-block flag sees this one too.
  accountless_.store(true, std::memory_order_release);
  any_block_.store(true, std::memory_order_release);
}

std::optional<AccountBlock> AccountBlockRegistry::block_of(AccountId account) const {
  SharedGuard map(map_lock_);
  auto found = blocks_.find(account);
  if (found == blocks_.end()) return std::nullopt;
  return found->second;
}

}  // namespace vantrel
