#include "vantrel/pretrade/policies/order_size_limit.hpp"

#include "vantrel/pretrade/policies/limit_rejects.hpp"

namespace vantrel {

std::optional<std::string> order_size_limit_config_error(const OrderSizeLimitConfig& config) {
  if (config.broker || !config.asset_barriers.empty() || !config.account_asset_barriers.empty()) return std::nullopt;
  return std::string("at least one broker, asset, or account+asset barrier must be configured");
}

OrderSizeLimitPolicy::OrderSizeLimitPolicy(const OrderSizeLimitConfig& config)
    : policy_group_id_(config.policy_group_id), broker_(config.broker) {
  for (const AssetSizeLimit& b : config.asset_barriers) asset_limits_.insert_or_assign(b.asset, b.limit);
  for (const AccountAssetSizeLimit& b : config.account_asset_barriers)
    account_asset_limits_.insert_or_assign(AccountAssetKey{b.account_id, b.asset}, b.limit);
}

namespace {

RejectCode breach_code(SizeFinding::Kind kind) noexcept {
  switch (kind) {
    case SizeFinding::Kind::NotionalExceeded:
      return RejectCode::OrderNotionalExceedsLimit;
    case SizeFinding::Kind::QuantityExceeded:
      return RejectCode::OrderQtyExceedsLimit;
    case SizeFinding::Kind::SizeExceeded:
      return RejectCode::OrderExceedsLimit;
    default:
      return RejectCode::OrderValueCalculationFailed;
  }
}

}  // namespace

std::optional<Reject> OrderSizeLimitPolicy::check_start(const OrderRecord& order) const {
  const OrderRecord::Operation* op = order.operation ? &*order.operation : nullptr;
  if (op == nullptr || !op->instrument) return limit_missing_field(kName, "instrument", "operation.instrument");
  if (!op->account_id) return limit_missing_field(kName, "account ID", "operation.account_id");
  if (!op->trade_amount) return limit_missing_field(kName, "trade amount", "operation.trade_amount");

  const std::string& asset = op->instrument->settlement_asset.name();
  const OrderSizeLimit* specific = nullptr;
  RejectScope specific_scope = RejectScope::Order;
  if (!account_asset_limits_.empty()) {
    const auto it = account_asset_limits_.find(AccountAssetView{op->account_id->value, asset});
    if (it != account_asset_limits_.end()) {
      specific = &it->second;
      specific_scope = RejectScope::Account;
    }
  }
  if (specific == nullptr && !asset_limits_.empty()) {
    const auto it = asset_limits_.find(std::string_view(asset));
    if (it != asset_limits_.end()) specific = &it->second;
  }
  const OrderSizeLimit* broker = broker_ ? &*broker_ : nullptr;

  const SizeFinding finding = evaluate_order_size(*op->trade_amount, op->price, specific, broker);
  if (finding.kind == SizeFinding::Kind::Pass) return std::nullopt;
  const RejectScope scope = finding.is_breach() && finding.by_specific ? specific_scope : RejectScope::Order;
  return Reject::with_scope(kName, scope, breach_code(finding.kind), order_size_reason(finding),
                            order_size_details(finding));
}

}  // namespace vantrel
