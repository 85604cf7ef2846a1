#pragma once
// Text helpers shared by the parameter parsers.

#include <cstddef>
#include <string_view>

namespace vantrel {

// Decodes one well-formed UTF-8 sequence at the start of `s` into `cp` and returns its length;
// 0 when the bytes there are malformed (a stray or missing continuation byte, an overlong form,
// a surrogate, a value past U+10FFFF) or `s` is empty. The one decoder of the core.
std::size_t decode_utf8(std::string_view s, char32_t& cp) noexcept;

// Strips leading and trailing code points with the Unicode White_Space property from UTF-8 text.
// Malformed UTF-8 is never treated as white space.
std::string_view trim_unicode_whitespace(std::string_view utf8) noexcept;

}  // namespace vantrel
