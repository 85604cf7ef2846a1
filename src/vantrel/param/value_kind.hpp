#pragma once
// The kind of a value, as named in value-error messages.

#include <array>
#include <cstdint>
#include <string_view>

namespace vantrel {

enum class ValueKind : std::uint8_t {
  Quantity,
  Volume,
  Notional,
  Price,
  Pnl,
  CashFlow,
  PositionSize,
  Fee,
  Leverage,
};
inline constexpr std::size_t kValueKindCount = static_cast<std::size_t>(ValueKind::Leverage) + 1;

struct ValueKindTraits {
  std::string_view name;
  bool never_negative;  // a value below zero is refused; a zero of either sign is accepted
};

// In ValueKind order.
inline constexpr auto kValueKindTraits = std::to_array<ValueKindTraits>({
    {"Quantity", true},
    {"Volume", true},
    {"Notional", true},
    {"Price", false},
    {"Pnl", false},
    {"CashFlow", false},
    {"PositionSize", false},
    {"Fee", false},
    {"Leverage", false},  // whole tenths 10..30000, checked by the leverage conversion itself
});
static_assert(kValueKindTraits.size() == kValueKindCount, "one row per ValueKind");

constexpr std::string_view value_kind_name(ValueKind kind) noexcept {
  return kValueKindTraits[static_cast<std::size_t>(kind)].name;
}
constexpr bool never_negative(ValueKind kind) noexcept {
  return kValueKindTraits[static_cast<std::size_t>(kind)].never_negative;
}

}  // namespace vantrel
