#pragma once
// The one reader-writer lock of the engine, its policies and the market data,
// and the one statement of the order in which every lock is taken and of how
// each waits.
//
// Rule above all: the interpreter lock is never acquired, and Python never
// runs (calls, attribute reads, releases that may reach __del__, allocations
// that may start a collection), while a thread holds any lock below. Every
// RwLock acquisition (ReadMostlyLock's included) counts in `core_locks_held()`,
// which the bindings check before they wait for the interpreter lock; an entry
// point that gives the interpreter lock up (before its first lock, or through
// the park hook below when an RwLock is contended) retakes it only after its
// last. The leaf words ("park", "spin") are not counted: nothing is taken and
// no Python runs while one is held.
//
// Lock order. Locks are taken downwards only: while holding a lock, a thread
// takes only locks listed in its "then" column. Modes per engine locking mode
// (no_sync / full_sync / account_sync): "-" no lock; "rw" an RwLock (below);
// "rm" a ReadMostlyLock (marketdata/read_mostly_lock.hpp: an RwLock per reader
// shard, a writer takes every shard); "park" and "spin" one word of the value
// itself, waited on as the next table says. A market-data service locks unless
// it was built no_sync.
//
//   lock                          modes            guards                       then
//   ----------------------------  ---------------  ---------------------------  ---------------------
//   md registry (C)               - / rm / rm      instrument index, ids        slot list (D), only
//                                                                               while registering
//   md slot list (D)              - / rm / rm      the slots' addresses         quote, TTL of a slot
//   md slot quote lock            - / rw / rw      that slot's quote buckets    nothing
//   md slot TTL lock              - / rw / rw      that slot's limits           A or B, one at a time
//   md account TTLs (A)           - / rm / rm      service per-account limits   nothing
//   md group TTLs (B)             - / rm / rm      service per-group limits     nothing
//   group registry op lock        - / rw / rw      a change is seen whole       group map
//   group registry map lock       - / rw / rw      account -> group map         group entry
//   group registry entry lock     - / rw / -       a stored group               nothing
//   block registry map lock       - / rw / rw      account -> block map         nothing
//   rate-limit log lock           - / rw / rw      one barrier's order log      nothing
//   rate-limit window             lock-free (a 16-byte compare-and-swap) in every mode; without
//                                 one, spin / spin / spin over that window's two words
//   P&L shard lock                - / rw / rw      one shard's cell table       a cell of that shard
//                                                                               (cells move as the
//                                                                               table grows)
//   P&L cell                      - / spin / spin  one running P&L              nothing
//   holdings shard lock           - / rm / rm      one shard's slot table       a slot of that shard
//   holdings slot lock            - / park / -     one (account, asset) value   nothing
//   funds lease stripe flag       spin/spin/spin   one stripe's lease count     nothing
//
// Waiting. Only RwLock (and so ReadMostlyLock) runs the park hook below before
// it parks: an entry point that armed it gives the interpreter lock up there,
// and other Python threads run while it waits. Every other primitive waits
// with the interpreter lock kept. That is sound because each is a leaf held
// for a few instructions (one step on a value or a counter) by a thread that
// takes nothing under it and never waits for the interpreter lock, so the
// holder always finishes.
//
//   primitive                      waits by                                      interpreter lock
//   -----------------------------  --------------------------------------------  ----------------
//   RwLock, ReadMostlyLock         parks on its word once contended (atomic      given up (hook)
//                                  wait: a short spin, then a futex)
//   holdings slot lock             parks on the slot's word (atomic wait)        kept
//   P&L cell sequence word         spins (pause) 64 turns, then yields each      kept
//                                  turn; readers retry the same way while an
//                                  update is under way
//   funds lease stripe flag        spins, yielding every 64th turn               kept
//   rate-limit window, fallback    spins without yielding                        kept
//   binding deferred-release and   std::mutex (futex)                            kept
//   class-cell mutexes
//   binding pending-exception      never waited for: finding it taken is an internal fault
//   slot flag
//
// Between components: market data is read, and an order's account group
// resolved (by a Python policy before it retakes the interpreter lock),
// before any policy lock is taken; blocks are recorded only after a
// policy's own locks are gone; no market-data lock is held while the group
// registry is read. A read lock is never upgraded (release it, take the write
// lock, look again), and no thread takes one lock twice: a writer-preferring
// lock would deadlock on a nested read behind a waiting writer. Checked builds
// abort on such a nesting. The binding layer's deferred-release mutex and
// pending-exception flag are leaves: nothing is taken and no Python runs under
// them.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vantrel {

// The locking mode of the engine (or market-data service) a lock belongs to.
// Every mode but None takes the lock; both take it the same, writer-preferring
// way. The policies read the mode to decide which of their locks exist at all.
enum class SyncMode : std::uint8_t {
  None,     // no locking at all: the host promises a single thread
  Full,     // full_sync engines and synced market data: every lock in the table
  Account,  // account_sync engines: per-account values are the host's to keep apart
};

// Per-thread count of RwLock acquisitions currently held (shared or exclusive).
inline thread_local std::int32_t t_core_locks_held __attribute__((tls_model("initial-exec"))) = 0;
inline std::int32_t core_locks_held() noexcept { return t_core_locks_held; }

