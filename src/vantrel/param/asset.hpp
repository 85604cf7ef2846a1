#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "vantrel/param/text.hpp"

namespace vantrel {

// An asset name ("BTC", "USD"). Refused when empty after trimming Unicode
// white space; stored as given, untrimmed.
class Asset {
 public:
  static constexpr std::string_view kEmptyMessage = "asset must not be empty";

  static std::optional<Asset> from_text(std::string_view text) {
    if (trim_unicode_whitespace(text).empty()) return std::nullopt;
    return Asset(std::string(text));
  }

  const std::string& name() const noexcept { return name_; }
  friend bool operator==(const Asset&, const Asset&) = default;

 private:
  explicit Asset(std::string name) : name_(std::move(name)) {}
  std::string name_;
};

}  // namespace vantrel
