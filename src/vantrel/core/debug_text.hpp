#pragma once
// The quoted form of a text inside representations and messages.
#include <string>
#include <string_view>

namespace vantrel {

// Appends `utf8` in double quotes: a backslash before '"' and '\', the escapes \t \r
// \n \0, and \u{hex} (lowercase) for other control, non-printable and combining
// characters; everything else, a single quote included, stands unchanged.
void append_debug_quoted(std::string& out, std::string_view utf8);

inline std::string debug_quoted(std::string_view utf8) {
  std::string out;
  append_debug_quoted(out, utf8);
  return out;
}

}  // namespace vantrel
