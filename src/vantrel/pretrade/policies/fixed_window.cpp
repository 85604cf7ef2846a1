#include "vantrel/pretrade/policies/fixed_window.hpp"

#if !defined(__GCC_HAVE_SYNC_COMPARE_AND_SWAP_16)
#include <atomic>
#endif

namespace vantrel {

namespace {

struct WindowState {
  std::uint64_t start_ns;
  std::uint64_t count;
};

WindowState next_state(WindowState cur, std::uint64_t elapsed_ns, std::uint64_t window_ns) noexcept {
  if (elapsed_ns >= cur.start_ns && elapsed_ns - cur.start_ns >= window_ns) return {elapsed_ns, 1};
  return {cur.start_ns, cur.count + 1};
}

#if defined(__GCC_HAVE_SYNC_COMPARE_AND_SWAP_16)
typedef unsigned __int128 __attribute__((may_alias)) Word;

Word pack(WindowState s) noexcept { return (static_cast<Word>(s.count) << 64) | s.start_ns; }
WindowState unpack(Word w) noexcept {
  return {static_cast<std::uint64_t>(w), static_cast<std::uint64_t>(w >> 64)};
}
#else
// Without a 16-byte compare-and-swap each window takes a one-word spin lock; the windows are
// still independent and the critical section is two loads and two stores.
std::atomic_flag& spin_for(const void* window) noexcept {
  static std::atomic_flag flags[64];
  return flags[(reinterpret_cast<std::uintptr_t>(window) >> 6) % 64];
}
#endif

}  // namespace

#if defined(__GCC_HAVE_SYNC_COMPARE_AND_SWAP_16)

std::uint64_t FixedWindow::count(std::uint64_t elapsed_ns) noexcept {
  Word* word = reinterpret_cast<Word*>(words_);
  // A torn guess only costs one failed swap, which returns the true value.
  Word expected = pack({__atomic_load_n(&words_[0], __ATOMIC_RELAXED),
                        __atomic_load_n(&words_[1], __ATOMIC_RELAXED)});
  for (;;) {
    const WindowState next = next_state(unpack(expected), elapsed_ns, window_ns_);
    const Word seen = __sync_val_compare_and_swap(word, expected, pack(next));
    if (seen == expected) return next.count;
    expected = seen;
  }
}

FixedWindow::Snapshot FixedWindow::snapshot() const noexcept {
  // Swapping 0 for 0 is an atomic 16-byte read that never changes the value.
  const WindowState s = unpack(__sync_val_compare_and_swap(reinterpret_cast<Word*>(words_), Word{0}, Word{0}));
  return {s.start_ns, s.count};
}

bool fixed_window_is_lock_free() noexcept { return true; }

#else

std::uint64_t FixedWindow::count(std::uint64_t elapsed_ns) noexcept {
  std::atomic_flag& spin = spin_for(this);
  while (spin.test_and_set(std::memory_order_acquire)) {
  }
  const WindowState next = next_state({words_[0], words_[1]}, elapsed_ns, window_ns_);
  words_[0] = next.start_ns;
  words_[1] = next.count;
  spin.clear(std::memory_order_release);
  return next.count;
}

FixedWindow::Snapshot FixedWindow::snapshot() const noexcept {
  std::atomic_flag& spin = spin_for(this);
  while (spin.test_and_set(std::memory_order_acquire)) {
  }
  const Snapshot s{words_[0], words_[1]};
  spin.clear(std::memory_order_release);
  return s;
}

bool fixed_window_is_lock_free() noexcept { return false; }

#endif

}  // namespace vantrel
