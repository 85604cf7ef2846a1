#pragma once
// Leverage: the multiplier by which a position's margin is smaller than its
// notional, 1 to 3000 in steps of 0.1, held as a whole number of tenths.
#include <cstddef>
#include <cstdint>

#include "vantrel/param/param_error.hpp"

namespace vantrel {

struct Leverage {
  static constexpr std::uint16_t kMinTenths = 10;
  static constexpr std::uint16_t kMaxTenths = 30000;
  static constexpr std::uint32_t kTenthsPerUnit = 10;

  std::uint16_t tenths;

  // The multiplier as Python sees it: a single-precision quotient.
  float multiplier() const noexcept { return static_cast<float>(tenths) / 10.0f; }
};

enum class LeverageError : std::uint8_t {
  None,
  Invalid,   // "invalid leverage value"
  Overflow,  // "arithmetic overflow in Leverage"
};

struct LeverageResult {
  Leverage value;
  LeverageError error;
  constexpr bool ok() const noexcept { return error == LeverageError::None; }
};

ParamErrorKind leverage_error_kind(LeverageError error);

// A whole multiplier: below 0 or above 65535 is invalid; 10 × m above 65535
// tenths overflows; otherwise the tenths must lie in 10..30000.
LeverageResult leverage_from_int(std::int64_t multiplier) noexcept;

// A multiplier within 1e-9 of a whole number of tenths in 10..30000; NaN and
// the infinities are invalid.
LeverageResult leverage_from_float(double multiplier) noexcept;

// The multiplier's shortest single-precision text with at least one digit after
// the point ("2.3", "3000.0"); `out` needs kLeverageTextMax bytes. Returns the length.
inline constexpr std::size_t kLeverageTextMax = 64;
std::size_t write_leverage_text(Leverage leverage, char* out) noexcept;

}  // namespace vantrel
