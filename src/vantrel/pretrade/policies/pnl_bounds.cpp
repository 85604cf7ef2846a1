#include "vantrel/pretrade/policies/pnl_bounds.hpp"

namespace vantrel {

namespace {

std::string bound_text(const std::optional<Decimal>& bound) {
  return bound ? "Some(Pnl(" + bound->to_string() + "))" : std::string("None");
}

std::string asset_and_account(std::string_view settlement_asset, std::uint64_t account_id) {
  std::string s = ", settlement asset ";
  s.append(settlement_asset);
  s += ", account ";
  s += std::to_string(account_id);
  return s;
}

std::optional<std::string> unbounded(const PnlBounds& bounds, const std::string& asset) {
  if (bounds.lower || bounds.upper) return std::nullopt;
  return "at least one of lower_bound or upper_bound must be configured for settlement asset " + asset;
}

}  // namespace

std::optional<std::string> pnl_killswitch_config_error(const PnlKillSwitchConfig& config) {
  for (const PnlBrokerBarrier& b : config.broker_barriers)
    if (auto error = unbounded(b.bounds, b.settlement_asset)) return error;
  for (const PnlAccountBarrier& b : config.account_barriers)
    if (auto error = unbounded(b.bounds, b.settlement_asset)) return error;
  if (config.broker_barriers.empty() && config.account_barriers.empty())
    return std::string("at least one broker or account+asset barrier must be configured");
  return std::nullopt;
}

std::string pnl_breach_details(std::string_view words, Decimal pnl, const PnlBounds& bounds,
                               std::string_view settlement_asset, std::uint64_t account_id) {
  std::string s(words);
  s += " bound breached: realized pnl " + pnl.to_string() + ", lower_bound " + bound_text(bounds.lower) +
       ", upper_bound " + bound_text(bounds.upper);
  return s + asset_and_account(settlement_asset, account_id);
}

std::string pnl_block_details(Decimal pnl, std::string_view settlement_asset, std::uint64_t account_id) {
  return "realized pnl " + pnl.to_string() + asset_and_account(settlement_asset, account_id);
}

std::string pnl_increment_overflow_details(Decimal pnl, Decimal fee, std::string_view settlement_asset,
                                           std::uint64_t account_id) {
  return "pnl + fee overflow: pnl " + pnl.to_string() + ", fee " + fee.to_string() +
         asset_and_account(settlement_asset, account_id);
}

std::string pnl_accumulation_overflow_details(Decimal previous, Decimal increment,
                                              std::string_view settlement_asset, std::uint64_t account_id) {
  return "realized pnl + pnl_with_fee overflow: previous " + previous.to_string() + ", increment " +
         increment.to_string() + asset_and_account(settlement_asset, account_id);
}

}  // namespace vantrel
