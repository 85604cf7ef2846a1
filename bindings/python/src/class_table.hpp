#pragma once
#include "toolkit/classes.hpp"

namespace vantrel::py {

// The module's classes, in registration order: one row each, the class name
// first, then the fields of its ClassSpec after `name` (unnamed ones keep their
// defaults). The header makes the ClassId of each row; class_table.cpp makes
// the rows themselves, where the module names, docstrings and behaviours named
// here are declared.
#define VANTREL_CLASSES(X) \
  X(AccountId, .module = kParam, .behaviour = &account_id_behaviour) \
  X(AccountGroupId, .module = kParam, .behaviour = &account_group_id_behaviour) \
  X(Quantity, .module = kParam, .text_signature = "(value)", .behaviour = &quantity_behaviour) \
  X(Price, .module = kParam, .text_signature = "(value)", .behaviour = &price_behaviour) \
  X(Trade, .module = kParam, .subclassable = true, .text_signature = "(*, price, quantity)", \
      .behaviour = &trade_behaviour) \
  X(Pnl, .module = kParam, .text_signature = "(value)", .behaviour = &pnl_behaviour) \
  X(Fee, .module = kParam, .text_signature = "(value)", .behaviour = &fee_behaviour) \
  X(Volume, .module = kParam, .text_signature = "(value)", .behaviour = &volume_behaviour) \
  X(Notional, .module = kParam, .text_signature = "(value)", .behaviour = &notional_behaviour) \
  X(CashFlow, .module = kParam, .text_signature = "(value)", .behaviour = &cash_flow_behaviour) \
  X(PositionSize, .module = kParam, .text_signature = "(value)", .behaviour = &position_size_behaviour) \
  X(InstrumentId, .module = kMarketData, .borrow_flag = false, .text_signature = "(value)", \
      .behaviour = &instrument_id_behaviour) \
  X(QuoteTtl, .module = kMarketData, .borrow_flag = false, .behaviour = &quote_ttl_behaviour) \
  X(Quote, .module = kMarketData, .borrow_flag = false, .text_signature = "(*, mark=None, bid=None, ask=None)", \
      .behaviour = &quote_behaviour) \
  X(QuoteResolution, .module = kMarketData, .borrow_flag = false, .doc = kQuoteResolutionDoc, \
      .behaviour = &quote_resolution_behaviour) \
  X(MarketDataService, .module = kMarketData, .behaviour = &market_data_service_behaviour) \
  X(MarketDataBuilder, .module = kMarketData, .behaviour = &market_data_builder_behaviour) \
  X(TradeAmount, .module = kParam, .subclassable = true, .text_signature = "(other)", \
      .behaviour = &trade_amount_behaviour) \
  X(AdjustmentAmount, .module = kParam, .subclassable = true, .text_signature = "(other)", \
      .behaviour = &adjustment_amount_behaviour) \
  X(Leverage, .module = kParam, .text_signature = "(multiplier)", .behaviour = &leverage_behaviour) \
  X(Engine, .module = kTop, .behaviour = &engine_behaviour) \
  X(Accounts, .module = kTop, .doc = kAccountsDoc, .behaviour = &accounts_behaviour) \
  X(Reject, .module = kPretrade, .behaviour = &reject_behaviour) \
  X(AccountBlock, .module = kPretrade, .text_signature = "(*, policy, code, reason, details, user_data=0)", \
      .behaviour = &account_block_behaviour) \
  X(StartResult, .module = kPretrade, .behaviour = &start_result_behaviour) \
  X(ExecuteResult, .module = kPretrade, .behaviour = &execute_result_behaviour) \
  X(AccountAdjustmentBatchResult, .module = kPretrade, .behaviour = &account_adjustment_batch_result_behaviour) \
  X(OutcomeAmount, .module = kPretrade, .text_signature = "(*, delta, absolute)", \
      .behaviour = &outcome_amount_behaviour) \
  X(AccountOutcomeEntry, .module = kPretrade, \
      .text_signature = "(*, asset, balance=None, held=None, incoming=None)", \
      .behaviour = &account_outcome_entry_behaviour) \
  X(AccountAdjustmentOutcome, .module = kPretrade, .text_signature = "(*, policy_group_id, entry)", \
      .behaviour = &account_adjustment_outcome_behaviour) \
  X(EngineBuilder, .module = kTop, .behaviour = &engine_builder_behaviour) \
  X(SyncedEngineBuilder, .module = kTop, .behaviour = &synced_engine_builder_behaviour) \
  X(ReadyEngineBuilder, .module = kTop, .behaviour = &ready_engine_builder_behaviour) \
  X(Instrument, .module = kCore, .text_signature = "(underlying_asset, settlement_asset)", \
      .behaviour = &instrument_behaviour) \
  X(OrderOperation, .module = kCore, .subclassable = true, \
      .text_signature = "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None, trade_amount=None, price=None)", \
      .behaviour = &order_operation_behaviour) \
  X(OrderPosition, .module = kCore, .subclassable = true, \
      .text_signature = "(*, position_side=None, reduce_only=False, close_position=False)", \
      .behaviour = &order_position_behaviour) \
  X(OrderMargin, .module = kCore, .subclassable = true, \
      .text_signature = "(*, leverage=None, collateral_asset=None, auto_borrow=False)", \
      .behaviour = &order_margin_behaviour) \
  X(Order, .module = kCore, .subclassable = true, \
      .text_signature = "(*, operation=None, position=None, margin=None)", .behaviour = &order_behaviour) \
  X(Request, .module = kPretrade, .thread_bound = true, .behaviour = &request_behaviour) \
  X(Reservation, .module = kPretrade, .thread_bound = true, .behaviour = &reservation_behaviour) \
  X(ExecutionReportOperation, .module = kCore, .subclassable = true, \
      .text_signature = "(*, underlying_asset=None, settlement_asset=None, account_id=None, side=None)", \
      .behaviour = &execution_report_operation_behaviour) \
  X(FinancialImpact, .module = kCore, .subclassable = true, .text_signature = "(*, pnl, fee)", \
      .behaviour = &financial_impact_behaviour) \
  X(ExecutionReportFillDetails, .module = kCore, .subclassable = true, \
      .text_signature = "(*, last_trade=None, leaves_quantity=None, lock, is_final=None)", \
      .behaviour = &execution_report_fill_details_behaviour) \
  X(ExecutionReportPositionImpact, .module = kCore, .subclassable = true, \
      .text_signature = "(*, position_effect=None, position_side=None)", \
      .behaviour = &execution_report_position_impact_behaviour) \
  X(ExecutionReport, .module = kCore, .subclassable = true, \
      .text_signature = "(*, operation=None, financial_impact=None, fill=None, position_impact=None)", \
      .behaviour = &execution_report_behaviour) \
  X(AccountAdjustmentAmount, .module = kCore, .subclassable = true, \
      .text_signature = "(*, balance=None, held=None, incoming=None)", \
      .behaviour = &account_adjustment_amount_behaviour) \
  X(AccountAdjustmentBalanceOperation, .module = kCore, .subclassable = true, \
      .text_signature = "(*, asset=None, average_entry_price=None)", \
      .behaviour = &account_adjustment_balance_operation_behaviour) \
  X(AccountAdjustmentPositionOperation, .module = kCore, .subclassable = true, \
      .text_signature = "(*, underlying_asset=None, settlement_asset=None, collateral_asset=None, average_entry_price=None, mode=None, leverage=None)", \
      .behaviour = &account_adjustment_position_operation_behaviour) \
  X(AccountAdjustmentBounds, .module = kCore, .subclassable = true, \
      .text_signature = "(*, balance_upper=None, balance_lower=None, held_upper=None, held_lower=None, incoming_upper=None, incoming_lower=None)", \
      .behaviour = &account_adjustment_bounds_behaviour) \
  X(AccountAdjustment, .module = kCore, .subclassable = true, \
      .text_signature = "(*, operation=None, amount=None, bounds=None)", \
      .behaviour = &account_adjustment_behaviour) \
  X(PostTradeResult, .module = kPretrade, .text_signature = "(*, account_blocks=None, account_adjustments=None)", \
      .behaviour = &post_trade_result_behaviour) \
  X(Lock, .module = kPretrade, .subclassable = true, .text_signature = "(entries=None)", .behaviour = &lock_behaviour) \
  X(OrderSizeLimit, .module = kPolicies, .text_signature = "(*, max_quantity, max_notional)", \
      .behaviour = &order_size_limit_behaviour) \
  X(Context, .module = kPretrade, .borrow_flag = false, .behaviour = &context_behaviour) \
  X(AccountAdjustmentContext, .module = kTop, .borrow_flag = false, .behaviour = &adjustment_context_behaviour) \
  X(PostTradeContext, .module = kPretrade, .borrow_flag = false, .behaviour = &post_trade_context_behaviour) \
  X(AccountControl, .module = kTop, .borrow_flag = false, .doc = kAccountControlDoc, \
      .behaviour = &account_control_behaviour)

enum class ClassId {
#define VANTREL_CLASS_ID(id, ...) id,
  VANTREL_CLASSES(VANTREL_CLASS_ID)
#undef VANTREL_CLASS_ID
  count_
};
inline constexpr int kClassCount = static_cast<int>(ClassId::count_);

const ClassSpec& class_spec(ClassId id) noexcept;
ClassCell& class_cell(ClassId id) noexcept;

// Fallible lookup for the module body; raises the initialisation RuntimeError.
PyObject* class_object_checked(ClassId id);
// Lookup wherever an instance is made or an argument's type is checked.
inline PyObject* class_object(ClassId id) {
  require_lock("looking up a class");
  ClassCell& cell = class_cell(id);
  if (cell.type != nullptr && cell.attrs_stored) [[likely]]
    return cell.type;
  return class_object_or_fault(class_spec(id), cell);
}
inline PyTypeObject* class_type(ClassId id) { return reinterpret_cast<PyTypeObject*>(class_object(id)); }
inline bool is_instance(PyObject* obj, ClassId id) { return is_instance(obj, class_object(id)); }
// Exactly this class, no subclass.
inline bool is_exact(PyObject* obj, ClassId id) { return Py_TYPE(obj) == class_type(id); }

// The class is offered by this build (its behaviour exists).
bool class_available(ClassId id) noexcept;

}  // namespace vantrel::py
