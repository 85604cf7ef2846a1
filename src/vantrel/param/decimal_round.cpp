// Rounding a Decimal to a number of fractional digits, and rounding-strategy names.

#include <array>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/decimal_wide.hpp"
#include "vantrel/param/text.hpp"

namespace vantrel {

using namespace decimal_detail;

Decimal Decimal::round_to(std::uint32_t target, RoundingStrategy strategy) const noexcept {
  const std::uint32_t s = scale();
  if (s <= target) return *this;  // no trailing zeros are added
  const bool neg = is_negative();
  const u128 m = mantissa();
  if (m == 0) return make_decimal(0, target, neg);  // a zero keeps its sign flag

  const unsigned k = s - target;
  u128 q, r;
  const u128 p = kPow10.v[k];
  if (hi_ == 0 && k <= 19) {
    const std::uint64_t p64 = static_cast<std::uint64_t>(p);
    q = lo_ / p64;
    r = lo_ % p64;
  } else {
    q = m / p;
    r = m % p;
  }
  bool up = false;
  switch (strategy) {
    case RoundingStrategy::MidpointNearestEven: up = 2 * r > p || (2 * r == p && (q & 1) != 0); break;
    case RoundingStrategy::MidpointAwayFromZero: up = 2 * r >= p; break;
    case RoundingStrategy::Up: up = r != 0 && !neg; break;
    case RoundingStrategy::Down: up = r != 0 && neg; break;
  }
  if (up) ++q;  // q <= max / 10, so no carry out of 96 bits
  return make_decimal(q, target, neg && q != 0);  // a result of zero carries no sign
}

namespace {

struct StrategyName {
  std::string_view lower;
  RoundingStrategy strategy;
};

constexpr auto kStrategyNames = std::to_array<StrategyName>({
    {"midpointnearesteven", RoundingStrategy::MidpointNearestEven},
    {"midpointawayfromzero", RoundingStrategy::MidpointAwayFromZero},
    {"up", RoundingStrategy::Up},
    {"down", RoundingStrategy::Down},
});
static_assert(kStrategyNames.size() == static_cast<std::size_t>(RoundingStrategy::Down) + 1, "one name per strategy");

char ascii_lower(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::optional<RoundingStrategy> parse_rounding_strategy(std::string_view text) noexcept {
  const std::string_view t = trim_unicode_whitespace(text);
  for (const StrategyName& n : kStrategyNames) {
    if (n.lower.size() != t.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < t.size() && same; ++i) same = ascii_lower(t[i]) == n.lower[i];
    if (same) return n.strategy;
  }
  return std::nullopt;
}

std::string rounding_strategy_error(std::string_view text) {
  std::string lowered(trim_unicode_whitespace(text));
  for (char& c : lowered) c = ascii_lower(c);
  return "invalid rounding strategy " + lowered +
         "; expected 'MidpointNearestEven', 'MidpointAwayFromZero', 'Up', or 'Down'";
}

}  // namespace vantrel
