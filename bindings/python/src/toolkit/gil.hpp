#pragma once
// The interpreter lock as the binding layer sees it.
//
// Lock order: the table in vantrel/core/rw_lock.hpp; the interpreter lock sits
// above every lock there. So an entry point retakes an interpreter lock it gave
// up (AllowThreads, AllowThreadsIfBlocked) only after the last core lock is gone
// (counted by vantrel::core_locks_held()): that scope is always the outermost
// guard. GilToken refuses to wait while a core lock is held, and releases
// requested under one are queued instead of done.
#include <atomic>
#include <cstddef>
#include <exception>
#include <cstdint>
#include <new>

#include "toolkit/checked.hpp"
#include "toolkit/python.hpp"
#include "vantrel/core/rw_lock.hpp"

namespace vantrel::py {

// Per-thread count of how deeply this thread holds the interpreter lock:
// every entry from the interpreter and every gil_acquire adds one. Read on
// every entry, so it lives in static TLS (one word of glibc's reserve for
// loaded modules) instead of going through __tls_get_addr.
inline thread_local std::intptr_t t_lock_depth __attribute__((tls_model("initial-exec"))) = 0;
inline std::intptr_t& lock_depth() noexcept { return t_lock_depth; }

// True where Python code may run now: the lock is held and no core lock is.
inline bool may_run_python() noexcept { return lock_depth() > 0 && core_locks_held() == 0; }

// A thread the interpreter ends while it finalises (a daemon thread) leaves by
// pthread_exit: a forced unwind through our frames, starting inside whichever
// call into the interpreter was waiting for its lock. No handler of ours may
// swallow it: each catches it first, calls note_forced_unwind() and rethrows.
// From then on this thread holds no interpreter lock as far as we are
// concerned: it never takes, waits for or gives up that lock again, and what
// it would release is leaked (the interpreter leaks the thread's own frames
// the same way). It may still wait for a core lock. Where the unwind cannot
// go on (a destructor, or core work that promises not to throw, such as a
// staged action run by a commit), park_exiting_thread() stops the thread
// there instead, holding nothing, until the process ends.
inline thread_local bool t_thread_exiting __attribute__((tls_model("initial-exec"))) = false;
void note_forced_unwind() noexcept;
[[noreturn]] void park_exiting_thread() noexcept;

// The forced unwind is caught with `catch (...)` and recognised in the handler
// by this test, never caught as `abi::__forced_unwind&`: the runtime hands
// that handler a null object, and binding a reference to it is undefined
// (the checked build stops there). It is the one exception of a foreign kind
// that reaches our frames, and the runtime gives no exception_ptr for those.
// Call only inside a handler. A handler must not run Python code either: the
// runtime ends the process if the forced unwind is caught while another
// exception is being handled on the thread.
inline bool caught_forced_unwind() noexcept { return !std::current_exception(); }

// Runs `call`, calls into the interpreter that throw no C++ exception, where
// the forced unwind cannot go on (a destructor, a function that promises not
// to throw): a thread ended inside parks there. A cleanup does it, in a frame
// of this function's own (never inlined): inside a noexcept frame the runtime
// would end the process before running any cleanup. Nothing is caught, so it
// is safe where another exception is being handled, and no null object is
// bound to a reference.
class ParkIfEnded {
 public:
  ParkIfEnded() noexcept = default;
  ~ParkIfEnded() {
    if (!done_) park_exiting_thread();
  }
  ParkIfEnded(const ParkIfEnded&) = delete;
  ParkIfEnded& operator=(const ParkIfEnded&) = delete;
  void done() noexcept { done_ = true; }

