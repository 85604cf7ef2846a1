#pragma once
// Configuration of the rate limit as the host gave it, its checks, and the texts the policy
// writes. Asset names are kept exactly as given (surrounding white space included).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

struct RateBarrier {
  std::uint64_t max_orders = 0;
  std::uint64_t window_ns = 0;
};

struct AssetRateBarrier {
  std::string asset;
  RateBarrier barrier;
};
struct AccountRateBarrier {
  std::uint64_t account_id = 0;
  RateBarrier barrier;
};
struct AccountAssetRateBarrier {
  std::uint64_t account_id = 0;
  std::string asset;
  RateBarrier barrier;
};

struct RateLimitConfig {
  std::uint16_t policy_group_id = 0;
  std::optional<RateBarrier> broker;
  std::vector<AssetRateBarrier> asset_barriers;
  std::vector<AccountRateBarrier> account_barriers;
  std::vector<AccountAssetRateBarrier> account_asset_barriers;
};

// The ValueError text of the first fault, checked in this order: asset names, windows, the
// presence of any barrier. nullopt when the configuration is sound.
std::optional<std::string> rate_limit_config_error(const RateLimitConfig& config);

// A window in the duration form of the texts: 1s, 1.5ms, 3µs, 0ns.
std::string rate_window_text(std::uint64_t window_ns);

// "submitted {count} orders in {window} window, max allowed: {max}"
std::string rate_limit_details(std::uint64_t count, std::uint64_t window_ns, std::uint64_t max_orders);

}  // namespace vantrel
