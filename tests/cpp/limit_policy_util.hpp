#pragma once
// Small builders of order and report records for the limit policy tests.

#include <optional>
#include <string>

#include "vantrel/core/clock.hpp"
#include "vantrel/core/execution_report.hpp"
#include "vantrel/core/order.hpp"
#include "vantrel/param/decimal.hpp"

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
