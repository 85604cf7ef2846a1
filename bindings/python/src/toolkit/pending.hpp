#pragma once
// Calls from core work into Python, and the per-thread slot where an
// exception raised there waits until the entry point can raise it.
#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"

namespace vantrel::py {

// A fetched Python exception (type, value, traceback), possibly not yet normalised.
struct PyErrState {
  Ref type, value, traceback;
  explicit operator bool() const noexcept { return static_cast<bool>(type); }
  // Takes the interpreter's pending error, or the SystemError used when a call
  // failed without setting one.
  static PyErrState fetch() noexcept;
  // Makes it the interpreter's current error again.
  void restore() noexcept;
};

// The calling thread's slot. The last parked exception wins; an earlier one
// still in the slot is dropped unreported.
void park_pending_error(PyErrState error);
void clear_pending_error();
PyErrState take_pending_error();

// The protocol of entry points whose core work may call back into Python:
// construct after converting the arguments (clears a stale exception), then
// call finish() with the lock held once the core work is done.
class PendingErrorScope {
 public:
  PendingErrorScope() { clear_pending_error(); }
  // Raises what core work parked (throws ErrorAlreadySet); returns otherwise.
  void finish() {
    PyErrState error = take_pending_error();
    if (error) {
      error.restore();
      throw ErrorAlreadySet{};
    }
  }
};

// obj.<name>(*args); `name` and `args` are consumed. Caller holds the lock.
Ref py_call_method(PyObject* obj, Ref name, Ref args);
Ref py_call_method_2(PyObject* obj, const char* name, Ref a, Ref b);
// builder._build(arg)
Ref py_call_build(PyObject* builder, PyObject* arg);
// true: obj has `user_data`; false: looking it up raised AttributeError.
bool has_user_data_attr(PyObject* obj);
// Runs a Python callable as a staged-mutation action from any thread: takes
// the lock itself, parks a raised exception, consumes the callable.
void py_call_action(Ref callable) noexcept;

}  // namespace vantrel::py
