#pragma once
// Live instances per class, counted in checked builds so tests can see leaks.
#include "toolkit/checked.hpp"
#include "toolkit/python.hpp"

namespace vantrel::py {

// One more or one fewer instance of `type` (the instance's own type, so a
// subclass counts apart). Called with the interpreter lock held, which is
// what guards the counts.
void count_instance_slow(PyTypeObject* type, int delta) noexcept;
inline void count_instance(PyTypeObject* type, int delta) noexcept {
  if constexpr (kCheckedBuild) count_instance_slow(type, delta);
}

// {qualified type name: live instances} for every type with instances alive.
PyObject* live_instances(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
// Adds `_live_instances()` to a module in checked builds (not to its __all__).
void add_live_instances_function(PyObject* module);

}  // namespace vantrel::py
