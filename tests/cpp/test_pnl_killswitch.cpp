#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "limit_policy_util.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"

namespace vantrel {
namespace {

using namespace limit_test;

PnlKillSwitchConfig broker_lower(const char* asset, const char* lower) {
  PnlKillSwitchConfig c;
  c.broker_barriers = {{asset, {dec(lower), std::nullopt}}};
  return c;
}

TEST(PnlKillSwitch, InitialPnlOutsideBoundsRejectsBeforeAnyReport) {
  PnlKillSwitchConfig config;
  config.account_barriers = {{7, "USD", dec("-150"), {dec("-100"), std::nullopt}}};
  const PnlBoundsKillSwitchPolicy policy(config, SyncMode::Full);
  const std::optional<Reject> r = policy.check_start(order_for(7));
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, (Reject{"PnlBoundsKillSwitchPolicy", "pnl kill switch triggered: account + asset barrier",
                        "lower bound breached: realized pnl -150, lower_bound Some(Pnl(-100)), upper_bound None, "
                        "settlement asset USD, account 7",
                        0, RejectScope::Account, RejectCode::PnlKillSwitchTriggered}));
  EXPECT_FALSE(policy.check_start(order_for(8)));
  EXPECT_FALSE(policy.check_start(order_for(7, "EUR")));
}

TEST(PnlKillSwitch, ReportsAccumulateUntilTheBoundBreaks) {
  const PnlBoundsKillSwitchPolicy policy(broker_lower("USD", "-100"), SyncMode::Account);
  EXPECT_FALSE(policy.apply_report(report(7, "USD", "-60.00", "10")));
  EXPECT_EQ(policy.running_pnl(7, "USD")->to_string(), "-70.00");
  EXPECT_FALSE(policy.check_start(order_for(7)));
  const std::optional<AccountBlock> b = policy.apply_report(report(7, "USD", "-60.00", "10"));
  ASSERT_TRUE(b);
  EXPECT_EQ(*b, (AccountBlock{"PnlBoundsKillSwitchPolicy", "pnl kill switch triggered",
                              "realized pnl -140.00, settlement asset USD, account 7", 0,
                              RejectCode::PnlKillSwitchTriggered}));
  const std::optional<Reject> r = policy.check_start(order_for(7));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reason, "pnl kill switch triggered: broker barrier");
  // Another account under the same broker barrier starts at 0.
  EXPECT_FALSE(policy.check_start(order_for(8)));
  EXPECT_FALSE(policy.running_pnl(8, "USD"));
}

// Barriers with equal bounds share one copy of them, but only bounds written
// alike: 1.0 and 1.00 are equal numbers with different texts.
TEST(PnlKillSwitch, BarriersKeepTheirOwnBoundsTexts) {
  PnlKillSwitchConfig config;
  config.account_barriers = {{7, "USD", dec("2"), {std::nullopt, dec("1.0")}},
                             {8, "USD", dec("2"), {std::nullopt, dec("1.00")}},
                             {9, "USD", dec("2"), {std::nullopt, dec("1.0")}},
                             {10, "USD", dec("20"), {std::nullopt, dec("10")}},  // the same digits as 1.0
                             {9, "EUR", dec("0"), {dec("-1"), std::nullopt}}};
  const PnlBoundsKillSwitchPolicy policy(config, SyncMode::Full);
  for (const auto& [account, upper] : {std::pair{7, "Some(Pnl(1.0))"}, {8, "Some(Pnl(1.00))"}, {9, "Some(Pnl(1.0))"},
                                      {10, "Some(Pnl(10))"}}) {
    const std::optional<Reject> r = policy.check_start(order_for(account));
    ASSERT_TRUE(r) << account;
    EXPECT_NE(r->details.find(std::string("upper_bound ") + upper), std::string::npos) << r->details;
  }
  EXPECT_FALSE(policy.check_start(order_for(9, "EUR")));
}

