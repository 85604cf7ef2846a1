// Orders whose amounts need more digits than a 96-bit decimal has: one
// account, one limit order, its reports to the last. Nothing blocks, a
// finished order leaves nothing held, a cancel of an unfilled order restores
// the slot to the digit, available ends at the exact cash flow, and each
// entry reports the slot's change over its report. Each case in every lock mode.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "spot_funds_test_util.hpp"

namespace vantrel {
namespace {

using namespace funds_testing;

struct ReportStep {
  const char* px;   // nullptr: no trade
  const char* qty;
  const char* leaves;
  bool is_final;
};

struct FinishedCase {
  const char* name;
  const char* usd;
  const char* btc;
  Side side;
  const char* quantity;
  const char* price;
  std::vector<ReportStep> reports;
};

void PrintTo(const FinishedCase& c, std::ostream* os) { *os << c.name; }

class FinishedOrders : public ::testing::TestWithParam<std::tuple<FinishedCase, EngineSync>> {};

// The entry's delta and absolute: the slot's change over the report and its
// new value, as reported (exact where a decimal holds them).
void expect_entry(const std::vector<AdjustmentOutcomeRecord>& outcomes, const char* name, const Holdings& before,
                  const Holdings& after) {
  for (const AdjustmentOutcomeRecord& o : outcomes) {
    if (o.entry.asset.name() != name) continue;
    const std::pair<const std::optional<OutcomeAmount>&, LedgerAmount (*)(const Holdings&)> fields[] = {
        {o.entry.balance, [](const Holdings& h) { return h.available; }},
        {o.entry.held, [](const Holdings& h) { return h.held; }}};
    for (const auto& [amount, of] : fields) {
      if (!amount) continue;
      EXPECT_EQ(amount->delta.value, of(after).minus(of(before))->to_decimal()) << name;
      EXPECT_EQ(amount->absolute.value, of(after).to_decimal()) << name;
    }
  }
}

TEST_P(FinishedOrders, LeaveNothingHeldAndTheExactCashFlow) {
  const FinishedCase& c = std::get<0>(GetParam());
  FundsEngine f(std::get<1>(GetParam()));
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(c.usd));
  if (c.btc != nullptr) f.deposit(1, "BTC", D(c.btc));
  const Holdings usd_start = f.slot(1, "USD"), btc_start = f.slot(1, "BTC");

  MainOutcome placed = engine.execute(order(1, c.side, qty(c.quantity), D(c.price)));
  CoreReservation* reservation = std::get_if<CoreReservation>(&placed);
  ASSERT_NE(reservation, nullptr);
  const Lock lock = reservation->lock();
  reservation->commit();

  // Products of at most 36 places are exact: the flows below are the exact figures.
  LedgerAmount usd_exact = usd_start.available, btc_exact = btc_start.available;
  bool filled = false;
  for (const ReportStep& s : c.reports) {
    std::optional<std::pair<const char*, const char*>> trade;
    if (s.px != nullptr) {
      trade = std::pair{s.px, s.qty};
      filled = true;
      ASSERT_LE(D(s.px).scale() + D(s.qty).scale(), LedgerAmount::kPlaces);
      const LedgerAmount cash = *LedgerAmount::product(D(s.px), D(s.qty), RoundingStrategy::Up);
      usd_exact = *usd_exact.plus(c.side == Side::Buy ? cash.negated() : cash);
      btc_exact = *btc_exact.plus(c.side == Side::Buy ? LedgerAmount(D(s.qty)) : LedgerAmount(D(s.qty)).negated());
    }
    const Holdings usd_before = f.slot(1, "USD"), btc_before = f.slot(1, "BTC");
    const PostTradeOutcome out = engine.apply_execution_report(report(1, c.side, trade, s.leaves, s.is_final, lock));
    ASSERT_TRUE(out.account_blocks.empty()) << out.account_blocks.front().details;
    expect_entry(out.account_adjustments, "USD", usd_before, f.slot(1, "USD"));
    expect_entry(out.account_adjustments, "BTC", btc_before, f.slot(1, "BTC"));
  }
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));

  const Holdings usd = f.slot(1, "USD"), btc = f.slot(1, "BTC");
  EXPECT_TRUE(usd.held.is_zero()) << usd.held.to_string();
  EXPECT_TRUE(btc.held.is_zero()) << btc.held.to_string();
  if (!filled) {
    EXPECT_EQ(usd, usd_start);
    EXPECT_EQ(btc, btc_start);
  }
  EXPECT_EQ(usd.available, usd_exact) << usd.available.to_string() << " vs " << usd_exact.to_string();
  EXPECT_EQ(btc.available, btc_exact) << btc.available.to_string() << " vs " << btc_exact.to_string();
}

