#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <mutex>
#include <thread>
#include <vector>

#include "limit_policy_util.hpp"
#include "vantrel/pretrade/policies/asset_numbers.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"

namespace vantrel {
namespace {

using namespace limit_test;

constexpr std::uint64_t kSecond = 1'000'000'000;
const Instant kCreated{100, 0};

// Checks the order as a start stage at `t` would.
std::optional<Reject> check_at(const RateLimitPolicy& p, const OrderRecord& o, Instant t) {
  CurrentInstantScope scope(t);
  return p.check_start(o);
}
Instant after(std::uint64_t ms) { return {kCreated.seconds + ms / 1000, static_cast<std::uint32_t>(ms % 1000) * 1'000'000u}; }

TEST(RateLimitPolicy, BrokerWindowCountsAndResets) {
  RateLimitConfig config;
  config.broker = RateBarrier{2, kSecond};
  const RateLimitPolicy policy(config, kCreated, SyncMode::None);
  const OrderRecord o = order_for(7);
  EXPECT_FALSE(check_at(policy, o, after(0)));
  EXPECT_FALSE(check_at(policy, o, after(10)));
  std::optional<Reject> r = check_at(policy, o, after(20));
  ASSERT_TRUE(r);
  EXPECT_EQ(*r, (Reject{"RateLimitPolicy", "rate limit exceeded: broker barrier",
                        "submitted 3 orders in 1s window, max allowed: 2", 0, RejectScope::Order,
                        RejectCode::RateLimitExceeded}));
  EXPECT_EQ(check_at(policy, o, after(30))->details, "submitted 4 orders in 1s window, max allowed: 2");
  // Exactly one window after the start: a new window counting 1.
  EXPECT_FALSE(check_at(policy, o, after(1000)));
  EXPECT_FALSE(check_at(policy, o, after(1999)));
  EXPECT_TRUE(check_at(policy, o, after(1999)));
}

TEST(RateLimitPolicy, AccountBarrierWithZeroMaxRejectsOnlyThatAccount) {
  RateLimitConfig config;
  config.account_barriers = {{7, {0, kSecond}}};
  const RateLimitPolicy policy(config, kCreated, SyncMode::Account);
  const std::optional<Reject> r = check_at(policy, order_for(7), after(0));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reason, "rate limit exceeded: account barrier");
  EXPECT_EQ(r->details, "submitted 1 orders in 1s window, max allowed: 0");
  EXPECT_EQ(r->scope, RejectScope::Account);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(check_at(policy, order_for(8), after(i)));
}

TEST(RateLimitPolicy, BrokerRejectWinsAndAccountLogStillGrows) {
  RateLimitConfig config;
  config.broker = RateBarrier{1, kSecond};
  config.account_barriers = {{7, {2, 10 * kSecond}}};
  const RateLimitPolicy policy(config, kCreated, SyncMode::Full);
  EXPECT_FALSE(check_at(policy, order_for(7), after(0)));
  EXPECT_EQ(check_at(policy, order_for(7), after(1))->reason, "rate limit exceeded: broker barrier");
  EXPECT_EQ(check_at(policy, order_for(7), after(2))->reason, "rate limit exceeded: broker barrier");
  // New broker window; the account log holds the two refused orders too.
  const std::optional<Reject> r = check_at(policy, order_for(7), after(5000));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reason, "rate limit exceeded: account barrier");
  EXPECT_EQ(r->details, "submitted 4 orders in 10s window, max allowed: 2");
}

TEST(RateLimitPolicy, AccountAssetBarrierAndItsText) {
  RateLimitConfig config;
  config.asset_barriers = {{"EUR", {100, kSecond}}};
  config.account_asset_barriers = {{7, " USD", {1, 1500}}};
  const RateLimitPolicy policy(config, kCreated, SyncMode::Account);
  EXPECT_FALSE(check_at(policy, order_for(7, " USD"), after(0)));
  const std::optional<Reject> r = check_at(policy, order_for(7, " USD"), after(0));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->reason, "rate limit exceeded: account+asset barrier");
  EXPECT_EQ(r->details, "submitted 2 orders in 1.5\xC2\xB5s window, max allowed: 1");
  EXPECT_EQ(r->scope, RejectScope::Account);
  EXPECT_FALSE(check_at(policy, order_for(7, "USD"), after(0))) << "the stored name keeps its blank";
}

