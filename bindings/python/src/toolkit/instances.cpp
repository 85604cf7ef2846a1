#include "toolkit/instances.hpp"

#include <map>
#include <new>

#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"
#include "toolkit/trampoline.hpp"

namespace vantrel::py {
namespace {

// Keyed by type; a type with no instance left is erased, so a freed subclass
// type never lingers.
std::map<PyTypeObject*, Py_ssize_t>& counts() {
  static auto* map = new std::map<PyTypeObject*, Py_ssize_t>;  // lives until exit, as instances may
  return *map;
}

PyMethodDef g_live_instances_def{"_live_instances", method_entry<&live_instances>(), kFastcallFlags,
                                 "_live_instances()\n--\n\nLive instances per class (checked builds)."};

}  // namespace

void count_instance_slow(PyTypeObject* type, int delta) noexcept {
  try {
    auto [it, inserted] = counts().try_emplace(type, 0);
    it->second += delta;
    if (it->second == 0) counts().erase(it);
  } catch (const std::bad_alloc&) {
    // Counting is a test aid: an instance it cannot record is not worth a failure.
  }
}

PyObject* live_instances(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject*) {
  if (nargs != 0) throw_error(PyExc_TypeError, "_live_instances() takes no arguments");
  Ref result = Ref::steal(PyDict_New());
  if (!result) throw_pending();
  for (const auto& [type, count] : counts()) {
    Ref module = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    Ref name = Ref::steal(PyType_GetQualName(type));
    if (!module || !name) throw_pending();
    Ref key = Ref::steal(PyUnicode_FromFormat("%S.%S", module.get(), name.get()));
    Ref value = Ref::steal(PyLong_FromSsize_t(count));
    if (!key || !value) throw_pending();
    if (PyDict_SetItem(result.get(), key.get(), value.get()) != 0) throw_pending();
  }
  return result.release();
}

void add_live_instances_function(PyObject* module) {
  if constexpr (!kCheckedBuild) return;
  Ref module_name = Ref::steal(PyModule_GetNameObject(module));
  if (!module_name) throw_pending();
  Ref function = Ref::steal(PyCMethod_New(&g_live_instances_def, module, module_name.get(), nullptr));
  if (!function) throw_pending();
  if (PyObject_SetAttrString(module, "_live_instances", function.get()) != 0) throw_pending();
}

}  // namespace vantrel::py