// Run by a thread about to park on a contended RwLock, then disarmed. The Python
// binding arms it to give the interpreter lock up only when its core work must
// really wait. It may take the interpreter's own locks (giving its lock up does)
// and takes none of ours; it runs no Python and never waits for the interpreter
// lock, so it is safe while the thread holds other locks of the table above.
using BlockingHook = void (*)() noexcept;
inline thread_local BlockingHook t_before_blocking __attribute__((tls_model("initial-exec"))) = nullptr;
inline void before_blocking() noexcept {
  if (t_before_blocking != nullptr) [[unlikely]]
    std::exchange(t_before_blocking, nullptr)();
}

#if !defined(NDEBUG) || defined(VANTREL_CHECKED)
inline constexpr bool kLockNestingChecks = true;

namespace rw_lock_detail {
// Checked builds remember which locks this thread holds, to catch a second
// acquisition of one of them (a deadlock once a writer queues in between).
struct HeldLocks {
  static constexpr int kCapacity = 64;
  const void* locks[kCapacity];
  int stored;
  int untracked;  // acquisitions beyond the capacity, not checked
};
// On the heap: an extension's whole thread-local block goes into the loader's
// small static reserve, which an array here would overflow. malloc, not new:
// tests replace the global allocation functions.
struct HeldLocksOwner {
  HeldLocks* held = nullptr;
  ~HeldLocksOwner() { std::free(held); }
};
inline thread_local HeldLocksOwner t_held_locks;

inline void note_acquire(const void* lock) noexcept {
  HeldLocks*& held = t_held_locks.held;
  if (held == nullptr && (held = static_cast<HeldLocks*>(std::calloc(1, sizeof(HeldLocks)))) == nullptr) return;
  for (int i = 0; i < held->stored; ++i) {
    if (held->locks[i] == lock) {
      std::fputs("vantrel: internal fault: a lock taken twice on one thread\n", stderr);
      std::abort();
    }
  }
  if (held->stored < HeldLocks::kCapacity) {
    held->locks[held->stored++] = lock;
  } else {
    ++held->untracked;
  }
}

inline void note_release(const void* lock) noexcept {
  HeldLocks* held = t_held_locks.held;
  if (held == nullptr) return;
  for (int i = held->stored; i-- > 0;) {
    if (held->locks[i] == lock) {
      held->locks[i] = held->locks[--held->stored];
      return;
    }
  }
  --held->untracked;
}
}  // namespace rw_lock_detail
#else
inline constexpr bool kLockNestingChecks = false;

namespace rw_lock_detail {
inline void note_acquire(const void*) noexcept {}
inline void note_release(const void*) noexcept {}
}  // namespace rw_lock_detail
#endif

// One 32-bit word: reader count, writer-held, writer-waiting and readers-waiting
// bits; waiters park on the word itself. Writer-preferring: once a writer
// waits, new readers queue behind it, so a writer waits at most for the
// readers inside when it arrived, however busy the lock is.
// Thread-safe; not copyable; never taken twice by one thread (see above).
class RwLock {
 public:
  explicit RwLock(SyncMode mode = SyncMode::Full) noexcept : mode_(mode) {}
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  SyncMode mode() const noexcept { return mode_; }

  void lock_shared() noexcept {
    ++t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    rw_lock_detail::note_acquire(this);
    std::uint32_t s = state_.load(std::memory_order_relaxed);
    if ((s & kReadersBlocked) == 0 &&
        state_.compare_exchange_weak(s, s + 1, std::memory_order_acquire, std::memory_order_relaxed)) [[likely]]
      return;
    lock_shared_slow();
  }

  void unlock_shared() noexcept {
    --t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    rw_lock_detail::note_release(this);
    const std::uint32_t prev = state_.fetch_sub(1, std::memory_order_release);
    if ((prev & kReaderMask) == 1 && (prev & kWriterWaiting) != 0) [[unlikely]]
      wake_waiters();
  }

  void lock() noexcept {
    ++t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    rw_lock_detail::note_acquire(this);
    std::uint32_t s = 0;
    if (state_.compare_exchange_weak(s, kWriterHeld, std::memory_order_acquire, std::memory_order_relaxed))
        [[likely]]
      return;
    lock_slow();
  }

  void unlock() noexcept {
    --t_core_locks_held;
    if (mode_ == SyncMode::None) return;
    rw_lock_detail::note_release(this);
    const std::uint32_t prev = state_.exchange(0, std::memory_order_release);
    if ((prev & (kWriterWaiting | kReadersWaiting)) != 0) [[unlikely]]
      wake_waiters();
  }

 private:
  static constexpr std::uint32_t kWriterHeld = 1u << 31;
  static constexpr std::uint32_t kWriterWaiting = 1u << 30;
  static constexpr std::uint32_t kReadersWaiting = 1u << 29;
  static constexpr std::uint32_t kReaderMask = kReadersWaiting - 1;
  static constexpr std::uint32_t kReadersBlocked = kWriterHeld | kWriterWaiting;

  // The waits and the wake, out of line: the uncontended steps above stay small enough to inline.
  [[gnu::noinline]] void wake_waiters() noexcept { state_.notify_all(); }

  [[gnu::noinline]] void lock_shared_slow() noexcept {
    std::uint32_t s = state_.load(std::memory_order_relaxed);
    for (;;) {
      if ((s & kReadersBlocked) == 0) {
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

  [[gnu::noinline]] void lock_slow() noexcept {
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
