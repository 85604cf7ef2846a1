#pragma once
// Text forms of binary doubles.

#include <cstddef>

namespace vantrel {

// The double's shortest round-trip digits in plain positional notation: "0.1",
// "0.0000001", "18446744073709552000", "-0", "NaN", "inf", "-inf". Every finite double's
// text is read back as a decimal by the same rules as any other decimal text.
inline constexpr std::size_t kFloatTextMax = 400;
std::size_t write_float_text(double value, char* out) noexcept;

}  // namespace vantrel
