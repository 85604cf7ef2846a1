#include "vantrel/param/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace vantrel {

std::size_t write_float_text(double value, char* out) noexcept {
  auto put = [out](std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return text.size();
  };
  if (std::isnan(value)) return put("NaN");
  if (std::isinf(value)) return put(value < 0 ? "-inf" : "inf");
  // The shortest round-trip digits come from the scientific form; fixed
  // notation would print every digit of the binary value instead.
  char sci[40];
  const char* end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
  const char* p = sci;
  std::size_t n = 0;
  if (*p == '-') out[n++] = *p++;
  char digits[24];
  std::size_t count = 0;
  for (; p < end && *p != 'e'; ++p)
    if (*p != '.') digits[count++] = *p;
  int exponent = 0;
  if (p < end) std::from_chars(p + 1 + (p[1] == '+'), end, exponent);
  const int point = exponent + 1;  // digits before the decimal point
  if (point <= 0) {
    out[n++] = '0';
    out[n++] = '.';
    for (int i = point; i < 0; ++i) out[n++] = '0';
    for (std::size_t i = 0; i < count; ++i) out[n++] = digits[i];
  } else if (static_cast<std::size_t>(point) >= count) {
    for (std::size_t i = 0; i < count; ++i) out[n++] = digits[i];
    for (std::size_t i = count; i < static_cast<std::size_t>(point); ++i) out[n++] = '0';
  } else {
    for (std::size_t i = 0; i < count; ++i) {
      if (i == static_cast<std::size_t>(point)) out[n++] = '.';
      out[n++] = digits[i];
    }
  }
  return n;
}

}  // namespace vantrel
