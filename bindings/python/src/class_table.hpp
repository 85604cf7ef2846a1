#pragma once
#include <array>

#include "toolkit/classes.hpp"

namespace vantrel::py {

// The module's classes, in registration order; the class table checks its rows against these names.
#define VANTREL_CLASS_IDS(X) \
  X(AccountId) X(AccountGroupId) X(Quantity) X(Price) X(Trade) X(Pnl) X(Fee) X(Volume) X(Notional) X(CashFlow) \
  X(PositionSize) X(InstrumentId) X(QuoteTtl) X(Quote) X(QuoteResolution) X(MarketDataService) X(MarketDataBuilder) \
  X(TradeAmount) X(AdjustmentAmount) X(Leverage) X(Engine) X(Accounts) X(Reject) X(AccountBlock) X(StartResult) \
  X(ExecuteResult) X(AccountAdjustmentBatchResult) X(OutcomeAmount) X(AccountOutcomeEntry) \
  X(AccountAdjustmentOutcome) X(EngineBuilder) X(SyncedEngineBuilder) X(ReadyEngineBuilder) X(Instrument) \
  X(OrderOperation) X(OrderPosition) X(OrderMargin) X(Order) X(Request) X(Reservation) X(ExecutionReportOperation) \
  X(FinancialImpact) X(ExecutionReportFillDetails) X(ExecutionReportPositionImpact) X(ExecutionReport) \
  X(AccountAdjustmentAmount) X(AccountAdjustmentBalanceOperation) X(AccountAdjustmentPositionOperation) \
  X(AccountAdjustmentBounds) X(AccountAdjustment) X(PostTradeResult) X(Lock) X(OrderSizeLimit) X(Context) \
  X(AccountAdjustmentContext) X(PostTradeContext) X(AccountControl)

enum class ClassId {
#define VANTREL_CLASS_ID(name) name,
  VANTREL_CLASS_IDS(VANTREL_CLASS_ID)
#undef VANTREL_CLASS_ID
};
inline constexpr std::array kClassNames = {
#define VANTREL_CLASS_NAME(name) #name,
  VANTREL_CLASS_IDS(VANTREL_CLASS_NAME)
#undef VANTREL_CLASS_NAME
};
inline constexpr int kClassCount = static_cast<int>(kClassNames.size());

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
