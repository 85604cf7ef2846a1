#include "vantrel/pretrade/policies/pnl_killswitch.hpp"

namespace vantrel {

namespace {

AccountBlock block(RejectCode code, std::string reason, std::string details) {
  return AccountBlock{std::string(PnlBoundsKillSwitchPolicy::kName), std::move(reason), std::move(details), 0, code};
}

AccountBlock missing_field_block(std::string_view label, std::string_view path) {
  Reject r = missing_field_reject(PnlBoundsKillSwitchPolicy::kName, label, path);
  return block(RejectCode::MissingRequiredField, std::move(r.reason), std::move(r.details));
}

}  // namespace

PnlBoundsKillSwitchPolicy::PnlBoundsKillSwitchPolicy(const PnlKillSwitchConfig& config, SyncMode mode)
    : policy_group_id_(config.policy_group_id), locked_updates_(mode != SyncMode::None) {
  FrozenMapBuilder<std::string, PnlBounds, LimitKeyHash, LimitKeyEqual> broker;
  for (const PnlBrokerBarrier& b : config.broker_barriers) broker.put(b.settlement_asset, b.bounds);
  broker_ = std::move(broker).freeze();
  FrozenMapBuilder<AccountAssetKey, const PnlAccountBarrier*, LimitKeyHash, LimitKeyEqual> accounts;
  for (const PnlAccountBarrier& b : config.account_barriers)
    accounts.put(AccountAssetKey{b.account_id, b.settlement_asset}, &b);
  std::vector<std::pair<AccountAssetKey, std::unique_ptr<AccountEntry>>> entries;
  for (auto& [key, b] : std::move(accounts).entries())
    entries.emplace_back(std::move(key), std::make_unique<AccountEntry>(b->bounds, b->initial_pnl));
  accounts_ = decltype(accounts_)(std::move(entries));
  for (std::unique_ptr<Shard>& shard : shards_) shard = std::make_unique<Shard>(mode);
}

const PnlBounds* PnlBoundsKillSwitchPolicy::broker_bounds(std::string_view asset) const noexcept {
  return broker_.find(asset);
}

const PnlBoundsKillSwitchPolicy::AccountEntry* PnlBoundsKillSwitchPolicy::account_entry(
    AccountAssetView key) const noexcept {
  const std::unique_ptr<AccountEntry>* entry = accounts_.find(key);
  return entry == nullptr ? nullptr : entry->get();
}

PnlBoundsKillSwitchPolicy::Shard& PnlBoundsKillSwitchPolicy::shard_for(AccountAssetView key) const noexcept {
  return *shards_[(LimitKeyHash{}(key) >> 7) % kShards];
}

const PnlCell* PnlBoundsKillSwitchPolicy::find_cell(AccountAssetView key) const {
  Shard& shard = shard_for(key);
  SharedGuard guard(shard.lock);
  const auto it = shard.cells.find(key);
  // Cells are never removed and each has its own allocation: the pointer outlives the lock.
  return it == shard.cells.end() ? nullptr : it->second.get();
}

PnlCell& PnlBoundsKillSwitchPolicy::find_or_insert_cell(AccountAssetView key) const {
  if (const PnlCell* cell = find_cell(key)) return const_cast<PnlCell&>(*cell);
  // The shared lock is gone before the write lock is taken (no upgrade); look again under it.
  Shard& shard = shard_for(key);
  std::unique_ptr<PnlCell> fresh = std::make_unique<PnlCell>();
  ExclusiveGuard guard(shard.lock);
  auto it = shard.cells.find(key);
  if (it == shard.cells.end())
    it = shard.cells.emplace(AccountAssetKey{key.account_id, std::string(key.asset)}, std::move(fresh)).first;
  return *it->second;
}

std::optional<Decimal> PnlBoundsKillSwitchPolicy::running_pnl(std::uint64_t account_id,
                                                               std::string_view settlement_asset) const {
  const AccountAssetView key{account_id, settlement_asset};
  if (const AccountEntry* entry = account_entry(key)) return entry->cell.load();
  if (const PnlCell* cell = find_cell(key)) return cell->load();
  return std::nullopt;
}

std::optional<Rejects> PnlBoundsKillSwitchPolicy::check_pre_trade_start(const PreTradeContext&,
                                                                       const OrderRecord& order) const {
  std::optional<Reject> r = check_start(order);
  if (!r) return std::nullopt;
  return Rejects(std::move(*r));
}

std::optional<PostTradeContribution> PnlBoundsKillSwitchPolicy::apply_execution_report(
    const PostTradeContext&, const ExecutionReportRecord& report) const {
  std::optional<AccountBlock> b = apply_report(report);
  if (!b) return std::nullopt;
  PostTradeContribution c;
  c.account_blocks.push_back(std::move(*b));
  return c;
}

std::optional<Reject> PnlBoundsKillSwitchPolicy::check_start(const OrderRecord& order) const {
  const OrderRecord::Operation* op = order.operation ? &*order.operation : nullptr;
  if (op == nullptr || !op->instrument) return missing_field_reject(kName, "instrument", "operation.instrument");
  if (!op->account_id) return missing_field_reject(kName, "account ID", "operation.account_id");

  const std::string& asset = op->instrument->settlement_asset.name();
  const AccountAssetView key{op->account_id->value, asset};
  const std::uint64_t fnv = fnv1a_64(asset);
  const PnlBounds* broker = broker_.find_hashed(std::string_view(asset), LimitKeyHash::of_asset(fnv));
  const std::unique_ptr<AccountEntry>* entry =
      accounts_.find_hashed(key, LimitKeyHash::of_account_asset(key.account_id, fnv));
  const AccountEntry* account = entry != nullptr ? entry->get() : nullptr;
  if (broker == nullptr && account == nullptr) return std::nullopt;

  Decimal pnl;
  if (account != nullptr) {
    pnl = account->cell.load();
  } else if (const PnlCell* cell = find_cell(key)) {
    pnl = cell->load();
  }

  const char* reason = nullptr;
  const PnlBounds* breached = nullptr;
  std::string_view words;
  if (broker != nullptr && !(words = broker->breached(pnl)).empty()) {
    reason = "pnl kill switch triggered: broker barrier";
    breached = broker;
  } else if (account != nullptr && !(words = account->bounds.breached(pnl)).empty()) {
    reason = "pnl kill switch triggered: account + asset barrier";
    breached = &account->bounds;
  } else {
    return std::nullopt;
  }
  return Reject::with_scope(kName, RejectScope::Account, RejectCode::PnlKillSwitchTriggered, reason,
                            pnl_breach_details(words, pnl, *breached, asset, key.account_id));
}

std::optional<AccountBlock> PnlBoundsKillSwitchPolicy::apply_report(const ExecutionReportRecord& report) const {
  const ExecutionReportRecord::Operation* op = report.operation ? &*report.operation : nullptr;
  if (op == nullptr || !op->instrument) return missing_field_block("instrument", "operation.instrument");
  if (!op->account_id) return missing_field_block("account ID", "operation.account_id");
  // The record keeps pnl and fee together: a report has both or neither.
  if (!report.financial_impact) return missing_field_block("P&L", "financial_impact.pnl");

  const std::string& asset = op->instrument->settlement_asset.name();
  const AccountAssetView key{op->account_id->value, asset};
  const PnlBounds* broker = broker_bounds(asset);
  const AccountEntry* account = account_entry(key);
  if (broker == nullptr && account == nullptr) return std::nullopt;

  const Decimal pnl = report.financial_impact->pnl.value;
  const Decimal fee = report.financial_impact->fee.value;
  const std::optional<Decimal> increment = pnl.checked_sub(fee);
  if (!increment)
    return block(RejectCode::OrderValueCalculationFailed, "pnl accumulation overflow",
                 pnl_increment_overflow_details(pnl, fee, asset, key.account_id));

  PnlCell& cell = account != nullptr ? const_cast<PnlCell&>(account->cell) : find_or_insert_cell(key);
  std::optional<Decimal> updated;
  const Decimal previous = cell.update(locked_updates_, [&](Decimal p) {
    updated = p.checked_add(*increment);
    return updated;
  });
  if (!updated)
    return block(RejectCode::OrderValueCalculationFailed, "pnl accumulation overflow",
                 pnl_accumulation_overflow_details(previous, *increment, asset, key.account_id));

  const bool breach = (broker != nullptr && !broker->breached(*updated).empty()) ||
                      (account != nullptr && !account->bounds.breached(*updated).empty());
  if (!breach) return std::nullopt;
  return block(RejectCode::PnlKillSwitchTriggered, "pnl kill switch triggered",
               pnl_block_details(*updated, asset, key.account_id));
}

}  // namespace vantrel