 private:
  bool done_ = false;
};

template <class Call>
[[gnu::noinline]] void parking_if_ended(Call&& call) {
  ParkIfEnded ended;
  call();
  ended.done();
}

// Runs `call`, a call into the interpreter whose caller holds references: the
// forced unwind is noted before the caller's destructors release them.
template <class Call>
decltype(auto) noting_thread_exit(Call&& call) {
  try {
    return call();
  } catch (...) {
    if (caught_forced_unwind()) note_forced_unwind();
    throw;
  }
}

// The thread that finalises the interpreter, marked by the exit handler each
// module registers (the interpreter runs exit handlers on that thread, before
// it ends any other); null until then. A mark is the address of a word of the
// thread's own static TLS.
extern std::atomic<const void*> g_finalising_thread;
inline const void* this_thread_mark() noexcept { return &t_lock_depth; }

// True where this thread may touch Python objects now: may_run_python() by
// our count, and, once the interpreter finalises (it says it is not
// initialised from then on), only on the thread that finalises it. Our count
// is wrong in one place only: a thread the interpreter ends starts unwinding
// inside a call into it, without the lock, and destructors run before any
// handler of ours notes it. Such a thread is noted here instead. The
// interpreter's own answer is no help there: once finalisation has deleted
// its thread-state key, PyGILState_Check() says "held" to every thread.
bool may_touch_python_at_exit() noexcept;
inline bool may_touch_python() noexcept {
  if (!may_run_python()) return false;
  if (g_finalising_thread.load(std::memory_order_acquire) == nullptr) [[likely]]
    return true;
  return may_touch_python_at_exit();
}
// Made by each module's init, so that may_touch_python() asks about
// finalisation only once the interpreter is about to finalise. Raises on failure.
void watch_interpreter_exit();

// Debug and sanitizer builds check that the interpreter lock is held wherever
// a reference is taken or the lock is given up; a breach is an internal fault.
inline constexpr bool kLockChecks = kCheckedBuild;
[[noreturn]] void lock_fault(const char* what);
inline void require_lock(const char* what) noexcept(!kLockChecks) {
  if constexpr (kLockChecks) {
    if (lock_depth() <= 0) lock_fault(what);
  }
}

// References released where Python may not run wait here until some thread
// enters the module or takes the lock.
extern std::atomic<bool> g_releases_queued;
void py_flush_pending_decrefs() noexcept;
// Queues a release whatever this thread holds (thread teardown).
void py_decref_deferred(PyObject* obj) noexcept;
// How many releases wait; for tests that watch the queue.
std::size_t queued_release_count() noexcept;
inline void flush_if_queued() noexcept {
  if (g_releases_queued.load(std::memory_order_acquire)) py_flush_pending_decrefs();
}

// Held by every function the interpreter calls into this module. Python code
// runs here, so a blocking hook armed by an outer AllowThreadsIfBlocked (a hook
// calling back into the module) is set aside: giving the lock up under running
// Python would pull it from under the interpreter.
class Entry {
 public:
  Entry() noexcept;
  // A thread being ended leaves with no hook armed: the outer scope's would
  // give up a lock the thread no longer holds.
  ~Entry() {
    if (t_thread_exiting) {
      t_before_blocking = nullptr;
      return;
    }
    --lock_depth();
    t_before_blocking = outer_hook_;
  }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

 private:
  BlockingHook outer_hook_;
};

// Takes the interpreter lock from any thread; nests with entries and itself.
// Refused (an internal fault) while this thread holds a core lock, on a thread
// being ended, and on a thread the interpreter has no state for once it
// finalises. Any other thread is handed to the interpreter, which lets in the
// thread that finalises (module teardown calling the engine) and ends the rest.
class GilToken {
 public:
  GilToken();
  // Throws nothing but the forced unwind of a thread the interpreter ends:
  // check refusal() before using the lock.
  explicit GilToken(std::nothrow_t);
  ~GilToken();
  GilToken(const GilToken&) = delete;
  GilToken& operator=(const GilToken&) = delete;
  // Why the lock was not taken; null when it was.
  const char* refusal() const noexcept { return refusal_; }

 private:
  const char* acquire();
  bool already_held_ = true;
  const char* refusal_ = nullptr;
  PyGILState_STATE state_{};
};

// Gives the lock up around core work; the depth drops to zero meanwhile, so
// references released inside are queued instead of touched.
class AllowThreads {
 public:
  AllowThreads() noexcept(!kLockChecks);
  ~AllowThreads();
  AllowThreads(const AllowThreads&) = delete;
  AllowThreads& operator=(const AllowThreads&) = delete;

 private:
  PyThreadState* saved_;
  std::intptr_t depth_;
};

// Keeps the lock through core work unless that work is about to park on a
// contended core lock: the lock is given up there, once (the depth drops to
// zero, as in AllowThreads), and retaken when the scope ends, after the last
// core lock is gone. Work that never waits thus never hands the lock to another
// thread, while no Python thread is held up by one that does.
class AllowThreadsIfBlocked {
 public:
  AllowThreadsIfBlocked() noexcept(!kLockChecks);
  ~AllowThreadsIfBlocked();
  AllowThreadsIfBlocked(const AllowThreadsIfBlocked&) = delete;
  AllowThreadsIfBlocked& operator=(const AllowThreadsIfBlocked&) = delete;
  // True once the work gave the lock up.
  bool gave_up() const noexcept;

  // What a scope gave up, kept per thread for the hook.
  struct GivenUp {
    PyThreadState* state = nullptr;
    std::intptr_t depth = 0;
  };

 private:
  BlockingHook outer_hook_;
  GivenUp outer_;
};

}  // namespace vantrel::py
