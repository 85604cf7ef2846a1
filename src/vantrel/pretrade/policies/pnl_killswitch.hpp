#pragma once
// PnlBoundsKillSwitchPolicy: keeps a running realized P&L per (account, settlement asset), fed
// by execution reports, and stops an account whose P&L leaves its bounds: the post-trade hook
// returns a block, the start check refuses the account's orders.
// Cells of account barriers are made with the policy and reached through the barrier. Cells of
// keys covered only by a broker barrier are made by the first report, in a sharded map whose
// shard locks are held for the lookup or insert only. Every cell is read whole (see PnlCell) and,
// in the locking modes, updated under its own sequence lock.
// Thread-safety: any number of threads may check and report at once.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "vantrel/core/account_block.hpp"
#include "vantrel/core/execution_report.hpp"
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

  // The two hooks themselves; the contexts play no part. At most one reject or block.
  std::optional<Reject> check_start(const OrderRecord& order) const;
  std::optional<AccountBlock> apply_report(const ExecutionReportRecord& report) const;

  // The running P&L of a key, if it has one (tests and diagnostics).
  std::optional<Decimal> running_pnl(std::uint64_t account_id, std::string_view settlement_asset) const;

 private:
  struct AccountEntry {
    AccountEntry(const PnlBounds& b, Decimal initial) : bounds(b), cell(initial) {}
    PnlBounds bounds;
    PnlCell cell;
  };
  struct alignas(64) Shard {
    explicit Shard(SyncMode mode) : lock(mode) {}
    mutable RwLock lock;
    std::unordered_map<AccountAssetKey, std::unique_ptr<PnlCell>, LimitKeyHash, LimitKeyEqual> cells;  // by lock
  };
  static constexpr std::size_t kShards = 16;

  const PnlBounds* broker_bounds(std::string_view asset) const noexcept;
  const AccountEntry* account_entry(AccountAssetView key) const noexcept;
  Shard& shard_for(AccountAssetView key) const noexcept;
  const PnlCell* find_cell(AccountAssetView key) const;
  PnlCell& find_or_insert_cell(AccountAssetView key) const;

  std::uint16_t policy_group_id_;
  bool locked_updates_;
  FrozenMap<std::string, PnlBounds, LimitKeyHash, LimitKeyEqual> broker_;
  FrozenMap<AccountAssetKey, std::unique_ptr<AccountEntry>, LimitKeyHash, LimitKeyEqual> accounts_;
  std::array<std::unique_ptr<Shard>, kShards> shards_;
};

}  // namespace vantrel
