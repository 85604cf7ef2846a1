#include "vantrel/core/rw_lock.hpp"

#include <gtest/gtest.h>

#include "busy_readers.hpp"
#include "vantrel/marketdata/read_mostly_lock.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <unistd.h>
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

// Every locking mode prefers a waiting writer: a new reader queues behind it. Each
// thread hears through the park hook that it is about to wait (the writer with its
// waiting bit set), so nothing here depends on how fast a loaded machine runs them.
std::atomic<bool> g_writer_parking{false}, g_reader_parking{false};
void writer_parks() noexcept { g_writer_parking = true; }
void reader_parks() noexcept { g_reader_parking = true; }

TEST_P(RwLockModes, HoldsNewReadersBehindWaitingWriter) {
  RwLock lock(GetParam());
  std::atomic<bool> writer_done{false}, reader_done{false};
  g_writer_parking = false;
  g_reader_parking = false;
  lock.lock_shared();
  std::thread writer([&] {
    t_before_blocking = &writer_parks;
    ExclusiveGuard guard(lock);
    writer_done = true;
  });
  while (!g_writer_parking) std::this_thread::yield();
  std::thread reader([&] {
    t_before_blocking = &reader_parks;
    SharedGuard guard(lock);
    reader_done = true;
    t_before_blocking = nullptr;
  });
  // The reader either gets in at once (past the writer: the fault) or parks behind it.
  while (!g_reader_parking && !reader_done) std::this_thread::yield();
  EXPECT_TRUE(g_reader_parking.load()) << "the reader got in while a writer waited";
  EXPECT_FALSE(reader_done.load());
  EXPECT_FALSE(writer_done.load());
  lock.unlock_shared();
  writer.join();
  reader.join();
  EXPECT_TRUE(writer_done.load());
  EXPECT_TRUE(reader_done.load());
}

// Seven readers that never leave the lock free do not keep a writer out: each
// write gets in while they run. The readers give up after 30 s, so a starved
// writer fails the test instead of hanging it; the latency figure itself is
// in the benchmarks.
TEST_P(RwLockModes, WriterGetsInPastSevenBusyReaders) {
  RwLock lock(GetParam());
  testing_support::BusyReaders readers(lock, 7, 30s);
  std::chrono::nanoseconds worst{0};
  for (int i = 0; i < 20; ++i) worst = std::max(worst, testing_support::timed_write(lock));
  EXPECT_FALSE(readers.ran_out());
  EXPECT_LT(worst, 5s);
}

INSTANTIATE_TEST_SUITE_P(Locking, RwLockModes, ::testing::Values(SyncMode::Full, SyncMode::Account));

// No lock is ever taken twice by one thread: checked builds stop at once
// instead of deadlocking later behind a queued writer.
TEST(RwLockDeathTest, NestedAcquisitionIsAFaultInCheckedBuilds) {
  if constexpr (!kLockNestingChecks) GTEST_SKIP() << "unchecked build";
  RwLock outer(SyncMode::Full), other(SyncMode::Full);
  SharedGuard first(outer);
  {
    ExclusiveGuard fine(other);  // distinct locks nest freely
  }
  // Without the check the second one would block for good: the alarm ends it.
  EXPECT_DEATH({ SharedGuard again(outer); }, "a lock taken twice on one thread");
  EXPECT_DEATH(
      {
        alarm(10);
        ExclusiveGuard again(outer);
      },
      "a lock taken twice on one thread");
}

TEST(RwLock, CountsHeldLocksInEveryMode) {
  for (SyncMode mode : {SyncMode::None, SyncMode::Full, SyncMode::Account}) {
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
  RwLock lock(SyncMode::Full);
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

// Every shard of a read-mostly lock takes the lock's mode: while a writer holds it, readers on
// twenty fresh threads (spread over all sixteen shards) wait; without locking they walk in.
TEST(ReadMostlyLock, EveryShardLocksInTheLocksMode) {
  for (SyncMode mode : {SyncMode::Full, SyncMode::Account, SyncMode::None}) {
    ReadMostlyLock lock(mode);
    std::atomic<int> entered{0};
    lock.lock();
    std::vector<std::thread> readers;
    for (int r = 0; r < 20; ++r)
      readers.emplace_back([&] {
        ReadGuard<ReadMostlyLock> guard(lock);
        entered.fetch_add(1);
      });
    if (mode == SyncMode::None) {
      for (std::thread& t : readers) t.join();
      EXPECT_EQ(entered.load(), 20);
      lock.unlock();
      continue;
    }
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(entered.load(), 0) << static_cast<int>(mode);
    lock.unlock();
    for (std::thread& t : readers) t.join();
    EXPECT_EQ(entered.load(), 20);
  }
}

}  // namespace
}  // namespace vantrel
