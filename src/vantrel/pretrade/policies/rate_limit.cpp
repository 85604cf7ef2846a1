#include "vantrel/pretrade/policies/rate_limit.hpp"

#include "vantrel/pretrade/policies/limit_rejects.hpp"

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

// One barrier's count, kept until step 7 decides which (if any) rejects.
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
  for (const AssetRateBarrier& b : config.asset_barriers)
    asset_windows_.insert_or_assign(b.asset, std::make_unique<FixedWindow>(b.barrier.max_orders, b.barrier.window_ns));
  for (const AccountRateBarrier& b : config.account_barriers)
    account_logs_.insert_or_assign(b.account_id, std::make_unique<OrderLog>(b.barrier, mode));
  for (const AccountAssetRateBarrier& b : config.account_asset_barriers)
    account_asset_logs_.insert_or_assign(AccountAssetKey{b.account_id, b.asset},
                                         std::make_unique<OrderLog>(b.barrier, mode));
}

std::optional<Reject> RateLimitPolicy::check_start(const OrderRecord& order) const {
  const OrderRecord::Operation* op = order.operation ? &*order.operation : nullptr;
  const bool needs_asset = !asset_windows_.empty() || !account_asset_logs_.empty();
  const bool needs_account = !account_logs_.empty() || !account_asset_logs_.empty();
  if (needs_asset && (op == nullptr || !op->instrument))
    return limit_missing_field(kName, "instrument", "operation.instrument");
  if (needs_account && (op == nullptr || !op->account_id))
    return limit_missing_field(kName, "account ID", "operation.account_id");

  const std::optional<Instant> published = current_instant();
  const Instant now = published ? *published : monotonic_now();
  const std::uint64_t elapsed = saturating_elapsed_ns(now, created_);
  const std::uint64_t now_ns = instant_ns(now);

  Counted broker, asset, account, account_asset;
  if (broker_) broker = {broker_->count(elapsed), broker_->max_orders(), broker_->window_ns(), true};
  if (!asset_windows_.empty()) {
    const auto it = asset_windows_.find(std::string_view(op->instrument->settlement_asset.name()));
    if (it != asset_windows_.end()) {
      FixedWindow& w = *it->second;
      asset = {w.count(elapsed), w.max_orders(), w.window_ns(), true};
    }
  }
  if (!account_logs_.empty()) {
    const auto it = account_logs_.find(op->account_id->value);
    if (it != account_logs_.end()) {
      const OrderLog& log = *it->second;
      account = {record(log, now_ns), log.barrier.max_orders, log.barrier.window_ns, true};
    }
  }
  if (!account_asset_logs_.empty()) {
    const auto it = account_asset_logs_.find(
        AccountAssetView{op->account_id->value, op->instrument->settlement_asset.name()});
    if (it != account_asset_logs_.end()) {
      const OrderLog& log = *it->second;
      account_asset = {record(log, now_ns), log.barrier.max_orders, log.barrier.window_ns, true};
    }
  }

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
    return Reject::with_scope(kName, check.scope, RejectCode::RateLimitExceeded, check.reason,
                              rate_limit_details(c.count, c.window_ns, c.max_orders));
  }
  return std::nullopt;
}

}  // namespace vantrel
