#pragma once
// A reader-writer lock for state that every read passes through but only rare
// writes change (the market-data registry and its TTL tables). Its reader side
// is spread over shards on separate cache lines: a thread always uses the same
// shard, so readers on different threads touch different lines; a writer takes
// every shard in index order. Same modes as RwLock; thread-safe.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "vantrel/core/rw_lock.hpp"

namespace vantrel {

namespace read_mostly_detail {
inline constexpr std::size_t kShards = 16;
inline std::atomic<std::uint32_t> g_next_shard{0};
inline thread_local std::uint32_t t_shard __attribute__((tls_model("initial-exec"))) = kShards;

inline std::size_t this_thread_shard() noexcept {
  std::uint32_t shard = t_shard;
  if (shard == kShards) [[unlikely]]
    shard = t_shard = g_next_shard.fetch_add(1, std::memory_order_relaxed) % kShards;
  return shard;
}
}  // namespace read_mostly_detail

class ReadMostlyLock {
 public:
  explicit ReadMostlyLock(SyncMode mode) noexcept
      : mode_(mode), shards_(make_shards(mode, std::make_index_sequence<read_mostly_detail::kShards>{})) {}
  ReadMostlyLock(const ReadMostlyLock&) = delete;
  ReadMostlyLock& operator=(const ReadMostlyLock&) = delete;

  void lock_shared() noexcept { shard().lock_shared(); }
  void unlock_shared() noexcept { shard().unlock_shared(); }
  void lock() noexcept {
    for (Shard& shard : shards_) shard.lock.lock();
  }
  void unlock() noexcept {
    for (std::size_t i = shards_.size(); i-- > 0;) shards_[i].lock.unlock();
  }

 private:
  struct alignas(64) Shard {
    explicit Shard(SyncMode mode) noexcept : lock(mode) {}
    RwLock lock;
  };
  // Each shard is built in place (a lock cannot move).
  template <std::size_t... I>
  static std::array<Shard, sizeof...(I)> make_shards(SyncMode mode, std::index_sequence<I...>) noexcept {
    return {{((void)I, Shard(mode))...}};
  }

  RwLock& shard() noexcept {
    if (mode_ == SyncMode::None) return shards_[0].lock;  // no-op lock; no TLS read
    return shards_[read_mostly_detail::this_thread_shard()].lock;
  }

  SyncMode mode_;
  std::array<Shard, read_mostly_detail::kShards> shards_;
};

// Scoped shared / exclusive holds over RwLock or ReadMostlyLock.
template <class Lock>
class ReadGuard {
 public:
  explicit ReadGuard(Lock& lock) noexcept : lock_(lock) { lock_.lock_shared(); }
  ~ReadGuard() { lock_.unlock_shared(); }
  ReadGuard(const ReadGuard&) = delete;
  ReadGuard& operator=(const ReadGuard&) = delete;

 private:
  Lock& lock_;
};

template <class Lock>
class WriteGuard {
 public:
  explicit WriteGuard(Lock& lock) noexcept : lock_(lock) { lock_.lock(); }
  ~WriteGuard() { lock_.unlock(); }
  WriteGuard(const WriteGuard&) = delete;
  WriteGuard& operator=(const WriteGuard&) = delete;

 private:
  Lock& lock_;
};

}  // namespace vantrel
