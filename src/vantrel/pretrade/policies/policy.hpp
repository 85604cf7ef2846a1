#pragma once
// The one interface every risk policy implements, built-in or Python. The
// engine knows a policy only through these six operations, called in the
// order the policies were added: name, policy_group_id, the start-stage
// check, the main-stage check, the post-trade hook and the account-adjustment
// hook. A policy that takes no part in a stage keeps that hook's default.
// Thread-safety: hooks may run on several host threads at once; a policy
// guards whatever it changes with its own locks or atomics.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "vantrel/core/account_adjustment.hpp"
#include "vantrel/core/account_block.hpp"
#include "vantrel/core/execution_report.hpp"
#include "vantrel/core/order.hpp"
#include "vantrel/core/outcome.hpp"
#include "vantrel/core/reject.hpp"
#include "vantrel/param/amount.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/pretrade/context.hpp"
#include "vantrel/core/inline_vector.hpp"
#include "vantrel/pretrade/mutations.hpp"

namespace vantrel {

// The rejects of a refused stage: never empty.
using Rejects = NonEmptyRejects;

// Appends `more` to `into`, keeping the order.
inline void append_rejects(Rejects& into, Rejects&& more) {
  for (Reject& r : std::move(more).take()) into.push_back(std::move(r));
}

// The first reject with scope account, if any.
inline const Reject* first_account_scoped(const Rejects& rejects) noexcept {
  for (const Reject& r : rejects)
    if (r.scope == RejectScope::Account) return &r;
  return nullptr;
}

// What a main-stage check contributes besides staged mutations: outcome
// entries and the prices it locked for the order. One price and two entries
// fit without an allocation.
struct PreTradeContribution {
  InlineVector<OutcomeEntryRecord, 2> entries;
  InlineVector<Price, 1> lock_prices;

  bool empty() const noexcept { return entries.empty() && lock_prices.empty(); }
};

// Result of the main-stage check: nothing, rejected, or a contribution.
class PreTradeCheck {
 public:
  PreTradeCheck() noexcept = default;  // nothing
  PreTradeCheck(Rejects rejects) : value_(std::move(rejects)) {}  // NOLINT: rejected
  // Contributes; a returned local is moved in once, not through a parameter.
  PreTradeCheck(PreTradeContribution&& c) noexcept : value_(std::move(c)) {}  // NOLINT
  PreTradeCheck(const PreTradeContribution& c) : value_(c) {}                 // NOLINT

  bool is_nothing() const noexcept { return std::holds_alternative<std::monostate>(value_); }
  Rejects* rejects() noexcept { return std::get_if<Rejects>(&value_); }
  PreTradeContribution* contribution() noexcept { return std::get_if<PreTradeContribution>(&value_); }

 private:
  std::variant<std::monostate, Rejects, PreTradeContribution> value_;
};

// Result of the post-trade hook when it has something to report.
struct PostTradeContribution {
  std::vector<AccountBlock> account_blocks;
  std::vector<AdjustmentOutcomeRecord> account_adjustments;
};

// Result of the account-adjustment hook: accepted with entries (possibly
// none), or rejected.
class AdjustmentCheck {
 public:
  AdjustmentCheck() noexcept = default;  // accepted, no entries
  AdjustmentCheck(std::vector<OutcomeEntryRecord> entries) : value_(std::move(entries)) {}  // NOLINT
  AdjustmentCheck(Rejects rejects) : value_(std::move(rejects)) {}  // NOLINT

  Rejects* rejects() noexcept { return std::get_if<Rejects>(&value_); }
  std::vector<OutcomeEntryRecord>* entries() noexcept { return std::get_if<std::vector<OutcomeEntryRecord>>(&value_); }

 private:
  std::variant<std::vector<OutcomeEntryRecord>, Rejects> value_;
};

class Policy {
 public:
  virtual ~Policy() = default;

  // Valid while the policy lives.
  virtual std::string_view name() const noexcept = 0;
  virtual std::uint16_t policy_group_id() const noexcept = 0;

  // nullopt: no objection.
  virtual std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const {
    (void)ctx, (void)order;
    return std::nullopt;
  }
  // Changes to the policy's state are staged into `mutations`, never made here.
  virtual PreTradeCheck perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord& order,
                                                Mutations& mutations) const {
    (void)ctx, (void)order, (void)mutations;
    return {};
  }
  // nullopt: nothing to report.
  virtual std::optional<PostTradeContribution> apply_execution_report(const PostTradeContext& ctx,
                                                                      const ExecutionReportRecord& report) const {
    (void)ctx, (void)report;
    return std::nullopt;
  }
  virtual AdjustmentCheck apply_account_adjustment(const AccountAdjustmentContext& ctx, AccountId account_id,
                                                   const AccountAdjustmentRecord& adjustment,
                                                   Mutations& mutations) const {
    (void)ctx, (void)account_id, (void)adjustment, (void)mutations;
    return {};
  }
};

// The engine's owning handle on a policy: forwards the six operations
// unchanged, adding no locking, copying or error handling.
class BoxedPolicy {
 public:
  explicit BoxedPolicy(std::unique_ptr<Policy> policy) noexcept : policy_(std::move(policy)) {}

  std::string_view name() const noexcept { return policy_->name(); }
  std::uint16_t policy_group_id() const noexcept { return policy_->policy_group_id(); }
  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const {
    return policy_->check_pre_trade_start(ctx, order);
  }
  PreTradeCheck perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord& order,
                                        Mutations& mutations) const {
    return policy_->perform_pre_trade_check(ctx, order, mutations);
  }
  std::optional<PostTradeContribution> apply_execution_report(const PostTradeContext& ctx,
                                                              const ExecutionReportRecord& report) const {
    return policy_->apply_execution_report(ctx, report);
  }
  AdjustmentCheck apply_account_adjustment(const AccountAdjustmentContext& ctx, AccountId account_id,
                                           const AccountAdjustmentRecord& adjustment, Mutations& mutations) const {
    return policy_->apply_account_adjustment(ctx, account_id, adjustment, mutations);
  }

  const Policy& policy() const noexcept { return *policy_; }

 private:
  std::unique_ptr<Policy> policy_;
};

// The reject of a policy that needs a field the record lacks:
// "failed to access required field '{label}'" / "failed to access field '{path}'".
Reject missing_field_reject(std::string_view policy, std::string_view label, std::string_view path);

}  // namespace vantrel
