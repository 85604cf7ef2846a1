#include "vantrel/pretrade/policies/pnl_cell.hpp"

#include <sched.h>

namespace vantrel {

namespace {
inline void cpu_relax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}
}  // namespace

Decimal PnlCell::load() const noexcept {
  for (unsigned spins = 0;; ++spins) {
    const std::uint32_t before = seq_.load(std::memory_order_acquire);
    if ((before & 1) == 0) {
      // Acquire loads of the halves: a half written by an update that began
      // after `before` makes that update's odd sequence visible below.
      const std::uint64_t lo = lo_.load(std::memory_order_acquire);
      const std::uint64_t hi = hi_.load(std::memory_order_acquire);
      if (seq_.load(std::memory_order_relaxed) == before) return DecimalWords{lo, hi}.value();
    }
    if (spins > 64) sched_yield(); else cpu_relax();
  }
}

std::uint32_t PnlCell::lock() noexcept {
  for (unsigned spins = 0;; ++spins) {
    std::uint32_t seq = seq_.load(std::memory_order_relaxed);
    if ((seq & 1) == 0 && seq_.compare_exchange_weak(seq, seq + 1, std::memory_order_acquire,
                                                     std::memory_order_relaxed))
      return seq;
    if (spins > 64) sched_yield(); else cpu_relax();
  }
}

}  // namespace vantrel
