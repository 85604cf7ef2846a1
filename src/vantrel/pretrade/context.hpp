#pragma once
// What the engine hands every policy hook besides the record itself: the
// account concerned, its account group (asked of the registry at most once
// per stage) and, where the stage offers one, the block registry that backs
// an account control.
// Not thread-safe: one context belongs to one stage on one thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "vantrel/param/ids.hpp"

namespace vantrel {

class AccountBlockRegistry;
class AccountGroupRegistry;

// The account-group cell: unresolved until a policy first asks, then fixed for
// the rest of the stage, so every policy of a stage sees one snapshot.
class AccountGroupCell {
 public:
  bool resolved() const noexcept { return state_ != State::Unresolved; }
  std::optional<AccountGroupId> value() const noexcept {
    return state_ == State::Group ? std::optional<AccountGroupId>(AccountGroupId{group_}) : std::nullopt;
  }
  void set(std::optional<AccountGroupId> group) noexcept {
    state_ = group ? State::Group : State::None;
    group_ = group ? group->value : 0;
  }

 private:
  enum class State : std::uint8_t { Unresolved, None, Group };
  State state_ = State::Unresolved;
  std::uint32_t group_ = 0;
};

// The registries are borrowed: a stage runs only while the engine that owns
// them is held, and whatever outlives the stage (an account control, a Python
// context object) takes a shared handle through shared_from_this().
class StageContext {
 public:
  StageContext(std::optional<AccountId> account_id, AccountGroupRegistry& groups) noexcept
      : account_id_(account_id), groups_(&groups) {}

  std::optional<AccountId> account_id() const noexcept { return account_id_; }
  AccountGroupRegistry& groups() const noexcept { return *groups_; }

  // The account's group, resolved on first use: none without an account id.
  std::optional<AccountGroupId> account_group() const;

  // The record's settlement-asset name hashed by `hash` (a limit-key hasher: every one in the
  // process holds the same key), taken by the first policy that asks and kept for the others, so
  // a record's name is hashed once however many policies look it up. The name's address and
  // length are kept with it: a context handed another record (the engine never does) hashes anew.
  template <class Hash>
  std::uint64_t settlement_name_hash(std::string_view name, const Hash& hash) const noexcept {
    if (name.data() != hashed_name_ || name.size() != hashed_size_) {
      name_hash_ = hash(name);
      hashed_name_ = name.data();
      hashed_size_ = name.size();
    }
    return name_hash_;
  }

 private:
  std::optional<AccountId> account_id_;
  AccountGroupRegistry* groups_;
  mutable AccountGroupCell group_;
  mutable const char* hashed_name_ = nullptr;
  mutable std::size_t hashed_size_ = 0;
  mutable std::uint64_t name_hash_ = 0;
};

// Start and main stage; carried from one to the other by the request.
class PreTradeContext : public StageContext {
 public:
  // `blocks` is offered only when the order has an account id.
  PreTradeContext(std::optional<AccountId> account_id, AccountGroupRegistry& groups,
                  AccountBlockRegistry& blocks) noexcept
      : StageContext(account_id, groups), blocks_(account_id ? &blocks : nullptr) {}

  // The registry behind the context's account control, or null when the
  // stage offers none.
  AccountBlockRegistry* account_control() const noexcept { return blocks_; }

 private:
  AccountBlockRegistry* blocks_;
};

// Post-trade hooks block accounts only by returning blocks: no account control.
class PostTradeContext : public StageContext {
 public:
  using StageContext::StageContext;
};

class AccountAdjustmentContext : public StageContext {
 public:
  AccountAdjustmentContext(AccountId account_id, AccountGroupRegistry& groups, AccountBlockRegistry& blocks) noexcept
      : StageContext(account_id, groups), blocks_(&blocks) {}

  AccountBlockRegistry& account_control() const noexcept { return *blocks_; }

 private:
  AccountBlockRegistry* blocks_;
};

}  // namespace vantrel
