// vantrel.pretrade.OutcomeAmount: an immutable pair of position sizes; any thread
// holding the interpreter lock may use it.
#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/amounts.hpp"
#include "param/values.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

PyObject* outcome_amount_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("OutcomeAmount.__new__()", kw("delta"), kw("absolute"));
  auto [delta, absolute] = parse(spec, args, kwargs);
  const PositionSize d = extract_position_size(delta);
  const PositionSize a = extract_position_size(absolute);
  return make_instance<OutcomeAmount>(type, OutcomeAmount{d, a}).release();
}

PyObject* delta_getter(PyObject* self, void*) {
  return wrap_amount<ValueKind::PositionSize>(outcome_amount_of(self).delta).release();
}
PyObject* absolute_getter(PyObject* self, void*) {
  return wrap_amount<ValueKind::PositionSize>(outcome_amount_of(self).absolute).release();
}
PyObject* outcome_amount_repr(PyObject* self) {
  return make_str(outcome_amount_text(outcome_amount_of(self))).release();
}

}  // namespace

Ref wrap_outcome_amount(OutcomeAmount amount) {
  return make_instance<OutcomeAmount>(class_type(ClassId::OutcomeAmount), amount);
}
bool is_outcome_amount(PyObject* obj) { return is_instance(obj, ClassId::OutcomeAmount); }
OutcomeAmount outcome_amount_of(PyObject* obj) { return object_cast<OutcomeAmount>(obj)->value; }

const ClassBehaviour* outcome_amount_behaviour() {
  static PyGetSetDef getset[] = {
      {"delta", entry<&delta_getter>, nullptr, nullptr, nullptr},
      {"absolute", entry<&absolute_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<OutcomeAmount>();
    b.slots.push_back({Py_tp_new, slot_entry<&outcome_amount_new>()});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&outcome_amount_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
