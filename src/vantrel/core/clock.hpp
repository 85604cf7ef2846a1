#pragma once
// The monotonic clock (time since start-up, never wall time) and the instant
// that the start stage publishes to its policies, so that every check of one
// order sees one reading.
#include <compare>
#include <cstdint>
#include <optional>

namespace vantrel {

struct Instant {
  std::uint64_t seconds = 0;
  std::uint32_t nanos = 0;  // below 1'000'000'000

  friend constexpr auto operator<=>(const Instant&, const Instant&) = default;
  friend constexpr bool operator==(const Instant&, const Instant&) = default;
};

// a - b as (seconds, nanoseconds); zero when `a` is earlier than `b`.
constexpr Instant saturating_elapsed(Instant a, Instant b) noexcept {
  if (a <= b) return {};
  std::uint64_t seconds = a.seconds - b.seconds;
  std::uint32_t nanos;
  if (a.nanos >= b.nanos) {
    nanos = a.nanos - b.nanos;
  } else {
    --seconds;
    nanos = a.nanos + 1'000'000'000u - b.nanos;
  }
  return {seconds, nanos};
}

// a - b in whole nanoseconds, saturating at 0 below and at UINT64_MAX above.
constexpr std::uint64_t saturating_elapsed_ns(Instant a, Instant b) noexcept {
  const Instant d = saturating_elapsed(a, b);
  constexpr std::uint64_t kMaxSeconds = UINT64_MAX / 1'000'000'000u;
  if (d.seconds > kMaxSeconds) return UINT64_MAX;
  const std::uint64_t whole = d.seconds * 1'000'000'000u;
  return whole > UINT64_MAX - d.nanos ? UINT64_MAX : whole + d.nanos;
}

using ClockFn = Instant (*)() noexcept;

// Tests replace the clock with one of their own; nullptr restores the system clock.
void set_test_clock(ClockFn clock) noexcept;

Instant system_monotonic_now() noexcept;
Instant monotonic_now() noexcept;

// The start stage's instant for the calling thread, if one is published.
std::optional<Instant> current_instant() noexcept;

// Publishes an instant for the calling thread for the life of the scope and
// restores whatever was published before (start stages may nest through hooks).
class CurrentInstantScope {
 public:
  explicit CurrentInstantScope(Instant now) noexcept;
  ~CurrentInstantScope();
  CurrentInstantScope(const CurrentInstantScope&) = delete;
  CurrentInstantScope& operator=(const CurrentInstantScope&) = delete;

 private:
  Instant saved_;
  bool had_saved_;
};

}  // namespace vantrel
