// vantrel.core.Instrument: an immutable pair of asset names; any thread holding
// the interpreter lock may use it.
#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/asset.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "vantrel/core/debug_text.hpp"

namespace vantrel::py {
namespace {

PyObject* instrument_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("Instrument.__new__()", req("underlying_asset"), req("settlement_asset"));
  auto [underlying, settlement] = parse(spec, args, kwargs);
  Asset underlying_asset = extract_asset(underlying);
  Instrument instrument{std::move(underlying_asset), extract_asset(settlement)};
  return make_instance<Instrument>(type, std::move(instrument)).release();
}

PyObject* underlying_getter(PyObject* self, void*) {
  return make_str(instrument_of(self).underlying_asset.name()).release();
}

PyObject* settlement_getter(PyObject* self, void*) {
  return make_str(instrument_of(self).settlement_asset.name()).release();
}

PyObject* instrument_repr(PyObject* self) {
  const Instrument& instrument = instrument_of(self);
  std::string text = "Instrument(underlying_asset=";
  append_debug_quoted(text, instrument.underlying_asset.name());
  text += ", settlement_asset=";
  append_debug_quoted(text, instrument.settlement_asset.name());
  text += ')';
  return make_str(text).release();
}

}  // namespace

Ref wrap_instrument(Instrument instrument) {
  return make_instance<Instrument>(class_type(ClassId::Instrument), std::move(instrument));
}
bool is_instrument(PyObject* obj) { return is_instance(obj, ClassId::Instrument); }
const Instrument& instrument_of(PyObject* obj) { return object_cast<Instrument>(obj)->value; }

const ClassBehaviour* instrument_behaviour() {
  static PyGetSetDef getset[] = {
      {"underlying_asset", entry<&underlying_getter>, nullptr, nullptr, nullptr},
      {"settlement_asset", entry<&settlement_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Instrument>();
    b.slots.push_back({Py_tp_new, slot_entry<&instrument_new>()});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&instrument_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
