#pragma once
// Small builders of order and report records for the limit policy tests.

#include <optional>
#include <string>

#include "vantrel/core/clock.hpp"
#include "vantrel/core/execution_report.hpp"
#include "vantrel/core/order.hpp"
#include "vantrel/param/decimal.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"

namespace vantrel::limit_test {

inline Decimal dec(const char* text) { return Decimal::parse(text).value; }

inline Instrument instrument(const std::string& settlement, const std::string& underlying = "BTC") {
  return Instrument{*Asset::from_text(underlying), *Asset::from_text(settlement)};
}

struct OrderSpec {
  std::optional<std::uint64_t> account = 7;
  std::optional<std::string> settlement = "USD";
  std::optional<TradeAmount> amount = TradeAmount::of_quantity(Quantity{Decimal::from_u64(1)});
  std::optional<Decimal> price = Decimal::from_u64(1);
};

inline OrderRecord order(const OrderSpec& spec) {
  OrderRecord o;
  OrderRecord::Operation op;
  if (spec.settlement) op.instrument = instrument(*spec.settlement);
  if (spec.account) op.account_id = AccountId{*spec.account};
  op.trade_amount = spec.amount;
  if (spec.price) op.price = Price{*spec.price};
  o.operation = std::move(op);
  return o;
}

inline OrderRecord order_for(std::uint64_t account, const std::string& settlement = "USD") {
  return order(OrderSpec{account, settlement});
}

inline ExecutionReportRecord report(std::optional<std::uint64_t> account, const std::string& settlement,
                                    std::optional<const char*> pnl, const char* fee = "0") {
  ExecutionReportRecord r;
  ExecutionReportRecord::Operation op;
  op.instrument = instrument(settlement);
  if (account) op.account_id = AccountId{*account};
  r.operation = std::move(op);
  if (pnl) r.financial_impact = ExecutionReportRecord::FinancialImpact{Pnl{dec(*pnl)}, Fee{dec(fee)}};
  return r;
}

inline Instant at_ms(std::uint64_t ms) { return {ms / 1000, static_cast<std::uint32_t>(ms % 1000) * 1'000'000u}; }

}  // namespace vantrel::limit_test

namespace vantrel {

// The work a key costs the limit policies' tables, counted in cells or slots a lookup reads;
// 0 where the policy has no table entry for the key's asset. The policies name it their friend.
struct LimitPolicyProbe {
  static std::size_t cells_read(const PnlBoundsKillSwitchPolicy& p, std::uint64_t account, std::string_view asset) {
    const PnlBoundsKillSwitchPolicy::AssetInfo* info = p.asset_info(asset);
    return info == nullptr ? 0 : p.accounts_.cells_read(AccountAsset{account, info->number});
  }
  static std::size_t account_cells_read(const RateLimitPolicy& p, std::uint64_t account) {
    return p.account_logs_.cells_read(account);
  }
  static std::size_t account_asset_cells_read(const RateLimitPolicy& p, std::uint64_t account, std::string_view asset) {
    const std::uint32_t* number = p.asset_numbers_.find(asset);
    return number == nullptr ? 0 : p.account_asset_logs_.cells_read(AccountAsset{account, *number});
  }
  static std::size_t slots_read(const OrderSizeLimitPolicy& p, std::uint64_t account, std::string_view asset) {
    return p.account_asset_limits_.slots_read(AccountAssetView{account, asset});
  }
};

}  // namespace vantrel
