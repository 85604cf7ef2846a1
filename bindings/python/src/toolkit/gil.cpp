#include "toolkit/gil.hpp"

#include <unistd.h>

#include <mutex>
#include <new>
#include <vector>

#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"
#include "vantrel/pretrade/mutations.hpp"

namespace vantrel::py {
namespace {

struct ReleaseQueue {
  std::mutex mutex;
  std::vector<PyObject*> objects;
};

ReleaseQueue& release_queue() {
  static ReleaseQueue* queue = new ReleaseQueue;  // lives until exit: threads may still queue
  return *queue;
}

// The mark is published with release order and read with acquire order: a
// thread that learns of finalisation from the interpreter (its own flag, set
// after the exit handlers ran) then finds the mark on every CPU, not only on
// those that keep stores in order.
PyObject* mark_finalising_thread(PyObject*, PyObject*) {
  g_finalising_thread.store(this_thread_mark(), std::memory_order_release);
  Py_RETURN_NONE;
}

PyMethodDef g_mark_finalising_thread = {"_mark_finalising_thread", &mark_finalising_thread, METH_NOARGS, nullptr};

// Whether this thread still holds the interpreter lock that our count says it
// holds. It can be false only once the interpreter finalises: from then on it
// says it is not initialised, and it ends every thread but the finalising one
// that asks for its lock. Until the exit handler has run, one load answers.
bool held_unless_ended() noexcept {
  const void* finalising = g_finalising_thread.load(std::memory_order_acquire);
  if (finalising == nullptr) [[likely]]
    return true;
  return Py_IsInitialized() != 0 || finalising == this_thread_mark();
}

}  // namespace

std::atomic<bool> g_releases_queued{false};
std::atomic<const void*> g_finalising_thread{nullptr};

void note_forced_unwind() noexcept {
  t_thread_exiting = true;
  t_host_calls_refused = true;
  lock_depth() = 0;
}

void watch_interpreter_exit() {
  Ref atexit = Ref::steal(PyImport_ImportModule("atexit"));
  if (!atexit) throw_pending();
  Ref mark = Ref::steal(PyCFunction_NewEx(&g_mark_finalising_thread, nullptr, nullptr));
  if (!mark) throw_pending();
  if (!Ref::steal(PyObject_CallMethod(atexit.get(), "register", "O", mark.get()))) throw_pending();
}

bool may_touch_python_at_exit() noexcept {
  if (held_unless_ended()) return true;
  note_forced_unwind();
  return false;
}

void park_exiting_thread() noexcept {
  note_forced_unwind();
  for (;;) pause();
}

void py_flush_pending_decrefs() noexcept {
  if (!may_run_python()) return;
  std::vector<PyObject*> taken;
  {
    ReleaseQueue& queue = release_queue();
    std::lock_guard<std::mutex> guard(queue.mutex);
    taken.swap(queue.objects);
    g_releases_queued.store(false, std::memory_order_release);
  }
  parking_if_ended([&] {
    for (PyObject* obj : taken) Py_DecRef(obj);
  });
}

std::size_t queued_release_count() noexcept {
  ReleaseQueue& queue = release_queue();
  std::lock_guard<std::mutex> guard(queue.mutex);
  return queue.objects.size();
}

void lock_fault(const char* what) { fail(cat(what, " without the interpreter lock")); }

void py_release(PyObject* obj) noexcept {
  if (may_touch_python()) {
    parking_if_ended([obj] { Py_DecRef(obj); });  // may run __del__
    return;
  }
  // A thread being ended leaks: what it holds may belong to frames the
  // interpreter abandoned with it (a generator it was running).
  if (t_thread_exiting) return;
  py_decref_deferred(obj);
}

void py_decref_deferred(PyObject* obj) noexcept {
  ReleaseQueue& queue = release_queue();
  std::lock_guard<std::mutex> guard(queue.mutex);
  try {
    queue.objects.push_back(obj);
  } catch (...) {
    // Out of memory while queueing: leaking one reference beats touching the
    // interpreter without its lock.
    return;
  }
  g_releases_queued.store(true, std::memory_order_release);
}

Entry::Entry() noexcept : outer_hook_(std::exchange(t_before_blocking, nullptr)) {
  std::intptr_t& depth = lock_depth();
  if (depth < 0) fault_abort("interpreter lock depth is negative");
  ++depth;
  flush_if_queued();
}

const char* GilToken::acquire() {
  // Waiting here while a core lock is held is the one way the engine can
  // deadlock: the thread with the interpreter lock may be waiting for ours.
  if (core_locks_held() != 0) return "the interpreter lock was requested while a core lock is held";
  if (t_thread_exiting) return "the interpreter is ending this thread";
  std::intptr_t& depth = lock_depth();
  if (depth < 0) return "interpreter lock depth is negative";
  if (depth == 0) {
    // Asked at every acquisition. Once the interpreter finalises (3.11 says
    // not initialised from the start of that, module teardown included), a
    // thread it has no state for (a native thread still running at exit)
    // would have one made for it: refused. A thread it knows is let in if it
    // is the one finalising, and ended otherwise, by the interpreter itself.
    if (Py_IsInitialized() == 0 && PyGILState_GetThisThreadState() == nullptr)
      return "the interpreter is not initialized";
    try {
      state_ = PyGILState_Ensure();
    } catch (...) {
      note_forced_unwind();  // only the forced unwind: the interpreter throws nothing else
      throw;
    }
    already_held_ = false;
  }
  ++lock_depth();
  flush_if_queued();
  return nullptr;
}

// acquire() fills state_, so it runs in the body, after every member is initialised.
GilToken::GilToken(std::nothrow_t) { refusal_ = acquire(); }

GilToken::GilToken() {
  refusal_ = acquire();
  if (refusal_ != nullptr) fail(refusal_);
}

GilToken::~GilToken() {
  if (refusal_ != nullptr || t_thread_exiting) return;
  if (!already_held_) {
    // Ended inside a call while holding the lock we took: the interpreter has
    // it back already, and the thread gives nothing up.
    if (!held_unless_ended()) {
      note_forced_unwind();
      return;
    }
    // Releasing the last hold of a thread state made for this thread clears
    // it, which releases what the state holds (its thread-local data) and can
    // run Python; a destructor: the unwind cannot go on.
    parking_if_ended([this] { PyGILState_Release(state_); });
  }
  --lock_depth();
}

AllowThreads::AllowThreads() noexcept(!kLockChecks) : saved_(nullptr), depth_(lock_depth()) {
  require_lock("giving up the lock");
  saved_ = PyEval_SaveThread();
  lock_depth() = 0;
}

AllowThreads::~AllowThreads() {
  if (t_thread_exiting) return;
  parking_if_ended([this] { PyEval_RestoreThread(saved_); });  // a destructor: the unwind cannot go on
  lock_depth() = depth_;
  flush_if_queued();
}

namespace {

thread_local AllowThreadsIfBlocked::GivenUp t_given_up __attribute__((tls_model("initial-exec")));

// Armed by AllowThreadsIfBlocked; run by a core lock about to park. A thread
// being ended holds no interpreter lock to give up (nor its count, once noted):
// it waits for the core lock as it is.
void give_up_before_blocking() noexcept {
  if (t_thread_exiting) return;
  if (kLockChecks && lock_depth() <= 0) fault_abort("giving up the lock without the interpreter lock");
  if (!held_unless_ended()) {
    note_forced_unwind();
    return;
  }
  t_given_up.depth = lock_depth();
  t_given_up.state = PyEval_SaveThread();
  lock_depth() = 0;
}

}  // namespace

AllowThreadsIfBlocked::AllowThreadsIfBlocked() noexcept(!kLockChecks)
    : outer_hook_(t_before_blocking), outer_(std::exchange(t_given_up, GivenUp{})) {
  require_lock("arming the lock's release");
  t_before_blocking = &give_up_before_blocking;
}

AllowThreadsIfBlocked::~AllowThreadsIfBlocked() {
  t_before_blocking = t_thread_exiting ? nullptr : outer_hook_;
  const GivenUp given_up = std::exchange(t_given_up, outer_);
  if (given_up.state == nullptr || t_thread_exiting) return;
  if (core_locks_held() != 0) fault_abort("the interpreter lock was retaken while a core lock is held");
  parking_if_ended([&] { PyEval_RestoreThread(given_up.state); });  // a destructor: the unwind cannot go on
  lock_depth() = given_up.depth;
  flush_if_queued();
}

bool AllowThreadsIfBlocked::gave_up() const noexcept { return t_given_up.state != nullptr; }

}  // namespace vantrel::py
