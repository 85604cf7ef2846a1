#include "toolkit/names.hpp"
#include "toolkit/pending.hpp"

#include <new>
#include <utility>

#include "toolkit/gil.hpp"

namespace vantrel::py {
namespace {

struct PendingSlot {
  bool in_use = false;
  int protocol_depth = 0;
  PyErrState content;
  // An internal fault met where no Python exception could be made (a Python
  // action refused the interpreter lock); the entry point raises it.
  const char* fault = nullptr;
  ~PendingSlot();
};

// Trivially destructible, so still readable while the slot itself is torn down.
// Both are read on every entry point that follows the protocol, so they live in
// static TLS rather than behind __tls_get_addr.
thread_local bool t_slot_destroyed __attribute__((tls_model("initial-exec"))) = false;

PendingSlot::~PendingSlot() {
  t_slot_destroyed = true;
  // A thread the interpreter ended leaks what it parked: the traceback holds
  // frames the interpreter abandoned with the thread.
  if (t_thread_exiting) {
    for (Ref* ref : {&content.type, &content.value, &content.traceback}) ref->release();
    return;
  }
  // The thread is ending: whatever it holds, the release waits for a thread
  // that takes the lock.
  for (Ref* ref : {&content.type, &content.value, &content.traceback})
    if (PyObject* obj = ref->release()) py_decref_deferred(obj);
}

// Created on first use in each thread, as the thread-exit hook needs.
PendingSlot& this_thread_slot() noexcept {
  thread_local PendingSlot slot __attribute__((tls_model("initial-exec")));
  return slot;
}

enum class OnFault { Throw, Abort };

// Holds the slot's access flag for one operation. Nothing that can run
// Python happens while it is held: exceptions are moved in and out, never
// released, under the flag.
template <OnFault Mode = OnFault::Throw>
class SlotAccess {
 public:
  SlotAccess() noexcept(Mode == OnFault::Abort) {
    if (t_slot_destroyed) fault("pending exception slot used after thread teardown");
    PendingSlot& slot = this_thread_slot();
    if (slot.in_use) fault("pending exception slot is already in use");
    slot.in_use = true;
    slot_ = &slot;
  }
  ~SlotAccess() { slot_->in_use = false; }
  SlotAccess(const SlotAccess&) = delete;
  SlotAccess& operator=(const SlotAccess&) = delete;
  PyErrState& content() noexcept { return slot_->content; }
  int& protocol_depth() noexcept { return slot_->protocol_depth; }
  const char*& fault() noexcept { return slot_->fault; }

