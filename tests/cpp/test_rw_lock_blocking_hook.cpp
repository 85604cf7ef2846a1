// The hook a thread arms to hear that it is about to park on a contended lock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "vantrel/core/rw_lock.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

thread_local int t_hook_runs = 0;
thread_local std::int32_t t_locks_at_hook = -1;
thread_local std::atomic<bool>* t_release_at_hook = nullptr;  // set when the hook runs
void count_hook_run() noexcept {
  ++t_hook_runs;
  t_locks_at_hook = core_locks_held();
  if (t_release_at_hook != nullptr) *t_release_at_hook = true;
}

struct HookArmedScope {
  HookArmedScope() {
    t_hook_runs = 0;
    t_before_blocking = &count_hook_run;
  }
  ~HookArmedScope() { t_before_blocking = nullptr; }
};

enum class LockTake { Shared, Exclusive };

struct BlockingHookSeen {
  int runs;
  std::int32_t locks_held;  // by the waiting thread when the hook ran
  bool still_armed;         // after the lock was taken
};

// Takes `lock` as `take` on a fresh, armed thread while `holder` (if any) is held
// elsewhere until the taker is about to park (its hook ran) or got the lock without
// waiting, so nothing depends on how fast a loaded machine runs the threads. A hook that
// never runs where it should lets the holder go after 10 s, and the count shows it.
BlockingHookSeen hook_runs_while(RwLock& lock, LockTake take, std::optional<LockTake> holder) {
  std::atomic<bool> held{false}, release{false};
  std::thread owner;
  if (holder) {
    owner = std::thread([&] {
      if (*holder == LockTake::Shared) lock.lock_shared(); else lock.lock();
      held = true;
      const auto give_up_at = std::chrono::steady_clock::now() + 10s;
      while (!release && std::chrono::steady_clock::now() < give_up_at) std::this_thread::sleep_for(1ms);
      if (*holder == LockTake::Shared) lock.unlock_shared(); else lock.unlock();
    });
    while (!held) std::this_thread::yield();
  }
  BlockingHookSeen seen{};
  std::thread taker([&] {
    HookArmedScope armed;
    t_release_at_hook = &release;
    if (take == LockTake::Shared) lock.lock_shared(); else lock.lock();
    release = true;
    seen = {t_hook_runs, t_locks_at_hook, t_before_blocking != nullptr};
    if (take == LockTake::Shared) lock.unlock_shared(); else lock.unlock();
  });
  taker.join();
  if (owner.joinable()) owner.join();
  return seen;
}

struct BlockingHookCase {
  SyncMode mode;
  LockTake take;
  std::optional<LockTake> holder;
  int runs;
};

class RwLockBlockingHook : public ::testing::TestWithParam<BlockingHookCase> {};

TEST_P(RwLockBlockingHook, RunsOnceBeforeParkingAndNeverOnTheFastPath) {
  const BlockingHookCase c = GetParam();
  RwLock lock(c.mode);
  const BlockingHookSeen seen = hook_runs_while(lock, c.take, c.holder);
  EXPECT_EQ(seen.runs, c.runs);
  // Once run it is disarmed, so later waits of the thread do not run it again.
  EXPECT_EQ(seen.still_armed, c.runs == 0);
  // The lock being waited for is counted already; nothing else is held.
  if (c.runs > 0) {
    EXPECT_EQ(seen.locks_held, 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Contention, RwLockBlockingHook,
    ::testing::Values(BlockingHookCase{SyncMode::Full, LockTake::Shared, std::nullopt, 0},
                      BlockingHookCase{SyncMode::Full, LockTake::Exclusive, std::nullopt, 0},
                      BlockingHookCase{SyncMode::Full, LockTake::Shared, LockTake::Shared, 0},
                      BlockingHookCase{SyncMode::Account, LockTake::Shared, LockTake::Shared, 0},
                      BlockingHookCase{SyncMode::Full, LockTake::Shared, LockTake::Exclusive, 1},
                      BlockingHookCase{SyncMode::Account, LockTake::Shared, LockTake::Exclusive, 1},
                      BlockingHookCase{SyncMode::Full, LockTake::Exclusive, LockTake::Shared, 1},
                      BlockingHookCase{SyncMode::Account, LockTake::Exclusive, LockTake::Exclusive, 1},
                      BlockingHookCase{SyncMode::None, LockTake::Exclusive, LockTake::Exclusive, 0}));

}  // namespace
}  // namespace vantrel
