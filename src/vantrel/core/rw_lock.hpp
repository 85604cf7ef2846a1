#pragma once
// The one reader-writer lock of the engine, its policies and the market data.
//
// Lock order and the rule that keeps it deadlock-free: the interpreter lock is
// never acquired, and Python never runs (calls, attribute reads, releases that
// may reach __del__, allocations that may start a collection), while a thread
// holds any RwLock. Every acquisition counts in `core_locks_held()`, which the
// bindings check before they wait for the interpreter lock. Below that rule,
// locks are taken downwards only:
//   market data: instrument table, bucket index, then a slot's quote and TTL
//     locks, then (when a lookup needs an account's group) the account-group
//     registry; the engine registries: map lock, then entry lock;
//   a policy's map lock, then the lock of one of its values, then the blocked-
//     account registry.
// Exclusive acquisitions never nest on one thread, and no shared acquisition
// is ever upgraded: code releases the read lock, takes the write lock and
// looks again.
#include <atomic>
#include <cstdint>
#include <utility>

namespace vantrel {

// How a lock behaves; chosen once per engine (or market-data service).
enum class SyncMode : std::uint8_t {
  None,       // no locking at all: the host promises a single thread
  Recursive,  // readers are admitted whenever no writer holds the lock, even with
              // one waiting, so a thread may nest shared acquisitions freely
  Plain,      // writer-preferring: a waiting writer holds back new readers
};

// Per-thread count of RwLock acquisitions currently held (shared or exclusive).
inline thread_local std::int32_t t_core_locks_held __attribute__((tls_model("initial-exec"))) = 0;
inline std::int32_t core_locks_held() noexcept { return t_core_locks_held; }

// Run by a thread about to park on a contended RwLock, then disarmed. The Python
// binding arms it to give the interpreter lock up only when its core work must
// really wait. It must neither block nor take a lock.
using BlockingHook = void (*)() noexcept;
inline thread_local BlockingHook t_before_blocking __attribute__((tls_model("initial-exec"))) = nullptr;
inline void before_blocking() noexcept {
  if (t_before_blocking != nullptr) [[unlikely]]
    std::exchange(t_before_blocking, nullptr)();
}

// One 32-bit word: reader count, writer-held, writer-waiting and readers-waiting
// bits; waiters park on the word itself. Writers may starve in Recursive mode;
// that resolves itself because readers always return to the host.
// Thread-safe; not copyable.
class RwLock {
 public:
  explicit RwLock(SyncMode mode = SyncMode::Recursive) noexcept : mode_(mode) {}
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  SyncMode mode() const noexcept { return mode_; }

  void lock_shared() noexcept {
    ++t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    const std::uint32_t blocking = mode_ == SyncMode::Plain ? (kWriterHeld | kWriterWaiting) : kWriterHeld;
    std::uint32_t s = state_.load(std::memory_order_relaxed);
    if ((s & blocking) == 0 &&
        state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed)) [[likely]]
      return;
    lock_shared_slow(blocking);
  }

  void unlock_shared() noexcept {
    --t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    const std::uint32_t prev = state_.fetch_sub(1, std::memory_order_release);
    if ((prev & kReaderMask) == 1 && (prev & kWriterWaiting) != 0) state_.notify_all();
  }

  void lock() noexcept {
    ++t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    std::uint32_t s = 0;
    if (state_.compare_exchange_weak(s, kWriterHeld, std::memory_order_acquire, std::memory_order_relaxed))
        [[likely]]
      return;
    lock_slow();
  }

  void unlock() noexcept {
    --t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    const std::uint32_t prev = state_.exchange(0, std::memory_order_release);
    if ((prev & (kWriterWaiting | kReadersWaiting)) != 0) state_.notify_all();
  }

 private:
  static constexpr std::uint32_t kWriterHeld = 1u << 31;
  static constexpr std::uint32_t kWriterWaiting = 1u << 30;
  static constexpr std::uint32_t kReadersWaiting = 1u << 29;
  static constexpr std::uint32_t kReaderMask = kReadersWaiting - 1;

  void lock_shared_slow(std::uint32_t blocking) noexcept {
    std::uint32_t s = state_.load(std::memory_order_relaxed);
    for (;;) {
      if ((s & blocking) == 0) {
        if (state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed)) return;
        continue;
      }
      if ((s & kReadersWaiting) == 0 &&
          !state_.compare_exchange_weak(s, s | kReadersWaiting, std::memory_order_relaxed))
        continue;
      s |= kReadersWaiting;
      before_blocking();
      state_.wait(s, std::memory_order_relaxed);
      s = state_.load(std::memory_order_relaxed);
    }
  }

  void lock_slow() noexcept {
    std::uint32_t s = state_.load(std::memory_order_relaxed);
    for (;;) {
      if ((s & (kWriterHeld | kReaderMask)) == 0) {
        // The waiting bits stay: other parked writers and readers are woken by
        // our unlock (at worst once for nothing).
        const std::uint32_t next = kWriterHeld | (s & (kWriterWaiting | kReadersWaiting));
        if (state_.compare_exchange_weak(s, next, std::memory_order_acquire, std::memory_order_relaxed)) return;
        continue;
      }
      if ((s & kWriterWaiting) == 0 &&
          !state_.compare_exchange_weak(s, s | kWriterWaiting, std::memory_order_relaxed))
        continue;
      s |= kWriterWaiting;
      before_blocking();
      state_.wait(s, std::memory_order_relaxed);
      s = state_.load(std::memory_order_relaxed);
    }
  }

  std::atomic<std::uint32_t> state_{0};
  SyncMode mode_;
};

class SharedGuard {
 public:
  explicit SharedGuard(RwLock& lock) noexcept : lock_(&lock) { lock.lock_shared(); }
  ~SharedGuard() {
    if (lock_ != nullptr) lock_->unlock_shared();
  }
  SharedGuard(const SharedGuard&) = delete;
  SharedGuard& operator=(const SharedGuard&) = delete;
  // Gives the lock up before the end of the scope.
  void release() noexcept {
    if (lock_ != nullptr) std::exchange(lock_, nullptr)->unlock_shared();
  }

 private:
  RwLock* lock_;
};

class ExclusiveGuard {
 public:
  explicit ExclusiveGuard(RwLock& lock) noexcept : lock_(&lock) { lock.lock(); }
  ~ExclusiveGuard() {
    if (lock_ != nullptr) lock_->unlock();
  }
  ExclusiveGuard(const ExclusiveGuard&) = delete;
  ExclusiveGuard& operator=(const ExclusiveGuard&) = delete;
  void release() noexcept {
    if (lock_ != nullptr) std::exchange(lock_, nullptr)->unlock();
  }

 private:
  RwLock* lock_;
};

}  // namespace vantrel
