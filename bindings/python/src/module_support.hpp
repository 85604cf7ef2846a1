#pragma once
#include "toolkit/convert.hpp"
#include "toolkit/ref.hpp"

namespace vantrel::py {

// Adds `name` to the module's __all__ (creating the list on first use), then
// sets the attribute. The name is appended first, so a failed set leaves it listed.
void py_module_add(PyObject* module, Ref name, Ref value);
// Adds a function under its own __name__.
void py_module_add_function(PyObject* module, Ref function);

}  // namespace vantrel::py
