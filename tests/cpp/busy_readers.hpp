#pragma once
// Readers that keep a lock busy: each holds it shared for about a microsecond
// and takes it again at once, so with a few of them some reader is always
// inside. They stop when told or at a hard deadline, so a writer the lock
// starves can never hang the caller. Shared by the lock tests and benchmarks.
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "vantrel/core/rw_lock.hpp"

namespace vantrel::testing_support {

class BusyReaders {
 public:
  BusyReaders(RwLock& lock, int count, std::chrono::steady_clock::duration limit)
      : lock_(lock), deadline_(std::chrono::steady_clock::now() + limit) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { run(); });
    while (started_.load() < count) std::this_thread::yield();
  }
  ~BusyReaders() { stop(); }
  BusyReaders(const BusyReaders&) = delete;
  BusyReaders& operator=(const BusyReaders&) = delete;

  void stop() {
    stop_ = true;
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }
  // True when the readers gave up at the deadline rather than being stopped.
  bool ran_out() const { return ran_out_.load(); }

 private:
  void run() {
    bool counted = false;
    for (unsigned round = 0; !stop_.load(std::memory_order_relaxed); ++round) {
      if ((round & 63) == 0 && std::chrono::steady_clock::now() > deadline_) {
        ran_out_ = true;
        break;
      }
      SharedGuard guard(lock_);
      if (!counted) counted = (started_.fetch_add(1), true);
      volatile int sink = 0;
      for (int k = 0; k < 500; ++k) sink = k;
    }
  }

  RwLock& lock_;
  const std::chrono::steady_clock::time_point deadline_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ran_out_{false};
  std::atomic<int> started_{0};
  std::vector<std::thread> threads_;
};

// Takes `lock` exclusively once; returns how long that took.
inline std::chrono::nanoseconds timed_write(RwLock& lock) {
  const auto start = std::chrono::steady_clock::now();
  ExclusiveGuard guard(lock);
  return std::chrono::steady_clock::now() - start;
}

}  // namespace vantrel::testing_support
