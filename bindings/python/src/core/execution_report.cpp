// vantrel.core.ExecutionReport and its parts ExecutionReportOperation,
// FinancialImpact, ExecutionReportFillDetails, ExecutionReportPositionImpact, and
// their conversion into the engine's ExecutionReportRecord. Mutable records guarded
// by their borrow flags; used with the interpreter lock held.
#include "class_behaviours.hpp"
#include "core/extract_records.hpp"
#include "core/operation_fields.hpp"
#include "pretrade/lock.hpp"
#include "toolkit/args.hpp"
#include "vantrel/core/execution_report.hpp"

namespace vantrel::py {

// What an ExecutionReportOperation holds: the shared operation fields alone.
// Named outside any anonymous namespace: its field accessors are instantiated
// over pointers to its members.
struct ReportOperationValue : OperationFields {};

namespace {

using ImpactValue = ExecutionReportRecord::FinancialImpact;
using FillValue = ExecutionReportRecord::Fill;
using PositionImpactValue = ExecutionReportRecord::PositionImpact;

struct ReportValue {
  Ref operation;
  Ref financial_impact;
  Ref fill;
  Ref position_impact;
};

// A Lock (or subclass), copied whole; None included, anything else is refused
// with the type check's error.
struct LockField {
  static Lock from_py(PyObject* obj, std::string_view arg) {
    if (!is_lock(obj)) throw_arg_cannot_convert(arg, obj, "Lock");
    return lock_copy_of(obj);
  }
  static Ref to_py(const Lock& lock) { return wrap_lock(lock); }
};

// ---- ExecutionReportOperation

PyObject* operation_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("ExecutionReportOperation.__new__()", kw_opt("underlying_asset"),
                                      kw_opt("settlement_asset"), kw_opt("account_id"), kw_opt("side"));
  auto [underlying, settlement, account_id, side] = parse(spec, args, kwargs);
  ReportOperationValue value;
  convert_operation_args(value, underlying, settlement, account_id, side);
  return make_instance<ReportOperationValue>(type, std::move(value)).release();
}

std::string operation_text(const ReportOperationValue& v) {
  std::string out = "ExecutionReportOperation(";
  append_operation_assets(out, v);
  out += ", account_id=";
  append_optional(out, v.account_id, [](std::string& o, AccountId id) { o += cat(id.value); });
  out += ", side=";
  append_optional_side(out, v.side);
  out += ')';
  return out;
}

PyObject* operation_repr(PyObject* self) { return make_str(operation_text(*Shared<ReportOperationValue>(self))).release(); }

// ---- FinancialImpact

PyObject* impact_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("FinancialImpact.__new__()", kw("pnl"), kw("fee"));
  auto [pnl, fee] = parse(spec, args, kwargs);
  ImpactValue value;
  convert_arg_into<PnlField>(value.pnl, pnl, "pnl");
  convert_arg_into<FeeField>(value.fee, fee, "fee");
  return make_instance<ImpactValue>(type, value).release();
}

std::string impact_text(const ImpactValue& v) {
  std::string out = "FinancialImpact(pnl=";
  append_quoted_decimal(out, v.pnl.value);
  out += ", fee=";
  append_quoted_decimal(out, v.fee.value);
  out += ')';
  return out;
}

PyObject* impact_repr(PyObject* self) { return make_str(impact_text(*Shared<ImpactValue>(self))).release(); }

// ---- ExecutionReportFillDetails

PyObject* fill_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("ExecutionReportFillDetails.__new__()", kw_opt("last_trade"),
                                      kw_opt("leaves_quantity"), kw("lock"), kw_opt("is_final"));
  auto [last_trade, leaves_quantity, lock, is_final] = parse(spec, args, kwargs);
  FillValue value;
  convert_arg_into<FlagField>(value.is_final, is_final, "is_final");
  convert_arg_into<TradeField>(value.last_trade, last_trade, "last_trade");
  convert_arg_into<QuantityField>(value.leaves_quantity, leaves_quantity, "leaves_quantity");
  convert_arg_into<LockField>(value.lock, lock, "lock");
  return make_instance<FillValue>(type, std::move(value)).release();
}

// The trade as its own representation shows it, with each decimal quoted.
void append_quoted_trade(std::string& out, const Trade& trade) {
  std::string text = "Trade(price=";
  append_quoted_decimal(text, trade.price.value);
  text += ", quantity=";
  append_quoted_decimal(text, trade.quantity.value);
  text += ')';
  append_quoted(out, text);
}

std::string fill_text(const FillValue& v) {
  std::string out = "ExecutionReportFillDetails(last_trade=";
  append_optional(out, v.last_trade, append_quoted_trade);
  out += ", leaves_quantity=";
  append_optional_amount(out, v.leaves_quantity);
  out += ", lock=";
  append_quoted(out, format_lock(v.lock));
  out += ", is_final=";
  append_optional_flag(out, v.is_final);
  out += ')';
  return out;
}

PyObject* fill_repr(PyObject* self) { return make_str(fill_text(*Shared<FillValue>(self))).release(); }

// ---- ExecutionReportPositionImpact

PyObject* position_impact_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("ExecutionReportPositionImpact.__new__()", kw_opt("position_effect"), kw_opt("position_side"));
  auto [position_effect, position_side] = parse(spec, args, kwargs);
  PositionImpactValue value;
  convert_arg_into<PositionEffectField>(value.position_effect, position_effect, "position_effect");
  convert_arg_into<PositionSideField>(value.position_side, position_side, "position_side");
  return make_instance<PositionImpactValue>(type, value).release();
}

std::string position_impact_text(const PositionImpactValue& v) {
  std::string out = "ExecutionReportPositionImpact(position_effect=";
  append_optional_position_effect(out, v.position_effect);
  out += ", position_side=";
  append_optional_position_side(out, v.position_side);
  out += ')';
  return out;
}

