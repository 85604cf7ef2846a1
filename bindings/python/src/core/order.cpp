// vantrel.core.Order and its parts OrderOperation, OrderPosition, OrderMargin, and
// their conversion into the engine's OrderRecord. Mutable records guarded by their
// borrow flags; used with the interpreter lock held.
#include "class_behaviours.hpp"
#include "core/extract_records.hpp"
#include "core/operation_fields.hpp"
#include "toolkit/args.hpp"

namespace vantrel::py {

// What an OrderOperation holds. Named outside any anonymous namespace: its
// field accessors are instantiated over pointers to its members.
struct OrderOperationValue : OperationFields {
  std::optional<TradeAmount> trade_amount;
  std::optional<Price> price;
};

namespace {

using OrderPositionValue = OrderRecord::Position;
using MarginValue = OrderRecord::Margin;

// Each part is a stored object of exactly its base class, or empty.
struct OrderValue {
  Ref operation;
  Ref position;
  Ref margin;
};

// ---- OrderOperation

PyObject* operation_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("OrderOperation.__new__()", kw_opt("underlying_asset"), kw_opt("settlement_asset"),
             kw_opt("account_id"), kw_opt("side"), kw_opt("trade_amount"), kw_opt("price"));
  auto [underlying, settlement, account_id, side, trade_amount, price] = parse(spec, args, kwargs);
  OrderOperationValue value;
  convert_operation_args(value, underlying, settlement, account_id, side);
  convert_arg_into<TradeAmountField>(value.trade_amount, trade_amount, "trade_amount");
  convert_arg_into<PriceField>(value.price, price, "price");
  return make_instance<OrderOperationValue>(type, std::move(value)).release();
}

std::string operation_text(const OrderOperationValue& v) {
  std::string out = "OrderOperation(";
  append_operation_assets(out, v);
  out += ", side=";
  append_optional_side(out, v.side);
  out += ", trade_amount=";
  append_optional(out, v.trade_amount, [](std::string& o, const TradeAmount& a) { append_quoted(o, trade_amount_text(a)); });
  out += ", price=";
  append_optional_amount(out, v.price);
  out += ')';
  return out;
}

PyObject* operation_repr(PyObject* self) { return make_str(operation_text(*Shared<OrderOperationValue>(self))).release(); }

// ---- OrderPosition

PyObject* position_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("OrderPosition.__new__()", kw_opt("position_side"), kw_opt("reduce_only"),
                                      kw_opt("close_position"));
  auto [position_side, reduce_only, close_position] = parse(spec, args, kwargs);
  OrderPositionValue value;
  convert_arg_into<FlagField>(value.reduce_only, reduce_only, "reduce_only");
  convert_arg_into<FlagField>(value.close_position, close_position, "close_position");
  convert_arg_into<PositionSideField>(value.position_side, position_side, "position_side");
  return make_instance<OrderPositionValue>(type, value).release();
}

std::string position_text(const OrderPositionValue& v) {
  std::string out = "OrderPosition(position_side=";
  append_optional_position_side(out, v.position_side);
  out += ", reduce_only=";
  append_flag(out, v.reduce_only);
  out += ", close_position=";
  append_flag(out, v.close_position);
  out += ')';
  return out;
}

PyObject* position_repr(PyObject* self) { return make_str(position_text(*Shared<OrderPositionValue>(self))).release(); }

// ---- OrderMargin

PyObject* margin_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("OrderMargin.__new__()", kw_opt("leverage"), kw_opt("collateral_asset"), kw_opt("auto_borrow"));
  auto [leverage, collateral_asset, auto_borrow] = parse(spec, args, kwargs);
  MarginValue value;
  convert_arg_into<FlagField>(value.auto_borrow, auto_borrow, "auto_borrow");
  convert_arg_into<LeverageField>(value.leverage, leverage, "leverage");
  convert_arg_into<AssetField>(value.collateral_asset, collateral_asset, "collateral_asset");
  return make_instance<MarginValue>(type, std::move(value)).release();
}

std::string margin_text(const MarginValue& v) {
  std::string out = "OrderMargin(leverage=";
  append_optional_leverage(out, v.leverage);
  out += ", collateral_asset=";
  append_optional_asset(out, v.collateral_asset);
  out += ", auto_borrow=";
  append_flag(out, v.auto_borrow);
  out += ')';
  return out;
}

PyObject* margin_repr(PyObject* self) { return make_str(margin_text(*Shared<MarginValue>(self))).release(); }

// ---- Order

