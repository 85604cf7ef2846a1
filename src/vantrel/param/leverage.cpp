#include "vantrel/param/leverage.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace vantrel {
namespace {

constexpr LeverageResult failure(LeverageError error) noexcept { return {{0}, error}; }

constexpr LeverageResult checked_tenths(std::int64_t tenths) noexcept {
  if (tenths < Leverage::kMinTenths || tenths > Leverage::kMaxTenths) return failure(LeverageError::Invalid);
  return {{static_cast<std::uint16_t>(tenths)}, LeverageError::None};
}

}  // namespace

ParamErrorKind leverage_error_kind(LeverageError error) {
  return error == LeverageError::Overflow ? ParamErrorKind::overflow(ValueKind::Leverage)
                                          : ParamErrorKind::invalid_leverage();
}

LeverageResult leverage_from_int(std::int64_t multiplier) noexcept {
  if (multiplier < 0 || multiplier > 0xFFFF) return failure(LeverageError::Invalid);
  // The count is a 16-bit number: ten times a multiplier above 6553 cannot be held.
  const std::uint32_t tenths = static_cast<std::uint32_t>(multiplier) * Leverage::kTenthsPerUnit;
  if (tenths > 0xFFFF) return failure(LeverageError::Overflow);
  return checked_tenths(tenths);
}

LeverageResult leverage_from_float(double multiplier) noexcept {
  if (!std::isfinite(multiplier)) return failure(LeverageError::Invalid);
  const double x = multiplier * 10.0;
  const double r = std::round(x);  // halves away from zero
  if (std::fabs(x - r) > 1e-9) return failure(LeverageError::Invalid);
  constexpr double kLow = static_cast<double>(std::numeric_limits<std::int64_t>::min());
  constexpr double kHigh = 9223372036854775808.0;  // 2^63, the first double past the range
  const std::int64_t whole = r < kLow    ? std::numeric_limits<std::int64_t>::min()
                             : r >= kHigh ? std::numeric_limits<std::int64_t>::max()
                                          : static_cast<std::int64_t>(r);
  return checked_tenths(whole);
}

std::size_t write_leverage_text(Leverage leverage, char* out) noexcept {
  // Fixed notation, shortest digits that read back as the same float.
  auto [end, ec] = std::to_chars(out, out + kLeverageTextMax - 2, leverage.multiplier(), std::chars_format::fixed);
  (void)ec;
  std::size_t length = static_cast<std::size_t>(end - out);
  if (std::memchr(out, '.', length) == nullptr) {
    out[length++] = '.';
    out[length++] = '0';
  }
  return length;
}

}  // namespace vantrel
