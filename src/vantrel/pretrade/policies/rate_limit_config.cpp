#include "vantrel/pretrade/policies/rate_limit_config.hpp"

#include "vantrel/core/duration_text.hpp"
#include "vantrel/param/asset.hpp"

namespace vantrel {

namespace {
constexpr std::uint64_t kNanosPerSecond = 1'000'000'000u;

bool blank(const std::string& asset) { return !Asset::from_text(asset).has_value(); }
}  // namespace

std::string rate_window_text(std::uint64_t window_ns) {
  return format_duration(window_ns / kNanosPerSecond, static_cast<std::uint32_t>(window_ns % kNanosPerSecond));
}

std::string rate_limit_details(std::uint64_t count, std::uint64_t window_ns, std::uint64_t max_orders) {
  return "submitted " + std::to_string(count) + " orders in " + rate_window_text(window_ns) +
         " window, max allowed: " + std::to_string(max_orders);
}

std::optional<std::string> rate_limit_config_error(const RateLimitConfig& config) {
  for (const AssetRateBarrier& b : config.asset_barriers)
    if (blank(b.asset)) return std::string(Asset::kEmptyMessage);
  for (const AccountAssetRateBarrier& b : config.account_asset_barriers)
    if (blank(b.asset)) return std::string(Asset::kEmptyMessage);

  std::vector<const RateBarrier*> windows;
  if (config.broker) windows.push_back(&*config.broker);
  for (const AssetRateBarrier& b : config.asset_barriers) windows.push_back(&b.barrier);
  for (const AccountRateBarrier& b : config.account_barriers) windows.push_back(&b.barrier);
  for (const AccountAssetRateBarrier& b : config.account_asset_barriers) windows.push_back(&b.barrier);
  for (const RateBarrier* b : windows)
    if (b->window_ns == 0)
      return "rate limit window must be positive and fit in u64 nanoseconds, got " + rate_window_text(b->window_ns);

  if (windows.empty()) return std::string("at least one broker, asset, account, or account+asset barrier must be configured");
  return std::nullopt;
}

}  // namespace vantrel
