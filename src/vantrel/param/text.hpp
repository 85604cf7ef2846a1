#pragma once
// Text helpers shared by the parameter parsers.

#include <string_view>

namespace vantrel {

// Strips leading and trailing code points with the Unicode White_Space property from UTF-8 text.
// Malformed UTF-8 is never treated as white space.
std::string_view trim_unicode_whitespace(std::string_view utf8) noexcept;

}  // namespace vantrel