 private:
  static void fault(const char* text) noexcept(Mode == OnFault::Abort) {
    if constexpr (Mode == OnFault::Abort) {
      fault_abort(text);
    } else {
      fail(text);
    }
  }
  PendingSlot* slot_;
};

// Hands one parked exception to sys.unraisablehook.
void report_unraisable(PyErrState error, PyObject* context) {
  error.restore();
  PyErr_WriteUnraisable(context);
}

// Releases an exception taken out of the slot. Its frames may run `__del__`;
// what that code parks must not become the running call's exception.
void drop(PyErrState error) noexcept {
  // Without the lock the release is queued (or, on a thread being ended,
  // leaked): no Python runs now. A thread the interpreter ends reaches this
  // with an exception only through a protocol scope's destructor, and what can
  // end a thread after a park inside a scope is a hook (run_hook's handler
  // notes the thread first) or a staged action (the thread parks there). The
  // count alone would answer the same today, but not on a thread nothing has
  // noted yet: that one would take the interpreter's error state unlocked.
  if (!error || !may_touch_python()) return;
  try {
    ReleaseTimeScope scope(nullptr);
    error = PyErrState{};
  } catch (...) {
    // Called by destructors: the forced unwind cannot go on from here.
    if (caught_forced_unwind()) park_exiting_thread();
    // Otherwise only a broken slot invariant lands here; the release below still happens.
  }
}

// __del__ code reported as unraisable may itself park again; a few rounds
// catch such chains without looping for ever on a pathological one.
constexpr int kReportRounds = 8;

}  // namespace

PyErrState PyErrState::fetch() {
  set_pending_or_system_error();
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  return PyErrState{Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
}

void PyErrState::restore() {
  PyObject *new_type = type.release(), *new_value = value.release(), *new_traceback = traceback.release();
  noting_thread_exit([&] { PyErr_Restore(new_type, new_value, new_traceback); });
}

void park_pending_error(PyErrState error) {
  PyErrState old;
  {
    SlotAccess access;
    old = std::move(access.content());
    access.content() = std::move(error);
  }
  drop(std::move(old));
}

void clear_pending_error() {
  PyErrState old;
  {
    SlotAccess access;
    old = std::move(access.content());
  }
  drop(std::move(old));
}

PyErrState take_pending_error() {
  SlotAccess access;
  return std::move(access.content());
}

int pending_protocol_depth() noexcept {
  SlotAccess<OnFault::Abort> access;
  return access.protocol_depth();
}

namespace {

// The common case of an entry point: a thread whose slot is empty and free.
// Nothing is moved then, and no Python can run between the check and the
// change, so the flag need not be taken. Null when the slot needs the full path.
PendingSlot* idle_slot() noexcept {
  if (t_slot_destroyed) return nullptr;
  PendingSlot& slot = this_thread_slot();
  return !slot.in_use && !slot.content && slot.fault == nullptr ? &slot : nullptr;
}

}  // namespace

PendingErrorScope::PendingErrorScope() {
  if (PendingSlot* slot = idle_slot(); slot != nullptr && slot->protocol_depth == 0) {
    ++slot->protocol_depth;
    return;
  }
  PyErrState stale;
  {
    SlotAccess access;
    if (access.protocol_depth() > 0) {
      outer_ = std::move(access.content());
      nested_ = true;
    } else {
      stale = std::move(access.content());
      access.fault() = nullptr;
    }
    ++access.protocol_depth();
  }
  drop(std::move(stale));
}

PendingErrorScope::~PendingErrorScope() {
  if (!left_) drop(leave(nullptr));
}

PyErrState PendingErrorScope::leave(const char** fault) noexcept {
  left_ = true;
  if (PendingSlot* slot = nested_ ? nullptr : idle_slot()) {
    --slot->protocol_depth;
    return {};
  }
  SlotAccess<OnFault::Abort> access;
  PyErrState own = std::move(access.content());
  if (fault != nullptr) *fault = std::exchange(access.fault(), nullptr);
  --access.protocol_depth();
  if (nested_) access.content() = std::move(outer_);
  return own;
}

void PendingErrorScope::finish() {
  const char* fault = nullptr;
  PyErrState own = leave(&fault);
  if (fault != nullptr) {
    drop(std::move(own));
    fail(fault);
  }
  if (own) {
    own.restore();
    throw ErrorAlreadySet{};
  }
}

ReleaseTimeScope::ReleaseTimeScope(PyObject* context) : context_(context) {
  require_lock("a release-time scope");
  {
    SlotAccess access;
    stashed_ = std::move(access.content());
  }
  // Python code must not run with an error set; the one in flight comes back at the end.
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  in_flight_ = PyErrState{Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
}

ReleaseTimeScope::~ReleaseTimeScope() {
  if (!may_touch_python()) {
    // Nothing is reported on the way out of a thread the interpreter ends.
    SlotAccess<OnFault::Abort> access;
    access.content() = std::move(stashed_);
    return;
  }
  parking_if_ended([this] { report_parked(); });  // a destructor: the unwind cannot go on
}

void ReleaseTimeScope::report_parked() {
  for (int round = 0; round < kReportRounds; ++round) {
    PyErrState parked;
    {
      SlotAccess<OnFault::Abort> access;
      parked = std::move(access.content());
    }
    if (!parked) break;
    report_unraisable(std::move(parked), context_);
  }
  PyErrState leftover;
  {
    SlotAccess<OnFault::Abort> access;
    leftover = std::move(access.content());
    access.content() = std::move(stashed_);
  }
  leftover = PyErrState{};
  if (in_flight_) in_flight_.restore();
}

Ref py_call_method(PyObject* obj, Ref name, Ref args) {
  Ref attribute = Ref::steal(PyObject_GetAttr(obj, name.get()));
  if (!attribute) throw_pending();
  Ref result = Ref::steal(PyObject_Call(attribute.get(), args.get(), nullptr));
  if (!result) throw_pending();
  return result;
}

Ref py_call_method_2(PyObject* obj, Name name, Ref a, Ref b) {
  return py_call_method_2(obj, name_text(name), std::move(a), std::move(b));
}

Ref py_call_method_2(PyObject* obj, std::string_view name, Ref a, Ref b) {
  Ref name_obj = Ref::steal(interned_new_ref(name));
  Ref args = Ref::steal(PyTuple_New(2));
  if (!args) throw_pending();
  PyTuple_SetItem(args.get(), 0, a.release());
  PyTuple_SetItem(args.get(), 1, b.release());
  return py_call_method(obj, std::move(name_obj), std::move(args));
}

Ref py_call_build(PyObject* builder, PyObject* arg) {
  Ref name = Ref::borrow(interned(Name::build));
  Ref args = Ref::steal(PyTuple_New(1));
  if (!args) throw_pending();
  PyTuple_SetItem(args.get(), 0, Ref::borrow(arg).release());
  return py_call_method(builder, std::move(name), std::move(args));
}

bool has_user_data_attr(PyObject* obj) {
  Ref value = Ref::steal(PyObject_GetAttr(obj, interned(Name::user_data)));
  if (value) return true;
  PyErrState error = PyErrState::fetch();
  if (PyErr_GivenExceptionMatches(error.type.get(), PyExc_AttributeError)) return false;
  error.restore();
  throw ErrorAlreadySet{};
}

// Parks the interpreter's current error for the entry point. Dropping an
// older parked exception may run Python; a thread ended there parks itself.
void park_raised() {
  CaughtError slot_broken;
  try {
    park_pending_error(PyErrState::fetch());
  } catch (...) {
    if (caught_forced_unwind()) {
      note_forced_unwind();
      throw;
    }
    slot_broken.record();
  }
  // The slot itself is broken; show the error rather than lose it (out of the
  // handler: showing it runs Python).
  if (slot_broken) {
    slot_broken.raise();
    PyErr_WriteUnraisable(nullptr);
  }
}

void park_lock_refusal(const char* text) noexcept {
  SlotAccess<OnFault::Abort> access;
  access.fault() = text;
}

namespace {

void run_action(Ref callable) {
  {
    GilToken lock(std::nothrow);
    if (const char* refusal = lock.refusal()) {
      // No Python exception can be made without the lock: the fault waits in
      // the slot for the entry point, and the callable's release is queued.
      park_lock_refusal(refusal);
      return;
    }
    CaughtError slot_broken;
    try {
      // Run by core work that promises not to throw (a commit, a rollback):
      // the forced unwind cannot go on through it.
      // Taking its error can make one (a call that failed without setting
      // any), which runs Python too.
      PyErrState raised;
      parking_if_ended([&] {
        if (!Ref::steal(PyObject_CallNoArgs(callable.get()))) raised = PyErrState::fetch();
      });
      if (raised) park_pending_error(std::move(raised));
    } catch (...) {
      // Only an internal fault of the slot lands here (a thread ended inside
      // parks where it is); the action reports nothing to the core, so it is
      // shown rather than lost, once the handler has ended.
      slot_broken.record();
    }
    if (slot_broken) {
      slot_broken.raise();
      PyErr_WriteUnraisable(nullptr);
    }
  }
  // Released after the lock token: queued if this thread works without the lock.
  callable = Ref();
}

}  // namespace

void py_call_action(Ref callable) noexcept {
  // Ended while the lock was being taken: the same holds as inside the call.
  parking_if_ended([&] { run_action(std::move(callable)); });
}

}  // namespace vantrel::py
