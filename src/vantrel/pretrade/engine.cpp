#include "vantrel/pretrade/engine.hpp"

#include <string_view>
#include <unordered_set>

#include "vantrel/core/clock.hpp"

namespace vantrel {

SyncMode engine_lock_mode(EngineSync sync) noexcept {
  switch (sync) {
    case EngineSync::FullSync:
      return SyncMode::Full;
    case EngineSync::AccountSync:
      return SyncMode::Account;
    case EngineSync::NoSync:
      break;
  }
  return SyncMode::None;
}

SyncMode group_entry_lock_mode(EngineSync sync) noexcept {
  return sync == EngineSync::FullSync ? SyncMode::Full : SyncMode::None;
}

EngineState::EngineState(EngineSync sync_mode)
    : blocks(std::make_shared<AccountBlockRegistry>(engine_lock_mode(sync_mode))),
      groups(std::make_shared<AccountGroupRegistry>(engine_lock_mode(sync_mode), group_entry_lock_mode(sync_mode))),
      sync(sync_mode) {}

void EngineState::append(std::unique_ptr<Policy> policy) {
  policies.emplace_back(std::move(policy));
  has_policies = true;
}

BuildOutcome build_engine(EngineState state) {
  if (!state.has_policies) return {nullptr, "no policies registered"};
  {
    std::unordered_set<std::string_view> names;
    for (const BoxedPolicy& p : state.policies) {
      if (!names.insert(p.name()).second)
        return {nullptr, "duplicate policy name in engine configuration: " + std::string(p.name())};
    }
  }
  std::unordered_set<std::uint16_t> groups;
  for (const BoxedPolicy& p : state.policies) {
    const std::uint16_t id = p.policy_group_id();
    if (id != 0 && !groups.insert(id).second)
      return {nullptr, "duplicate non-default policy_group_id: " + std::to_string(id)};
  }
  return {std::make_shared<EngineCore>(std::move(state.policies), std::move(state.blocks), std::move(state.groups)),
          {}};
}

EngineCore::EngineCore(std::vector<BoxedPolicy> policies, std::shared_ptr<AccountBlockRegistry> blocks,
                       std::shared_ptr<AccountGroupRegistry> groups) noexcept
    : policies_(std::move(policies)), blocks_(std::move(blocks)), groups_(std::move(groups)) {}

Reject engine_gone_reject() {
  return Reject::make("Engine", RejectCode::SystemUnavailable, "engine is no longer available",
                     "request handle outlived engine instance");
}

void EngineCore::block_from_stage(const PreTradeContext& ctx, const Rejects& rejects) const {
  const Reject* first = first_account_scoped(rejects);
  if (first == nullptr) return;
  if (std::optional<AccountId> account = ctx.account_id())
    blocks_->record(*account, AccountBlock::from_reject(*first));
  else
    blocks_->record_accountless();
}

std::variant<Rejects, StartedOrder> EngineCore::start(OrderRecord order) const {
  const std::optional<AccountId> account =
      order.operation ? order.operation->account_id : std::optional<AccountId>();
  if (std::optional<Reject> blocked = blocks_->check(account)) return Rejects(std::move(*blocked));

  std::optional<Rejects> rejects;
  PreTradeContext ctx(account, *groups_, *blocks_);
  {
    CurrentInstantScope now(monotonic_now());
    for (const BoxedPolicy& policy : policies_) {
      std::optional<Rejects> found = policy.check_pre_trade_start(ctx, order);
      if (!found) continue;
      if (rejects)
        append_rejects(*rejects, std::move(*found));
      else
        rejects.emplace(std::move(*found));
    }
  }
  if (rejects) {
    block_from_stage(ctx, *rejects);
    return std::move(*rejects);
  }
  return StartedOrder{ctx, std::move(order)};
}

StartOutcome EngineCore::start_request(OrderRecord order) const {
  std::variant<Rejects, StartedOrder> outcome = start(std::move(order));
  if (Rejects* rejects = std::get_if<Rejects>(&outcome)) return std::move(*rejects);
  return RequestClosure{std::move(std::get<StartedOrder>(outcome)), weak_from_this()};
}

MainOutcome EngineCore::main_stage(StartedOrder& started) const {
  PreTradeContext& ctx = started.context;
  if (std::optional<Reject> blocked = blocks_->check(ctx.account_id())) return Rejects(std::move(*blocked));

  Mutations mutations;  // rolled back on its release if anything below throws
  Lock lock;
  ReservationOutcomes outcomes;
  std::optional<Rejects> rejects;
  for (const BoxedPolicy& policy : policies_) {
    PreTradeCheck check = policy.perform_pre_trade_check(ctx, started.order, mutations);
    if (Rejects* found = check.rejects()) {
      if (rejects)
        append_rejects(*rejects, std::move(*found));
      else
        rejects.emplace(std::move(*found));
    } else if (PreTradeContribution* contribution = check.contribution()) {
      if (rejects) continue;  // dropped anyway; nothing to file
      const std::uint16_t group = policy.policy_group_id();
      for (const Price& price : contribution->lock_prices) lock.push_price(group, price.value);
      for (OutcomeEntryRecord& entry : contribution->entries)
        outcomes.push_back(AdjustmentOutcomeRecord{std::move(entry), group});
    }
  }
  if (rejects) {
    block_from_stage(ctx, *rejects);
    mutations.rollback();
    return std::move(*rejects);
  }
  return CoreReservation(std::move(lock), std::move(outcomes), std::move(mutations));
}

MainOutcome EngineCore::execute(OrderRecord order) const {
  std::variant<Rejects, StartedOrder> started = start(std::move(order));
  if (Rejects* rejects = std::get_if<Rejects>(&started)) return std::move(*rejects);
  return main_stage(std::get<StartedOrder>(started));
}

MainOutcome run_request(RequestClosure closure) {
  std::shared_ptr<const EngineCore> engine = closure.engine.lock();
  if (!engine) return Rejects(engine_gone_reject());
  return engine->main_stage(closure.started);
}

PostTradeOutcome EngineCore::apply_execution_report(const ExecutionReportRecord& report) const {
  const std::optional<AccountId> account =
      report.operation ? report.operation->account_id : std::optional<AccountId>();
  PostTradeContext ctx(account, *groups_);
  PostTradeOutcome outcome;
  for (const BoxedPolicy& policy : policies_) {
    std::optional<PostTradeContribution> contribution = policy.apply_execution_report(ctx, report);
    if (!contribution) continue;
    for (AccountBlock& block : contribution->account_blocks) outcome.account_blocks.push_back(std::move(block));
    for (AdjustmentOutcomeRecord& entry : contribution->account_adjustments)
      outcome.account_adjustments.push_back(std::move(entry));
  }
  if (!outcome.account_blocks.empty()) {
    // The first block is recorded with its own code; later ones are only reported.
    if (account)
      blocks_->record(*account, outcome.account_blocks.front());
    else
      blocks_->record_accountless();
  }
  return outcome;
}

AdjustmentBatchOutcome EngineCore::apply_account_adjustment(AccountId account_id,
                                                            std::span<const AccountAdjustmentRecord> adjustments) const {
  AdjustmentBatchOutcome outcome;
  if (adjustments.empty()) return outcome;
  AccountAdjustmentContext ctx(account_id, *groups_, *blocks_);
  Mutations mutations;  // rolled back on its release if anything below throws
  for (std::size_t i = 0; i < adjustments.size(); ++i) {
    for (const BoxedPolicy& policy : policies_) {
      AdjustmentCheck check = policy.apply_account_adjustment(ctx, account_id, adjustments[i], mutations);
      if (Rejects* rejects = check.rejects()) {
        // Rejects here never block, whatever their scope.
        mutations.rollback();
        outcome.outcomes.clear();
        outcome.failed_index = i;
        outcome.rejects.emplace(std::move(*rejects));
        return outcome;
      }
      std::vector<OutcomeEntryRecord>& entries = *check.entries();
      if (entries.empty()) continue;
      const std::uint16_t group = policy.policy_group_id();
      for (OutcomeEntryRecord& entry : entries) outcome.outcomes.push_back(AdjustmentOutcomeRecord{std::move(entry), group});
    }
  }
  mutations.commit();
  return outcome;
}

}  // namespace vantrel
