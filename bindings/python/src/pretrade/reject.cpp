// vantrel.pretrade.Reject: an immutable copy of one core reject; any thread
// holding the interpreter lock may use it.
#include "pretrade/reject.hpp"

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

const Reject& reject_of(PyObject* obj) { return object_cast<Reject>(obj)->value; }

PyObject* scope_getter(PyObject* self, void*) {
  return make_str(reject_scope_name(reject_of(self).scope)).release();
}
PyObject* reject_repr(PyObject* self) { return make_str(reject_text(reject_of(self))).release(); }

}  // namespace

RejectCode reject_code_or_raise(std::string_view name) {
  const std::optional<RejectCode> code = parse_reject_code(name);
  if (!code) [[unlikely]]
    throw_error(PyExc_ValueError, unsupported_reject_code_message(name));
  return *code;
}

Ref wrap_reject(const Reject& reject) { return make_instance<Reject>(class_type(ClassId::Reject), reject); }

Ref wrap_rejects(std::span<const Reject> rejects) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(rejects.size())));
  if (!list) throw_pending();
  for (std::size_t i = 0; i < rejects.size(); ++i)
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), wrap_reject(rejects[i]).release());
  return list;
}

const ClassBehaviour* reject_behaviour() {
  static PyGetSetDef* getset =
      BlockFieldGetters<Reject>::table({"scope", entry<&scope_getter>, nullptr, nullptr, nullptr});
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Reject>();
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&reject_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