const FinishedCase kCases[] = {
    // Host-style amounts: the fill's credit needs more places than available has.
    {"cents_balance_part_filled_then_final",
     "91774.32",
     nullptr,
     Side::Buy,
     "0.8197770633412746",
     "70309.775523",
     {{"67075.525848942", "0.0614832797505955", "0.7582937835906791", true}}},
    {"long_balance_cancelled_unfilled",
     "9713.226403560902853626478781",
     nullptr,
     Side::Buy,
     "0.61630228225363056940",
     "8812.581870598038361231001",
     {{nullptr, nullptr, "0.61630228225363056940", true}}},
    // The proceeds' credit overflows available's places.
    {"sell_filled_at_the_limit_then_final",
     "69.87884716237750733502933787",
     "4.045050872161901548880670967",
     Side::Sell,
     "0.5392995532913090677585",
     "5036.96840149499",
     {{"5036.96840149499", "0.3974637707756947829380", "0.1418357825156142848205", true}}},
    {"hold_rounded_up_cancelled_unfilled",
     "10",
     nullptr,
     Side::Buy,
     "3.0000000000000000000000000001",
     "1.0000000000000000000000000001",
     {{nullptr, nullptr, "3.0000000000000000000000000001", true}}},
    {"one_unit_over_cancelled_unfilled",
     "2",
     nullptr,
     Side::Buy,
     "1.0000000000000000000000000001",
     "1.0000000000000000000000000001",
     {{nullptr, nullptr, "1.0000000000000000000000000001", true}}},
    {"hold_at_27_places_cancelled_unfilled",
     "59.40336908515679885681988207",
     nullptr,
     Side::Buy,
     "0.781183198343459",
     "10.94342330598699409987",
     {{nullptr, nullptr, "0.781183198343459", true}}},
    {"long_price_part_filled_at_the_limit_then_final",
     "1903.380086849578158417840603",
     nullptr,
     Side::Buy,
     "0.63041270",
     "74.24289716213982626242939",
     {{"74.24289716213982626242939", "0.01639073", "0.61402197", true}}},
    // A sell at a negative price pays: its hold is the payment rounded up.
    {"sell_at_a_negative_price_part_filled_then_final",
     "100",
     "1",
     Side::Sell,
     "0.3333333333333333333333333333",
     "-1.5",
     {{"-1.5", "0.1", "0.2333333333333333333333333333", true}}},
    // What the fill consumes, 82.00000000000000000000000005 - 0.000000000000000000000000041, needs
    // 29 places: it is rounded up, and the release gives back what the hold has left.
    {"consumption_too_long_then_final",
     "100",
     nullptr,
     Side::Buy,
     "2.000000000000000000000000001",
     "41",
     {{"41", "2", "0.000000000000000000000000001", true}}},
    {"host_style_part_filled_then_cancelled",
     "91774.32",
     nullptr,
     Side::Buy,
     "0.20536301402749984",
     "7.241307",
     {{"7.241307", "0.1", "0.10536301402749984", false}, {nullptr, nullptr, "0.10536301402749984", true}}},
    {"host_style_two_fills_below_the_limit_then_cancelled",
     "1000.05",
     nullptr,
     Side::Buy,
     "0.123456789012345678",
     "7.241307",
     {{"7.2413069", "0.023456789012345678", "0.1", false},
      {"7.241306", "0.05", "0.05", false},
      {nullptr, nullptr, "0.05", true}}},
    // A fill at the limit, then a final report without one: nothing held is left, not -8E-26.
    {"fill_at_the_limit_then_final_without_fill",
     "10000",
     nullptr,
     Side::Buy,
     "1.234567890123456789",
     "3123.45678901",
     {{"3123.45678901", "1.000000000000000001", "0.234567890123456788", false},
      {nullptr, nullptr, "0.234567890123456788", true}}},
    {"filled_then_cancelled_in_the_next_report",
     "300000",
     nullptr,
     Side::Buy,
     "6.613812840851947674",
     "44952.11134022",
     {{"44952.11134022", "6.368248133177167416", "0.245564707674780258", false},
      {nullptr, nullptr, "0.245564707674780258", true}}},
    // Fill and final in one report: the entry's delta is the slot's change, which a decimal holds.
    {"fill_and_final_in_one_report",
     "34967828.54",
     nullptr,
     Side::Buy,
     "7.036304512204433312",
     "4532132.344162",
     {{"4532132.344162", "0.773993496342487664", "6.262311015861945648", true}}},
    // A locked price whose products have 38 places: the hold and each remainder's
    // hold are rounded up; the fills and the release still add up to the hold.
    {"products_past_36_places_filled_twice_then_final",
     "10000",
     nullptr,
     Side::Buy,
     "1.234567890123456789",
     "3123.45678901234567890123",
     {{"3123.4", "0.333333333333333333", "0.901234556790123456", false},
      {"3123.45", "0.5", "0.401234556790123456", false},
      {nullptr, nullptr, "0.401234556790123456", true}}},
    // Each remainder's hold at a 28-place limit has 37 places: the fill consumes what the
    // hold of the remainder loses, not its own product rounded up.
    {"fill_at_a_28_place_limit_then_final",
     "10",
     nullptr,
     Side::Buy,
     "0.000000002",
     "1.0000000000000000000000000001",
     {{"1", "0.000000001", "0.000000001", false}, {nullptr, nullptr, "0.000000001", true}}},
};

INSTANTIATE_TEST_SUITE_P(Tables, FinishedOrders,
                         ::testing::Combine(::testing::ValuesIn(kCases),
                                            ::testing::Values(EngineSync::NoSync, EngineSync::FullSync,
                                                              EngineSync::AccountSync)),
                         [](const ::testing::TestParamInfo<std::tuple<FinishedCase, EngineSync>>& info) {
                           const EngineSync mode = std::get<1>(info.param);
                           return std::string(std::get<0>(info.param).name) +
                                  (mode == EngineSync::NoSync ? "_no_sync"
                                                              : (mode == EngineSync::FullSync ? "_full_sync"
                                                                                              : "_account_sync"));
                         });

}  // namespace
}  // namespace vantrel
