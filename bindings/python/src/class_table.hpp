#pragma once
#include "toolkit/classes.hpp"

namespace vantrel::py {

// The module's classes, in registration order.
enum class ClassId {
  AccountId, AccountGroupId, Quantity, Price, Trade, Pnl, Fee, Volume, Notional, CashFlow, PositionSize,
  InstrumentId, QuoteTtl, Quote, QuoteResolution, MarketDataService, MarketDataBuilder, TradeAmount,
  AdjustmentAmount, Leverage, Engine, Accounts, Reject, AccountBlock, StartResult, ExecuteResult,
  AccountAdjustmentBatchResult, OutcomeAmount, AccountOutcomeEntry, AccountAdjustmentOutcome, EngineBuilder,
  SyncedEngineBuilder, ReadyEngineBuilder, Instrument, OrderOperation, OrderPosition, OrderMargin, Order, Request,
  Reservation, ExecutionReportOperation, FinancialImpact, ExecutionReportFillDetails, ExecutionReportPositionImpact,
  ExecutionReport, AccountAdjustmentAmount, AccountAdjustmentBalanceOperation, AccountAdjustmentPositionOperation,
  AccountAdjustmentBounds, AccountAdjustment, PostTradeResult, Lock, OrderSizeLimit, Context,
  AccountAdjustmentContext, PostTradeContext, AccountControl,
};
inline constexpr int kClassCount = 57;

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
