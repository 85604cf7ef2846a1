#pragma once
// RateLimitPolicy: caps how many orders enter the start stage within a window.
// Broker and asset barriers count in lock-free fixed windows. Account and account+asset
// barriers keep sliding logs of order instants, one per configured key, created with the
// policy so the tables never change shape and need no lock; each log has its own lock (no-op
// under no_sync), so even a host that breaks account_sync's one-thread-per-account promise
// sees wrong counts at worst, never a corrupted log. A log, its barrier and its lock share one
// entry of a flat table (64 bytes for an account's log), so an order's count touches one line
// until the log outgrows its inline room.
// Thread-safety: any number of threads may check at once.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "vantrel/core/clock.hpp"
#include "vantrel/core/flat_table.hpp"
#include "vantrel/core/placement.hpp"
#include "vantrel/core/order.hpp"
#include "vantrel/core/reject.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/pretrade/policies/fixed_window.hpp"
#include "vantrel/pretrade/policies/frozen_map.hpp"
#include "vantrel/pretrade/policies/limit_keys.hpp"
#include "vantrel/pretrade/policies/policy.hpp"
#include "vantrel/pretrade/policies/rate_limit_config.hpp"
#include "vantrel/pretrade/policies/timestamp_log.hpp"

namespace vantrel {

class RateLimitPolicy final : public Policy {
 public:
  static constexpr std::string_view kName = "RateLimitPolicy";

  // Precondition: rate_limit_config_error(config) is nullopt. `created` is the instant fixed
  // windows count from; `mode` guards the logs.
  RateLimitPolicy(const RateLimitConfig& config, Instant created, SyncMode mode);

  std::string_view name() const noexcept override { return kName; }
  std::uint16_t policy_group_id() const noexcept override { return policy_group_id_; }
  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override;

  // Counts the order in every barrier that applies and returns the reject of the first one
  // exceeded (broker, asset, account, account+asset). Reads the start stage's instant, or the
  // clock when no stage has published one. Without a stage.
  std::optional<Reject> check_start(const OrderRecord& order) const { return start_check(nullptr, order); }

 private:
  friend struct LimitPolicyProbe;  // tests: the cells a key's lookup reads

  // `stage`, when given, keeps the settlement name's hash for the order's other policies.
  std::optional<Reject> start_check(const StageContext* stage, const OrderRecord& order) const;

  // One log with its barrier; a free cell has a zero window (a configured window never is).
  struct OrderLog {
    OrderLog() noexcept = default;
    OrderLog(std::uint64_t account, RateBarrier b, SyncMode mode) noexcept : account(account), barrier(b), lock(mode) {}
    // Moved only while the tables are built, before any thread counts.
    OrderLog(OrderLog&& other) noexcept
        : account(other.account), barrier(other.barrier), lock(other.lock.mode()), log(std::move(other.log)) {}
    OrderLog& operator=(OrderLog&& other) noexcept {
      account = other.account;
      barrier = other.barrier;
      std::destroy_at(&lock);
      std::construct_at(&lock, other.lock.mode());
      log = std::move(other.log);
      return *this;
    }

    std::uint64_t account = 0;
    RateBarrier barrier;
    mutable RwLock lock{SyncMode::None};
    mutable TimestampLog log;  // guarded by `lock`
  };
  static_assert(sizeof(OrderLog) <= 64, "an account's log fits one cache line");
  struct AssetOrderLog : OrderLog {
    AssetOrderLog() noexcept = default;
    AssetOrderLog(std::uint64_t account, std::uint32_t asset, RateBarrier b, SyncMode mode) noexcept
        : OrderLog(account, b, mode), asset(asset) {}
    std::uint32_t asset = 0;  // index into asset_names_
  };
  struct LogTraits {
    static bool used(const OrderLog& e) noexcept { return e.barrier.window_ns != 0; }
    static std::uint64_t hash(std::uint64_t account, const PlacementKey& s) noexcept { return placement_hash(account, s); }
    static std::uint64_t hash(const OrderLog& e, const PlacementKey& s) noexcept { return placement_hash(e.account, s); }
    static bool matches(const OrderLog& e, std::uint64_t account) noexcept { return e.account == account; }
    static std::uint64_t hash(AccountAsset k, const PlacementKey& s) noexcept { return placement_hash(k, s); }
    static std::uint64_t hash(const AssetOrderLog& e, const PlacementKey& s) noexcept {
      return placement_hash(AccountAsset{e.account, e.asset}, s);
    }
    static bool matches(const AssetOrderLog& e, AccountAsset k) noexcept {
      return e.account == k.account && e.asset == k.asset;
    }
  };

  std::uint16_t policy_group_id_;
  Instant created_;
  std::unique_ptr<FixedWindow> broker_;
  FrozenMap<std::string, std::unique_ptr<FixedWindow>, LimitKeyHash, LimitKeyEqual> asset_windows_;
  FlatTable<OrderLog, LogTraits> account_logs_;
  // The assets of account+asset barriers, numbered from 1 for their table's keys.
  FrozenMap<std::string, std::uint32_t, LimitKeyHash, LimitKeyEqual> asset_numbers_;
  FlatTable<AssetOrderLog, LogTraits> account_asset_logs_;
};

}  // namespace vantrel
