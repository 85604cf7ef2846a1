#include "vantrel/pretrade/policies/pnl_killswitch.hpp"

#include <map>

#include "vantrel/pretrade/policies/asset_numbers.hpp"

namespace vantrel {

namespace {

AccountBlock block(RejectCode code, std::string reason, std::string details) {
  return AccountBlock{std::string(PnlBoundsKillSwitchPolicy::kName), std::move(reason), std::move(details), 0, code};
}

AccountBlock missing_field_block(std::string_view label, std::string_view path) {
  Reject r = missing_field_reject(PnlBoundsKillSwitchPolicy::kName, label, path);
  return block(RejectCode::MissingRequiredField, r.reason.str(), std::move(r.details));
}

// Bit for bit, so that bounds written differently (1.0 and 1.00) keep their own texts.
using BoundsBits = std::array<std::uint64_t, 6>;
BoundsBits bits_of(const PnlBounds& b) noexcept {
  auto half = [](const std::optional<Decimal>& d, std::uint64_t* out) {
    if (!d) return;
    const DecimalWords words = DecimalWords::of(*d);
    out[0] = words.lo;
    out[1] = words.hi | (std::uint64_t{1} << 41);  // a bound that is there, even 0, differs from none
  };
  BoundsBits bits{};
  half(b.lower, &bits[0]);
  half(b.upper, &bits[2]);
  return bits;
}

}  // namespace

PnlBoundsKillSwitchPolicy::PnlBoundsKillSwitchPolicy(const PnlKillSwitchConfig& config, SyncMode mode)
    : policy_group_id_(config.policy_group_id), locked_updates_(mode != SyncMode::None) {
  // A later barrier for a key replaces the earlier one.
  AssetNumbering numbering;
  std::vector<std::optional<PnlBounds>> broker_bounds;  // by asset number
  for (const PnlBrokerBarrier& b : config.broker_barriers) {
    const std::uint32_t number = numbering.number(b.settlement_asset);
    if (number >= broker_bounds.size()) broker_bounds.resize(number + 1);
    broker_bounds[number] = b.bounds;
  }
  FrozenMapBuilder<AccountAssetKey, const PnlAccountBarrier*, LimitKeyHash, LimitKeyEqual> accounts;
  for (const PnlAccountBarrier& b : config.account_barriers) {
    numbering.number(b.settlement_asset);
    accounts.put(AccountAssetKey{b.account_id, b.settlement_asset}, &b);
  }
  std::vector<std::pair<std::string, AssetInfo>> by_name;
  for (auto& [name, number] : std::move(numbering).entries())
    by_name.emplace_back(std::move(name),
                         AssetInfo{number, number < broker_bounds.size() ? broker_bounds[number] : std::nullopt});
  assets_ = decltype(assets_)(std::move(by_name));

  std::map<BoundsBits, std::uint32_t> bounds_index;
  const auto entries = std::move(accounts).entries();
  accounts_.reserve_more(entries.size());
  for (const auto& [key, b] : entries) {
    const auto [it, fresh] = bounds_index.try_emplace(bits_of(b->bounds), static_cast<std::uint32_t>(bounds_.size()));
    if (fresh) bounds_.push_back(b->bounds);
    accounts_.insert_new(AccountEntry(key.account_id, assets_.find(key.asset)->number, it->second, b->initial_pnl));
  }
  for (std::unique_ptr<Shard>& shard : shards_) shard = std::make_unique<Shard>(mode);
}

PnlBoundsKillSwitchPolicy::Shard& PnlBoundsKillSwitchPolicy::shard_for(AccountAsset key) const noexcept {
  // The low bits under the process's key for shards; each table places keys by a key of its own.
  return *shards_[placement_hash(key, secret_) % kShards];
}

Decimal PnlBoundsKillSwitchPolicy::broker_only_pnl(AccountAsset key) const {
  Shard& shard = shard_for(key);
  SharedGuard guard(shard.lock);
  const AccountEntry* entry = shard.cells.find(key);
  return entry == nullptr ? Decimal() : entry->cell.load();
}

template <class Step>
Decimal PnlBoundsKillSwitchPolicy::update_broker_only(AccountAsset key, Step&& step) const {
  Shard& shard = shard_for(key);
  {
    SharedGuard guard(shard.lock);
    if (AccountEntry* entry = shard.cells.find(key)) return entry->cell.update(locked_updates_, step);
  }
  // The shared lock is gone before the write lock is taken (no upgrade); look again under it.
  ExclusiveGuard guard(shard.lock);
  AccountEntry& entry = shard.cells.find_or_insert(key, [&] { return AccountEntry(key.account, key.asset, 0, Decimal()); });
  return entry.cell.update(locked_updates_, step);
}

std::optional<Decimal> PnlBoundsKillSwitchPolicy::running_pnl(std::uint64_t account_id,
                                                               std::string_view settlement_asset) const {
  const AssetInfo* info = asset_info(settlement_asset);
  if (info == nullptr) return std::nullopt;
  const AccountAsset key{account_id, info->number};
  if (const AccountEntry* entry = account_entry(key)) return entry->cell.load();
  Shard& shard = shard_for(key);
  SharedGuard guard(shard.lock);
  if (const AccountEntry* cell = shard.cells.find(key)) return cell->cell.load();
  return std::nullopt;
}

std::optional<Rejects> PnlBoundsKillSwitchPolicy::check_pre_trade_start(const PreTradeContext& ctx,
                                                                       const OrderRecord& order) const {
  std::optional<Reject> r = start_check(&ctx, order);
  if (!r) return std::nullopt;
  return Rejects(std::move(*r));
}

std::optional<PostTradeContribution> PnlBoundsKillSwitchPolicy::apply_execution_report(
    const PostTradeContext& ctx, const ExecutionReportRecord& report) const {
  std::optional<AccountBlock> b = report_step(&ctx, report);
  if (!b) return std::nullopt;
  PostTradeContribution c;
  c.account_blocks.push_back(std::move(*b));
  return c;
}

std::optional<Reject> PnlBoundsKillSwitchPolicy::start_check(const StageContext* stage,
                                                             const OrderRecord& order) const {
  const OrderRecord::Operation* op = order.operation ? &*order.operation : nullptr;
  if (op == nullptr || !op->instrument) return missing_field_reject(kName, "instrument", "operation.instrument");
  if (!op->account_id) return missing_field_reject(kName, "account ID", "operation.account_id");

  const std::string& asset = op->instrument->settlement_asset.name();
  const AssetInfo* info = asset_info(asset, stage);
  if (info == nullptr) return std::nullopt;
  const AccountAsset key{op->account_id->value, info->number};
  const PnlBounds* broker = info->broker ? &*info->broker : nullptr;
  const AccountEntry* account = account_entry(key);
  if (broker == nullptr && account == nullptr) return std::nullopt;

  const Decimal pnl = account != nullptr ? account->cell.load() : broker_only_pnl(key);
  const PnlBounds* account_bounds = account != nullptr ? &bounds_[account->bounds] : nullptr;

  const char* reason = nullptr;
  const PnlBounds* breached = nullptr;
  std::string_view words;
  if (broker != nullptr && !(words = broker->breached(pnl)).empty()) {
    reason = "pnl kill switch triggered: broker barrier";
    breached = broker;
  } else if (account_bounds != nullptr && !(words = account_bounds->breached(pnl)).empty()) {
    reason = "pnl kill switch triggered: account + asset barrier";
    breached = account_bounds;
  } else {
    return std::nullopt;
  }
  return Reject::fixed(kName, RejectScope::Account, RejectCode::PnlKillSwitchTriggered, reason,
                            pnl_breach_details(words, pnl, *breached, asset, key.account));
}

std::optional<AccountBlock> PnlBoundsKillSwitchPolicy::report_step(const StageContext* stage,
                                                                   const ExecutionReportRecord& report) const {
  const ExecutionReportRecord::Operation* op = report.operation ? &*report.operation : nullptr;
  if (op == nullptr || !op->instrument) return missing_field_block("instrument", "operation.instrument");
  if (!op->account_id) return missing_field_block("account ID", "operation.account_id");
  // The record keeps pnl and fee together: a report has both or neither.
  if (!report.financial_impact) return missing_field_block("P&L", "financial_impact.pnl");

  const std::string& asset = op->instrument->settlement_asset.name();
  const AssetInfo* info = asset_info(asset, stage);
  if (info == nullptr) return std::nullopt;
  const AccountAsset key{op->account_id->value, info->number};
  const PnlBounds* broker = info->broker ? &*info->broker : nullptr;
  const AccountEntry* account = account_entry(key);
  if (broker == nullptr && account == nullptr) return std::nullopt;

  const Decimal pnl = report.financial_impact->pnl.value;
  const Decimal fee = report.financial_impact->fee.value;
  const std::optional<Decimal> increment = pnl.checked_sub(fee);
  if (!increment)
    return block(RejectCode::OrderValueCalculationFailed, "pnl accumulation overflow",
                 pnl_increment_overflow_details(pnl, fee, asset, key.account));

  std::optional<Decimal> updated;
  auto step = [&](Decimal p) {
    updated = p.checked_add(*increment);
    return updated;
  };
  const Decimal previous = account != nullptr ? const_cast<PnlCell&>(account->cell).update(locked_updates_, step)
                                              : update_broker_only(key, step);
  if (!updated)
    return block(RejectCode::OrderValueCalculationFailed, "pnl accumulation overflow",
                 pnl_accumulation_overflow_details(previous, *increment, asset, key.account));

  const bool breach = (broker != nullptr && !broker->breached(*updated).empty()) ||
                      (account != nullptr && !bounds_[account->bounds].breached(*updated).empty());
  if (!breach) return std::nullopt;
  return block(RejectCode::PnlKillSwitchTriggered, "pnl kill switch triggered",
               pnl_block_details(*updated, asset, key.account));
}

}  // namespace vantrel
