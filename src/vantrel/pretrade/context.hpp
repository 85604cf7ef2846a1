#pragma once
// What the engine hands every policy hook besides the record itself: the
// account concerned, its account group (asked of the registry at most once
// per stage) and, where the stage offers one, the block registry that backs
// an account control.
// Not thread-safe: one context belongs to one stage on one thread.
#include <cstdint>
#include <optional>

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

 private:
  std::optional<AccountId> account_id_;
  AccountGroupRegistry* groups_;
  mutable AccountGroupCell group_;
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
