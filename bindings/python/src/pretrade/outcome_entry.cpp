// vantrel.pretrade.AccountOutcomeEntry: an immutable copy of one outcome entry;
// any thread holding the interpreter lock may use it.
#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/amounts.hpp"
#include "param/asset.hpp"
#include "pretrade/outcome.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

// None or an OutcomeAmount (subclasses included); nothing else, not even amount-like objects.
std::optional<OutcomeAmount> amount_arg(std::string_view name, PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  if (!is_outcome_amount(obj)) throw_arg_cannot_convert(name, obj, "OutcomeAmount");
  return outcome_amount_of(obj);
}

PyObject* outcome_entry_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("AccountOutcomeEntry.__new__()", kw("asset"), kw_opt("balance"),
                                      kw_opt("held"), kw_opt("incoming"));
  auto [asset, balance, held, incoming] = parse(spec, args, kwargs);
  // The amounts convert before the asset.
  std::optional<OutcomeAmount> balance_amount = amount_arg("balance", balance);
  std::optional<OutcomeAmount> held_amount = amount_arg("held", held);
  std::optional<OutcomeAmount> incoming_amount = amount_arg("incoming", incoming);
  OutcomeEntryRecord entry{extract_asset(asset), balance_amount, held_amount, incoming_amount};
  return make_instance<OutcomeEntryRecord>(type, std::move(entry)).release();
}

Ref optional_amount(const std::optional<OutcomeAmount>& amount) {
  return amount ? wrap_outcome_amount(*amount) : Ref::borrow(Py_None);
}

PyObject* asset_getter(PyObject* self, void*) { return make_str(outcome_entry_of(self).asset.name()).release(); }
PyObject* balance_getter(PyObject* self, void*) { return optional_amount(outcome_entry_of(self).balance).release(); }
PyObject* held_getter(PyObject* self, void*) { return optional_amount(outcome_entry_of(self).held).release(); }
PyObject* incoming_getter(PyObject* self, void*) {
  return optional_amount(outcome_entry_of(self).incoming).release();
}
PyObject* outcome_entry_repr(PyObject* self) {
  return make_str(outcome_entry_text(outcome_entry_of(self))).release();
}

Ref required_attr(PyObject* obj, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!value) throw_pending();
  return value;
}

}  // namespace

Ref wrap_outcome_entry(const OutcomeEntryRecord& entry) {
  return make_instance<OutcomeEntryRecord>(class_type(ClassId::AccountOutcomeEntry), entry);
}
bool is_outcome_entry(PyObject* obj) { return is_instance(obj, ClassId::AccountOutcomeEntry); }
const OutcomeEntryRecord& outcome_entry_of(PyObject* obj) { return object_cast<OutcomeEntryRecord>(obj)->value; }

OutcomeEntryRecord extract_outcome_entry(PyObject* obj) {
  if (is_outcome_entry(obj)) return outcome_entry_of(obj);
  Asset asset = extract_asset(required_attr(obj, "asset").get());
  std::optional<OutcomeAmount> balance = extract_outcome_amount(required_attr(obj, "balance").get());
  std::optional<OutcomeAmount> held = extract_outcome_amount(required_attr(obj, "held").get());
  std::optional<OutcomeAmount> incoming = extract_outcome_amount(required_attr(obj, "incoming").get());
  return OutcomeEntryRecord{std::move(asset), balance, held, incoming};
}

const ClassBehaviour* account_outcome_entry_behaviour() {
  static PyGetSetDef getset[] = {
      {"asset", entry<&asset_getter>, nullptr, nullptr, nullptr},
      {"balance", entry<&balance_getter>, nullptr, nullptr, nullptr},
      {"held", entry<&held_getter>, nullptr, nullptr, nullptr},
      {"incoming", entry<&incoming_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<OutcomeEntryRecord>();
    b.slots.push_back({Py_tp_new, slot_entry<&outcome_entry_new>()});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&outcome_entry_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
