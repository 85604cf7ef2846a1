#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "vantrel/pretrade/policies/pnl_bounds.hpp"
#include "vantrel/pretrade/policies/pnl_cell.hpp"

namespace vantrel {
namespace {

Decimal d(const char* text) { return Decimal::parse(text).value; }

TEST(PnlCell, KeepsSignScaleAndWideMantissa) {
  for (const char* text : {"0", "-70.00", "79228162514264337593543950335", "-0.0000000000000000000000000001"}) {
    PnlCell cell(d(text));
    EXPECT_EQ(cell.load().to_string(), text);
    EXPECT_EQ(DecimalWords::of(d(text)).value().to_string(), text);
  }
  const Decimal negative_zero = DecimalWords::of(Decimal::from_parts(0, 0, 3, true)).value();
  EXPECT_TRUE(negative_zero.is_negative() && negative_zero.is_zero() && negative_zero.scale() == 3);
  // Bit for bit: written forms of one value stay apart.
  const DecimalWords one = DecimalWords::of(d("1.0")), other = DecimalWords::of(d("1.00"));
  EXPECT_TRUE(one.lo != other.lo || one.hi != other.hi);
}

TEST(PnlCell, UpdateStoresOnlyEngagedResults) {
  PnlCell cell(d("-60.00"));
  EXPECT_EQ(cell.update(true, [](Decimal p) { return p.checked_sub(d("10")); }).to_string(), "-60.00");
  EXPECT_EQ(cell.load().to_string(), "-70.00");
  cell.update(false, [](Decimal) { return std::optional<Decimal>(); });
  EXPECT_EQ(cell.load().to_string(), "-70.00");
}

// 8 threads x 1000 locked increments of -0.01 sum exactly.
TEST(PnlCell, LockedUpdatesSumExactly) {
  PnlCell cell;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 1000; ++i) cell.update(true, [](Decimal p) { return p.checked_add(d("-0.01")); });
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(cell.load().to_string(), "-80.00");
}

// A writer flips between two values whose words differ everywhere; readers must only ever see
// one of them whole.
TEST(PnlCell, ReadsAreNeverTorn) {
  const Decimal a = d("79228162514264337593543950335");
  const Decimal b = d("-0.0000000000000000000000000001");
  PnlCell cell(a);
  std::atomic<bool> stop{false};
  std::atomic<long> torn{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([&] {
      // Word by word and in a tight loop, so reads overlap the writer's two stores often.
      const auto same = [](Decimal x, Decimal y) {
        return x.lo64() == y.lo64() && x.hi32() == y.hi32() && x.scale() == y.scale() &&
               x.is_negative() == y.is_negative();
      };
      while (!stop.load(std::memory_order_relaxed)) {
        const Decimal x = cell.load();
        if (!same(x, a) && !same(x, b)) ++torn;
      }
    });
  for (int i = 0; i < 2000000; ++i) cell.update(true, [&](Decimal p) { return p == a ? b : a; });
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(torn.load(), 0);
}

// The halves are a release/acquire pair: a reader that sees a half also sees every write made
// before it was stored, which load() needs to see an update's odd sequence. Invisible on x86 in
// the torn-read test above, the pair is checked by ThreadSanitizer (`make tsan`) here: one
// unlocked writer publishes through the halves alone, and each value names a plain slot written
// just before it.
TEST(PnlCell, ASeenValueCarriesTheWritesMadeBeforeIt) {
  constexpr std::uint64_t kValues = 20000;
  std::vector<std::uint64_t> written(kValues + 1, 0);  // plain memory: only the halves order it
  PnlCell cell;
  std::atomic<bool> stop{false};
  std::atomic<long> stale{0};
  std::thread reader([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      const std::uint64_t v = cell.load().lo64();  // the high half never changes
      if (v != 0 && written[v] != v) ++stale;
    }
  });
  for (std::uint64_t i = 1; i <= kValues; ++i) {
    written[i] = i;
    cell.update(false, [i](Decimal) { return std::optional<Decimal>(Decimal::from_u64(i)); });
  }
  stop = true;
  reader.join();
  EXPECT_EQ(stale.load(), 0);
  EXPECT_EQ(cell.load().lo64(), kValues);
}

TEST(PnlBounds, BreachedWords) {
  const struct {
    std::optional<Decimal> lower, upper;
    const char* pnl;
    const char* words;
  } cases[] = {
      {d("-100"), std::nullopt, "-100", ""},
      {d("-100"), std::nullopt, "-100.01", "lower"},
      {std::nullopt, d("500"), "500.00", ""},
      {std::nullopt, d("500"), "500.1", "upper"},
      {d("10"), d("-10"), "0", "lower and upper"},
      {d("-10"), d("10"), "0", ""},
  };
  for (const auto& c : cases) EXPECT_EQ((PnlBounds{c.lower, c.upper}.breached(d(c.pnl))), c.words) << c.pnl;
}

TEST(PnlBounds, Texts) {
  EXPECT_EQ(pnl_breach_details("lower", d("-150"), {d("-100"), std::nullopt}, "USD", 7),
            "lower bound breached: realized pnl -150, lower_bound Some(Pnl(-100)), upper_bound None, "
            "settlement asset USD, account 7");
  EXPECT_EQ(pnl_block_details(d("-140"), "USD", 7), "realized pnl -140, settlement asset USD, account 7");
  EXPECT_EQ(pnl_increment_overflow_details(d("1"), d("-2.5"), "EUR", 18446744073709551615ull),
            "pnl + fee overflow: pnl 1, fee -2.5, settlement asset EUR, account 18446744073709551615");
  EXPECT_EQ(pnl_accumulation_overflow_details(d("5"), d("-1"), "X", 0),
            "realized pnl + pnl_with_fee overflow: previous 5, increment -1, settlement asset X, account 0");
}

TEST(PnlKillSwitchConfig, ChecksInOrder) {
  PnlKillSwitchConfig config;
  EXPECT_EQ(pnl_killswitch_config_error(config).value_or(""),
            "at least one broker or account+asset barrier must be configured");
  config.account_barriers.push_back({7, "EUR", d("0"), {}});
  config.broker_barriers.push_back({"USD", {std::nullopt, d("1")}});
  config.broker_barriers.push_back({"GBP", {}});
  // Broker barriers are filed first.
  EXPECT_EQ(pnl_killswitch_config_error(config).value_or(""),
            "at least one of lower_bound or upper_bound must be configured for settlement asset GBP");
  config.broker_barriers.pop_back();
  EXPECT_EQ(pnl_killswitch_config_error(config).value_or(""),
            "at least one of lower_bound or upper_bound must be configured for settlement asset EUR");
  config.account_barriers.back().bounds.lower = d("-1");
  EXPECT_FALSE(pnl_killswitch_config_error(config));
}

}  // namespace
}  // namespace vantrel
