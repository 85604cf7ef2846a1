#include "vantrel/core/rw_lock.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace vantrel {
namespace {

using namespace std::chrono_literals;

// Two counters that a writer keeps equal; a reader that sees them differ saw a torn update.
struct Guarded {
  RwLock lock;
  std::int64_t a = 0;
  std::int64_t b = 0;
  explicit Guarded(SyncMode mode) : lock(mode) {}
};

class RwLockModes : public ::testing::TestWithParam<SyncMode> {};

TEST_P(RwLockModes, WritersExcludeReadersAndEachOther) {
  Guarded g(GetParam());
  std::atomic<bool> torn{false};
  constexpr int kWriters = 4, kReaders = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        ExclusiveGuard guard(g.lock);
        ++g.a;
        ++g.b;
      }
    });
  for (int r = 0; r < kReaders; ++r)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        SharedGuard guard(g.lock);
        if (g.a != g.b) torn = true;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_FALSE(torn.load());
  EXPECT_EQ(g.a, kWriters * kRounds);
  EXPECT_EQ(g.b, kWriters * kRounds);
}

INSTANTIATE_TEST_SUITE_P(Locking, RwLockModes, ::testing::Values(SyncMode::Recursive, SyncMode::Plain));

// Waits until `flag` is set or the deadline passes; true if it was set.
bool wait_for(const std::atomic<bool>& flag, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!flag.load()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A reader nests a second shared acquisition while a writer waits: the
// recursive kind admits it, so nothing deadlocks.
TEST(RwLock, RecursiveAdmitsNestedReadWhileWriterWaits) {
  RwLock lock(SyncMode::Recursive);
  std::atomic<bool> writer_done{false};
  lock.lock_shared();
  std::thread writer([&] {
    ExclusiveGuard guard(lock);
    writer_done = true;
  });
  std::this_thread::sleep_for(20ms);  // let the writer park
  std::atomic<bool> nested{false};
  std::thread inner([&] {
    lock.lock_shared();
    nested = true;
    lock.unlock_shared();
  });
  EXPECT_TRUE(wait_for(nested, 2000ms));
  EXPECT_FALSE(writer_done.load());
  lock.unlock_shared();
  inner.join();
  writer.join();
  EXPECT_TRUE(writer_done.load());
}

// The plain kind prefers a waiting writer: a new reader queues behind it.
TEST(RwLock, PlainHoldsNewReadersBehindWaitingWriter) {
  RwLock lock(SyncMode::Plain);
  std::atomic<bool> writer_done{false}, reader_done{false};
  lock.lock_shared();
  std::thread writer([&] {
    ExclusiveGuard guard(lock);
    writer_done = true;
  });
  std::this_thread::sleep_for(20ms);
  std::thread reader([&] {
    SharedGuard guard(lock);
    reader_done = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(reader_done.load());
  lock.unlock_shared();
  writer.join();
  reader.join();
  EXPECT_TRUE(writer_done.load());
  EXPECT_TRUE(reader_done.load());
}

TEST(RwLock, CountsHeldLocksInEveryMode) {
  for (SyncMode mode : {SyncMode::None, SyncMode::Recursive, SyncMode::Plain}) {
    RwLock a(mode), b(mode);
    const auto before = core_locks_held();
    {
      SharedGuard r(a);
      ExclusiveGuard w(b);
      EXPECT_EQ(core_locks_held(), before + 2);
      r.release();
      EXPECT_EQ(core_locks_held(), before + 1);
    }
    EXPECT_EQ(core_locks_held(), before);
  }
}

// Many writers queue at once; every one gets through (no lost wake-up).
TEST(RwLock, QueuedWritersAllProceed) {
  RwLock lock(SyncMode::Recursive);
  std::atomic<int> done{0};
  lock.lock();
  std::vector<std::thread> writers;
  for (int i = 0; i < 6; ++i)
    writers.emplace_back([&] {
      for (int k = 0; k < 200; ++k) {
        ExclusiveGuard guard(lock);
      }
      ++done;
    });
  std::this_thread::sleep_for(10ms);
  lock.unlock();
  for (auto& t : writers) t.join();
  EXPECT_EQ(done.load(), 6);
}

}  // namespace
}  // namespace vantrel
