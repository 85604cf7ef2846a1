#include "class_table.hpp"

#include <iterator>

#include "class_behaviours.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kQuoteResolutionDoc =
    "Resolution mode that controls which quote buckets a read may fall through to.";
constexpr const char* kAccountsDoc =
    "Handle to the engine's account-group registry.\n\n"
    "Obtained from ``Engine.accounts()``. The handle shares the engine's single\n"
    "registry, so changes made through it are visible to every other handle and\n"
    "to running policies. It inherits the engine's synchronization mode.";
constexpr const char* kAccountControlDoc =
    "Handle that records a kill-switch block against the account bound to a\n"
    "callback context.\n\n"
    "It is valid to use only within the pre-trade processing of the request it\n"
    "belongs to \u2014 from the callback that produced it through the commit or\n"
    "rollback of that request's reservation (so it may be retained and used from\n"
    "a deferred mutation commit/rollback callback). Recording a block through it\n"
    "after that pre-trade transaction has completed is unspecified and must not\n"
    "be relied upon.";

constexpr const char* kTop = "vantrel";
constexpr const char* kParam = "vantrel.param";
constexpr const char* kCore = "vantrel.core";
constexpr const char* kPretrade = "vantrel.pretrade";
constexpr const char* kPolicies = "vantrel.pretrade.policies";
constexpr const char* kMarketData = "vantrel.marketdata";

