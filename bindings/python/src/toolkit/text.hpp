#pragma once
#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

namespace vantrel::py {

// Builds a message from pieces: strings and integers. Only error paths and
// representations use it.
inline void append_piece(std::string& out, std::string_view text) { out.append(text); }
inline void append_piece(std::string& out, const char* text) { out.append(text); }
inline void append_piece(std::string& out, const std::string& text) { out.append(text); }
inline void append_piece(std::string& out, char c) { out.push_back(c); }
template <std::integral I>
  requires(!std::same_as<I, char> && !std::same_as<I, bool>)
void append_piece(std::string& out, I value) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  out.append(buffer, end);
}

template <class... Pieces>
std::string cat(const Pieces&... pieces) {
  std::string out;
  (append_piece(out, pieces), ...);
  return out;
}

}  // namespace vantrel::py
