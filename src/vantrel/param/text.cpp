// Unicode White_Space trimming of UTF-8 text.

#include "vantrel/param/text.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace vantrel {

namespace {

// Code points with the Unicode White_Space property, as ranges.
struct Range {
  char32_t first, last;
};
constexpr std::array<Range, 10> kWhiteSpace{{
    {0x0009, 0x000D},
    {0x0020, 0x0020},
    {0x0085, 0x0085},
    {0x00A0, 0x00A0},
    {0x1680, 0x1680},
    {0x2000, 0x200A},
    {0x2028, 0x2029},
    {0x202F, 0x202F},
    {0x205F, 0x205F},
    {0x3000, 0x3000},
}};

bool is_white_space(char32_t c) noexcept {
  return std::any_of(kWhiteSpace.begin(), kWhiteSpace.end(),
                     [c](const Range& r) { return c >= r.first && c <= r.last; });
}

}  // namespace

std::size_t decode_utf8(std::string_view s, char32_t& cp) noexcept {
  if (s.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t n;
  char32_t v;
  char32_t min;  // below it the form is overlong
  if ((b0 & 0xE0) == 0xC0) {
    n = 2, v = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    n = 3, v = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    n = 4, v = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    v = (v << 6) | (b & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
  cp = v;
  return n;
}

std::string_view trim_unicode_whitespace(std::string_view s) noexcept {
  char32_t cp;
  while (!s.empty()) {
    const std::size_t n = decode_utf8(s, cp);
    if (n == 0 || !is_white_space(cp)) break;
    s.remove_prefix(n);
  }
  while (!s.empty()) {
    // Step back to the lead byte of the last sequence (at most 3 continuation bytes).
    std::size_t start = s.size() - 1;
    while (start > 0 && s.size() - start < 4 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
    const std::size_t n = decode_utf8(s.substr(start), cp);
    if (n != s.size() - start || !is_white_space(cp)) break;
    s.remove_suffix(n);
  }
  return s;
}

}  // namespace vantrel
