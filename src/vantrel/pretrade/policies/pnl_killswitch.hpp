#pragma once
// PnlBoundsKillSwitchPolicy: keeps a running realized P&L per (account, settlement asset), fed
// by execution reports, and stops an account whose P&L leaves its bounds: the post-trade hook
// returns a block, the start check refuses the account's orders.
// Cells of account barriers are made with the policy, in one flat table of 40-byte entries (key,
// cell, and the index of the barrier's bounds). Cells of keys covered only by a broker barrier are
// made by the first report, in a sharded table whose shard lock is held, shared, while a cell is
// read or updated, and exclusively to insert. Every cell is read whole (see PnlCell) and, in the
// locking modes, updated under its own sequence lock.
// Thread-safety: any number of threads may check and report at once.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel/core/account_block.hpp"
#include "vantrel/core/execution_report.hpp"
#include "vantrel/core/flat_table.hpp"
#include "vantrel/core/placement.hpp"
#include "vantrel/core/order.hpp"
#include "vantrel/core/reject.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/pretrade/policies/frozen_map.hpp"
#include "vantrel/pretrade/policies/limit_keys.hpp"
#include "vantrel/pretrade/policies/pnl_bounds.hpp"
#include "vantrel/pretrade/policies/pnl_cell.hpp"
#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel {

class PnlBoundsKillSwitchPolicy final : public Policy {
 public:
  static constexpr std::string_view kName = "PnlBoundsKillSwitchPolicy";

  // Precondition: pnl_killswitch_config_error(config) is nullopt.
  PnlBoundsKillSwitchPolicy(const PnlKillSwitchConfig& config, SyncMode mode);

  std::string_view name() const noexcept override { return kName; }
  std::uint16_t policy_group_id() const noexcept override { return policy_group_id_; }
  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override;
  std::optional<PostTradeContribution> apply_execution_report(const PostTradeContext& ctx,
                                                              const ExecutionReportRecord& report) const override;

  // The two hooks themselves, without a stage. At most one reject or block.
  std::optional<Reject> check_start(const OrderRecord& order) const { return start_check(nullptr, order); }
  std::optional<AccountBlock> apply_report(const ExecutionReportRecord& report) const {
    return report_step(nullptr, report);
  }

  // The running P&L of a key, if it has one (tests and diagnostics).
  std::optional<Decimal> running_pnl(std::uint64_t account_id, std::string_view settlement_asset) const;

 private:
  friend struct LimitPolicyProbe;  // tests: the cells a key's lookup reads

  // Every settlement asset the configuration names has a number from 1; keys
  // of the cell tables are (account, number), so no entry holds a name.
  struct AssetInfo {
    std::uint32_t number = 0;
    std::optional<PnlBounds> broker;
  };
  // An account barrier's cell; its bounds sit in `bounds_`, shared by every
  // barrier with the same two bounds. Number 0 marks a free cell.
  struct AccountEntry {
    AccountEntry() noexcept = default;
    AccountEntry(std::uint64_t account, std::uint32_t asset, std::uint32_t bounds, Decimal initial) noexcept
        : account(account), asset(asset), bounds(bounds), cell(initial) {}
    // Moved only while the policy is built or under its shard's write lock.
    AccountEntry(AccountEntry&& other) noexcept
        : account(other.account), asset(other.asset), bounds(other.bounds), cell(other.cell.load()) {}
    AccountEntry& operator=(AccountEntry&& other) noexcept {
      account = other.account;
      asset = other.asset;
      bounds = other.bounds;
      std::destroy_at(&cell);
      std::construct_at(&cell, other.cell.load());
      return *this;
    }
    std::uint64_t account = 0;
    std::uint32_t asset = 0;
    std::uint32_t bounds = 0;  // index into bounds_; unused in broker-only cells
    PnlCell cell;
  };
  struct EntryTraits {
    static bool used(const AccountEntry& e) noexcept { return e.asset != 0; }
    static std::uint64_t hash(AccountAsset k, const PlacementKey& secret) noexcept { return placement_hash(k, secret); }
    static std::uint64_t hash(const AccountEntry& e, const PlacementKey& secret) noexcept {
      return placement_hash(AccountAsset{e.account, e.asset}, secret);
    }
    static bool matches(const AccountEntry& e, AccountAsset k) noexcept {
      return e.account == k.account && e.asset == k.asset;
    }
  };
  using CellTable = FlatTable<AccountEntry, EntryTraits>;
  // Cells of keys that only a broker barrier covers, made by their first report.
  struct alignas(64) Shard {
    explicit Shard(SyncMode mode) : lock(mode) {}
    mutable RwLock lock;
    CellTable cells;  // guarded by `lock`; a cell is read or updated under it (cells move on insert)
  };
  static constexpr std::size_t kShards = 16;

  // `stage`, when given, keeps the settlement name's hash for the record's other policies.
  std::optional<Reject> start_check(const StageContext* stage, const OrderRecord& order) const;
  std::optional<AccountBlock> report_step(const StageContext* stage, const ExecutionReportRecord& report) const;
  const AssetInfo* asset_info(std::string_view asset, const StageContext* stage = nullptr) const noexcept {
    if (stage == nullptr || assets_.empty()) return assets_.find(asset);
    return assets_.find_hashed(asset, stage->settlement_name_hash(asset, assets_.hasher()));
  }
  const AccountEntry* account_entry(AccountAsset key) const noexcept { return accounts_.find(key); }
  Shard& shard_for(AccountAsset key) const noexcept;
  // The running P&L of a broker-only key; zero before its first report.
  Decimal broker_only_pnl(AccountAsset key) const;
  // Applies `step` to the broker-only key's cell, made when absent; the previous value.
  template <class Step>
  Decimal update_broker_only(AccountAsset key, Step&& step) const;

  std::uint16_t policy_group_id_;
  bool locked_updates_;
  FrozenMap<std::string, AssetInfo, LimitKeyHash, LimitKeyEqual> assets_;
  std::vector<PnlBounds> bounds_;
  CellTable accounts_;
  PlacementKey secret_ = placement_secret(SecretUse::shards);  // picks a key's shard; beside the shard pointers
  std::array<std::unique_ptr<Shard>, kShards> shards_;
};

}  // namespace vantrel
