#include "vantrel/core/debug_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>

#include "vantrel/param/text.hpp"

namespace vantrel {
namespace {

struct CodeRange {
  char32_t first, last;
};

// Code points written as \u{...}: controls, invisible format characters, line and
// paragraph separators, private use, noncharacters, and the combining blocks whose
// marks would otherwise attach to the quote or the previous character. Sorted.
constexpr std::array<CodeRange, 37> kEscaped{{
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD}, {0x0300, 0x036F}, {0x0483, 0x0489},
    {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD}, {0x070F, 0x070F}, {0x0890, 0x0891},
    {0x08E2, 0x08E2}, {0x180E, 0x180E}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x2028, 0x202E}, {0x2060, 0x2064}, {0x2066, 0x206F}, {0x20D0, 0x20FF}, {0xD800, 0xDFFF},
    {0xE000, 0xF8FF}, {0xFDD0, 0xFDEF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xFEFF, 0xFEFF},
    {0xFFF0, 0xFFFB}, {0xFFFE, 0xFFFF}, {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},
    {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0000, 0xE007F}, {0xE0100, 0xE01EF}, {0xEFFFE, 0xEFFFF},
    {0xF0000, 0xFFFFF}, {0x100000, 0x10FFFF},
}};

bool is_escaped(char32_t c) {
  auto it = std::upper_bound(kEscaped.begin(), kEscaped.end(), c,
                             [](char32_t v, const CodeRange& r) { return v < r.first; });
  return it != kEscaped.begin() && c <= std::prev(it)->last;
}

constexpr char32_t kRawByte = 0x110000;  // marks a malformed byte; never a code point

// Decodes one code point. A malformed byte decodes as kRawByte + byte, length 1,
// so it is escaped rather than passed through.
char32_t decode(std::string_view s, std::size_t& i) {
  char32_t c = 0;
  const std::size_t n = decode_utf8(s.substr(i), c);
  if (n == 0) return kRawByte + static_cast<unsigned char>(s[i++]);
  i += n;
  return c;
}

void append_hex_escape(std::string& out, char32_t c) {
  char buffer[16];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<std::uint32_t>(c), 16);
  (void)ec;
  out += "\\u{";
  out.append(buffer, end);
  out += '}';
}

}  // namespace

void append_debug_quoted(std::string& out, std::string_view utf8) {
  out += '"';
  std::size_t i = 0;
  while (i < utf8.size()) {
    const std::size_t start = i;
    const char32_t c = decode(utf8, i);
    switch (c) {
      case '"': out += "\\\""; continue;
      case '\\': out += "\\\\"; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case '\0': out += "\\0"; continue;
      default: break;
    }
    if (c >= kRawByte) {
      append_hex_escape(out, c - kRawByte);
    } else if (is_escaped(c)) {
      append_hex_escape(out, c);
    } else {
      out.append(utf8.substr(start, i - start));
    }
  }
  out += '"';
}

}  // namespace vantrel
