#include <gtest/gtest.h>

#include "vantrel/core/debug_text.hpp"
#include "vantrel/core/instrument.hpp"
#include "vantrel/param/tagged.hpp"

namespace vantrel {
namespace {

struct QuoteCase {
  const char* text;
  const char* quoted;
};

TEST(DebugQuoted, Escapes) {
  const QuoteCase cases[] = {
      {"BTC", "\"BTC\""},
      {"", "\"\""},
      {"it's", "\"it's\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\t\r\n", "\"\\t\\r\\n\""},
      {"\x01\x1f\x7f", "\"\\u{1}\\u{1f}\\u{7f}\""},
      {"\xc2\x85", "\"\\u{85}\""},                        // NEL, a C1 control
      {"e\xcc\x81", "\"e\\u{301}\""},                     // combining acute accent
      {"\xd6\xb0\xd9\x8e", "\"\\u{5b0}\\u{64e}\""},             // combining points of other scripts
      {"\xe0\xa4\x95\xe0\xa4\xbe", "\"\xe0\xa4\x95\\u{93e}\""},       // a spacing combining mark
      {"\xd7\x90\xd8\xa8", "\"\xd7\x90\xd8\xa8\""},                // their letters stand
      {"\xcd\xb8\xf1\x80\x80\x80", "\"\\u{378}\\u{40000}\""},       // unassigned code points
      {"\xe2\x80\x8b", "\"\\u{200b}\""},                  // zero-width space
      {"\xe2\x80\xa8", "\"\\u{2028}\""},                  // line separator
      {"\xef\xbb\xbf", "\"\\u{feff}\""},                  // byte-order mark
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},  // printable
      {"\xc2\xa0 \xe3\x80\x80", "\"\xc2\xa0 \xe3\x80\x80\""},  // spaces stand as they are
      {"\xff", "\"\\u{ff}\""},                            // malformed byte
      {"\xe2\x82", "\"\\u{e2}\\u{82}\""},                 // truncated sequence
  };
  for (const QuoteCase& c : cases) EXPECT_EQ(debug_quoted(c.text), c.quoted) << c.text;
  EXPECT_EQ(debug_quoted(std::string_view("a\0b", 3)), "\"a\\0b\"");
}

TEST(InstrumentDebugText, Form) {
  Instrument instrument{*Asset::from_text("BTC"), *Asset::from_text(" USD ")};
  EXPECT_EQ(instrument_debug_text(instrument),
            "Instrument { underlying_asset: Asset(\"BTC\"), settlement_asset: Asset(\" USD \") }");
}

Decimal dec(const char* text) { return *decimal_from_text(ValueKind::Price, text); }

TEST(TaggedText, Forms) {
  EXPECT_EQ(trade_amount_text(TradeAmount::of_quantity(Quantity{dec("1.5")})),
            "TradeAmount.quantity(value=Quantity(1.5))");
  EXPECT_EQ(trade_amount_text(TradeAmount::of_volume(Volume{dec("250")})), "TradeAmount.volume(value=Volume(250))");
  EXPECT_EQ(adjustment_amount_text({AdjustmentAmount::Kind::Delta, PositionSize{dec("-3")}}),
            "AdjustmentAmount.delta(value=PositionSize(-3))");
  EXPECT_EQ(adjustment_amount_text({AdjustmentAmount::Kind::Absolute, PositionSize{dec("0.10")}}),
            "AdjustmentAmount.absolute(value=PositionSize(0.10))");
  EXPECT_EQ(format_trade({Price{dec("101.25")}, Quantity{dec("3")}}), "Trade(price=101.25, quantity=3)");
}

}  // namespace
}  // namespace vantrel