// One row per ClassId, in its order (checked below); unnamed fields keep the defaults of ClassSpec.
constexpr ClassSpec kClasses[] = {
    {.name = "AccountId", .module = kParam, .behaviour = &account_id_behaviour},
    {.name = "AccountGroupId", .module = kParam, .behaviour = &account_group_id_behaviour},
    {.name = "Quantity", .module = kParam, .text_signature = "(value)", .behaviour = &quantity_behaviour},
    {.name = "Price", .module = kParam, .text_signature = "(value)", .behaviour = &price_behaviour},
    {.name = "Trade", .module = kParam, .subclassable = true, .text_signature = "(*, price, quantity)",
      .behaviour = &trade_behaviour},
    {.name = "Pnl", .module = kParam, .text_signature = "(value)", .behaviour = &pnl_behaviour},
    {.name = "Fee", .module = kParam, .text_signature = "(value)", .behaviour = &fee_behaviour},
    {.name = "Volume", .module = kParam, .text_signature = "(value)", .behaviour = &volume_behaviour},
    {.name = "Notional", .module = kParam, .text_signature = "(value)", .behaviour = &notional_behaviour},
    {.name = "CashFlow", .module = kParam, .text_signature = "(value)", .behaviour = &cash_flow_behaviour},
    {.name = "PositionSize", .module = kParam, .text_signature = "(value)", .behaviour = &position_size_behaviour},
    {.name = "InstrumentId", .module = kMarketData, .borrow_flag = false, .text_signature = "(value)",
      .behaviour = &instrument_id_behaviour},
    {.name = "QuoteTtl", .module = kMarketData, .borrow_flag = false, .behaviour = &quote_ttl_behaviour},
    {.name = "Quote", .module = kMarketData, .borrow_flag = false, .text_signature = "(*, mark=None, bid=None, ask=None)",
      .behaviour = &quote_behaviour},
    {.name = "QuoteResolution", .module = kMarketData, .borrow_flag = false, .doc = kQuoteResolutionDoc,
      .behaviour = &quote_resolution_behaviour},
    {.name = "MarketDataService", .module = kMarketData, .behaviour = &market_data_service_behaviour},
    {.name = "MarketDataBuilder", .module = kMarketData, .behaviour = &market_data_builder_behaviour},
    {.name = "TradeAmount", .module = kParam, .subclassable = true, .text_signature = "(other)",
      .behaviour = &trade_amount_behaviour},
    {.name = "AdjustmentAmount", .module = kParam, .subclassable = true, .text_signature = "(other)",
      .behaviour = &adjustment_amount_behaviour},
    {.name = "Leverage", .module = kParam, .text_signature = "(multiplier)", .behaviour = &leverage_behaviour},
    {.name = "Engine", .module = kTop, .behaviour = &engine_behaviour},
    {.name = "Accounts", .module = kTop, .doc = kAccountsDoc, .behaviour = &accounts_behaviour},
    {.name = "Reject", .module = kPretrade, .behaviour = &reject_behaviour},
    {.name = "AccountBlock", .module = kPretrade, .text_signature = "(*, policy, code, reason, details, user_data=0)",
      .behaviour = &account_block_behaviour},
    {.name = "StartResult", .module = kPretrade, .behaviour = &start_result_behaviour},
    {.name = "ExecuteResult", .module = kPretrade, .behaviour = &execute_result_behaviour},
    {.name = "AccountAdjustmentBatchResult", .module = kPretrade,
      .behaviour = &account_adjustment_batch_result_behaviour},
    {.name = "OutcomeAmount", .module = kPretrade, .text_signature = "(*, delta, absolute)",
      .behaviour = &outcome_amount_behaviour},
    {.name = "AccountOutcomeEntry", .module = kPretrade, .text_signature = "(*, asset, balance=None, held=None, incoming=None)",
      .behaviour = &account_outcome_entry_behaviour},
    {.name = "AccountAdjustmentOutcome", .module = kPretrade, .text_signature = "(*, policy_group_id, entry)",
      .behaviour = &account_adjustment_outcome_behaviour},
    {.name = "EngineBuilder", .module = kTop, .behaviour = &engine_builder_behaviour},
    {.name = "SyncedEngineBuilder", .module = kTop, .behaviour = &synced_engine_builder_behaviour},
    {.name = "ReadyEngineBuilder", .module = kTop, .behaviour = &ready_engine_builder_behaviour},
    {.name = "Instrument", .module = kCore, .text_signature = "(underlying_asset, settlement_asset)",
      .behaviour = &instrument_behaviour},
    {.name = "OrderOperation", .module = kCore, .subclassable = true, .text_signature = "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None, trade_amount=None, price=None)",
      .behaviour = &order_operation_behaviour},
    {.name = "OrderPosition", .module = kCore, .subclassable = true, .text_signature = "(*, position_side=None, reduce_only=False, close_position=False)",
      .behaviour = &order_position_behaviour},
    {.name = "OrderMargin", .module = kCore, .subclassable = true, .text_signature = "(*, leverage=None, collateral_asset=None, auto_borrow=False)",
      .behaviour = &order_margin_behaviour},
    {.name = "Order", .module = kCore, .subclassable = true, .text_signature = "(*, operation=None, position=None, margin=None)",
      .behaviour = &order_behaviour},
    {.name = "Request", .module = kPretrade, .thread_bound = true, .behaviour = &request_behaviour},
    {.name = "Reservation", .module = kPretrade, .thread_bound = true, .behaviour = &reservation_behaviour},
    {.name = "ExecutionReportOperation", .module = kCore, .subclassable = true, .text_signature = "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None)",
      .behaviour = &execution_report_operation_behaviour},
    {.name = "FinancialImpact", .module = kCore, .subclassable = true, .text_signature = "(*, pnl, fee)",
      .behaviour = &financial_impact_behaviour},
    {.name = "ExecutionReportFillDetails", .module = kCore, .subclassable = true, .text_signature = "(*, last_trade=None, leaves_quantity=None, lock, is_final=None)",
      .behaviour = &execution_report_fill_details_behaviour},
    {.name = "ExecutionReportPositionImpact", .module = kCore, .subclassable = true, .text_signature = "(*, position_effect=None, position_side=None)",
      .behaviour = &execution_report_position_impact_behaviour},
    {.name = "ExecutionReport", .module = kCore, .subclassable = true, .text_signature = "(*, operation=None, financial_impact=None, fill=None, position_impact=None)",
      .behaviour = &execution_report_behaviour},
    {.name = "AccountAdjustmentAmount", .module = kCore, .subclassable = true, .text_signature = "(*, balance=None, held=None, incoming=None)",
      .behaviour = &account_adjustment_amount_behaviour},
    {.name = "AccountAdjustmentBalanceOperation", .module = kCore, .subclassable = true, .text_signature = "(*, asset=None, average_entry_price=None)",
      .behaviour = &account_adjustment_balance_operation_behaviour},
    {.name = "AccountAdjustmentPositionOperation", .module = kCore, .subclassable = true, .text_signature = "(*, underlying_asset=None, settlement_asset=None, collateral_asset=None, average_entry_price=None, mode=None, leverage=None)",
      .behaviour = &account_adjustment_position_operation_behaviour},
    {.name = "AccountAdjustmentBounds", .module = kCore, .subclassable = true, .text_signature = "(*, balance_upper=None, balance_lower=None, held_upper=None, held_lower=None, incoming_upper=None, incoming_lower=None)",
      .behaviour = &account_adjustment_bounds_behaviour},
    {.name = "AccountAdjustment", .module = kCore, .subclassable = true, .text_signature = "(*, operation=None, amount=None, bounds=None)",
      .behaviour = &account_adjustment_behaviour},
    {.name = "PostTradeResult", .module = kPretrade, .text_signature = "(*, account_blocks=None, account_adjustments=None)",
      .behaviour = &post_trade_result_behaviour},
    {.name = "Lock", .module = kPretrade, .subclassable = true, .text_signature = "(entries=None)",
      .behaviour = &lock_behaviour},
    {.name = "OrderSizeLimit", .module = kPolicies, .text_signature = "(*, max_quantity, max_notional)",
      .behaviour = &order_size_limit_behaviour},
    {.name = "Context", .module = kPretrade, .borrow_flag = false, .behaviour = &context_behaviour},
    {.name = "AccountAdjustmentContext", .module = kTop, .borrow_flag = false,
      .behaviour = &adjustment_context_behaviour},
    {.name = "PostTradeContext", .module = kPretrade, .borrow_flag = false,
      .behaviour = &post_trade_context_behaviour},
    {.name = "AccountControl", .module = kTop, .borrow_flag = false, .doc = kAccountControlDoc,
      .behaviour = &account_control_behaviour},
};

constexpr bool same_text(const char* a, const char* b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

constexpr bool rows_follow_class_ids() {
  if (std::size(kClasses) != kClassNames.size())
    return false;
  for (std::size_t i = 0; i < kClassNames.size(); ++i)
    if (!same_text(kClasses[i].name, kClassNames[i]))
      return false;
  return true;
}
static_assert(rows_follow_class_ids(), "each row carries the name of the ClassId at its index");

ClassCell g_cells[kClassCount];

}  // namespace

const ClassSpec& class_spec(ClassId id) noexcept { return kClasses[static_cast<int>(id)]; }
ClassCell& class_cell(ClassId id) noexcept { return g_cells[static_cast<int>(id)]; }

PyObject* class_object_checked(ClassId id) { return get_or_create_class(class_spec(id), class_cell(id)); }

bool class_available(ClassId id) noexcept { return class_spec(id).behaviour != nullptr; }

}  // namespace vantrel::py
