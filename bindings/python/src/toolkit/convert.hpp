#pragma once
#include <cstdint>
#include <string_view>

#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"

namespace vantrel::py {

inline Ref make_str(std::string_view text) {
  PyObject* obj = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  if (obj == nullptr) throw_pending();
  return Ref::steal(obj);
}

// The UTF-8 text of a str (subclasses included), valid while `obj` lives.
// Anything else: TypeError "'{}' object cannot be converted to 'PyString'".
inline std::string_view utf8_of(PyObject* obj) {
  if (!PyUnicode_Check(obj)) throw_cannot_convert(obj, "PyString");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) throw ErrorAlreadySet{};  // the interpreter's encoding error, unchanged
  return {data, static_cast<std::size_t>(size)};
}

// The same for a named argument: "argument '{}': ..." on a wrong type.
inline std::string_view arg_utf8(std::string_view arg, PyObject* obj) {
  if (!PyUnicode_Check(obj)) throw_arg_cannot_convert(arg, obj, "PyString");
  return utf8_of(obj);
}

inline Ref new_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }

}  // namespace vantrel::py
