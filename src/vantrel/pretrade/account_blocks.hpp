#pragma once
// The engine's blocked accounts. A block is never replaced or removed: the
// first block recorded for an account wins, and the two flags only ever go
// from false to true.
// Thread-safety: map behind `map_lock_` (shared to read, exclusive to insert);
// a stored block never changes, so a reader needs nothing more. The flags are
// atomics, so while no block exists a check is one acquire load and no lock.
// Place in the lock order: the table in core/rw_lock.hpp.
#include <atomic>
#include <memory>
#include <optional>
#include <unordered_map>

#include "vantrel/core/account_block.hpp"
#include "vantrel/core/placement.hpp"
#include "vantrel/core/reject.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel {

class AccountBlockRegistry : public std::enable_shared_from_this<AccountBlockRegistry> {
 public:
  explicit AccountBlockRegistry(SyncMode mode);

  // nullopt: the account may trade. Otherwise the one reject that refuses it.
  std::optional<Reject> check(std::optional<AccountId> account) const {
    if (!any_block_.load(std::memory_order_acquire)) [[likely]]
      return std::nullopt;
    return check_slow(account);
  }

  // Records `block` unless the account has one already (then it is dropped).
  void record(AccountId account, AccountBlock block);
  // A block arose without an account id: from now on every account without a
  // block of its own is refused.
  void record_accountless() noexcept;
  // record(account, make()) for paths that must not fail (an undo): when the
  // block cannot be built or stored (out of memory), every account without a
  // block of its own is refused instead, this one included: fail closed.
  template <class MakeBlock>
  void record_or_refuse_all(AccountId account, MakeBlock&& make) noexcept {
    try {
      record(account, make());
    } catch (...) {
      record_accountless();
    }
  }

  SyncMode lock_mode() const noexcept { return map_lock_.mode(); }
  bool any_block() const noexcept { return any_block_.load(std::memory_order_acquire); }
  bool accountless_block() const noexcept { return accountless_.load(std::memory_order_acquire); }
  // A copy of the stored block, if any.
  std::optional<AccountBlock> block_of(AccountId account) const;

 private:
  std::optional<Reject> check_slow(std::optional<AccountId> account) const;

  mutable RwLock map_lock_;
  std::unordered_map<AccountId, AccountBlock, KeyedIdHash> blocks_;
  std::atomic<bool> any_block_{false};
  std::atomic<bool> accountless_{false};
};

}  // namespace vantrel