// How each part is checked, copied and shown.
struct OrderOperationPart {
  using Parent = OrderValue;
  using Value = OrderOperationValue;
  static constexpr ClassId kClass = ClassId::OrderOperation;
  static constexpr const char* kRefusal = "operation must be vantrel.core.OrderOperation";
  static constexpr Ref OrderValue::*kSlot = &OrderValue::operation;
  static std::string text(const Value& v) { return operation_text(v); }
};
struct PositionPart {
  using Parent = OrderValue;
  using Value = OrderPositionValue;
  static constexpr ClassId kClass = ClassId::OrderPosition;
  static constexpr const char* kRefusal = "position must be vantrel.core.OrderPosition";
  static constexpr Ref OrderValue::*kSlot = &OrderValue::position;
  static std::string text(const Value& v) { return position_text(v); }
};
struct MarginPart {
  using Parent = OrderValue;
  using Value = MarginValue;
  static constexpr ClassId kClass = ClassId::OrderMargin;
  static constexpr const char* kRefusal = "margin must be vantrel.core.OrderMargin";
  static constexpr Ref OrderValue::*kSlot = &OrderValue::margin;
  static std::string text(const Value& v) { return margin_text(v); }
};

// None: no part; an instance of the part's class: a fresh copy of it.
PyObject* order_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("Order.__new__()", kw_opt("operation"), kw_opt("position"), kw_opt("margin"));
  auto [operation, position, margin] = parse(spec, args, kwargs);
  OrderValue value;
  value.operation = part_from_py<OrderOperationPart>(operation);
  value.position = part_from_py<PositionPart>(position);
  value.margin = part_from_py<MarginPart>(margin);
  return make_instance<OrderValue>(type, std::move(value)).release();
}

PyObject* order_repr(PyObject* self) {
  Shared<OrderValue> order(self);
  std::string out = "Order(operation=";
  append_part<OrderOperationPart>(out, order->operation);
  out += ", position=";
  append_part<PositionPart>(out, order->position);
  out += ", margin=";
  append_part<MarginPart>(out, order->margin);
  out += ')';
  return make_str(out).release();
}

}  // namespace

OrderRecord extract_order(PyObject* obj) {
  if (!is_instance(obj, ClassId::Order)) throw_error(PyExc_TypeError, "order must inherit from vantrel.Order");
  Shared<OrderValue> order(obj);
  OrderRecord record;
  if (order->operation) {
    Shared<OrderOperationValue> part(order->operation.get());
    OrderRecord::Operation& operation = record.operation.emplace();
    fill_operation(operation, *part);
    operation.trade_amount = part->trade_amount;
    operation.price = part->price;
  }
  if (order->position) record.position = *Shared<OrderPositionValue>(order->position.get());
  if (order->margin) record.margin = *Shared<MarginValue>(order->margin.get());
  record.source = make_source(obj);
  return record;
}

const ClassBehaviour* order_operation_behaviour() {
  using V = OrderOperationValue;
  static auto getset = operation_getset<V>(field_property<V, &V::trade_amount, TradeAmountField>("trade_amount"),
                                           field_property<V, &V::price, PriceField>("price"));
  static const ClassBehaviour behaviour =
      record_behaviour<V>(entry<&operation_new>, getset.data(), entry<&operation_repr>);
  return &behaviour;
}

const ClassBehaviour* order_position_behaviour() {
  using V = OrderPositionValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::position_side, PositionSideField>("position_side"),
      field_property<V, &V::reduce_only, FlagField>("reduce_only"),
      field_property<V, &V::close_position, FlagField>("close_position"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&position_new>, getset, entry<&position_repr>);
  return &behaviour;
}

const ClassBehaviour* order_margin_behaviour() {
  using V = MarginValue;
  static PyGetSetDef getset[] = {
      field_property<V, &V::leverage, LeverageField>("leverage"),
      field_property<V, &V::collateral_asset, AssetField>("collateral_asset"),
      field_property<V, &V::auto_borrow, FlagField>("auto_borrow"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<V>(entry<&margin_new>, getset, entry<&margin_repr>);
  return &behaviour;
}

const ClassBehaviour* order_behaviour() {
  static PyGetSetDef getset[] = {
      part_property<OrderOperationPart>("operation"),
      part_property<PositionPart>("position"),
      part_property<MarginPart>("margin"),
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = record_behaviour<OrderValue>(entry<&order_new>, getset, entry<&order_repr>);
  return &behaviour;
}

}  // namespace vantrel::py
