#include "toolkit/gil.hpp"

#include <cxxabi.h>
#include <unistd.h>

#include <mutex>
#include <new>
#include <vector>

#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"

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

}  // namespace

std::atomic<bool> g_releases_queued{false};

void note_forced_unwind() noexcept {
  t_thread_exiting = true;
  lock_depth() = 0;
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
  try {
    for (PyObject* obj : taken) Py_DecRef(obj);
  } catch (abi::__forced_unwind&) {
    park_exiting_thread();
  }
}

std::size_t queued_release_count() noexcept {
  ReleaseQueue& queue = release_queue();
  std::lock_guard<std::mutex> guard(queue.mutex);
  return queue.objects.size();
}

void lock_fault(const char* what) { fail(cat(what, " without the interpreter lock")); }

void py_decref(PyObject* obj) noexcept {
  if (may_run_python()) {
    try {
      Py_DecRef(obj);  // may run __del__
    } catch (abi::__forced_unwind&) {
      park_exiting_thread();
    }
    return;
  }
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
    // Asked at every acquisition: a thread that outlives the interpreter (a
    // native thread still running at exit) must be refused, not let in.
    if (Py_IsInitialized() == 0) return "the interpreter is not initialized";
    if (lock_depth() == 0) {
      try {
        state_ = PyGILState_Ensure();
      } catch (abi::__forced_unwind&) {
        note_forced_unwind();
        throw;
      }
      already_held_ = false;
    }
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
  if (!already_held_) PyGILState_Release(state_);
  --lock_depth();
}

AllowThreads::AllowThreads() noexcept(!kLockChecks) : saved_(nullptr), depth_(lock_depth()) {
  require_lock("giving up the lock");
  saved_ = PyEval_SaveThread();
  lock_depth() = 0;
}

AllowThreads::~AllowThreads() {
  if (t_thread_exiting) return;
  try {
    PyEval_RestoreThread(saved_);
  } catch (abi::__forced_unwind&) {
    park_exiting_thread();  // a destructor: the unwind cannot go on from here
  }
  lock_depth() = depth_;
  flush_if_queued();
}

namespace {

thread_local AllowThreadsIfBlocked::GivenUp t_given_up __attribute__((tls_model("initial-exec")));

// Armed by AllowThreadsIfBlocked; run by a core lock about to park.
void give_up_before_blocking() noexcept {
  if (kLockChecks && lock_depth() <= 0) fault_abort("giving up the lock without the interpreter lock");
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
  t_before_blocking = outer_hook_;
  const GivenUp given_up = std::exchange(t_given_up, outer_);
  if (given_up.state == nullptr || t_thread_exiting) return;
  if (core_locks_held() != 0) fault_abort("the interpreter lock was retaken while a core lock is held");
  try {
    PyEval_RestoreThread(given_up.state);
  } catch (abi::__forced_unwind&) {
    park_exiting_thread();  // a destructor: the unwind cannot go on from here
  }
  lock_depth() = given_up.depth;
  flush_if_queued();
}

bool AllowThreadsIfBlocked::gave_up() const noexcept { return t_given_up.state != nullptr; }

}  // namespace vantrel::py
