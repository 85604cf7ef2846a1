#pragma once
// Names of at most 8 bytes chosen against the short-name word (core/name_hash.hpp): groups of
// seven that one word would place alike had the hash lost a part of the name. Dropping the length
// joins names that differ only by trailing NUL bytes (an asset name may hold them); placing an
// 8-byte name by its first 7 bytes joins names that differ only in the last. The groups are
// interleaved, so each has members among the first half of the names and among the second.
#include <cstddef>
#include <string>
#include <vector>

namespace vantrel::chosen_names {

inline std::vector<std::string> against_the_short_word(bool trailing_nul, std::size_t count) {
  const std::size_t groups = count / 7 + 1;
  std::vector<std::string> names;
  for (std::size_t i = 0; names.size() < count; ++i) {
    const std::size_t group = i % groups, member = i / groups;
    // Two bytes naming the group; neither is NUL.
    const std::string stem{static_cast<char>(1 + group % 255), static_cast<char>(1 + group / 255)};
    if (trailing_nul) {
      names.push_back(stem + std::string(member, '\0'));  // 2 to 8 bytes
    } else {
      names.push_back(stem + "SEVEN" + static_cast<char>('a' + member));  // 8 bytes
    }
  }
  return names;
}

}  // namespace vantrel::chosen_names
