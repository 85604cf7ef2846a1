#pragma once
// OrderSizeLimitPolicy: refuses at the start stage an order whose quantity or notional is above
// its limit. Limits: one broker-wide, per settlement asset, per account and settlement asset
// (which replaces the asset limit for that account). Immutable after construction, so any
// number of threads may check at once without a lock.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "vantrel/core/order.hpp"
#include "vantrel/core/reject.hpp"
#include "vantrel/pretrade/policies/frozen_map.hpp"
#include "vantrel/pretrade/policies/limit_keys.hpp"
#include "vantrel/pretrade/policies/order_size.hpp"
#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel {

struct AssetSizeLimit {
  OrderSizeLimit limit;
  std::string asset;
};
struct AccountAssetSizeLimit {
  OrderSizeLimit limit;
  std::uint64_t account_id = 0;
  std::string asset;
};

struct OrderSizeLimitConfig {
  std::uint16_t policy_group_id = 0;
  std::optional<OrderSizeLimit> broker;
  std::vector<AssetSizeLimit> asset_barriers;            // valid asset names, later entries win
  std::vector<AccountAssetSizeLimit> account_asset_barriers;
};

// nullopt, or "at least one broker, asset, or account+asset barrier must be configured".
std::optional<std::string> order_size_limit_config_error(const OrderSizeLimitConfig& config);

class OrderSizeLimitPolicy final : public Policy {
 public:
  static constexpr std::string_view kName = "OrderSizeLimitPolicy";

  // Precondition: order_size_limit_config_error(config) is nullopt.
  explicit OrderSizeLimitPolicy(const OrderSizeLimitConfig& config);

  std::string_view name() const noexcept override { return kName; }
  std::uint16_t policy_group_id() const noexcept override { return policy_group_id_; }
  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override;

  // The start check itself, without a stage. At most one reject.
  std::optional<Reject> check_start(const OrderRecord& order) const { return start_check(nullptr, order); }

 private:
  friend struct LimitPolicyProbe;  // tests: the slots a key's lookup reads

  // `stage`, when given, keeps the settlement name's hash for the order's other policies.
  std::optional<Reject> start_check(const StageContext* stage, const OrderRecord& order) const;

  std::uint16_t policy_group_id_;
  std::optional<OrderSizeLimit> broker_;
  FrozenMap<std::string, OrderSizeLimit, LimitKeyHash, LimitKeyEqual> asset_limits_;
  FrozenMap<AccountAssetKey, OrderSizeLimit, LimitKeyHash, LimitKeyEqual> account_asset_limits_;
};

}  // namespace vantrel
