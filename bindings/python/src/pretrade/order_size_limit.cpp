// vantrel.pretrade.policies.OrderSizeLimit: one size limit, read by the order size limit
// policy's configuration. Immutable; any thread holding the interpreter lock may use it.
#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/values.hpp"
#include "pretrade/order_size_limit.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

PyObject* order_size_limit_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("OrderSizeLimit.__new__()", kw("max_quantity"), kw("max_notional"));
  auto [max_quantity, max_notional] = parse(spec, args, kwargs);
  const Quantity q = extract_quantity(max_quantity);
  const Volume n = extract_volume(max_notional);
  return make_instance<OrderSizeLimit>(type, OrderSizeLimit{q, n}).release();
}

}  // namespace

bool is_order_size_limit(PyObject* obj) { return is_instance(obj, ClassId::OrderSizeLimit); }
OrderSizeLimit order_size_limit_of(PyObject* obj) { return object_cast<OrderSizeLimit>(obj)->value; }

const ClassBehaviour* order_size_limit_behaviour() {
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<OrderSizeLimit>();
    b.slots.push_back({Py_tp_new, slot_entry<&order_size_limit_new>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
