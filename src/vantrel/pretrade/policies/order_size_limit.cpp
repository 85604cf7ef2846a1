#include "vantrel/pretrade/policies/order_size_limit.hpp"

namespace vantrel {

std::optional<std::string> order_size_limit_config_error(const OrderSizeLimitConfig& config) {
  if (config.broker || !config.asset_barriers.empty() || !config.account_asset_barriers.empty()) return std::nullopt;
  return std::string("at least one broker, asset, or account+asset barrier must be configured");
}

OrderSizeLimitPolicy::OrderSizeLimitPolicy(const OrderSizeLimitConfig& config)
    : policy_group_id_(config.policy_group_id), broker_(config.broker) {
  FrozenMapBuilder<std::string, OrderSizeLimit, LimitKeyHash, LimitKeyEqual> assets;
  for (const AssetSizeLimit& b : config.asset_barriers) assets.put(b.asset, b.limit);
  asset_limits_ = std::move(assets).freeze();
  FrozenMapBuilder<AccountAssetKey, OrderSizeLimit, LimitKeyHash, LimitKeyEqual> account_assets;
  for (const AccountAssetSizeLimit& b : config.account_asset_barriers)
    account_assets.put(AccountAssetKey{b.account_id, b.asset}, b.limit);
  account_asset_limits_ = std::move(account_assets).freeze();
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

std::optional<Rejects> OrderSizeLimitPolicy::check_pre_trade_start(const PreTradeContext& ctx,
                                                                  const OrderRecord& order) const {
  std::optional<Reject> r = start_check(&ctx, order);
  if (!r) return std::nullopt;
  return Rejects(std::move(*r));
}

std::optional<Reject> OrderSizeLimitPolicy::start_check(const StageContext* stage, const OrderRecord& order) const {
  const OrderRecord::Operation* op = order.operation ? &*order.operation : nullptr;
  if (op == nullptr || !op->instrument) return missing_field_reject(kName, "instrument", "operation.instrument");
  if (!op->account_id) return missing_field_reject(kName, "account ID", "operation.account_id");
  if (!op->trade_amount) return missing_field_reject(kName, "trade amount", "operation.trade_amount");

  const std::string& asset = op->instrument->settlement_asset.name();
  const OrderSizeLimit* specific = nullptr;
  RejectScope specific_scope = RejectScope::Order;
  if (!account_asset_limits_.empty() || !asset_limits_.empty()) {
    // Both maps' hashers hold the limit keys every hasher of the process holds.
    const LimitKeyHash& hash = account_asset_limits_.hasher();
    const std::uint64_t name_hash = stage != nullptr ? stage->settlement_name_hash(asset, hash) : hash.of_name(asset);
    const AccountAssetView key{op->account_id->value, asset};
    if ((specific = account_asset_limits_.find_hashed(key, hash.of_account_asset(key.account_id, name_hash))))
      specific_scope = RejectScope::Account;
    else
      specific = asset_limits_.find_hashed(std::string_view(asset), name_hash);
  }
  const OrderSizeLimit* broker = broker_ ? &*broker_ : nullptr;

  const SizeFinding finding = evaluate_order_size(*op->trade_amount, op->price, specific, broker);
  if (finding.kind == SizeFinding::Kind::Pass) return std::nullopt;
  const RejectScope scope = finding.is_breach() && finding.by_specific ? specific_scope : RejectScope::Order;
  return Reject::fixed(kName, scope, breach_code(finding.kind), order_size_reason(finding),
                       order_size_details(finding));
}

}  // namespace vantrel
