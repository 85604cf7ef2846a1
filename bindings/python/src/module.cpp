// The extension's entry point and module body.
#include <atomic>
#include <cstdint>

#include "toolkit/instances.hpp"
#include "toolkit/names.hpp"
#include "class_table.hpp"
#include "exceptions.hpp"
#include "module_support.hpp"
#include "toolkit/args.hpp"
#include "vantrel/param/asset.hpp"

namespace vantrel::py {
namespace {

std::atomic<std::int64_t> g_interpreter_id{-1};
PyObject* g_module = nullptr;  // filled once, after the first successful body run

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT, "_vantrel", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* validate_asset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("_validate_asset()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::string_view text = arg_utf8("value", value);
  if (!Asset::from_text(text)) throw_error(PyExc_ValueError, Asset::kEmptyMessage);
  Py_RETURN_NONE;
}

void add_exceptions(PyObject* module) {
  for (int i = 0; i < kExceptionCount; ++i) {
    auto id = static_cast<ExceptionId>(i);
    PyObject* type = exception_type(id);
    py_module_add(module, make_str(exception_name(id)), Ref::borrow(type));
  }
}

void add_constants(PyObject* module) {
  auto add_str = [&](const char* name, const char* value) { py_module_add(module, make_str(name), make_str(value)); };
  auto add_int = [&](const char* name, std::uint16_t value) {
    Ref number = Ref::steal(PyLong_FromUnsignedLong(value));
    if (!number) throw_pending();
    py_module_add(module, make_str(name), std::move(number));
  };
  add_str("_ROUNDING_STRATEGY_DEFAULT", "MidpointNearestEven");
  add_str("_ROUNDING_STRATEGY_BANKER", "MidpointNearestEven");
  add_str("_ROUNDING_STRATEGY_CONSERVATIVE_PROFIT", "Down");
  add_str("_ROUNDING_STRATEGY_CONSERVATIVE_LOSS", "Down");
  add_int("_DEFAULT_POLICY_GROUP_ID", 0);
  add_int("_LEVERAGE_SCALE", 10);
  add_int("_LEVERAGE_MIN", 1);
  add_int("_LEVERAGE_MAX", 3000);
  // The single-precision 0.1, widened: 0.100000001490116119384765625.
  const double step = static_cast<double>(0.1f);
  Ref value = Ref::steal(PyFloat_FromDouble(step));
  if (!value) throw_pending();
  py_module_add(module, make_str("_LEVERAGE_STEP"), std::move(value));
}

void add_validate_asset(PyObject* module) {
  // Lives as long as the function object may: never freed.
  auto* def = new PyMethodDef{"_validate_asset", method_entry<&validate_asset>(), kFastcallFlags,
                              "_validate_asset(value)\n--\n\n"};
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) throw_pending();
  Ref function = Ref::steal(PyCMethod_New(def, module, module_name.get(), nullptr));
  if (!function) throw_pending();
  py_module_add_function(module, std::move(function));
}

void add_classes(PyObject* module) {
  for (int i = 0; i < kClassCount; ++i) {
    auto id = static_cast<ClassId>(i);
    if (!class_available(id)) continue;  // not offered by this build yet
    PyObject* type = class_object_checked(id);
    py_module_add(module, make_str(class_spec(id).name), Ref::borrow(type));
  }
}

void module_init(PyObject* module) {
  add_exceptions(module);
  add_constants(module);
  add_validate_asset(module);
  add_classes(module);
  add_live_instances_function(module);
}

PyObject* init_module() {
  std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) throw_pending();
  std::int64_t expected = -1;
  if (!g_interpreter_id.compare_exchange_strong(expected, id) && expected != id)
    throw_error(PyExc_ImportError,
                "vantrel native modules do not yet support subinterpreters; import it in the main interpreter only");
  if (g_module != nullptr) return Ref::borrow(g_module).release();
  Ref module = Ref::steal(PyModule_Create2(&g_module_def, 3));
  if (!module) throw_pending();
  module_init(module.get());
  watch_interpreter_exit();
  if (g_module == nullptr) g_module = module.release();
  return Ref::borrow(g_module).release();
}

}  // namespace

void py_module_add(PyObject* module, Ref name, Ref value) {
  Ref all = Ref::steal(PyObject_GetAttr(module, interned(Name::all)));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw ErrorAlreadySet{};
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all) throw_pending();
    if (PyObject_SetAttr(module, interned(Name::all), all.get()) != 0) throw_pending();
  }
  if (!PyList_Check(all.get())) throw_cannot_convert(all.get(), "PyList");
  if (PyList_Append(all.get(), name.get()) != 0) {
    // Running out of memory is the interpreter's error to raise; anything else is ours.
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw ErrorAlreadySet{};
    PyErr_Clear();
    fail("could not append __name__ to __all__");
  }
  if (PyObject_SetAttr(module, name.get(), value.get()) != 0) throw_pending();
}

void py_module_add_function(PyObject* module, Ref function) {
  Ref name = Ref::steal(PyObject_GetAttr(function.get(), interned(Name::dunder_name)));
  if (!name) throw_pending();
  if (!PyUnicode_Check(name.get())) throw_cannot_convert(name.get(), "PyString");
  py_module_add(module, std::move(name), std::move(function));
}

}  // namespace vantrel::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__vantrel() {
  return vantrel::py::entry<&vantrel::py::init_module>();
}
