#pragma once
#include <atomic>
#include <cstdint>

#include "toolkit/python.hpp"

namespace vantrel::py {

// Per-thread count of how deeply this thread holds the interpreter lock:
// every entry from the interpreter and every gil_acquire adds one. Read on
// every entry, so it lives in static TLS (one word of glibc's reserve for
// loaded modules) instead of going through __tls_get_addr.
inline thread_local std::intptr_t t_lock_depth __attribute__((tls_model("initial-exec"))) = 0;
inline std::intptr_t& lock_depth() noexcept { return t_lock_depth; }

// Debug and sanitizer builds check that the interpreter lock is held wherever
// a reference is taken or the lock is given up; a breach is an internal fault.
#if !defined(NDEBUG) || defined(VANTREL_LOCK_CHECKS)
inline constexpr bool kLockChecks = true;
#else
inline constexpr bool kLockChecks = false;
#endif
[[noreturn]] void lock_fault(const char* what);
inline void require_lock(const char* what) noexcept(!kLockChecks) {
  if constexpr (kLockChecks) {
    if (lock_depth() <= 0) lock_fault(what);
  }
}

// References released by threads that did not hold the lock wait here until
// some thread enters the module or takes the lock.
extern std::atomic<bool> g_releases_queued;
void py_flush_pending_decrefs() noexcept;
// Queues a release whatever this thread holds (thread teardown).
void py_decref_deferred(PyObject* obj) noexcept;
inline void flush_if_queued() noexcept {
  if (g_releases_queued.load(std::memory_order_acquire)) py_flush_pending_decrefs();
}

// Held by every function the interpreter calls into this module.
class Entry {
 public:
  Entry() noexcept;
  ~Entry() { --lock_depth(); }
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;
};

// Takes the interpreter lock from any thread; nests with entries and itself.
class GilToken {
 public:
  GilToken();
  ~GilToken();
  GilToken(const GilToken&) = delete;
  GilToken& operator=(const GilToken&) = delete;

 private:
  bool already_held_ = true;
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

}  // namespace vantrel::py
