// Orders whose amounts need every digit a slot has: one account, one limit
// order, its reports to the last. Whatever the rounding, nothing blocks, a
// finished order leaves nothing held, a cancel of an unfilled order restores
// available to the digit, and the account never ends above its exact cash flow.
// Each case in every lock mode.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "spot_funds_test_util.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {
namespace {

using namespace funds_testing;

// Exact amounts at 33 places in a signed 128-bit integer: enough for every
// balance and product below (at most 170141 before the point).
using Exact = __int128;
constexpr unsigned kExactScale = 33;

Exact pow10(unsigned n) {
  Exact p = 1;
  while (n-- > 0) p *= 10;
  return p;
}
Exact exact(Decimal d) {
  const Exact m = static_cast<Exact>(d.mantissa()) * pow10(kExactScale - d.scale());
  return d.is_negative() ? -m : m;
}
// a × b, exact; the two scales must add to at most 33.
Exact exact_product(Decimal a, Decimal b) {
  if (a.scale() + b.scale() > kExactScale) throw std::logic_error("product beyond 33 places");
  const Exact m = static_cast<Exact>(a.mantissa()) * static_cast<Exact>(b.mantissa()) *
                  pow10(kExactScale - a.scale() - b.scale());
  return a.is_negative() != b.is_negative() ? -m : m;
}

// |a × b| <= held < |a × b| + one unit of held's last place, compared exactly
// in 192 bits at the product's scale (held at scale 27 or more here).
bool covers_within_a_unit(Decimal held, Decimal a, Decimal b) {
  using namespace decimal_detail;
  const unsigned s = a.scale() + b.scale();
  if (held.scale() > s) return false;
  const U192 cost = mul_wide(a.mantissa(), b.mantissa());
  const U192 kept = mul_wide(held.mantissa(), kPow10.v[s - held.scale()]);
  const U192 unit = U192::from(kPow10.v[s - held.scale()]);
  return cmp_wide(cost, kept) <= 0 && cmp_wide(kept, add_wide(cost, unit)) < 0;
}
std::string text(Exact v) {
  const bool neg = v < 0;
  if (neg) v = -v;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  while (digits.size() <= kExactScale) digits.insert(digits.begin(), '0');
  digits.insert(digits.end() - kExactScale, '.');
  return (neg ? "-" : "") + digits;
}

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

TEST_P(FinishedOrders, LeaveNothingHeldAndNeverMoreThanTheExactFigure) {
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
  // The hold covers the exact cost (a sell's payment at a negative price), by
  // less than one unit of its last place.
  if ((c.side == Side::Buy) != D(c.price).is_negative()) {
    const Decimal held = f.slot(1, "USD").held;
    EXPECT_TRUE(covers_within_a_unit(held, D(c.price), D(c.quantity))) << held.to_string();
  }

  Exact usd_exact = exact(usd_start.available), btc_exact = exact(btc_start.available);
  bool filled = false;
  for (const ReportStep& s : c.reports) {
    std::optional<std::pair<const char*, const char*>> trade;
    if (s.px != nullptr) {
      trade = std::pair{s.px, s.qty};
      filled = true;
      const Exact cash = exact_product(D(s.px), D(s.qty)), units = exact(D(s.qty));
      usd_exact += c.side == Side::Buy ? -cash : cash;
      btc_exact += c.side == Side::Buy ? units : -units;
    }
    const PostTradeOutcome out = engine.apply_execution_report(report(1, c.side, trade, s.leaves, s.is_final, lock));
    ASSERT_TRUE(out.account_blocks.empty()) << out.account_blocks.front().details;
    if (!s.is_final && c.side == Side::Buy) {
      // Still open: held is what the remainder holds, L × leaves (exact in these cases).
      EXPECT_EQ(exact(f.slot(1, "USD").held), exact_product(D(c.price), D(s.leaves)));
    }
  }
  EXPECT_FALSE(engine.blocks().block_of(AccountId{1}));

  const Holdings usd = f.slot(1, "USD"), btc = f.slot(1, "BTC");
  EXPECT_TRUE(usd.held.is_zero()) << usd.held.to_string();
  EXPECT_TRUE(btc.held.is_zero()) << btc.held.to_string();
  if (!filled) {
    EXPECT_EQ(usd, usd_start);
    EXPECT_EQ(btc, btc_start);
  }
  // Never more than the exact figure, and short of it by less than a unit of
  // the last place kept for each of the (at most three) rounded results.
  for (const auto& [name, got, want] : {std::tuple{"USD", exact(usd.available), usd_exact},
                                        std::tuple{"BTC", exact(btc.available), btc_exact}}) {
    const Decimal& kept = std::string(name) == "USD" ? usd.available : btc.available;
    EXPECT_LE(got, want) << name << " " << text(got) << " above " << text(want);
    EXPECT_LT(want - got, 3 * pow10(kExactScale - kept.scale())) << name << " " << text(got) << " vs " << text(want);
  }
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
