// vantrel.core.AccountAdjustment with its operation, amount and bounds records,
// and their conversion into the engine's AccountAdjustmentRecord. Mutable records
// guarded by their borrow flags; used with the interpreter lock held.
#include "class_behaviours.hpp"
#include "core/extract_records.hpp"
#include "core/record_fields.hpp"
#include "toolkit/args.hpp"

namespace vantrel::py {
namespace {

using BalanceValue = AccountAdjustmentRecord::BalanceOperation;
using AdjustmentPositionValue = AccountAdjustmentRecord::PositionOperation;
using AmountValue = AccountAdjustmentRecord::Amount;
using BoundsValue = AccountAdjustmentRecord::Bounds;

// The children, each a stored object of exactly its base class, or empty; the
// operation's class tells which kind it is.
struct AdjustmentValue {
  Ref operation;
  Ref amount;
  Ref bounds;
};

// ---- AccountAdjustmentBalanceOperation

PyObject* balance_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("AccountAdjustmentBalanceOperation.__new__()", kw_opt("asset"),
                                      kw_opt("average_entry_price"));
  auto [asset, price] = parse(spec, args, kwargs);
  BalanceValue value;
  convert_arg_into<AssetField>(value.asset, asset, "asset");
  convert_arg_into<PriceField>(value.average_entry_price, price, "average_entry_price");
  return make_instance<BalanceValue>(type, std::move(value)).release();
}

std::string balance_text(const BalanceValue& v) {
  std::string out = "AccountAdjustmentBalanceOperation(asset=";
  append_optional_asset(out, v.asset);
  out += ", average_entry_price=";
  append_optional_amount(out, v.average_entry_price);
  out += ')';
  return out;
}

PyObject* balance_repr(PyObject* self) { return make_str(balance_text(*Shared<BalanceValue>(self))).release(); }

// ---- AccountAdjustmentPositionOperation

PyObject* position_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("AccountAdjustmentPositionOperation.__new__()", kw_opt("underlying_asset"), kw_opt("settlement_asset"),
             kw_opt("collateral_asset"), kw_opt("average_entry_price"), kw_opt("mode"), kw_opt("leverage"));
  auto [underlying, settlement, collateral, price, mode, leverage] = parse(spec, args, kwargs);
  AdjustmentPositionValue value;
  convert_arg_into<AssetField>(value.underlying_asset, underlying, "underlying_asset");
  convert_arg_into<AssetField>(value.settlement_asset, settlement, "settlement_asset");
  convert_arg_into<AssetField>(value.collateral_asset, collateral, "collateral_asset");
  convert_arg_into<PriceField>(value.average_entry_price, price, "average_entry_price");
  convert_arg_into<PositionModeField>(value.mode, mode, "mode");
  convert_arg_into<LeverageField>(value.leverage, leverage, "leverage");
  return make_instance<AdjustmentPositionValue>(type, std::move(value)).release();
}

std::string position_text(const AdjustmentPositionValue& v) {
  std::string out = "AccountAdjustmentPositionOperation(underlying_asset=";
  append_optional_asset(out, v.underlying_asset);
  out += ", settlement_asset=";
  append_optional_asset(out, v.settlement_asset);
  out += ", collateral_asset=";
  append_optional_asset(out, v.collateral_asset);
  out += ", average_entry_price=";
  append_optional_amount(out, v.average_entry_price);
  out += ", mode=";
  append_optional_position_mode(out, v.mode);
  out += ", leverage=";
  append_optional_leverage(out, v.leverage);
  out += ')';
  return out;
}

PyObject* position_repr(PyObject* self) { return make_str(position_text(*Shared<AdjustmentPositionValue>(self))).release(); }

// ---- AccountAdjustmentAmount

PyObject* amount_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("AccountAdjustmentAmount.__new__()", kw_opt("balance"), kw_opt("held"), kw_opt("incoming"));
  auto [balance, held, incoming] = parse(spec, args, kwargs);
  AmountValue value;
  convert_arg_into<AdjustmentAmountField>(value.balance, balance, "balance");
  convert_arg_into<AdjustmentAmountField>(value.held, held, "held");
  convert_arg_into<AdjustmentAmountField>(value.incoming, incoming, "incoming");
  return make_instance<AmountValue>(type, value).release();
}

void append_optional_adjustment(std::string& out, const std::optional<AdjustmentAmount>& amount) {
  append_optional(out, amount,
                  [](std::string& o, const AdjustmentAmount& a) { append_quoted(o, adjustment_amount_text(a)); });
}

std::string amount_text(const AmountValue& v) {
  std::string out = "AccountAdjustmentAmount(balance=";
  append_optional_adjustment(out, v.balance);
  out += ", held=";
  append_optional_adjustment(out, v.held);
  out += ", incoming=";
  append_optional_adjustment(out, v.incoming);
  out += ')';
  return out;
}

