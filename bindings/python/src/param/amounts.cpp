// TradeAmount, AdjustmentAmount and Trade. Immutable values: any thread holding the
// interpreter lock may use them. None defines comparison or hashing: equality is identity.
#include "toolkit/names.hpp"
#include "param/amounts.hpp"

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/values.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

Ref none() { return Ref::borrow(Py_None); }

// -- TradeAmount

PyObject* trade_amount_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("TradeAmount.__new__()", req("other"));
  auto [other] = parse(spec, args, kwargs);
  if (!is_trade_amount(other)) throw_arg_cannot_convert("other", other, "TradeAmount");
  return make_instance<TradeAmount>(type, trade_amount_of(other)).release();
}

PyObject* trade_amount_quantity(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("TradeAmount.quantity()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return wrap_trade_amount(TradeAmount::of_quantity(extract_quantity(value))).release();
}

PyObject* trade_amount_volume(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("TradeAmount.volume()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return wrap_trade_amount(TradeAmount::of_volume(extract_volume(value))).release();
}

PyObject* is_quantity_getter(PyObject* self, void*) { return new_bool(trade_amount_of(self).is_quantity()).release(); }
PyObject* is_volume_getter(PyObject* self, void*) { return new_bool(trade_amount_of(self).is_volume()).release(); }

PyObject* as_quantity_getter(PyObject* self, void*) {
  std::optional<Quantity> q = trade_amount_of(self).as_quantity();
  return (q ? wrap_amount<ValueKind::Quantity>(*q) : none()).release();
}

PyObject* as_volume_getter(PyObject* self, void*) {
  std::optional<Volume> v = trade_amount_of(self).as_volume();
  return (v ? wrap_amount<ValueKind::Volume>(*v) : none()).release();
}

PyObject* trade_amount_repr(PyObject* self) { return make_str(trade_amount_text(trade_amount_of(self))).release(); }

// -- AdjustmentAmount

PyObject* adjustment_amount_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("AdjustmentAmount.__new__()", req("other"));
  auto [other] = parse(spec, args, kwargs);
  if (!is_adjustment_amount(other)) throw_arg_cannot_convert("other", other, "AdjustmentAmount");
  return make_instance<AdjustmentAmount>(type, adjustment_amount_of(other)).release();
}

template <AdjustmentAmount::Kind K>
PyObject* adjustment_amount_make(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params(K == AdjustmentAmount::Kind::Delta ? "AdjustmentAmount.delta()" : "AdjustmentAmount.absolute()",
             req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return wrap_adjustment_amount(AdjustmentAmount{K, extract_position_size(value)}).release();
}

template <AdjustmentAmount::Kind K>
PyObject* adjustment_is_getter(PyObject* self, void*) {
  return new_bool(adjustment_amount_of(self).kind == K).release();
}

template <AdjustmentAmount::Kind K>
PyObject* adjustment_as_getter(PyObject* self, void*) {
  const AdjustmentAmount amount = adjustment_amount_of(self);
  return (amount.kind == K ? wrap_amount<ValueKind::PositionSize>(amount.value) : none()).release();
}

PyObject* adjustment_amount_repr(PyObject* self) {
  return make_str(adjustment_amount_text(adjustment_amount_of(self))).release();
}

// -- Trade

PyObject* trade_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("Trade.__new__()", kw("price"), kw("quantity"));
  auto [price, quantity] = parse(spec, args, kwargs);
  const Price p = extract_price(price);
  const Quantity q = extract_quantity(quantity);
  return make_instance<Trade>(type, Trade{p, q}).release();
}

PyObject* trade_price_getter(PyObject* self, void*) {
  return wrap_amount<ValueKind::Price>(trade_of(self).price).release();
}
PyObject* trade_quantity_getter(PyObject* self, void*) {
  return wrap_amount<ValueKind::Quantity>(trade_of(self).quantity).release();
}
PyObject* trade_repr(PyObject* self) { return make_str(format_trade(trade_of(self))).release(); }

template <class T>
ClassBehaviour value_behaviour(newfunc constructor, PyMethodDef* methods, PyGetSetDef* getset, reprfunc repr) {
  ClassBehaviour b = base_behaviour<T>();
  b.slots.push_back({Py_tp_new, reinterpret_cast<void*>(constructor)});
  if (methods != nullptr) b.slots.push_back({Py_tp_methods, methods});
  b.slots.push_back({Py_tp_getset, getset});
  b.slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr)});
  return b;
}

}  // namespace