PyObject* position_impact_repr(PyObject* self) {
  return make_str(position_impact_text(*Shared<PositionImpactValue>(self))).release();
}

// ---- ExecutionReport

struct ReportOperationPart {
  using Parent = ReportValue;
  using Value = ReportOperationValue;
  static constexpr ClassId kClass = ClassId::ExecutionReportOperation;
  static constexpr const char* kRefusal = "operation must be vantrel.core.ExecutionReportOperation";
  static constexpr Ref ReportValue::*kSlot = &ReportValue::operation;
  static std::string text(const Value& v) { return operation_text(v); }
};
struct ImpactPart {
  using Parent = ReportValue;
  using Value = ImpactValue;
  static constexpr ClassId kClass = ClassId::FinancialImpact;
  static constexpr const char* kRefusal = "financial_impact must be vantrel.core.FinancialImpact";
  static constexpr Ref ReportValue::*kSlot = &ReportValue::financial_impact;
  static std::string text(const Value& v) { return impact_text(v); }
};
struct FillPart {
  using Parent = ReportValue;
  using Value = FillValue;
  static constexpr ClassId kClass = ClassId::ExecutionReportFillDetails;
  static constexpr const char* kRefusal = "fill must be vantrel.core.ExecutionReportFillDetails";
  static constexpr Ref ReportValue::*kSlot = &ReportValue::fill;
  static std::string text(const Value& v) { return fill_text(v); }
};
struct PositionImpactPart {
  using Parent = ReportValue;
  using Value = PositionImpactValue;
  static constexpr ClassId kClass = ClassId::ExecutionReportPositionImpact;
  static constexpr const char* kRefusal = "position_impact must be vantrel.core.ExecutionReportPositionImpact";
  static constexpr Ref ReportValue::*kSlot = &ReportValue::position_impact;
  static std::string text(const Value& v) { return position_impact_text(v); }
};

PyObject* report_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("ExecutionReport.__new__()", kw_opt("operation"), kw_opt("financial_impact"),
                                      kw_opt("fill"), kw_opt("position_impact"));
  auto [operation, financial_impact, fill, position_impact] = parse(spec, args, kwargs);
  ReportValue value;
  value.operation = part_from_py<ReportOperationPart>(operation);
  value.financial_impact = part_from_py<ImpactPart>(financial_impact);
  value.fill = part_from_py<FillPart>(fill);
  value.position_impact = part_from_py<PositionImpactPart>(position_impact);
  return make_instance<ReportValue>(type, std::move(value)).release();
}

PyObject* report_repr(PyObject* self) {
  Shared<ReportValue> report(self);
  std::string out = "ExecutionReport(operation=";
  append_part<ReportOperationPart>(out, report->operation);
  out += ", financial_impact=";
  append_part<ImpactPart>(out, report->financial_impact);
  out += ", fill=";
  append_part<FillPart>(out, report->fill);
  out += ", position_impact=";
  append_part<PositionImpactPart>(out, report->position_impact);
  out += ')';
  return make_str(out).release();
}

}  // namespace

ExecutionReportRecord extract_execution_report(PyObject* obj) {
  if (!is_instance(obj, ClassId::ExecutionReport))
    throw_error(PyExc_TypeError, "report must inherit from vantrel.ExecutionReport");
  Shared<ReportValue> report(obj);
  ExecutionReportRecord record;
  if (report->operation) {
    Shared<ReportOperationValue> part(report->operation.get());
    fill_operation(record.operation.emplace(), *part);
  }
  if (report->financial_impact) record.financial_impact = *Shared<ImpactValue>(report->financial_impact.get());
  if (report->fill) record.fill = *Shared<FillValue>(report->fill.get());
  if (report->position_impact) record.position_impact = *Shared<PositionImpactValue>(report->position_impact.get());
  record.source = make_source(obj);
  return record;
}

const ClassBehaviour* execution_report_operation_behaviour() {
  using V = ReportOperationValue;
  static auto getset = operation_getset<V>();
  static const ClassBehaviour behaviour =
      record_behaviour<V>(entry<&operation_new>, getset.data(), entry<&operation_repr>);
  return &behaviour;
}

const ClassBehaviour* financial_impact_behaviour() {
  using V = ImpactValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::pnl, PnlField>("pnl"),
      field_property<V, &V::fee, FeeField>("fee"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&impact_new>, getset, entry<&impact_repr>);
  return &behaviour;
}

const ClassBehaviour* execution_report_fill_details_behaviour() {
  using V = FillValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::last_trade, TradeField>("last_trade"),
      field_property<V, &V::leaves_quantity, QuantityField>("leaves_quantity"),
      field_property<V, &V::lock, LockField>("lock"),
      field_property<V, &V::is_final, FlagField>("is_final"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&fill_new>, getset, entry<&fill_repr>);
  return &behaviour;
}

const ClassBehaviour* execution_report_position_impact_behaviour() {
  using V = PositionImpactValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::position_effect, PositionEffectField>("position_effect"),
      field_property<V, &V::position_side, PositionSideField>("position_side"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour =
      record_behaviour<V>(entry<&position_impact_new>, getset, entry<&position_impact_repr>);
  return &behaviour;
}

const ClassBehaviour* execution_report_behaviour() {
  static PyGetSetDef getset[] = {
      part_property<ReportOperationPart>("operation"),
      part_property<ImpactPart>("financial_impact"),
      part_property<FillPart>("fill"),
      part_property<PositionImpactPart>("position_impact"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour =
      record_behaviour<ReportValue>(entry<&report_new>, getset, entry<&report_repr>);
  return &behaviour;
}

}  // namespace vantrel::py