PyObject* amount_repr(PyObject* self) { return make_str(amount_text(*Shared<AmountValue>(self))).release(); }

// ---- AccountAdjustmentBounds

PyObject* bounds_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("AccountAdjustmentBounds.__new__()", kw_opt("balance_upper"), kw_opt("balance_lower"),
             kw_opt("held_upper"), kw_opt("held_lower"), kw_opt("incoming_upper"), kw_opt("incoming_lower"));
  auto [balance_upper, balance_lower, held_upper, held_lower, incoming_upper, incoming_lower] =
      parse(spec, args, kwargs);
  BoundsValue value;
  convert_arg_into<PositionSizeField>(value.balance_upper, balance_upper, "balance_upper");
  convert_arg_into<PositionSizeField>(value.balance_lower, balance_lower, "balance_lower");
  convert_arg_into<PositionSizeField>(value.held_upper, held_upper, "held_upper");
  convert_arg_into<PositionSizeField>(value.held_lower, held_lower, "held_lower");
  convert_arg_into<PositionSizeField>(value.incoming_upper, incoming_upper, "incoming_upper");
  convert_arg_into<PositionSizeField>(value.incoming_lower, incoming_lower, "incoming_lower");
  return make_instance<BoundsValue>(type, value).release();
}

std::string bounds_text(const BoundsValue& v) {
  struct Bound {
    const char* label;
    const std::optional<PositionSize>& value;
  };
  const Bound bounds[] = {
      {"balance_upper=", v.balance_upper}, {", balance_lower=", v.balance_lower},
      {", held_upper=", v.held_upper},     {", held_lower=", v.held_lower},
      {", incoming_upper=", v.incoming_upper}, {", incoming_lower=", v.incoming_lower},
  };
  std::string out = "AccountAdjustmentBounds(";
  for (const Bound& bound : bounds) {
    out += bound.label;
    append_optional_amount(out, bound.value);
  }
  out += ')';
  return out;
}

PyObject* bounds_repr(PyObject* self) { return make_str(bounds_text(*Shared<BoundsValue>(self))).release(); }

// ---- AccountAdjustment

constexpr const char* kNotOperation =
    "operation must be vantrel.core.AccountAdjustmentBalanceOperation or "
    "vantrel.core.AccountAdjustmentPositionOperation";

Ref operation_from_py(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return Ref();
  if (is_instance(obj, ClassId::AccountAdjustmentBalanceOperation))
    return copy_child<BalanceValue>(obj, ClassId::AccountAdjustmentBalanceOperation);
  if (is_instance(obj, ClassId::AccountAdjustmentPositionOperation))
    return copy_child<AdjustmentPositionValue>(obj, ClassId::AccountAdjustmentPositionOperation);
  throw_error(PyExc_TypeError, kNotOperation);
}

Ref amount_from_py(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return Ref();
  if (!is_instance(obj, ClassId::AccountAdjustmentAmount))
    throw_error(PyExc_TypeError, "amount must be vantrel.core.AccountAdjustmentAmount");
  return copy_child<AmountValue>(obj, ClassId::AccountAdjustmentAmount);
}

Ref bounds_from_py(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return Ref();
  if (!is_instance(obj, ClassId::AccountAdjustmentBounds))
    throw_error(PyExc_TypeError, "bounds must be vantrel.core.AccountAdjustmentBounds");
  return copy_child<BoundsValue>(obj, ClassId::AccountAdjustmentBounds);
}

// A stored operation is exactly one of the two classes.
bool is_balance_operation(const Ref& operation) {
  return is_exact(operation.get(), ClassId::AccountAdjustmentBalanceOperation);
}

template <Ref AdjustmentValue::*Slot>
PyObject* child_get(PyObject* self, void*) {
  Shared<AdjustmentValue> adjustment(self);
  const Ref& child = (*adjustment).*Slot;
  return (child ? child : none()).new_ref();
}

template <Ref AdjustmentValue::*Slot, Ref (*Convert)(PyObject*)>
int child_set(PyObject* self, PyObject* obj, void*) {
  if (obj == nullptr) refuse_delete();
  Ref child = Convert(obj);
  Exclusive<AdjustmentValue> adjustment(self);
  std::swap((*adjustment).*Slot, child);
  return 0;
}

PyObject* adjustment_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("AccountAdjustment.__new__()", kw_opt("operation"), kw_opt("amount"), kw_opt("bounds"));
  auto [operation, amount, bounds] = parse(spec, args, kwargs);
  AdjustmentValue value;
  value.operation = operation_from_py(operation);
  value.amount = amount_from_py(amount);
  value.bounds = bounds_from_py(bounds);
  return make_instance<AdjustmentValue>(type, std::move(value)).release();
}

