#pragma once
// Calls from core work into Python, and the per-thread slot where an
// exception raised there waits until the entry point can raise it.
#include "toolkit/names.hpp"
#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"

namespace vantrel::py {

// A fetched Python exception (type, value, traceback), possibly not yet normalised.
struct PyErrState {
  Ref type, value, traceback;
  explicit operator bool() const noexcept { return static_cast<bool>(type); }
  // Takes the interpreter's pending error, or the SystemError used when a call
  // failed without setting one (making that can run Python).
  static PyErrState fetch();
  // Makes it the interpreter's current error again; one still set is
  // released, which can run Python.
  void restore();
};

// The calling thread's slot. The last parked exception wins; an earlier one
// still in the slot is dropped unreported. Dropping an exception frees its
// traceback's frames, which may run `__del__`: that happens after the slot is
// let go, and what such code parks is reported as unraisable rather than
// raised by the call that happens to be running.
void park_pending_error(PyErrState error);
void clear_pending_error();
PyErrState take_pending_error();

// The protocol of entry points whose core work may call back into Python:
// construct after converting the arguments, then call finish() with the lock
// held once the core work is done. The outermost scope of a thread drops a
// stale exception on entry. A scope opened by a hook of another entry point
// sets the outer call's parked exception aside and puts it back when it ends,
// so the outer call still raises it.
class PendingErrorScope {
 public:
  PendingErrorScope();
  ~PendingErrorScope();
  PendingErrorScope(const PendingErrorScope&) = delete;
  PendingErrorScope& operator=(const PendingErrorScope&) = delete;
  // Raises what core work parked (throws ErrorAlreadySet), or the internal
  // fault a Python action met; returns otherwise.
  void finish();

 private:
  PyErrState leave(const char** fault) noexcept;
  PyErrState outer_;
  bool nested_ = false;
  bool left_ = false;
};

// Wraps actions run while an object is released (a rollback on release): the
// slot's content is set aside while they run, what they park is reported with
// PyErr_WriteUnraisable naming `context`, then the slot and the exception in
// flight are put back. `context` is borrowed and must outlive the report (pass
// the type or a callable, not an object being freed). Requires the lock.
class ReleaseTimeScope {
 public:
  explicit ReleaseTimeScope(PyObject* context);
  ~ReleaseTimeScope();
  ReleaseTimeScope(const ReleaseTimeScope&) = delete;
  ReleaseTimeScope& operator=(const ReleaseTimeScope&) = delete;

 private:
  void report_parked();
  PyObject* context_;
  PyErrState stashed_;
  PyErrState in_flight_;
};

// Nesting depth of PendingErrorScope on this thread.
int pending_protocol_depth() noexcept;

// obj.<name>(*args); `name` and `args` are consumed. Caller holds the lock.
Ref py_call_method(PyObject* obj, Ref name, Ref args);
Ref py_call_method_2(PyObject* obj, Name name, Ref a, Ref b);
Ref py_call_method_2(PyObject* obj, std::string_view name, Ref a, Ref b);
// builder._build(arg)
Ref py_call_build(PyObject* builder, PyObject* arg);
// true: obj has `user_data`; false: looking it up raised AttributeError.
bool has_user_data_attr(PyObject* obj);
// Parks the interpreter's current error (or the SystemError of a call that
// set none) in this thread's slot. Requires the lock.
void park_raised();
// Parks an internal fault met where no Python exception can be made (the
// interpreter lock was refused); the entry point raises it. `text` must
// outlive the call (a literal). Needs no lock.
void park_lock_refusal(const char* text) noexcept;
// Runs a Python callable as a staged-mutation action from any thread: takes
// the lock itself, parks a raised exception, consumes the callable.
void py_call_action(Ref callable) noexcept;

}  // namespace vantrel::py
