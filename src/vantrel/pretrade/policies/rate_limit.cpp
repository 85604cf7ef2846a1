#include "vantrel/pretrade/policies/rate_limit.hpp"

#include "vantrel/pretrade/policies/asset_numbers.hpp"

namespace vantrel {

namespace {

constexpr std::uint64_t kNanosPerSecond = 1'000'000'000u;

std::uint64_t instant_ns(Instant t) noexcept {
  if (t.seconds > (UINT64_MAX - t.nanos) / kNanosPerSecond) return UINT64_MAX;
  return t.seconds * kNanosPerSecond + t.nanos;
}

std::size_t record(const auto& log, std::uint64_t now_ns) {
  ExclusiveGuard guard(log.lock);
  return log.log.record(now_ns, log.barrier.window_ns);
}

// One barrier's count; every barrier counts before the first exceeded one (broker, asset,
// account, account+asset) is chosen to reject.
struct Counted {
  std::uint64_t count = 0;
  std::uint64_t max_orders = 0;
  std::uint64_t window_ns = 0;
  bool present = false;

  bool exceeded() const noexcept { return present && count > max_orders; }
};

}  // namespace

RateLimitPolicy::RateLimitPolicy(const RateLimitConfig& config, Instant created, SyncMode mode)
    : policy_group_id_(config.policy_group_id), created_(created) {
  if (config.broker) broker_ = std::make_unique<FixedWindow>(config.broker->max_orders, config.broker->window_ns);
  // Barriers are collected first so that a replaced one never allocates its window or log.
  FrozenMapBuilder<std::string, RateBarrier, LimitKeyHash, LimitKeyEqual> assets;
  for (const AssetRateBarrier& b : config.asset_barriers) assets.put(b.asset, b.barrier);
  FrozenMapBuilder<std::uint64_t, RateBarrier, AccountIdHash, std::equal_to<>> accounts;
  for (const AccountRateBarrier& b : config.account_barriers) accounts.put(b.account_id, b.barrier);
  FrozenMapBuilder<AccountAssetKey, RateBarrier, LimitKeyHash, LimitKeyEqual> account_assets;
  for (const AccountAssetRateBarrier& b : config.account_asset_barriers)
    account_assets.put(AccountAssetKey{b.account_id, b.asset}, b.barrier);

  std::vector<std::pair<std::string, std::unique_ptr<FixedWindow>>> windows;
  for (auto& [asset, b] : std::move(assets).entries())
    windows.emplace_back(std::move(asset), std::make_unique<FixedWindow>(b.max_orders, b.window_ns));
  asset_windows_ = decltype(asset_windows_)(std::move(windows));
  std::vector<std::pair<std::uint64_t, RateBarrier>> by_account = std::move(accounts).entries();
  account_logs_.reserve_more(by_account.size());
  for (const auto& [account, b] : by_account) account_logs_.insert_new(OrderLog(account, b, mode));
  std::vector<std::pair<AccountAssetKey, RateBarrier>> by_account_asset = std::move(account_assets).entries();
  AssetNumbering numbering;
  std::vector<std::uint32_t> numbered;  // each barrier's asset number
  for (const auto& [key, b] : by_account_asset) numbered.push_back(numbering.number(key.asset));
  asset_numbers_ = std::move(numbering).freeze();
  account_asset_logs_.reserve_more(by_account_asset.size());
  for (std::size_t i = 0; i < by_account_asset.size(); ++i)
    account_asset_logs_.insert_new(
        AssetOrderLog(by_account_asset[i].first.account_id, numbered[i], by_account_asset[i].second, mode));
}

std::optional<Rejects> RateLimitPolicy::check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const {
  std::optional<Reject> r = start_check(&ctx, order);
  if (!r) return std::nullopt;
  return Rejects(std::move(*r));
}

std::optional<Reject> RateLimitPolicy::start_check(const StageContext* stage, const OrderRecord& order) const {
  const OrderRecord::Operation* op = order.operation ? &*order.operation : nullptr;
  const bool needs_asset = !asset_windows_.empty() || !account_asset_logs_.empty();
  const bool needs_account = !account_logs_.empty() || !account_asset_logs_.empty();
  if (needs_asset && (op == nullptr || !op->instrument))
    return missing_field_reject(kName, "instrument", "operation.instrument");
  if (needs_account && (op == nullptr || !op->account_id))
    return missing_field_reject(kName, "account ID", "operation.account_id");

  const std::optional<Instant> published = current_instant();
  const Instant now = published ? *published : monotonic_now();
  const std::uint64_t elapsed = saturating_elapsed_ns(now, created_);
  const std::uint64_t now_ns = instant_ns(now);

  Counted broker, asset, account, account_asset;
  // The limits are read before the swap: loads after a locked instruction wait for it.
  if (broker_) {
    broker = {0, broker_->max_orders(), broker_->window_ns(), true};
    broker.count = broker_->count(elapsed);
  }
  // Only barriers that exist read the order's asset and account (both checked present above).
  const std::string_view asset_name = needs_asset ? op->instrument->settlement_asset.name() : std::string_view();
  // Both maps' hashers hold the limit keys every hasher of the process holds.
  const LimitKeyHash& hash = asset_numbers_.hasher();
  const std::uint64_t name_hash = !needs_asset ? 0
                                  : stage != nullptr ? stage->settlement_name_hash(asset_name, hash)
                                                     : hash.of_name(asset_name);
  if (const auto* w = asset_windows_.find_hashed(asset_name, name_hash)) {
    asset = {0, (*w)->max_orders(), (*w)->window_ns(), true};
    asset.count = (*w)->count(elapsed);
  }
  if (!account_logs_.empty()) {
    if (const OrderLog* log = account_logs_.find(op->account_id->value))
      account = {record(*log, now_ns), log->barrier.max_orders, log->barrier.window_ns, true};
  }
  if (!account_asset_logs_.empty()) {
    const std::uint32_t* number = asset_numbers_.find_hashed(asset_name, name_hash);
    const OrderLog* log = number ? account_asset_logs_.find(AccountAsset{op->account_id->value, *number}) : nullptr;
    if (log != nullptr) account_asset = {record(*log, now_ns), log->barrier.max_orders, log->barrier.window_ns, true};
  }
  // Nearly every order passes: the table of reject texts is built only for one that does not.
  if (!broker.exceeded() && !asset.exceeded() && !account.exceeded() && !account_asset.exceeded()) return std::nullopt;

  const struct {
    const Counted& counted;
    const char* reason;
    RejectScope scope;
  } order_of_checks[] = {
      {broker, "rate limit exceeded: broker barrier", RejectScope::Order},
      {asset, "rate limit exceeded: asset barrier", RejectScope::Order},
      {account, "rate limit exceeded: account barrier", RejectScope::Account},
      {account_asset, "rate limit exceeded: account+asset barrier", RejectScope::Account},
  };
  for (const auto& check : order_of_checks) {
    if (!check.counted.exceeded()) continue;
    const Counted& c = check.counted;
    return Reject::fixed(kName, check.scope, RejectCode::RateLimitExceeded, check.reason,
                              rate_limit_details(c.count, c.window_ns, c.max_orders));
  }
  return std::nullopt;
}

}  // namespace vantrel