PyObject* adjustment_repr(PyObject* self) {
  Shared<AdjustmentValue> adjustment(self);
  std::string out = "AccountAdjustment(operation=";
  if (!adjustment->operation) {
    out += "None";
  } else if (is_balance_operation(adjustment->operation)) {
    append_some_quoted(out, balance_text(*Shared<BalanceValue>(adjustment->operation.get())));
  } else {
    append_some_quoted(out, position_text(*Shared<AdjustmentPositionValue>(adjustment->operation.get())));
  }
  out += ", amount=";
  if (adjustment->amount) {
    append_some_quoted(out, amount_text(*Shared<AmountValue>(adjustment->amount.get())));
  } else {
    out += "None";
  }
  out += ", bounds=";
  if (adjustment->bounds) {
    append_some_quoted(out, bounds_text(*Shared<BoundsValue>(adjustment->bounds.get())));
  } else {
    out += "None";
  }
  out += ')';
  return make_str(out).release();
}

}  // namespace

AccountAdjustmentRecord extract_account_adjustment(PyObject* obj) {
  if (!is_instance(obj, ClassId::AccountAdjustment))
    throw_error(PyExc_TypeError, "adjustment must inherit from vantrel.AccountAdjustment");
  Shared<AdjustmentValue> adjustment(obj);
  AccountAdjustmentRecord record;
  if (adjustment->operation) {
    if (is_balance_operation(adjustment->operation)) {
      record.operation = *Shared<BalanceValue>(adjustment->operation.get());
    } else {
      record.operation = *Shared<AdjustmentPositionValue>(adjustment->operation.get());
    }
  }
  if (adjustment->amount) record.amount = *Shared<AmountValue>(adjustment->amount.get());
  if (adjustment->bounds) record.bounds = *Shared<BoundsValue>(adjustment->bounds.get());
  record.source = make_source(obj);
  return record;
}

const ClassBehaviour* account_adjustment_balance_operation_behaviour() {
  using V = BalanceValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::asset, AssetField>("asset"),
      field_property<V, &V::average_entry_price, PriceField>("average_entry_price"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&balance_new>, getset, entry<&balance_repr>);
  return &behaviour;
}

const ClassBehaviour* account_adjustment_position_operation_behaviour() {
  using V = AdjustmentPositionValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::underlying_asset, AssetField>("underlying_asset"),
      field_property<V, &V::settlement_asset, AssetField>("settlement_asset"),
      field_property<V, &V::collateral_asset, AssetField>("collateral_asset"),
      field_property<V, &V::average_entry_price, PriceField>("average_entry_price"),
      field_property<V, &V::mode, PositionModeField>("mode"),
      field_property<V, &V::leverage, LeverageField>("leverage"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&position_new>, getset, entry<&position_repr>);
  return &behaviour;
}

const ClassBehaviour* account_adjustment_amount_behaviour() {
  using V = AmountValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::balance, AdjustmentAmountField>("balance"),
      field_property<V, &V::held, AdjustmentAmountField>("held"),
      field_property<V, &V::incoming, AdjustmentAmountField>("incoming"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&amount_new>, getset, entry<&amount_repr>);
  return &behaviour;
}

const ClassBehaviour* account_adjustment_bounds_behaviour() {
  using V = BoundsValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::balance_upper, PositionSizeField>("balance_upper"),
      field_property<V, &V::balance_lower, PositionSizeField>("balance_lower"),
      field_property<V, &V::held_upper, PositionSizeField>("held_upper"),
      field_property<V, &V::held_lower, PositionSizeField>("held_lower"),
      field_property<V, &V::incoming_upper, PositionSizeField>("incoming_upper"),
      field_property<V, &V::incoming_lower, PositionSizeField>("incoming_lower"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&bounds_new>, getset, entry<&bounds_repr>);
  return &behaviour;
}

const ClassBehaviour* account_adjustment_behaviour() {
  using V = AdjustmentValue;
  static PyGetSetDef getset[] = {
      {"operation", entry<&child_get<&V::operation>>, entry<&child_set<&V::operation, &operation_from_py>>, nullptr,
       nullptr},
      {"amount", entry<&child_get<&V::amount>>, entry<&child_set<&V::amount, &amount_from_py>>, nullptr, nullptr},
      {"bounds", entry<&child_get<&V::bounds>>, entry<&child_set<&V::bounds, &bounds_from_py>>, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour =
      record_behaviour<V>(entry<&adjustment_new>, getset, entry<&adjustment_repr>);
  return &behaviour;
}

}  // namespace vantrel::py
