#include "toolkit/errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "toolkit/ref.hpp"

namespace vantrel::py {

PyObject* fault_type() {
  // Module-private and never in __all__; created on first fault. Making it
  // can collect garbage, whose finalizers may meet a fault of their own and
  // make the type first: the first one made stays.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    PyObject* made = PyErr_NewException("vantrel.InternalFault", PyExc_BaseException, nullptr);
    if (made == nullptr) {
      PyErr_Clear();
      return type != nullptr ? type : PyExc_SystemError;
    }
    if (type == nullptr) {
      type = made;
    } else {
      Py_DecRef(made);
    }
  }
  return type;
}

void fail(const std::string& text) { throw Fault(text); }

void fault_abort(const char* text) noexcept {
  std::fprintf(stderr, "vantrel internal fault: %s\n", text);
  std::abort();
}

void throw_error(PyObject* type, std::string_view message) {
  PyObject* text = PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()));
  if (text != nullptr) {
    PyErr_SetObject(type, text);
    Py_DecRef(text);
  }
  throw ErrorAlreadySet{};
}

void set_pending_or_system_error() {
  if (PyErr_Occurred() != nullptr) return;
  noting_thread_exit([] { PyErr_SetString(PyExc_SystemError, kNoExceptionSet); });
}

void throw_pending() {
  set_pending_or_system_error();
  throw ErrorAlreadySet{};
}

void discard_conversion_error() {
  if (PyErr_Occurred() == nullptr) return;
  if (!PyErr_ExceptionMatches(PyExc_Exception)) throw ErrorAlreadySet{};
  PyErr_Clear();
}

void CaughtError::record() noexcept {
  held_ = std::current_exception();
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
    kind_ = Kind::already_set;
  } catch (const std::bad_alloc&) {
    kind_ = Kind::no_memory;
  } catch (const std::exception& error) {
    kind_ = Kind::fault;
    text_ = error.what();
  } catch (...) {
    kind_ = Kind::fault;
    text_ = "unknown C++ exception";
  }
}

void CaughtError::raise() const {
  switch (kind_) {
    case Kind::none:
      return;
    case Kind::already_set:
      set_pending_or_system_error();
      return;
    case Kind::no_memory:
      noting_thread_exit([] { PyErr_NoMemory(); });
      return;
    case Kind::fault:
      noting_thread_exit([this] { PyErr_SetString(fault_type(), text_); });
      return;
  }
}

namespace {
std::string name_attr(PyObject* obj, PyObject* (*getter)(PyTypeObject*)) {
  Ref name = Ref::steal(getter(Py_TYPE(obj)));
  std::string out;
  if (!name || !str_of(name.get(), out)) {
    PyErr_Clear();
    return "<unknown>";
  }
  return out;
}
}  // namespace

std::string type_name(PyObject* obj) { return name_attr(obj, PyType_GetName); }
std::string type_qualname(PyObject* obj) { return name_attr(obj, PyType_GetQualName); }

bool str_of(PyObject* obj, std::string& out) {
  Ref text = Ref::steal(PyObject_Str(obj));
  if (!text) return false;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (utf8 == nullptr) return false;
  out.assign(utf8, static_cast<std::size_t>(size));
  return true;
}

std::string cannot_convert_text(PyObject* obj, std::string_view target) {
  return cat("'", type_name(obj), "' object cannot be converted to '", target, "'");
}

void throw_cannot_convert(PyObject* obj, std::string_view target) {
  throw_error(PyExc_TypeError, cannot_convert_text(obj, target));
}

void throw_arg_cannot_convert(std::string_view arg, PyObject* obj, std::string_view target) {
  throw_error(PyExc_TypeError, cat("argument '", arg, "': ", cannot_convert_text(obj, target)));
}

std::string take_pending_message() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref type_ref = Ref::steal(type), value_ref = Ref::steal(value), tb_ref = Ref::steal(traceback);
  std::string message;
  if (!value_ref || !str_of(value_ref.get(), message)) {
    PyErr_Clear();
    message = "<exception str() failed>";
  }
  return message;
}

void rethrow_with_arg_name(std::string_view arg) {
  set_pending_or_system_error();
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw ErrorAlreadySet{};
  throw_error(PyExc_TypeError, cat("argument '", arg, "': ", take_pending_message()));
}

}  // namespace vantrel::py
