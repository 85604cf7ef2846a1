// vantrel.pretrade.AccountAdjustmentOutcome: an immutable outcome entry tagged
// with a policy group id; any thread holding the interpreter lock may use it.
#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "pretrade/outcome.hpp"
#include "pretrade/policy_group_id.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/iterate.hpp"

namespace vantrel::py {
namespace {

std::uint16_t policy_group_id_or_raise(PyObject* obj) {
  std::uint16_t id = 0;
  if (!extract_policy_group_id(obj, id)) throw ErrorAlreadySet{};
  return id;
}

const AdjustmentOutcomeRecord& outcome_of(PyObject* obj) {
  return object_cast<AdjustmentOutcomeRecord>(obj)->value;
}
bool is_adjustment_outcome(PyObject* obj) { return is_instance(obj, ClassId::AccountAdjustmentOutcome); }

PyObject* adjustment_outcome_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("AccountAdjustmentOutcome.__new__()", kw("policy_group_id"), kw("entry"));
  auto [group_id, entry] = parse(spec, args, kwargs);
  // The entry converts before the id.
  if (!is_outcome_entry(entry)) throw_arg_cannot_convert("entry", entry, "AccountOutcomeEntry");
  AdjustmentOutcomeRecord outcome{outcome_entry_of(entry), 0};
  outcome.policy_group_id = policy_group_id_or_raise(group_id);
  return make_instance<AdjustmentOutcomeRecord>(type, std::move(outcome)).release();
}

PyObject* policy_group_id_getter(PyObject* self, void*) {
  PyObject* value = PyLong_FromLong(outcome_of(self).policy_group_id);
  if (value == nullptr) throw_pending();
  return value;
}
PyObject* entry_getter(PyObject* self, void*) { return wrap_outcome_entry(outcome_of(self).entry).release(); }
PyObject* adjustment_outcome_repr(PyObject* self) {
  return make_str(adjustment_outcome_text(outcome_of(self))).release();
}

AdjustmentOutcomeRecord extract_adjustment_outcome(PyObject* obj) {
  if (is_adjustment_outcome(obj)) return outcome_of(obj);
  Ref group_id = Ref::steal(PyObject_GetAttrString(obj, "policy_group_id"));
  if (!group_id) throw_pending();
  const std::uint16_t id = policy_group_id_or_raise(group_id.get());
  Ref entry = Ref::steal(PyObject_GetAttrString(obj, "entry"));
  if (!entry) throw_pending();
  return AdjustmentOutcomeRecord{extract_outcome_entry(entry.get()), id};
}

}  // namespace

Ref wrap_adjustment_outcome(const AdjustmentOutcomeRecord& outcome) {
  return make_instance<AdjustmentOutcomeRecord>(class_type(ClassId::AccountAdjustmentOutcome), outcome);
}

Ref wrap_adjustment_outcomes(std::span<const AdjustmentOutcomeRecord> outcomes) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(outcomes.size())));
  if (!list) throw_pending();
  for (std::size_t i = 0; i < outcomes.size(); ++i)
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), wrap_adjustment_outcome(outcomes[i]).release());
  return list;
}

std::vector<AdjustmentOutcomeRecord> extract_adjustment_outcomes(PyObject* iterable) {
  return collect_items(iterable, extract_adjustment_outcome);
}

const ClassBehaviour* account_adjustment_outcome_behaviour() {
  static PyGetSetDef getset[] = {
      {"policy_group_id", entry<&policy_group_id_getter>, nullptr, nullptr, nullptr},
      {"entry", entry<&entry_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<AdjustmentOutcomeRecord>();
    b.slots.push_back({Py_tp_new, slot_entry<&adjustment_outcome_new>()});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&adjustment_outcome_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
