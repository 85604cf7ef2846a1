#pragma once
// The values the market-data service passes around: a quote's three prices, a
// staleness limit, and how far a read may fall through the quote buckets.
// Plain values; no shared state.
#include <cstdint>
#include <optional>

#include "vantrel/param/amount.hpp"

namespace vantrel {

struct Quote {
  std::optional<Price> mark;
  std::optional<Price> bid;
  std::optional<Price> ask;

  // Field by field, numerically: 1.5 equals 1.50, absent equals only absent.
  friend bool operator==(const Quote& a, const Quote& b) noexcept {
    return same_price(a.mark, b.mark) && same_price(a.bid, b.bid) && same_price(a.ask, b.ask);
  }

  // Fields present in `patch` replace ours; absent ones keep ours.
  void merge(const Quote& patch) noexcept {
    if (patch.mark) mark = patch.mark;
    if (patch.bid) bid = patch.bid;
    if (patch.ask) ask = patch.ask;
  }

 private:
  static bool same_price(const std::optional<Price>& a, const std::optional<Price>& b) noexcept {
    if (a.has_value() != b.has_value()) return false;
    return !a || a->value == b->value;
  }
};

// A span of time as whole seconds and nanoseconds (below 1e9).
struct Duration {
  std::uint64_t seconds = 0;
  std::uint32_t nanos = 0;
  friend constexpr auto operator<=>(const Duration&, const Duration&) = default;
};

// What can go wrong turning a (days, seconds, microseconds) triple into a Duration.
enum class DurationError : std::uint8_t { None, Negative, TooLarge };

struct DurationParts {
  Duration duration;
  DurationError error = DurationError::None;
};

// days * 86400 + seconds, plus microseconds carried into seconds, computed in
// 128 bits so any three 64-bit inputs are exact. A negative total is Negative;
// more seconds than 64 bits hold is TooLarge.
DurationParts duration_from_parts(std::int64_t days, std::int64_t seconds, std::int64_t micros) noexcept;

// A staleness limit: infinite, or a duration within which a quote stays fresh.
class QuoteTtl {
 public:
  static constexpr QuoteTtl infinite() noexcept { return QuoteTtl(); }
  static constexpr QuoteTtl within(Duration limit) noexcept { return QuoteTtl(limit); }

  constexpr bool is_infinite() const noexcept { return infinite_; }
  constexpr Duration limit() const noexcept { return limit_; }

  // A quote of this age is stale when the age has reached the limit: an age
  // equal to the limit is stale, and a zero limit makes every quote stale.
  constexpr bool is_stale(Duration age) const noexcept { return !infinite_ && age >= limit_; }

 private:
  constexpr QuoteTtl() noexcept = default;
  constexpr explicit QuoteTtl(Duration limit) noexcept : infinite_(false), limit_(limit) {}

  bool infinite_ = true;
  Duration limit_{};
};

// Which buckets a read may fall through to, in order.
enum class QuoteResolution : std::uint8_t {
  AccountOnly = 0,
  AccountThenGroup = 1,
  AccountThenGroupThenDefault = 2,
};

}  // namespace vantrel
