#include "class_table.hpp"

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

// name, submodule, subclassable, borrow flag, bound to creating thread,
// constructor text signature, docstring text, behaviour (null until built).
const ClassSpec kClasses[kClassCount] = {
    {"AccountId", "vantrel.param", false, true, false, nullptr, "", &account_id_behaviour},
    {"AccountGroupId", "vantrel.param", false, true, false, nullptr, "", &account_group_id_behaviour},
    {"Quantity", "vantrel.param", false, true, false, "(value)", "", &quantity_behaviour},
    {"Price", "vantrel.param", false, true, false, "(value)", "", &price_behaviour},
    {"Trade", "vantrel.param", true, true, false, "(*, price, quantity)", "", &trade_behaviour},
    {"Pnl", "vantrel.param", false, true, false, "(value)", "", &pnl_behaviour},
    {"Fee", "vantrel.param", false, true, false, "(value)", "", &fee_behaviour},
    {"Volume", "vantrel.param", false, true, false, "(value)", "", &volume_behaviour},
    {"Notional", "vantrel.param", false, true, false, "(value)", "", &notional_behaviour},
    {"CashFlow", "vantrel.param", false, true, false, "(value)", "", &cash_flow_behaviour},
    {"PositionSize", "vantrel.param", false, true, false, "(value)", "", &position_size_behaviour},
    {"InstrumentId", "vantrel.marketdata", false, false, false, "(value)", "", &instrument_id_behaviour},
    {"QuoteTtl", "vantrel.marketdata", false, false, false, nullptr, "", &quote_ttl_behaviour},
    {"Quote", "vantrel.marketdata", false, false, false, "(*, mark=None, bid=None, ask=None)", "", &quote_behaviour},
    {"QuoteResolution", "vantrel.marketdata", false, false, false, nullptr, kQuoteResolutionDoc, &quote_resolution_behaviour},
    {"MarketDataService", "vantrel.marketdata", false, true, false, nullptr, "", &market_data_service_behaviour},
    {"MarketDataBuilder", "vantrel.marketdata", false, true, false, nullptr, "", &market_data_builder_behaviour},
    {"TradeAmount", "vantrel.param", true, true, false, "(other)", "", &trade_amount_behaviour},
    {"AdjustmentAmount", "vantrel.param", true, true, false, "(other)", "", &adjustment_amount_behaviour},
    {"Leverage", "vantrel.param", false, true, false, "(multiplier)", "", &leverage_behaviour},
    {"Engine", "vantrel", false, true, false, nullptr, "", &engine_behaviour},
    {"Accounts", "vantrel", false, true, false, nullptr, kAccountsDoc, &accounts_behaviour},
    {"Reject", "vantrel.pretrade", false, true, false, nullptr, "", &reject_behaviour},
    {"AccountBlock", "vantrel.pretrade", false, true, false, "(*, policy, code, reason, details, user_data=0)", "", &account_block_behaviour},
    {"StartResult", "vantrel.pretrade", false, true, false, nullptr, "", &start_result_behaviour},
    {"ExecuteResult", "vantrel.pretrade", false, true, false, nullptr, "", &execute_result_behaviour},
    {"AccountAdjustmentBatchResult", "vantrel.pretrade", false, true, false, nullptr, "", &account_adjustment_batch_result_behaviour},
    {"OutcomeAmount", "vantrel.pretrade", false, true, false, "(*, delta, absolute)", "", &outcome_amount_behaviour},
    {"AccountOutcomeEntry", "vantrel.pretrade", false, true, false, "(*, asset, balance=None, held=None, incoming=None)", "", &account_outcome_entry_behaviour},
    {"AccountAdjustmentOutcome", "vantrel.pretrade", false, true, false, "(*, policy_group_id, entry)", "", &account_adjustment_outcome_behaviour},
    {"EngineBuilder", "vantrel", false, true, false, nullptr, "", &engine_builder_behaviour},
    {"SyncedEngineBuilder", "vantrel", false, true, false, nullptr, "", &synced_engine_builder_behaviour},
    {"ReadyEngineBuilder", "vantrel", false, true, false, nullptr, "", &ready_engine_builder_behaviour},
    {"Instrument", "vantrel.core", false, true, false, "(underlying_asset, settlement_asset)", "", &instrument_behaviour},
    {"OrderOperation", "vantrel.core", true, true, false, "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None, trade_amount=None, price=None)", "", &order_operation_behaviour},
    {"OrderPosition", "vantrel.core", true, true, false, "(*, position_side=None, reduce_only=False, close_position=False)", "", &order_position_behaviour},
    {"OrderMargin", "vantrel.core", true, true, false, "(*, leverage=None, collateral_asset=None, auto_borrow=False)", "", &order_margin_behaviour},
    {"Order", "vantrel.core", true, true, false, "(*, operation=None, position=None, margin=None)", "", &order_behaviour},
    {"Request", "vantrel.pretrade", false, true, true, nullptr, "", &request_behaviour},
    {"Reservation", "vantrel.pretrade", false, true, true, nullptr, "", &reservation_behaviour},
    {"ExecutionReportOperation", "vantrel.core", true, true, false, "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None)", "", &execution_report_operation_behaviour},
    {"FinancialImpact", "vantrel.core", true, true, false, "(*, pnl, fee)", "", &financial_impact_behaviour},
    {"ExecutionReportFillDetails", "vantrel.core", true, true, false, "(*, last_trade=None, leaves_quantity=None, lock, is_final=None)", "", &execution_report_fill_details_behaviour},
    {"ExecutionReportPositionImpact", "vantrel.core", true, true, false, "(*, position_effect=None, position_side=None)", "", &execution_report_position_impact_behaviour},
    {"ExecutionReport", "vantrel.core", true, true, false, "(*, operation=None, financial_impact=None, fill=None, position_impact=None)", "", &execution_report_behaviour},
    {"AccountAdjustmentAmount", "vantrel.core", true, true, false, "(*, balance=None, held=None, incoming=None)", "", &account_adjustment_amount_behaviour},
    {"AccountAdjustmentBalanceOperation", "vantrel.core", true, true, false, "(*, asset=None, average_entry_price=None)", "", &account_adjustment_balance_operation_behaviour},
    {"AccountAdjustmentPositionOperation", "vantrel.core", true, true, false, "(*, underlying_asset=None, settlement_asset=None, collateral_asset=None, average_entry_price=None, mode=None, leverage=None)", "", &account_adjustment_position_operation_behaviour},
    {"AccountAdjustmentBounds", "vantrel.core", true, true, false, "(*, balance_upper=None, balance_lower=None, held_upper=None, held_lower=None, incoming_upper=None, incoming_lower=None)", "", &account_adjustment_bounds_behaviour},
    {"AccountAdjustment", "vantrel.core", true, true, false, "(*, operation=None, amount=None, bounds=None)", "", &account_adjustment_behaviour},
    {"PostTradeResult", "vantrel.pretrade", false, true, false, "(*, account_blocks=None, account_adjustments=None)", "", &post_trade_result_behaviour},
    {"Lock", "vantrel.pretrade", true, true, false, "(entries=None)", "", &lock_behaviour},
    {"OrderSizeLimit", "vantrel.pretrade.policies", false, true, false, "(*, max_quantity, max_notional)", "", &order_size_limit_behaviour},
    {"Context", "vantrel.pretrade", false, false, false, nullptr, "", &context_behaviour},
    {"AccountAdjustmentContext", "vantrel", false, false, false, nullptr, "", &adjustment_context_behaviour},
    {"PostTradeContext", "vantrel.pretrade", false, false, false, nullptr, "", &post_trade_context_behaviour},
    {"AccountControl", "vantrel", false, false, false, nullptr, kAccountControlDoc, &account_control_behaviour},
};

ClassCell g_cells[kClassCount];

}  // namespace

const ClassSpec& class_spec(ClassId id) noexcept { return kClasses[static_cast<int>(id)]; }
ClassCell& class_cell(ClassId id) noexcept { return g_cells[static_cast<int>(id)]; }

PyObject* class_object_checked(ClassId id) { return get_or_create_class(class_spec(id), class_cell(id)); }

bool class_available(ClassId id) noexcept { return class_spec(id).behaviour != nullptr; }

}  // namespace vantrel::py
