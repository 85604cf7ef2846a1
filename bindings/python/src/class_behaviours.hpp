#pragma once
// One behaviour getter per class, each defined in the class's own binding file.
#include "toolkit/classes.hpp"

namespace vantrel::py {

// Decimal value classes (param_decimal*.cpp).
// -- decimal-classes: begin
const ClassBehaviour* quantity_behaviour();
const ClassBehaviour* volume_behaviour();
const ClassBehaviour* notional_behaviour();
const ClassBehaviour* price_behaviour();
const ClassBehaviour* pnl_behaviour();
const ClassBehaviour* cash_flow_behaviour();
const ClassBehaviour* position_size_behaviour();
const ClassBehaviour* fee_behaviour();
// -- decimal-classes: end

// Identifiers, leverage, tagged amounts, instrument and outcome amount.
// -- param-classes: begin
const ClassBehaviour* account_id_behaviour();        // param_ids.cpp
const ClassBehaviour* account_group_id_behaviour();  // param_ids.cpp
const ClassBehaviour* instrument_id_behaviour();     // param_ids.cpp
const ClassBehaviour* leverage_behaviour();          // param_leverage.cpp
const ClassBehaviour* trade_amount_behaviour();      // param_amounts.cpp
const ClassBehaviour* adjustment_amount_behaviour(); // param_amounts.cpp
const ClassBehaviour* trade_behaviour();             // param_amounts.cpp
const ClassBehaviour* instrument_behaviour();        // core_instrument.cpp
const ClassBehaviour* outcome_amount_behaviour();    // pretrade_outcome.cpp
// -- param-classes: end

// Order, execution-report and account-adjustment records (core/order.cpp,
// core/execution_report.cpp, core/account_adjustment.cpp).
// -- record-classes: begin
const ClassBehaviour* order_behaviour();
const ClassBehaviour* order_operation_behaviour();
const ClassBehaviour* order_position_behaviour();
const ClassBehaviour* order_margin_behaviour();
const ClassBehaviour* account_adjustment_behaviour();
const ClassBehaviour* account_adjustment_balance_operation_behaviour();
const ClassBehaviour* account_adjustment_position_operation_behaviour();
const ClassBehaviour* account_adjustment_amount_behaviour();
const ClassBehaviour* account_adjustment_bounds_behaviour();
const ClassBehaviour* execution_report_behaviour();
const ClassBehaviour* execution_report_operation_behaviour();
const ClassBehaviour* financial_impact_behaviour();
const ClassBehaviour* execution_report_fill_details_behaviour();
const ClassBehaviour* execution_report_position_impact_behaviour();
// -- record-classes: end

const ClassBehaviour* lock_behaviour();  // pretrade/lock.cpp
const ClassBehaviour* order_size_limit_behaviour();  // pretrade/order_size_limit.cpp

// Rejects, account blocks, outcomes and result records.
// -- pretrade-records: begin
const ClassBehaviour* reject_behaviour();                             // pretrade/reject.cpp
const ClassBehaviour* account_block_behaviour();                      // pretrade/account_block.cpp
const ClassBehaviour* account_outcome_entry_behaviour();              // pretrade/outcome_entry.cpp
const ClassBehaviour* account_adjustment_outcome_behaviour();         // pretrade/adjustment_outcome.cpp
const ClassBehaviour* start_result_behaviour();                       // pretrade/results.cpp
const ClassBehaviour* execute_result_behaviour();                     // pretrade/results.cpp
const ClassBehaviour* post_trade_result_behaviour();                  // pretrade/results.cpp
const ClassBehaviour* account_adjustment_batch_result_behaviour();    // pretrade/results.cpp
// -- pretrade-records: end

// Market data (marketdata/quote.cpp, marketdata/builder.cpp, marketdata/service.cpp).
// -- marketdata-classes: begin
const ClassBehaviour* quote_ttl_behaviour();
const ClassBehaviour* quote_behaviour();
const ClassBehaviour* quote_resolution_behaviour();
const ClassBehaviour* market_data_service_behaviour();
const ClassBehaviour* market_data_builder_behaviour();
// -- marketdata-classes: end

// The engine, its builders, handles and policy contexts (pretrade/engine.cpp,
// builders.cpp, request.cpp, accounts.cpp, contexts.cpp).
// -- engine-classes: begin
const ClassBehaviour* engine_behaviour();
const ClassBehaviour* engine_builder_behaviour();
const ClassBehaviour* synced_engine_builder_behaviour();
const ClassBehaviour* ready_engine_builder_behaviour();
const ClassBehaviour* request_behaviour();
const ClassBehaviour* reservation_behaviour();
const ClassBehaviour* accounts_behaviour();
const ClassBehaviour* account_control_behaviour();
const ClassBehaviour* context_behaviour();
const ClassBehaviour* post_trade_context_behaviour();
const ClassBehaviour* adjustment_context_behaviour();
// -- engine-classes: end

}  // namespace vantrel::py