// Each (account, asset) pair has a log of its own, whatever other pairs share its account or asset.
TEST(RateLimitPolicy, AccountAssetLogsAreKeptApart) {
  RateLimitConfig config;
  config.account_asset_barriers = {{7, "USD", {2, kSecond}}, {7, "EUR", {1, kSecond}}, {8, "USD", {3, kSecond}},
                                   {7, "USD", {1, kSecond}}};  // replaces the first
  const RateLimitPolicy policy(config, kCreated, SyncMode::Full);
  struct Step {
    std::uint64_t account;
    const char* asset;
    bool refused;
  };
  const Step steps[] = {{7, "USD", false}, {7, "EUR", false}, {8, "USD", false}, {8, "USD", false},
                        {7, "USD", true},  {7, "EUR", true},  {8, "USD", false}, {8, "USD", true},
                        {9, "USD", false}, {7, "JPY", false}};
  int i = 0;
  for (const Step& s : steps) EXPECT_EQ(check_at(policy, order_for(s.account, s.asset), after(0)).has_value(), s.refused) << i++;
}

TEST(RateLimitPolicy, MissingFieldsCountNothing) {
  RateLimitConfig config;
  config.broker = RateBarrier{1, kSecond};
  config.account_barriers = {{7, {5, kSecond}}};
  const RateLimitPolicy policy(config, kCreated, SyncMode::None);
  const std::optional<Reject> r = check_at(policy, order(OrderSpec{std::nullopt, "USD"}), after(0));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->details, "failed to access field 'operation.account_id'");
  EXPECT_EQ(r->code, RejectCode::MissingRequiredField);
  // Neither the broker window nor the account log moved.
  EXPECT_FALSE(check_at(policy, order_for(7), after(1)));

  RateLimitConfig assets;
  assets.asset_barriers = {{"USD", {1, kSecond}}};
  const RateLimitPolicy by_asset(assets, kCreated, SyncMode::None);
  EXPECT_EQ(check_at(by_asset, order(OrderSpec{7, std::nullopt}), after(0))->details,
            "failed to access field 'operation.instrument'");
  EXPECT_FALSE(check_at(by_asset, order(OrderSpec{std::nullopt, "EUR"}), after(0))) << "no account needed";
  EXPECT_FALSE(check_at(by_asset, order_for(7, "USD"), after(0)));
  EXPECT_TRUE(check_at(by_asset, order_for(7, "USD"), after(0)));
}

// A barrier that needs no field counts orders that have none.
TEST(RateLimitPolicy, BrokerBarrierCountsBareOrders) {
  RateLimitConfig config;
  config.broker = RateBarrier{1, kSecond};
  const RateLimitPolicy policy(config, kCreated, SyncMode::None);
  EXPECT_FALSE(check_at(policy, OrderRecord{}, after(0)));
  EXPECT_FALSE(check_at(policy, order(OrderSpec{std::nullopt, std::nullopt}), after(1000)));
  const std::optional<Reject> r = check_at(policy, order(OrderSpec{std::nullopt, std::nullopt}), after(1001));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->details, "submitted 2 orders in 1s window, max allowed: 1");
}

TEST(RateLimitPolicy, LateLogEntryDoesNotOverCount) {
  RateLimitConfig config;
  config.account_barriers = {{7, {2, kSecond}}};
  const RateLimitPolicy policy(config, kCreated, SyncMode::Account);
  EXPECT_FALSE(check_at(policy, order_for(7), after(1000)));
  EXPECT_FALSE(check_at(policy, order_for(7), after(999)));
  const Instant t{kCreated.seconds + 1, 999'500'000};
  EXPECT_FALSE(check_at(policy, order_for(7), t));
}

