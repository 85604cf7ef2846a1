#pragma once
// A scriptable policy and order builders shared by the engine tests.
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vantrel/pretrade/engine.hpp"

namespace vantrel::testing {

inline OrderRecord order_for(std::optional<std::uint64_t> account, Decimal quantity = Decimal::from_i64(1)) {
  OrderRecord order;
  order.operation.emplace();
  if (account) order.operation->account_id = AccountId{*account};
  order.operation->trade_amount = TradeAmount::of_quantity(Quantity{quantity});
  return order;
}

inline ExecutionReportRecord report_for(std::optional<std::uint64_t> account) {
  ExecutionReportRecord report;
  report.operation.emplace();
  if (account) report.operation->account_id = AccountId{*account};
  return report;
}

inline Reject reject_of(std::string policy, std::string reason, RejectScope scope = RejectScope::Order,
                        RejectCode code = RejectCode::Custom, std::uint64_t user_data = 0) {
  Reject r = Reject::with_scope(policy, scope, code, reason, reason + " details");
  r.user_data = user_data;
  return r;
}

inline OutcomeEntryRecord entry_of(const char* asset) {
  return OutcomeEntryRecord{*Asset::from_text(asset), std::nullopt, std::nullopt, std::nullopt};
}

// Shared log of what ran, in order, across policies and actions.
struct Trace {
  std::mutex mutex;
  std::vector<std::string> events;
  void add(std::string e) {
    std::lock_guard<std::mutex> g(mutex);
    events.push_back(std::move(e));
  }
};

// Each hook does what its std::function says; unset hooks keep the defaults.
class ScriptedPolicy : public Policy {
 public:
  ScriptedPolicy(std::string name, std::uint16_t group = 0) : name_(std::move(name)), group_(group) {}

  std::function<std::optional<Rejects>(const PreTradeContext&, const OrderRecord&)> on_start;
  std::function<PreTradeCheck(const PreTradeContext&, const OrderRecord&, Mutations&)> on_main;
  std::function<std::optional<PostTradeContribution>(const PostTradeContext&, const ExecutionReportRecord&)> on_report;
  std::function<AdjustmentCheck(const AccountAdjustmentContext&, AccountId, const AccountAdjustmentRecord&, Mutations&)>
      on_adjust;

  mutable std::atomic<int> start_calls{0}, main_calls{0}, report_calls{0}, adjust_calls{0}, group_calls{0};

  std::string_view name() const noexcept override { return name_; }
  std::uint16_t policy_group_id() const noexcept override {
    ++group_calls;
    return group_;
  }
  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override {
    ++start_calls;
    return on_start ? on_start(ctx, order) : Policy::check_pre_trade_start(ctx, order);
  }
  PreTradeCheck perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord& order,
                                        Mutations& m) const override {
    ++main_calls;
    return on_main ? on_main(ctx, order, m) : Policy::perform_pre_trade_check(ctx, order, m);
  }
  std::optional<PostTradeContribution> apply_execution_report(const PostTradeContext& ctx,
                                                              const ExecutionReportRecord& r) const override {
    ++report_calls;
    return on_report ? on_report(ctx, r) : Policy::apply_execution_report(ctx, r);
  }
  AdjustmentCheck apply_account_adjustment(const AccountAdjustmentContext& ctx, AccountId id,
                                           const AccountAdjustmentRecord& a, Mutations& m) const override {
    ++adjust_calls;
    return on_adjust ? on_adjust(ctx, id, a, m) : Policy::apply_account_adjustment(ctx, id, a, m);
  }

 private:
  std::string name_;
  std::uint16_t group_;
};

// The group ids of a lock's sections, in order, and one group's prices as integers.
inline std::vector<std::uint16_t> section_groups(const Lock& lock) {
  std::vector<std::uint16_t> out;
  for (const LockSection& section : lock.sections()) out.push_back(section.policy_group_id);
  return out;
}
inline std::vector<std::int64_t> prices_of(const Lock& lock, std::uint16_t group) {
  std::vector<std::int64_t> out;
  if (const LockPrices* prices = lock.prices_of(group))
    for (const Decimal& p : *prices) out.push_back(static_cast<std::int64_t>(p.lo64()));
  return out;
}

// Stages a pair that logs "commit <tag>" / "rollback <tag>".
inline void stage(Mutations& m, Trace& trace, std::string tag) {
  m.push([&trace, tag]() noexcept { trace.add("commit " + tag); },
         [&trace, tag]() noexcept { trace.add("rollback " + tag); });
}

// Builds an engine from policies the test keeps pointers to.
class EngineFixture {
 public:
  explicit EngineFixture(EngineSync sync = EngineSync::FullSync) : state_(sync) {}
  template <class P = ScriptedPolicy, class... A>
  P& add(A&&... args) {
    auto policy = std::make_unique<P>(std::forward<A>(args)...);
    P& ref = *policy;
    state_.append(std::move(policy));
    return ref;
  }
  std::shared_ptr<EngineCore> build() {
    BuildOutcome outcome = build_engine(std::move(state_));
    if (!outcome.engine) throw std::runtime_error(outcome.error);
    return outcome.engine;
  }

 private:
  EngineState state_;
};

}  // namespace vantrel::testing
