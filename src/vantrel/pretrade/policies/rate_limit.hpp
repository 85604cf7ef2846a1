#pragma once
// RateLimitPolicy: caps how many orders enter the start stage within a window.
// Broker and asset barriers count in lock-free fixed windows. Account and account+asset
// barriers keep sliding logs of order instants, one per configured key, created with the
// policy so the maps never change shape and need no lock; each log has its own lock (no-op
// under no_sync), so even a host that breaks account_sync's one-thread-per-account promise
// sees wrong counts at worst, never a corrupted log.
// Thread-safety: any number of threads may check at once.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "vantrel/core/clock.hpp"
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
  // clock when no stage has published one.
  std::optional<Reject> check_start(const OrderRecord& order) const;

 private:
  struct alignas(64) OrderLog {
    OrderLog(RateBarrier b, SyncMode mode) : barrier(b), lock(mode) {}
    RateBarrier barrier;
    mutable RwLock lock;
    mutable TimestampLog log;  // guarded by `lock`
  };

  std::uint16_t policy_group_id_;
  Instant created_;
  std::unique_ptr<FixedWindow> broker_;
  FrozenMap<std::string, std::unique_ptr<FixedWindow>, LimitKeyHash, LimitKeyEqual> asset_windows_;
  FrozenMap<std::uint64_t, std::unique_ptr<OrderLog>, AccountIdHash, std::equal_to<>> account_logs_;
  FrozenMap<AccountAssetKey, std::unique_ptr<OrderLog>, LimitKeyHash, LimitKeyEqual> account_asset_logs_;
};

}  // namespace vantrel
