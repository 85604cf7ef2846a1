#include "vantrel/marketdata/quote.hpp"

#include <limits>

namespace vantrel {

DurationParts duration_from_parts(std::int64_t days, std::int64_t seconds, std::int64_t micros) noexcept {
  using i128 = __int128;
  constexpr i128 kMicrosPerSecond = 1'000'000;
  // |days * 86400 * 1e6| < 2^63 * 2^37 = 2^100: nothing here can overflow.
  const i128 total_micros = (i128{days} * 86400 + seconds) * kMicrosPerSecond + micros;
  if (total_micros < 0) return {{}, DurationError::Negative};
  const i128 whole_seconds = total_micros / kMicrosPerSecond;
  if (whole_seconds > i128{std::numeric_limits<std::uint64_t>::max()}) return {{}, DurationError::TooLarge};
  const auto nanos = static_cast<std::uint32_t>(total_micros % kMicrosPerSecond) * 1000u;
  return {{static_cast<std::uint64_t>(whole_seconds), nanos}, DurationError::None};
}

}  // namespace vantrel
