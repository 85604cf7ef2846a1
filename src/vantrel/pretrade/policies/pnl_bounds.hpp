#pragma once
// Bounds of the P&L kill switch, the bound test, the configuration checks and the texts.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel/param/decimal.hpp"

namespace vantrel {

struct PnlBounds {
  std::optional<Decimal> lower;
  std::optional<Decimal> upper;

  // "lower", "upper", "lower and upper", or empty when the value is within both (a value equal
  // to a bound breaches nothing).
  std::string_view breached(Decimal pnl) const noexcept {
    const bool low = lower && Decimal::compare(pnl, *lower) < 0;
    const bool high = upper && Decimal::compare(pnl, *upper) > 0;
    if (low) return high ? "lower and upper" : "lower";
    return high ? "upper" : "";
  }
};

struct PnlBrokerBarrier {
  std::string settlement_asset;  // already a valid asset name
  PnlBounds bounds;
};

struct PnlAccountBarrier {
  std::uint64_t account_id = 0;
  std::string settlement_asset;  // already a valid asset name
  Decimal initial_pnl;
  PnlBounds bounds;
};

struct PnlKillSwitchConfig {
  std::uint16_t policy_group_id = 0;
  std::vector<PnlBrokerBarrier> broker_barriers;
  std::vector<PnlAccountBarrier> account_barriers;
};

// The ValueError text of the first fault (broker barriers, then account barriers, then the
// presence of any barrier); nullopt when sound.
std::optional<std::string> pnl_killswitch_config_error(const PnlKillSwitchConfig& config);

// "{words} bound breached: realized pnl {}, lower_bound {}, upper_bound {}, settlement asset {}, account {}"
std::string pnl_breach_details(std::string_view words, Decimal pnl, const PnlBounds& bounds,
                               std::string_view settlement_asset, std::uint64_t account_id);
// "realized pnl {}, settlement asset {}, account {}"
std::string pnl_block_details(Decimal pnl, std::string_view settlement_asset, std::uint64_t account_id);
// "pnl + fee overflow: pnl {}, fee {}, settlement asset {}, account {}"
std::string pnl_increment_overflow_details(Decimal pnl, Decimal fee, std::string_view settlement_asset,
                                           std::uint64_t account_id);
// "realized pnl + pnl_with_fee overflow: previous {}, increment {}, settlement asset {}, account {}"
std::string pnl_accumulation_overflow_details(Decimal previous, Decimal increment,
                                              std::string_view settlement_asset, std::uint64_t account_id);

}  // namespace vantrel