TEST(RateLimitPolicy, InstantBeforeCreationCountsFromZero) {
  RateLimitConfig config;
  config.broker = RateBarrier{1, kSecond};
  const RateLimitPolicy policy(config, kCreated, SyncMode::None);
  EXPECT_FALSE(check_at(policy, order_for(7), Instant{1, 0}));
  EXPECT_TRUE(check_at(policy, order_for(7), Instant{kCreated.seconds, 999'999'999}));
}

// Eight threads, phases of one instant each, one window apart: every phase admits exactly
// max_orders, and the rejected ones report the counts max+1..k without gaps.
TEST(RateLimitPolicy, ConcurrentPhasesAdmitExactlyMax) {
  constexpr int kThreads = 8, kPerThread = 100, kPhases = 10;
  constexpr std::uint64_t kMax = 250;
  for (SyncMode mode : {SyncMode::Full, SyncMode::Account}) {
    RateLimitConfig config;
    config.broker = RateBarrier{kMax, kSecond};
    const RateLimitPolicy policy(config, kCreated, mode);
    std::vector<std::vector<std::uint64_t>> refused(kPhases);
    std::vector<std::atomic<int>> admitted(kPhases);
    std::mutex refused_mutex;
    std::barrier sync(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        const OrderRecord o = order_for(static_cast<std::uint64_t>(t));
        for (int p = 0; p < kPhases; ++p) {
          sync.arrive_and_wait();
          CurrentInstantScope scope(after(static_cast<std::uint64_t>(p) * 1000 + 3));
          std::vector<std::uint64_t> counts;
          for (int i = 0; i < kPerThread; ++i) {
            const std::optional<Reject> r = policy.check_start(o);
            if (!r) {
              ++admitted[p];
              continue;
            }
            counts.push_back(std::stoull(r->details.substr(std::string("submitted ").size())));
          }
          std::lock_guard<std::mutex> lock(refused_mutex);
          refused[p].insert(refused[p].end(), counts.begin(), counts.end());
        }
      });
    for (std::thread& t : threads) t.join();
    for (int p = 0; p < kPhases; ++p) {
      EXPECT_EQ(admitted[p].load(), static_cast<int>(kMax)) << "phase " << p;
      std::sort(refused[p].begin(), refused[p].end());
      ASSERT_EQ(refused[p].size(), kThreads * kPerThread - kMax);
      for (std::size_t i = 0; i < refused[p].size(); ++i) ASSERT_EQ(refused[p][i], kMax + 1 + i);
    }
  }
}

// A host that breaks account_sync's promise (eight threads on one account) gets a sound log.
TEST(RateLimitPolicy, OneAccountLogSurvivesMisuse) {
  constexpr int kThreads = 8, kPerThread = 2000;
  constexpr std::uint64_t kMax = 3000;
  RateLimitConfig config;
  config.account_barriers = {{7, {kMax, 3600 * kSecond}}};
  const RateLimitPolicy policy(config, kCreated, SyncMode::Account);
  std::atomic<int> admitted{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      const OrderRecord o = order_for(7);
      for (int i = 0; i < kPerThread; ++i) {
        CurrentInstantScope scope(after(static_cast<std::uint64_t>(i * kThreads + t)));
        if (!policy.check_start(o)) ++admitted;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(admitted.load(), static_cast<int>(kMax));
}

TEST(AssetNumbering, NumbersFromOneInOrderOfFirstMention) {
  AssetNumbering numbering;
  const std::pair<const char*, std::uint32_t> mentions[] = {{"USD", 1}, {"EUR", 2}, {"USD", 1}, {"BTC", 3}, {"EUR", 2}};
  for (const auto& [name, number] : mentions) EXPECT_EQ(numbering.number(name), number) << name;
  EXPECT_EQ(numbering.size(), 3u);
  const auto frozen = std::move(numbering).freeze();
  EXPECT_EQ(*frozen.find(std::string_view("BTC")), 3u);
  EXPECT_EQ(frozen.find(std::string_view("JPY")), nullptr);
}

}  // namespace
}  // namespace vantrel
