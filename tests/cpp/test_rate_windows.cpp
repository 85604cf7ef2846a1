#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstdint>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "vantrel/pretrade/policies/fixed_window.hpp"
#include "vantrel/pretrade/policies/rate_limit_config.hpp"
#include "vantrel/pretrade/policies/timestamp_log.hpp"

namespace vantrel {
namespace {

constexpr std::uint64_t kSecond = 1'000'000'000;

TEST(FixedWindow, IsLockFreeOnThisMachine) { EXPECT_TRUE(fixed_window_is_lock_free()); }

TEST(FixedWindow, CountsAndResetsOnOneThread) {
  FixedWindow w(2, kSecond);
  struct Step {
    std::uint64_t elapsed, count, start;
  };
  const Step steps[] = {
      {0, 1, 0},
      {kSecond / 2, 2, 0},
      {kSecond - 1, 3, 0},
      {kSecond, 1, kSecond},          // exactly one window later opens a new window
      {kSecond + 5, 2, kSecond},
      {5 * kSecond + 7, 1, 5 * kSecond + 7},  // windows start at the late order, not on a grid
      {6 * kSecond + 6, 2, 5 * kSecond + 7},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(w.count(s.elapsed), s.count) << s.elapsed;
    EXPECT_EQ(w.snapshot().start_ns, s.start) << s.elapsed;
  }
}

TEST(FixedWindow, StaleInstantCountsInCurrentWindow) {
  FixedWindow w(10, kSecond);
  EXPECT_EQ(w.count(3 * kSecond), 1u);
  // Read before another thread opened the window at 3s: no reset, no move backwards.
  EXPECT_EQ(w.count(3 * kSecond - 1), 2u);
  EXPECT_EQ(w.count(0), 3u);
  EXPECT_EQ(w.snapshot().start_ns, 3 * kSecond);
  EXPECT_EQ(w.snapshot().count, 3u);
}

TEST(FixedWindow, EachWindowOnItsOwnCacheLine) {
  FixedWindow windows[2] = {{1, 1}, {1, 1}};
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&windows[0]) % 64, 0u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&windows[1]) - reinterpret_cast<std::uintptr_t>(&windows[0]), 64u);
}

// Eight threads count in phases; every order of a phase carries that phase's instant, one
// window after the previous phase's. Each phase must hand out the counts 1..k exactly once,
// admit exactly max_orders, and the window start must never move backwards.
TEST(FixedWindow, PhasesUnderContentionLoseNoCounts) {
  constexpr int kThreads = 8, kPerThread = 200, kPhases = 20;
  constexpr std::uint64_t kMax = 150;
  FixedWindow w(kMax, kSecond);
  std::atomic<std::uint64_t> phase_elapsed{0};
  std::atomic<bool> done{false}, went_backwards{false};
  std::barrier sync(kThreads);

  std::thread watcher([&] {
    std::uint64_t last = 0;
    while (!done.load()) {
      const std::uint64_t start = w.snapshot().start_ns;
      if (start < last) went_backwards = true;
      last = start;
    }
  });
  std::vector<std::vector<std::uint64_t>> per_phase(kPhases * kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int p = 0; p < kPhases; ++p) {
        const std::uint64_t elapsed = static_cast<std::uint64_t>(p) * kSecond + 17;
        sync.arrive_and_wait();
        for (int i = 0; i < kPerThread; ++i) per_phase[p * kThreads + t].push_back(w.count(elapsed));
        sync.arrive_and_wait();
      }
    });
  for (std::thread& t : threads) t.join();
  done = true;
  watcher.join();

  EXPECT_FALSE(went_backwards.load());
  for (int p = 0; p < kPhases; ++p) {
    std::vector<std::uint64_t> all;
    for (int t = 0; t < kThreads; ++t)
      all.insert(all.end(), per_phase[p * kThreads + t].begin(), per_phase[p * kThreads + t].end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kThreads * kPerThread));
    for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], i + 1) << "phase " << p;
    EXPECT_EQ(std::count_if(all.begin(), all.end(), [](std::uint64_t c) { return c <= kMax; }),
              static_cast<std::ptrdiff_t>(kMax));
  }
  EXPECT_EQ(w.snapshot().start_ns, static_cast<std::uint64_t>(kPhases - 1) * kSecond + 17);
}

std::vector<std::uint64_t> entries(const TimestampLog& log) {
  std::vector<std::uint64_t> v;
  for (std::size_t i = 0; i < log.size(); ++i) v.push_back(log.at(i));
  return v;
}

TEST(TimestampLog, PrunesEntriesOneWindowOld) {
  TimestampLog log;
  EXPECT_EQ(log.record(0, kSecond), 1u);
  EXPECT_EQ(log.record(kSecond / 2, kSecond), 2u);
  // 1.2s: the 0s entry is pruned, the 0.5s entry stays.
  EXPECT_EQ(log.record(kSecond + kSecond / 5, kSecond), 2u);
  // Exactly one window after 0.5s: that entry goes.
  EXPECT_EQ(log.record(kSecond + kSecond / 2, kSecond), 2u);
  EXPECT_EQ(entries(log), (std::vector<std::uint64_t>{kSecond + kSecond / 5, kSecond + kSecond / 2}));
}

