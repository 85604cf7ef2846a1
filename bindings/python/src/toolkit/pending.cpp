#include "toolkit/pending.hpp"

#include "toolkit/gil.hpp"

namespace vantrel::py {
namespace {

struct PendingSlot {
  bool in_use = false;
  PyErrState content;
  ~PendingSlot();
};

// Trivially destructible, so still readable while the slot itself is torn down.
thread_local bool t_slot_destroyed = false;

PendingSlot::~PendingSlot() {
  t_slot_destroyed = true;
  // Released through py_decref: queued when this thread does not hold the lock.
  content = PyErrState{};
}

// Holds the slot's access flag for one operation; the operations never nest.
class SlotAccess {
 public:
  SlotAccess() {
    if (t_slot_destroyed) fail("pending exception slot used after thread teardown");
    thread_local PendingSlot slot;
    if (slot.in_use) fail("pending exception slot is already in use");
    slot.in_use = true;
    slot_ = &slot;
  }
  ~SlotAccess() { slot_->in_use = false; }
  PyErrState& content() noexcept { return slot_->content; }

 private:
  PendingSlot* slot_;
};

}  // namespace

PyErrState PyErrState::fetch() noexcept {
  set_pending_or_system_error();
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  return PyErrState{Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
}

void PyErrState::restore() noexcept {
  PyErr_Restore(type.release(), value.release(), traceback.release());
}

void park_pending_error(PyErrState error) {
  PyErrState old;
  {
    SlotAccess access;
    old = std::move(access.content());
    access.content() = std::move(error);
  }
  // `old` is released here, outside the slot access: its release may run Python code.
}

void clear_pending_error() {
  PyErrState old;
  {
    SlotAccess access;
    old = std::move(access.content());
  }
}

PyErrState take_pending_error() {
  SlotAccess access;
  return std::move(access.content());
}

Ref py_call_method(PyObject* obj, Ref name, Ref args) {
  Ref attribute = Ref::steal(PyObject_GetAttr(obj, name.get()));
  if (!attribute) throw_pending();
  Ref result = Ref::steal(PyObject_Call(attribute.get(), args.get(), nullptr));
  if (!result) throw_pending();
  return result;
}

Ref py_call_method_2(PyObject* obj, const char* name, Ref a, Ref b) {
  Ref name_obj = Ref::steal(PyUnicode_FromString(name));
  if (!name_obj) throw_pending();
  Ref args = Ref::steal(PyTuple_New(2));
  if (!args) throw_pending();
  PyTuple_SetItem(args.get(), 0, a.release());
  PyTuple_SetItem(args.get(), 1, b.release());
  return py_call_method(obj, std::move(name_obj), std::move(args));
}

Ref py_call_build(PyObject* builder, PyObject* arg) {
  Ref name = Ref::steal(PyUnicode_FromString("_build"));
  if (!name) throw_pending();
  Ref args = Ref::steal(PyTuple_New(1));
  if (!args) throw_pending();
  PyTuple_SetItem(args.get(), 0, Ref::borrow(arg).release());
  return py_call_method(builder, std::move(name), std::move(args));
}

bool has_user_data_attr(PyObject* obj) {
  Ref name = Ref::steal(PyUnicode_FromString("user_data"));
  if (!name) throw_pending();
  Ref value = Ref::steal(PyObject_GetAttr(obj, name.get()));
  if (value) return true;
  PyErrState error = PyErrState::fetch();
  if (PyErr_GivenExceptionMatches(error.type.get(), PyExc_AttributeError)) return false;
  error.restore();
  throw ErrorAlreadySet{};
}

void py_call_action(Ref callable) noexcept {
  try {
    GilToken lock;
    Ref result = Ref::steal(PyObject_CallNoArgs(callable.get()));
    if (!result) park_pending_error(PyErrState::fetch());
  } catch (...) {
    // Only an internal fault of the slot can land here; the action reports
    // nothing to the core, so it is shown rather than lost.
    GilToken lock;
    translate_current_exception();
    PyErr_WriteUnraisable(nullptr);
  }
  // Released after the lock token: queued if this thread works without the lock.
  callable = Ref();
}

}  // namespace vantrel::py
