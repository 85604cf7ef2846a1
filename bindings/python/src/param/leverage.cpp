// Leverage. An immutable value: any thread holding the interpreter lock may use it.
#include "param/leverage.hpp"

#include <optional>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/extract.hpp"
#include "param/values.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kNotLeverage = "leverage must be vantrel.param.Leverage, int, or float";

[[noreturn]] void throw_leverage_error(LeverageError error) {
  throw_error(PyExc_ValueError, leverage_error_kind(error).message());
}

Leverage checked(LeverageResult result) {
  if (!result.ok()) throw_leverage_error(result.error);
  return result.value;
}

// The integer protocol's value when it lies in 0..=65535; anything else (another
// integer, no integer at all) is nullopt with an ordinary protocol error discarded.
std::optional<std::uint16_t> small_multiplier(PyObject* obj) {
  Ref index;
  if (!PyLong_Check(obj)) {
    index = Ref::steal(PyNumber_Index(obj));
    if (!index) {
      discard_conversion_error();
      return std::nullopt;
    }
    obj = index.get();
  }
  int overflow = 0;
  const long long m = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (m == -1 && PyErr_Occurred() != nullptr) {
    discard_conversion_error();
    return std::nullopt;
  }
  if (overflow != 0 || m < 0 || m > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(m);
}

PyObject* leverage_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("Leverage.__new__()", req("multiplier"));
  auto [multiplier] = parse(spec, args, kwargs);
  return make_instance<Leverage>(type, Leverage{extract_leverage(multiplier)}).release();
}

PyObject* leverage_from_int_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Leverage.from_int()", req("multiplier"));
  auto [multiplier] = parse(spec, args, nargs, kwnames);
  const long long m = convert_arg("multiplier", [&, multiplier = multiplier] {
    Ref index = Ref::steal(PyNumber_Index(multiplier));
    if (!index) throw ErrorAlreadySet{};
    const long long value = PyLong_AsLongLong(index.get());
    if (value == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return value;
  });
  return wrap_leverage(checked(leverage_from_int(m))).release();
}

PyObject* leverage_from_float_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Leverage.from_float()", req("multiplier"));
  auto [multiplier] = parse(spec, args, nargs, kwnames);
  const double d = convert_arg("multiplier", [&, multiplier = multiplier] {
    const double value = PyFloat_AsDouble(multiplier);
    if (value == -1.0 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return value;
  });
  return wrap_leverage(checked(leverage_from_float(d))).release();
}

PyObject* leverage_value(PyObject* self, void*) {
  return PyFloat_FromDouble(static_cast<double>(leverage_of(self).multiplier()));
}

PyObject* leverage_margin(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Leverage.calculate_margin_required()", req("notional"));
  auto [notional] = parse(spec, args, nargs, kwnames);
  const Notional value = extract_notional(notional);
  Result<Notional> margin = margin_required(value, leverage_of(self).tenths);
  if (!margin) throw_param_error_kind(margin.error());
  return wrap_amount<ValueKind::Notional>(*margin).release();
}

PyObject* leverage_repr(PyObject* self) {
  char text[kLeverageTextMax];
  const std::size_t length = write_leverage_text(leverage_of(self), text);
  return make_str(cat("Leverage(value=", std::string_view(text, length), ")")).release();
}

}  // namespace

std::uint16_t extract_leverage(PyObject* obj) {
  if (PyBool_Check(obj)) throw_error(PyExc_ValueError, kNotLeverage);
  if (is_leverage(obj)) return leverage_of(obj).tenths;
  // Exact ints and floats are common and can never be numpy booleans.
  if (!PyLong_CheckExact(obj) && !PyFloat_CheckExact(obj) && is_bool_like(obj, inspect_type(obj)))
    throw_error(PyExc_ValueError, kNotLeverage);
  if (std::optional<std::uint16_t> m = small_multiplier(obj)) return checked(leverage_from_int(*m)).tenths;
  const double d = PyFloat_AsDouble(obj);
  if (d == -1.0 && PyErr_Occurred() != nullptr) {
    discard_conversion_error();
    throw_error(PyExc_ValueError, kNotLeverage);
  }
  return checked(leverage_from_float(d)).tenths;
}

Ref wrap_leverage(Leverage leverage) { return make_instance<Leverage>(class_type(ClassId::Leverage), leverage); }
bool is_leverage(PyObject* obj) { return is_instance(obj, ClassId::Leverage); }
Leverage leverage_of(PyObject* obj) { return object_cast<Leverage>(obj)->value; }

const ClassBehaviour* leverage_behaviour() {
  static PyMethodDef methods[] = {
      {"from_int", method_entry<&leverage_from_int_py>(), kFastcallFlags | METH_STATIC,
       "from_int(multiplier)\n--\n\n"},
      {"from_float", method_entry<&leverage_from_float_py>(), kFastcallFlags | METH_STATIC,
       "from_float(multiplier)\n--\n\n"},
      {"calculate_margin_required", method_entry<&leverage_margin>(), kFastcallFlags,
       "calculate_margin_required($self, notional)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static PyGetSetDef getset[] = {
      {"value", entry<&leverage_value>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Leverage>();
    b.slots.push_back({Py_tp_new, slot_entry<&leverage_new>()});
    b.slots.push_back({Py_tp_methods, methods});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&leverage_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