TEST(TimestampLog, LateEntryIsInsertedInTimeOrder) {
  TimestampLog log;
  log.record(1'000'000'000, kSecond);
  log.record(999'000'000, kSecond);  // read earlier, arrived later
  EXPECT_EQ(entries(log), (std::vector<std::uint64_t>{999'000'000, 1'000'000'000}));
  // At 1.9995s the 0.999s entry has expired even though it arrived second.
  EXPECT_EQ(log.record(1'999'500'000, kSecond), 2u);
  EXPECT_EQ(entries(log), (std::vector<std::uint64_t>{1'000'000'000, 1'999'500'000}));
}

TEST(TimestampLog, EntriesLaterThanNowStayAndCount) {
  TimestampLog log;
  log.record(10 * kSecond, kSecond);
  EXPECT_EQ(log.record(2 * kSecond, kSecond), 2u);
  EXPECT_EQ(log.record(3 * kSecond + 1, kSecond), 2u);  // 2s pruned, 10s kept
  EXPECT_EQ(entries(log), (std::vector<std::uint64_t>{3 * kSecond + 1, 10 * kSecond}));
}

// Random arrival order against a sorted reference, across ring growth and wrap-around.
TEST(TimestampLog, GrowsOnlyAsFarAsTheWindowHoldsAndKeepsItsEntriesWhenMoved) {
  TimestampLog log;
  // One order per window never leaves the log's own room.
  for (std::uint64_t i = 0; i < 100; ++i) ASSERT_EQ(log.record(i * kSecond, kSecond), 1u);
  EXPECT_EQ(log.capacity(), 2u);
  EXPECT_EQ(log.record(99 * kSecond + 1, kSecond), 2u);
  EXPECT_EQ(log.capacity(), 2u);
  TimestampLog inline_copy(std::move(log));
  EXPECT_EQ(entries(inline_copy), (std::vector<std::uint64_t>{99 * kSecond, 99 * kSecond + 1}));
  EXPECT_EQ(log.size(), 0u);
  // Five orders in one window: the ring doubles to 8, never further.
  for (std::uint64_t i = 2; i <= 4; ++i) inline_copy.record(99 * kSecond + i, kSecond);
  EXPECT_EQ(inline_copy.capacity(), 8u);
  log = std::move(inline_copy);
  EXPECT_EQ(entries(log), (std::vector<std::uint64_t>{99 * kSecond, 99 * kSecond + 1, 99 * kSecond + 2,
                                                      99 * kSecond + 3, 99 * kSecond + 4}));
  EXPECT_EQ(log.record(100 * kSecond + 2, kSecond), 3u);  // the first three are a window old
}

TEST(TimestampLog, MatchesSortedModel) {
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 50; ++round) {
    TimestampLog log;
    std::multiset<std::uint64_t> model;
    const std::uint64_t window = 1 + rng() % 5000;
    std::uint64_t clock = 0;
    for (int i = 0; i < 2000; ++i) {
      clock += rng() % 50;
      const std::uint64_t now = clock > 200 ? clock - rng() % 200 : clock;  // some arrive late
      while (!model.empty() && *model.begin() <= now && now - *model.begin() >= window) model.erase(model.begin());
      model.insert(now);
      ASSERT_EQ(log.record(now, window), model.size());
      ASSERT_EQ(entries(log), std::vector<std::uint64_t>(model.begin(), model.end()));
    }
  }
}

struct ConfigCase {
  const char* name;
  RateLimitConfig config;
  const char* error;  // nullptr: accepted
};

RateBarrier barrier(std::uint64_t max, std::uint64_t window) { return {max, window}; }

TEST(RateLimitConfig, ChecksInOrder) {
  const ConfigCase cases[] = {
      {"empty", {}, "at least one broker, asset, account, or account+asset barrier must be configured"},
      {"zero broker window", {0, barrier(10, 0)}, "rate limit window must be positive and fit in u64 nanoseconds, got 0ns"},
      {"blank asset beats zero window", {0, std::nullopt, {{"  ", barrier(1, 0)}}}, "asset must not be empty"},
      {"blank account asset",
       {0, barrier(1, 0), {}, {}, {{7, "\t", barrier(1, 1)}}},
       "asset must not be empty"},
      {"zero account window", {0, std::nullopt, {}, {{3, barrier(1, 0)}}},
       "rate limit window must be positive and fit in u64 nanoseconds, got 0ns"},
      {"padded asset kept", {0, std::nullopt, {{" USD ", barrier(1, 1)}}}, nullptr},
      {"account only", {0, std::nullopt, {}, {{3, barrier(0, 1)}}}, nullptr},
      {"max window", {0, barrier(1, UINT64_MAX)}, nullptr},
  };
  for (const ConfigCase& c : cases) {
    const std::optional<std::string> error = rate_limit_config_error(c.config);
    if (c.error == nullptr)
      EXPECT_FALSE(error) << c.name << ": " << *error;
    else
      EXPECT_EQ(error.value_or("<accepted>"), c.error) << c.name;
  }
}

TEST(RateLimitConfig, DetailsUseDurationForm) {
  EXPECT_EQ(rate_limit_details(6, kSecond, 5), "submitted 6 orders in 1s window, max allowed: 5");
  EXPECT_EQ(rate_limit_details(3, 1'500'000, 2), "submitted 3 orders in 1.5ms window, max allowed: 2");
  EXPECT_EQ(rate_window_text(1'000), "1\xC2\xB5s");
  EXPECT_EQ(rate_window_text(999'999'999), "999.999999ms");
  EXPECT_EQ(rate_window_text(1'000'000'001), "1.000000001s");
  EXPECT_EQ(rate_window_text(UINT64_MAX), "18446744073.709551615s");
}

}  // namespace
}  // namespace vantrel
