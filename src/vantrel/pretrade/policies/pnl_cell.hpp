#pragma once
// One running realized P&L of the kill switch, always read whole.
// A sequence word (odd while an update is under way) guards the decimal's two 64-bit halves:
// readers retry until they see one even value before and after, so a torn value can never fake
// a breach. Locked updates also serialise on the sequence word, which makes each update one
// read-add-store step; unlocked updates (no_sync, where the interpreter lock serialises callers)
// skip it.
// Thread-safety: load() from any thread; update() as described.

#include <atomic>
#include <cstdint>
#include <optional>

#include "vantrel/param/decimal.hpp"

namespace vantrel {

// A decimal as two words, bit for bit (1.0 and 1.00 stay apart): the low 64 bits of the
// mantissa, then its high 32 bits with the scale (bits 32-39) and the sign flag (bit 40) above.
struct DecimalWords {
  std::uint64_t lo;
  std::uint64_t hi;

  static constexpr DecimalWords of(Decimal d) noexcept {
    return {d.lo64(), d.hi32() | (std::uint64_t{d.scale()} << 32) | (std::uint64_t{d.is_negative()} << 40)};
  }
  constexpr Decimal value() const noexcept {
    return Decimal::from_parts(lo, static_cast<std::uint32_t>(hi), static_cast<std::uint32_t>((hi >> 32) & 0xFF),
                               ((hi >> 40) & 1) != 0);
  }
};

class PnlCell {
 public:
  explicit PnlCell(Decimal initial = Decimal()) noexcept { store(initial); }
  PnlCell(const PnlCell&) = delete;
  PnlCell& operator=(const PnlCell&) = delete;

  Decimal load() const noexcept;

  // Replaces the value by step(previous) when that is engaged; returns the previous value.
  // `locked`: take the sequence word as a writer lock (every mode but no_sync).
  template <class Step>
  Decimal update(bool locked, Step&& step) noexcept {
    std::uint32_t seq = 0;
    if (locked) seq = lock();
    const Decimal previous = DecimalWords{lo_.load(std::memory_order_relaxed), hi_.load(std::memory_order_relaxed)}.value();
    if (const std::optional<Decimal> next = step(previous)) store(*next);
    if (locked) seq_.store(seq + 2, std::memory_order_release);
    return previous;
  }

 private:
  // Release stores: a reader that sees either half also sees the odd
  // sequence written before it (see load()).
  void store(Decimal d) noexcept {
    const DecimalWords words = DecimalWords::of(d);
    lo_.store(words.lo, std::memory_order_release);
    hi_.store(words.hi, std::memory_order_release);
  }
  // Spins until the word is even and this thread made it odd; returns the even value.
  std::uint32_t lock() noexcept;

  mutable std::atomic<std::uint32_t> seq_{0};
  std::atomic<std::uint64_t> lo_{0};
  std::atomic<std::uint64_t> hi_{0};
};

}  // namespace vantrel
