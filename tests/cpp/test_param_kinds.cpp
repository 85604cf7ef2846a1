// Kind-level operations: text construction per kind, checked sums and differences, products and
// quotients between kinds, margin, and the ParamErrorKind messages.

#include <string>

#include "decimal_test_util.hpp"
#include "vantrel/param/amount.hpp"

namespace vantrel {
namespace {

using testing::dec;

constexpr ValueKind kDecimalKinds[] = {ValueKind::Quantity, ValueKind::Volume,       ValueKind::Notional,
                                       ValueKind::Price,    ValueKind::Pnl,          ValueKind::CashFlow,
                                       ValueKind::PositionSize, ValueKind::Fee};

template <class T>
std::string outcome(const Result<T>& r) {
  if (!r) return "error: " + r.error().message();
  if constexpr (std::is_same_v<T, Decimal>)
    return r.value().to_string();
  else
    return r.value().value.to_string();
}

TEST(ValueKind, NamesAndSignRulesInDeclarationOrder) {
  const char* names[] = {"Quantity", "Volume", "Notional", "Price", "Pnl", "CashFlow", "PositionSize", "Fee", "Leverage"};
  for (int i = 0; i < 9; ++i) {
    const auto k = static_cast<ValueKind>(i);
    EXPECT_EQ(value_kind_name(k), names[i]);
    EXPECT_EQ(never_negative(k), i < 3) << names[i];
  }
}

struct KindTextCase {
  const char* input;
  const char* accepted;       // result for every kind that takes it
  const char* negative_rule;  // result for Quantity, Volume, Notional when it differs ("" = same)
};

void PrintTo(const KindTextCase& c, std::ostream* os) { *os << testing::printable(c.input); }

class FromTextAllKinds : public ::testing::TestWithParam<KindTextCase> {};

TEST_P(FromTextAllKinds, ParsesWithTheKindsRules) {
  const KindTextCase& c = GetParam();
  for (ValueKind k : kDecimalKinds) {
    std::string expected = never_negative(k) && *c.negative_rule ? c.negative_rule : c.accepted;
    const std::string::size_type at = expected.find("{}");
    if (at != std::string::npos) expected.replace(at, 2, value_kind_name(k));
    EXPECT_EQ(outcome(decimal_from_text(k, c.input)), expected) << value_kind_name(k) << " '" << c.input << "'";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FromTextAllKinds,
    ::testing::Values(
        KindTextCase{"1_000.5", "1000.5", ""}, KindTextCase{"+2", "2", ""}, KindTextCase{"1e3", "1000", ""},
        KindTextCase{"1E3", "1000", ""}, KindTextCase{"1.50", "1.50", ""}, KindTextCase{"-0", "0", ""},
        KindTextCase{"-0.00", "0.00", ""},
        KindTextCase{"-0.0001", "-0.0001", "error: value must be non-negative for {}"},
        KindTextCase{"-1e-3", "-0.001", "error: value must be non-negative for {}"},
        KindTextCase{"_1", "error: invalid format for {}: '_1'", ""},
        KindTextCase{" 1", "error: invalid format for {}: ' 1'", ""},
        KindTextCase{"e", "error: invalid format for {}: 'e'", ""},
        KindTextCase{"abc", "error: invalid format for {}: 'abc'", ""},
        KindTextCase{"", "error: invalid format for {}: ''", ""},
        KindTextCase{"1e-29", "error: invalid format for {}: '1e-29'", ""},
        KindTextCase{"-abc ", "error: invalid format for {}: '-abc '", ""}));

TEST(FromText, TypedEntryPointKeepsTheKind) {
  EXPECT_EQ(outcome(from_text<ValueKind::Quantity>("-1")), "error: value must be non-negative for Quantity");
  EXPECT_EQ(outcome(from_text<ValueKind::CashFlow>("abc")), "error: invalid format for CashFlow: 'abc'");
  EXPECT_EQ(outcome(from_text<ValueKind::Pnl>("-1.50")), "-1.50");
}

TEST(CheckedSumAndDifference, ReportOverflowAndUnderflowPerKind) {
  const Decimal max = dec(testing::kMax);
  EXPECT_EQ(outcome(checked_sub(Volume{dec("1")}, Volume{dec("2")})), "error: arithmetic underflow in Volume");
  EXPECT_EQ(outcome(checked_sub(Quantity{dec("1.0")}, Quantity{dec("1")})), "0.0");
  EXPECT_EQ(outcome(checked_sub(Pnl{dec("-1")}, Pnl{dec("2")})), "-3");
  EXPECT_EQ(outcome(checked_add(Fee{max}, Fee{dec("1")})), "error: arithmetic overflow in Fee");
  EXPECT_EQ(outcome(checked_add(Notional{max}, Notional{dec("1")})), "error: arithmetic overflow in Notional");
  EXPECT_EQ(outcome(checked_sub(Price{max.negated()}, Price{dec("1")})), "error: arithmetic overflow in Price");
  EXPECT_EQ(outcome(checked_add(Quantity{dec("-0")}, Quantity{dec("0.5")})), "0.5");
  EXPECT_EQ(outcome(kind_checked_add(ValueKind::Quantity, dec("-2"), dec("1"))), "error: arithmetic underflow in Quantity");
}

TEST(KindProducts, SignsZerosAndOverflow) {
  const Decimal max = dec(testing::kMax);
  EXPECT_EQ(outcome(decimal_checked_mul(dec("-2"), dec("3"))), "-6");
  EXPECT_EQ(outcome(decimal_checked_mul(dec("0"), dec("-3"))), "0");
  EXPECT_EQ(outcome(decimal_checked_mul(max, dec("2"))), "error: arithmetic overflow in Price");

  EXPECT_EQ(outcome(volume_from_price_quantity(Price{dec("-2")}, Quantity{dec("3")})), "6");
  EXPECT_EQ(outcome(volume_from_price_quantity(Price{dec("2.50")}, Quantity{dec("0.00")})), "0");
  EXPECT_EQ(outcome(volume_from_price_quantity(Price{dec("-0.0")}, Quantity{dec("3")})), "0");
  EXPECT_EQ(outcome(volume_from_price_quantity(Price{dec("1.5")}, Quantity{dec("2.25")})), "3.375");
  EXPECT_EQ(outcome(volume_from_price_quantity(Price{max}, Quantity{dec("1.1")})), "error: arithmetic overflow in Price");

  EXPECT_EQ(outcome(quantity_from_volume_price(Volume{dec("10")}, Price{dec("-4")})), "2.5");
  EXPECT_EQ(outcome(quantity_from_volume_price(Volume{dec("1")}, Price{dec("3")})), "0.3333333333333333333333333333");
  EXPECT_EQ(outcome(quantity_from_volume_price(Volume{dec("10")}, Price{dec("0")})), "error: invalid price value");
  EXPECT_EQ(outcome(quantity_from_volume_price(Volume{dec("10")}, Price{dec("0.00").negated()})), "error: invalid price value");
  EXPECT_EQ(outcome(quantity_from_volume_price(Volume{max}, Price{dec("0.1")})), "error: arithmetic overflow in Volume");
}

struct MarginCase {
  const char* notional;
  std::uint16_t tenths;
  const char* expected;
};

void PrintTo(const MarginCase& c, std::ostream* os) { *os << c.notional << "_per_" << c.tenths; }

class MarginTable : public ::testing::TestWithParam<MarginCase> {};

TEST_P(MarginTable, DividesByTheMultiplier) {
  const MarginCase& c = GetParam();
  EXPECT_EQ(outcome(margin_required(Notional{dec(c.notional)}, c.tenths)), c.expected) << c.notional << " / " << c.tenths;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MarginTable,
    ::testing::Values(
        MarginCase{"1000", 100, "100"}, MarginCase{"1000", 40, "250"}, MarginCase{"1000", 25, "400"},
        MarginCase{"1000", 30000, "0.3333333333333333333333333333"}, MarginCase{"0", 40, "0"},
        MarginCase{"0.00", 10, "0.00"}, MarginCase{"1.5", 30, "0.5"},
        MarginCase{"7922816251426433759354395033.5", 10, "7922816251426433759354395033.5"},
        MarginCase{"79228162514264337593543950335", 10, "error: arithmetic overflow in Notional"},
        MarginCase{"79228162514264337593543950335", 20, "error: arithmetic overflow in Notional"},
        MarginCase{"1", 0, "error: arithmetic overflow in Notional"}));

TEST(ParamErrorKind, MessagesOfEveryVariant) {
  using E = ParamErrorKind;
  const std::pair<E, const char*> cases[] = {
      {E::other(), "other parameter error"},
      {E::negative_value(ValueKind::Volume), "value must be non-negative for Volume"},
      {E::division_by_zero(ValueKind::Price), "division by zero in Price"},
      {E::overflow(ValueKind::Fee), "arithmetic overflow in Fee"},
      {E::underflow(ValueKind::Quantity), "arithmetic underflow in Quantity"},
      {E::invalid_float(), "invalid float value"},
      {E::invalid_format(ValueKind::CashFlow, " a{}b "), "invalid format for CashFlow: ' a{}b '"},
      {E::invalid_price(), "invalid price value"},
      {E::invalid_leverage(), "invalid leverage value"},
      {E::empty_asset(), "asset must not be empty"},
      {E::empty_account_id(), "account id string must not be empty"},
  };
  for (const auto& [error, message] : cases) EXPECT_EQ(error.message(), message);
  EXPECT_EQ(E::invalid_format(ValueKind::Price, " 1").input(), " 1");
}

}  // namespace
}  // namespace vantrel
