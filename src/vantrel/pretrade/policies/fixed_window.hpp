#pragma once
// One fixed counting window of the rate limit: {window start, count} live in one 16-byte word
// updated by a single compare-and-swap, so a reset and the increments racing with it cannot
// interleave: no count is lost and no window admits more than it should.
// Thread-safety: lock-free; any number of threads may count at once.

#include <cstdint>

namespace vantrel {

class alignas(64) FixedWindow {
 public:
  FixedWindow(std::uint64_t max_orders, std::uint64_t window_ns) noexcept
      : max_orders_(max_orders), window_ns_(window_ns) {}
  FixedWindow(const FixedWindow&) = delete;
  FixedWindow& operator=(const FixedWindow&) = delete;

  // Counts one order seen `elapsed_ns` after the policy was created and returns the count of
  // its window, this order included. An order at least one window after the current start
  // opens a new window at its own time; an order earlier than the start (its instant was read
  // before another thread opened the window) counts in the current window, so starts only
  // ever move forward.
  std::uint64_t count(std::uint64_t elapsed_ns) noexcept;

  struct Snapshot {
    std::uint64_t start_ns;
    std::uint64_t count;
  };
  // One consistent reading of both halves.
  Snapshot snapshot() const noexcept;

  std::uint64_t max_orders() const noexcept { return max_orders_; }
  std::uint64_t window_ns() const noexcept { return window_ns_; }

 private:
  // words_[0]: window start (ns since creation), words_[1]: count. Touched only atomically.
  alignas(16) mutable std::uint64_t words_[2] = {0, 0};
  const std::uint64_t max_orders_;
  const std::uint64_t window_ns_;
};

static_assert(sizeof(FixedWindow) == 64, "one window per cache line");

// True when the 16-byte compare-and-swap is a single lock-free instruction on this build.
bool fixed_window_is_lock_free() noexcept;

}  // namespace vantrel