// Broker-only cells are made by first reports, many per shard; each keeps its own sum as the
// table grows around it.
TEST(PnlKillSwitch, BrokerOnlyCellsKeepTheirSumsAsMoreAreMade) {
  PnlKillSwitchConfig config = broker_lower("USD", "-1000000");
  config.broker_barriers.push_back({"EUR", {dec("-1000000"), std::nullopt}});
  const PnlBoundsKillSwitchPolicy policy(config, SyncMode::Account);
  for (int round = 1; round <= 3; ++round)
    for (std::uint64_t account = 0; account < 300; ++account) {
      ASSERT_FALSE(policy.apply_report(report(account, "USD", "-1", "0")));
      if (account % 2 == 0) ASSERT_FALSE(policy.apply_report(report(account, "EUR", "2", "0")));
    }
  for (std::uint64_t account = 0; account < 300; ++account) {
    EXPECT_EQ(policy.running_pnl(account, "USD")->to_string(), "-3") << account;
    EXPECT_EQ(policy.running_pnl(account, "EUR").has_value(), account % 2 == 0) << account;
  }
  EXPECT_FALSE(policy.running_pnl(1, "JPY"));
}

TEST(PnlKillSwitch, EqualToABoundBreachesNothing) {
  PnlKillSwitchConfig config;
  config.account_barriers = {{7, "USD", dec("0"), {dec("-10"), dec("10")}}};
  const PnlBoundsKillSwitchPolicy policy(config, SyncMode::None);
  EXPECT_FALSE(policy.apply_report(report(7, "USD", "10", "0")));
  EXPECT_FALSE(policy.check_start(order_for(7)));
  EXPECT_TRUE(policy.apply_report(report(7, "USD", "0.01", "0")));
}

TEST(PnlKillSwitch, BrokerBreachIsReportedFirst) {
  PnlKillSwitchConfig config;
  config.broker_barriers = {{"USD", {dec("-10"), std::nullopt}}};
  config.account_barriers = {{7, "USD", dec("-50"), {dec("10"), dec("-20")}}};
  const PnlBoundsKillSwitchPolicy policy(config, SyncMode::Full);
  const std::optional<Reject> r = policy.check_start(order_for(7));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reason, "pnl kill switch triggered: broker barrier");
  EXPECT_EQ(r->details.substr(0, 23), "lower bound breached: r");

  PnlKillSwitchConfig inverted;
  inverted.account_barriers = {{7, "USD", dec("0"), {dec("10"), dec("-10")}}};
  const PnlBoundsKillSwitchPolicy both(inverted, SyncMode::None);
  EXPECT_EQ(both.check_start(order_for(7))->details.substr(0, 37), "lower and upper bound breached: reali");
}

TEST(PnlKillSwitch, MissingFields) {
  const PnlBoundsKillSwitchPolicy policy(broker_lower("USD", "-1"), SyncMode::Account);
  ExecutionReportRecord no_op;
  struct Case {
    ExecutionReportRecord report;
    const char* reason;
    const char* details;
  };
  Case cases[] = {
      {std::move(no_op), "failed to access required field 'instrument'", "failed to access field 'operation.instrument'"},
      {report(std::nullopt, "USD", "1"), "failed to access required field 'account ID'",
       "failed to access field 'operation.account_id'"},
      // Even where no barrier covers the asset.
      {report(7, "JPY", std::nullopt), "failed to access required field 'P&L'",
       "failed to access field 'financial_impact.pnl'"},
  };
  for (const Case& c : cases) {
    const std::optional<AccountBlock> b = policy.apply_report(c.report);
    ASSERT_TRUE(b) << c.reason;
    EXPECT_EQ(*b, (AccountBlock{"PnlBoundsKillSwitchPolicy", c.reason, c.details, 0, RejectCode::MissingRequiredField}));
  }
  EXPECT_EQ(policy.check_start(order(OrderSpec{std::nullopt, "JPY"}))->details,
            "failed to access field 'operation.account_id'");
  EXPECT_EQ(policy.check_start(order(OrderSpec{std::nullopt, std::nullopt}))->details,
            "failed to access field 'operation.instrument'");
}

TEST(PnlKillSwitch, UncoveredAssetCreatesNoRunningPnl) {
  const PnlBoundsKillSwitchPolicy policy(broker_lower("USD", "-1"), SyncMode::Account);
  EXPECT_FALSE(policy.apply_report(report(7, "EUR", "-1000")));
  EXPECT_FALSE(policy.running_pnl(7, "EUR"));
}

