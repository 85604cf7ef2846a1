#include "pretrade/policy_group_id.hpp"

#include "toolkit/ref.hpp"

namespace vantrel::py {

bool extract_policy_group_id(PyObject* obj, std::uint16_t& out) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  long value = -1;
  if (index) {
    value = PyLong_AsLong(index.get());
  }
  if (PyErr_Occurred() != nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
    value = -1;
  }
  if (value < 0 || value > 65535) {
    PyErr_SetString(PyExc_ValueError, kPolicyGroupIdRangeText);
    return false;
  }
  out = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace vantrel::py
