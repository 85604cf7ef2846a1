// The one UTF-8 decoder and the two readers built on it: white-space trimming and quoting.

#include <gtest/gtest.h>

#include <string>

#include "vantrel/core/debug_text.hpp"
#include "vantrel/param/text.hpp"

namespace vantrel {
namespace {

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::size_t length;  // 0: malformed
  char32_t code_point;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeTable : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTable, DecodesOrRefuses) {
  const DecodeCase& c = GetParam();
  char32_t cp = 0xFFFFFFFF;
  EXPECT_EQ(decode_utf8(c.bytes, cp), c.length);
  if (c.length != 0) {
    EXPECT_EQ(cp, c.code_point);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, DecodeTable,
    ::testing::Values(DecodeCase{"ascii", "A", 1, 0x41}, DecodeCase{"nul", std::string(1, '\0'), 1, 0},
                      DecodeCase{"two", "\xC3\xA9", 2, 0xE9}, DecodeCase{"two_lowest", "\xC2\x80", 2, 0x80},
                      DecodeCase{"three", "\xE3\x80\x80", 3, 0x3000},
                      DecodeCase{"three_lowest", "\xE0\xA0\x80", 3, 0x800},
                      DecodeCase{"before_surrogates", "\xED\x9F\xBF", 3, 0xD7FF},
                      DecodeCase{"after_surrogates", "\xEE\x80\x80", 3, 0xE000},
                      DecodeCase{"four", "\xF0\x9F\x98\x80", 4, 0x1F600},
                      DecodeCase{"highest", "\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
                      DecodeCase{"trailing_bytes_ignored", "\xC3\xA9xyz", 2, 0xE9},
                      DecodeCase{"empty", "", 0, 0}, DecodeCase{"stray_continuation", "\x80", 0, 0},
                      DecodeCase{"overlong_two", "\xC0\x80", 0, 0}, DecodeCase{"overlong_two_high", "\xC1\xBF", 0, 0},
                      DecodeCase{"overlong_three", "\xE0\x9F\xBF", 0, 0},
                      DecodeCase{"overlong_four", "\xF0\x8F\xBF\xBF", 0, 0},
                      DecodeCase{"surrogate_low_end", "\xED\xA0\x80", 0, 0},
                      DecodeCase{"surrogate_high_end", "\xED\xBF\xBF", 0, 0},
                      DecodeCase{"past_unicode", "\xF4\x90\x80\x80", 0, 0},
                      DecodeCase{"five_byte_lead", "\xF8\x88\x80\x80\x80", 0, 0},
                      DecodeCase{"truncated", "\xE3\x80", 0, 0},
                      DecodeCase{"bad_continuation", "\xE3\x80\x41", 0, 0}));

TEST(Utf8Readers, TrimmingAndQuotingAgreeOnMalformedText) {
  // An encoded surrogate is neither white space nor passed through by the quoting.
  const std::string surrogate = "\xED\xA0\x80";
  EXPECT_EQ(trim_unicode_whitespace(" " + surrogate + " "), surrogate);
  EXPECT_EQ(debug_quoted(surrogate), "\"\\u{ed}\\u{a0}\\u{80}\"");
  const std::string overlong_space = "\xC0\xA0";
  EXPECT_EQ(trim_unicode_whitespace(overlong_space), overlong_space);
  EXPECT_EQ(debug_quoted(overlong_space), "\"\\u{c0}\\u{a0}\"");
  EXPECT_EQ(trim_unicode_whitespace("\xE3\x80\x80" "BTC\xC2\xA0"), "BTC");
  EXPECT_EQ(debug_quoted("\xC3\xA9"), "\"\xC3\xA9\"");
}

}  // namespace
}  // namespace vantrel