Ref wrap_trade_amount(TradeAmount amount) {
  return make_instance<TradeAmount>(class_type(ClassId::TradeAmount), amount);
}
bool is_trade_amount(PyObject* obj) { return is_instance(obj, ClassId::TradeAmount); }
TradeAmount trade_amount_of(PyObject* obj) { return object_cast<TradeAmount>(obj)->value; }

Ref wrap_adjustment_amount(AdjustmentAmount amount) {
  return make_instance<AdjustmentAmount>(class_type(ClassId::AdjustmentAmount), amount);
}
bool is_adjustment_amount(PyObject* obj) { return is_instance(obj, ClassId::AdjustmentAmount); }
AdjustmentAmount adjustment_amount_of(PyObject* obj) { return object_cast<AdjustmentAmount>(obj)->value; }

Ref wrap_trade(Trade trade) { return make_instance<Trade>(class_type(ClassId::Trade), trade); }
bool is_trade(PyObject* obj) { return is_instance(obj, ClassId::Trade); }
Trade trade_of(PyObject* obj) { return object_cast<Trade>(obj)->value; }

std::optional<OutcomeAmount> extract_outcome_amount(PyObject* obj) {
  if (obj == Py_None) return std::nullopt;
  if (is_outcome_amount(obj)) return outcome_amount_of(obj);
  Ref delta = Ref::steal(PyObject_GetAttr(obj, interned(Name::delta)));
  if (!delta) throw_pending();
  Ref absolute = Ref::steal(PyObject_GetAttr(obj, interned(Name::absolute)));
  if (!absolute) throw_pending();
  const PositionSize d = extract_position_size(delta.get());
  return OutcomeAmount{d, extract_position_size(absolute.get())};
}

const ClassBehaviour* trade_amount_behaviour() {
  static PyMethodDef methods[] = {
      {"quantity", method_entry<&trade_amount_quantity>(), kFastcallFlags | METH_STATIC,
       "quantity(value)\n--\n\nCreate a quantity-based trade amount."},
      {"volume", method_entry<&trade_amount_volume>(), kFastcallFlags | METH_STATIC,
       "volume(value)\n--\n\nCreate a volume-based trade amount."},
      {nullptr, nullptr, 0, nullptr},
  };
  static PyGetSetDef getset[] = {
      {"is_quantity", entry<&is_quantity_getter>, nullptr, nullptr, nullptr},
      {"is_volume", entry<&is_volume_getter>, nullptr, nullptr, nullptr},
      {"as_quantity", entry<&as_quantity_getter>, nullptr, nullptr, nullptr},
      {"as_volume", entry<&as_volume_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour =
      value_behaviour<TradeAmount>(entry<&trade_amount_new>, methods, getset, entry<&trade_amount_repr>);
  return &behaviour;
}

const ClassBehaviour* adjustment_amount_behaviour() {
  using Kind = AdjustmentAmount::Kind;
  static PyMethodDef methods[] = {
      {"delta", method_entry<&adjustment_amount_make<Kind::Delta>>(), kFastcallFlags | METH_STATIC,
       "delta(value)\n--\n\nCreate a delta-type adjustment amount."},
      {"absolute", method_entry<&adjustment_amount_make<Kind::Absolute>>(), kFastcallFlags | METH_STATIC,
       "absolute(value)\n--\n\nCreate an absolute-type adjustment amount."},
      {nullptr, nullptr, 0, nullptr},
  };
  static PyGetSetDef getset[] = {
      {"is_delta", entry<&adjustment_is_getter<Kind::Delta>>, nullptr, nullptr, nullptr},
      {"is_absolute", entry<&adjustment_is_getter<Kind::Absolute>>, nullptr, nullptr, nullptr},
      {"as_delta", entry<&adjustment_as_getter<Kind::Delta>>, nullptr, nullptr, nullptr},
      {"as_absolute", entry<&adjustment_as_getter<Kind::Absolute>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour =
      value_behaviour<AdjustmentAmount>(entry<&adjustment_amount_new>, methods, getset, entry<&adjustment_amount_repr>);
  return &behaviour;
}

const ClassBehaviour* trade_behaviour() {
  static PyGetSetDef getset[] = {
      {"price", entry<&trade_price_getter>, nullptr, nullptr, nullptr},
      {"quantity", entry<&trade_quantity_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour =
      value_behaviour<Trade>(entry<&trade_new>, nullptr, getset, entry<&trade_repr>);
  return &behaviour;
}

}  // namespace vantrel::py
