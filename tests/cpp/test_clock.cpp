#include <gtest/gtest.h>

#include <tuple>

#include "vantrel/core/clock.hpp"
#include "vantrel/core/duration_text.hpp"

namespace vantrel {
namespace {

TEST(Clock, ElapsedBorrowsNanosecondsAndSaturatesAtZero) {
  EXPECT_EQ(saturating_elapsed({5, 100}, {3, 900}), (Instant{1, 999'999'200}));
  EXPECT_EQ(saturating_elapsed({5, 900}, {3, 100}), (Instant{2, 800}));
  EXPECT_EQ(saturating_elapsed({3, 100}, {5, 900}), Instant{});
  EXPECT_EQ(saturating_elapsed({3, 100}, {3, 100}), Instant{});
  EXPECT_EQ(saturating_elapsed_ns({2, 5}, {1, 10}), 999'999'995u);
  EXPECT_EQ(saturating_elapsed_ns({UINT64_MAX, 0}, {0, 0}), UINT64_MAX);
}

Instant fake_now() noexcept { return {42, 7}; }

TEST(Clock, TestClockReplacesTheSystemClock) {
  set_test_clock(&fake_now);
  EXPECT_EQ(monotonic_now(), (Instant{42, 7}));
  set_test_clock(nullptr);
  const Instant a = monotonic_now();
  const Instant b = monotonic_now();
  EXPECT_LE(a, b);
  EXPECT_NE(a, (Instant{42, 7}));
}

TEST(Clock, CurrentInstantScopesNestAndRestore) {
  EXPECT_FALSE(current_instant().has_value());
  {
    CurrentInstantScope outer({1, 1});
    {
      CurrentInstantScope inner({2, 2});
      EXPECT_EQ(current_instant(), (Instant{2, 2}));
    }
    EXPECT_EQ(current_instant(), (Instant{1, 1}));
  }
  EXPECT_FALSE(current_instant().has_value());
}

TEST(DurationText, LargestUnitWithOnlyNeededDigits) {
  const std::tuple<std::uint64_t, std::uint32_t, const char*> cases[] = {
      {0, 0, "0ns"},           {0, 500, "500ns"},          {0, 999, "999ns"},
      {0, 1'000, "1\u00b5s"},  {0, 1'500, "1.5\u00b5s"},   {0, 1'001, "1.001\u00b5s"},
      {0, 999'999, "999.999\u00b5s"},
      {0, 1'000'000, "1ms"},   {0, 1'500'000, "1.5ms"},    {0, 250'000'000, "250ms"},
      {0, 1'000'001, "1.000001ms"},
      {1, 0, "1s"},            {1, 500'000'000, "1.5s"},   {60, 0, "60s"},
      {2, 5, "2.000000005s"},  {UINT64_MAX, 0, "18446744073709551615s"},
  };
  for (const auto& [seconds, nanos, text] : cases) EXPECT_EQ(format_duration(seconds, nanos), text) << text;
}

}  // namespace
}  // namespace vantrel
