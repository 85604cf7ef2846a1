#include "vantrel/core/duration_text.hpp"

namespace vantrel {
namespace {

// `whole` units and `frac` parts of `frac_scale`, with trailing zeros dropped.
void append_with_fraction(std::string& out, std::uint64_t whole, std::uint32_t frac, std::uint32_t frac_scale) {
  out += std::to_string(whole);
  if (frac == 0) return;
  std::string digits = std::to_string(frac);
  // Left-pad to the width of the fraction's scale (9 digits for ns in s, 6 for ns in ms, 3 for ns in µs).
  std::size_t width = 0;
  for (std::uint32_t s = frac_scale; s > 1; s /= 10) ++width;
  digits.insert(0, width - digits.size(), '0');
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  out += '.';
  out += digits;
}

}  // namespace

std::string format_duration(std::uint64_t seconds, std::uint32_t nanos) {
  std::string out;
  if (seconds > 0) {
    append_with_fraction(out, seconds, nanos, 1'000'000'000u);
    out += 's';
  } else if (nanos >= 1'000'000u) {
    append_with_fraction(out, nanos / 1'000'000u, nanos % 1'000'000u, 1'000'000u);
    out += "ms";
  } else if (nanos >= 1'000u) {
    append_with_fraction(out, nanos / 1'000u, nanos % 1'000u, 1'000u);
    out += "\u00b5s";
  } else {
    out += std::to_string(nanos);
    out += "ns";
  }
  return out;
}

}  // namespace vantrel
