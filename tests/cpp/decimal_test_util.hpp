#pragma once
// Shared helpers for the decimal tests: values from text, results as canonical text.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "vantrel/param/decimal.hpp"

namespace vantrel::testing {

inline Decimal dec(std::string_view text) {
  const DecimalParse p = Decimal::parse(text);
  EXPECT_TRUE(p.ok()) << "test input does not parse: " << text << ": " << p.message();
  return p.value;
}

// Canonical text, or "none" for a failed checked operation. Text shows sign, digits and scale.
inline std::string text(const std::optional<Decimal>& d) { return d ? d->to_string() : "none"; }

// Test-name-safe rendering of a case input: printable ASCII kept, other bytes as '?'.
inline std::string printable(std::string_view s) {
  std::string out = "'";
  for (char c : s) out += (c >= 0x21 && c < 0x7f) ? c : '?';
  return out + "'";
}

inline constexpr std::string_view kMax = "79228162514264337593543950335";  // 2^96 - 1

}  // namespace vantrel::testing