TEST(PnlKillSwitch, OverflowsLeaveThePnlUnchanged) {
  const char* kMax = "79228162514264337593543950335";
  PnlKillSwitchConfig config;
  config.account_barriers = {{7, "USD", dec(kMax), {std::nullopt, dec(kMax)}}};
  const PnlBoundsKillSwitchPolicy policy(config, SyncMode::Full);
  std::optional<AccountBlock> b = policy.apply_report(report(7, "USD", kMax, "-1"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->reason, "pnl accumulation overflow");
  EXPECT_EQ(b->code, RejectCode::OrderValueCalculationFailed);
  EXPECT_EQ(b->details, std::string("pnl + fee overflow: pnl ") + kMax + ", fee -1, settlement asset USD, account 7");
  b = policy.apply_report(report(7, "USD", "1"));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->details, std::string("realized pnl + pnl_with_fee overflow: previous ") + kMax +
                            ", increment 1, settlement asset USD, account 7");
  EXPECT_EQ(policy.running_pnl(7, "USD")->to_string(), kMax);
  EXPECT_FALSE(policy.apply_report(report(7, "USD", "-1")));
  EXPECT_EQ(policy.running_pnl(7, "USD")->to_string(), "79228162514264337593543950334");
}

// 8 threads x 1000 reports of -0.01 under full_sync: the P&L sums exactly, and the lowest
// P&L among the blocks is the exact total.
TEST(PnlKillSwitch, ConcurrentReportsSumExactly) {
  for (bool with_account_barrier : {false, true}) {
    PnlKillSwitchConfig config = broker_lower("USD", "-1");
    if (with_account_barrier) config.account_barriers = {{7, "USD", dec("0"), {std::nullopt, dec("1")}}};
    const PnlBoundsKillSwitchPolicy policy(config, SyncMode::Full);
    std::mutex m;
    std::vector<std::string> lowest;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
      threads.emplace_back([&] {
        std::string seen;
        for (int i = 0; i < 1000; ++i) {
          const std::optional<AccountBlock> b = policy.apply_report(report(7, "USD", "-0.01"));
          if (b && b->details.find("realized pnl -80.00,") == 0) seen = b->details;
          policy.check_start(order_for(7));
        }
        std::lock_guard<std::mutex> lock(m);
        if (!seen.empty()) lowest.push_back(seen);
      });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(policy.running_pnl(7, "USD")->to_string(), "-80.00");
    ASSERT_EQ(lowest.size(), 1u);
    EXPECT_EQ(lowest[0], "realized pnl -80.00, settlement asset USD, account 7");
  }
}

// full_sync, 8 threads each report +1 on the same 3,000 new broker-only keys, in the same order
// so that first reports of a key meet: each key gets one cell, and every report lands in it.
TEST(PnlKillSwitch, ConcurrentFirstReportsOfAKeyShareOneCell) {
  constexpr std::uint64_t kKeys = 3000;
  constexpr int kThreads = 8;
  const PnlBoundsKillSwitchPolicy policy(broker_lower("USD", "-1000000"), SyncMode::Full);
  // Three rounds on fresh keys, as the first reports of a key meet only now and then.
  for (std::uint64_t first = 10'000; first < 10'000 + 3 * kKeys; first += kKeys) {
    std::vector<ExecutionReportRecord> reports;
    for (std::uint64_t k = 0; k < kKeys; ++k) reports.push_back(report(first + k, "USD", "1"));
    std::atomic<int> waiting{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&] {
        waiting.fetch_sub(1);
        while (waiting.load() > 0) std::this_thread::yield();
        for (const ExecutionReportRecord& r : reports) policy.apply_report(r);
      });
    for (std::thread& t : threads) t.join();
    std::size_t wrong = 0;
    for (std::uint64_t k = 0; k < kKeys; ++k) {
      const std::optional<Decimal> pnl = policy.running_pnl(first + k, "USD");
      if (!pnl || pnl->to_string() != "8") ++wrong;
    }
    EXPECT_EQ(wrong, 0u) << "keys from " << first;
  }
}

// account_sync trusts the host with one thread per account; a host that breaks that promise
// must not corrupt memory. Many broker-only keys are created concurrently as well.
TEST(PnlKillSwitch, AccountSyncMisuseStaysSound) {
  const PnlBoundsKillSwitchPolicy policy(broker_lower("USD", "-1000000"), SyncMode::Account);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        policy.apply_report(report(7, "USD", "-0.5"));
        policy.apply_report(report(static_cast<std::uint64_t>(1000 + i % 300), "USD", "1"));
        policy.check_start(order_for(static_cast<std::uint64_t>(t)));
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(policy.running_pnl(7, "USD")->to_string(), "-8000.0");
  for (std::uint64_t a = 1000; a < 1300; ++a) ASSERT_TRUE(policy.running_pnl(a, "USD"));
}

}  // namespace
}  // namespace vantrel
