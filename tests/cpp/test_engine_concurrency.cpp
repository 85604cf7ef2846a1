#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine_test_util.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"

namespace vantrel {
namespace {

using testing::order_for;

// Counts what its staged actions did; each order stages one pair.
class CountingPolicy final : public Policy {
 public:
  std::string_view name() const noexcept override { return "Counting"; }
  std::uint16_t policy_group_id() const noexcept override { return 0; }
  PreTradeCheck perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord&, Mutations& m) const override {
    ctx.account_group();  // exercises the group registry's read path
    m.push([this]() noexcept { committed.fetch_add(1, std::memory_order_relaxed); },
           [this]() noexcept { rolled_back.fetch_add(1, std::memory_order_relaxed); });
    PreTradeContribution c;
    c.lock_prices.push_back(Price{Decimal::from_i64(1)});
    return c;
  }
  mutable std::atomic<long> committed{0}, rolled_back{0};
};

class EngineConcurrency : public ::testing::TestWithParam<EngineSync> {};

TEST_P(EngineConcurrency, ThreadsOnDistinctAccountsWithABlockerAndAGroupChurner) {
  constexpr int kThreads = 8, kOrders = 3000, kAccountsPerThread = 16;
  EngineState state(GetParam());
  state.append(std::make_unique<OrderValidationPolicy>());
  auto counting = std::make_unique<CountingPolicy>();
  CountingPolicy& counter = *counting;
  state.append(std::move(counting));
  std::shared_ptr<EngineCore> engine = build_engine(std::move(state)).engine;
  ASSERT_TRUE(engine);

  // Thread t trades accounts t*100 .. t*100+15; the blocker blocks the even
  // accounts of thread 0 as it goes.
  std::atomic<int> running{kThreads};
  std::vector<long> accepted(kThreads, 0), commits(kThreads, 0), refused(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kOrders; ++i) {
        const std::uint64_t account = static_cast<std::uint64_t>(t) * 100 + static_cast<std::uint64_t>(i % kAccountsPerThread);
        MainOutcome outcome = engine->execute(order_for(account));
        if (CoreReservation* r = std::get_if<CoreReservation>(&outcome)) {
          ++accepted[t];
          if (i % 2 == 0) {
            r->commit();
            ++commits[t];
          }  // odd orders roll back when the reservation is released
        } else {
          ++refused[t];
          EXPECT_EQ(std::get<Rejects>(outcome).front().policy, "blocker");
        }
      }
      --running;
    });
  }
  std::thread blocker([&] {
    std::uint64_t group = 1;
    do {
      for (std::uint64_t a = 0; a < kAccountsPerThread; a += 2)
        engine->blocks().record(AccountId{a}, AccountBlock{.policy = "blocker", .reason = "stop", .details = "",
                                                           .user_data = 0, .code = RejectCode::Custom});
      std::vector<AccountId> members{AccountId{101}, AccountId{102}, AccountId{103}};
      EXPECT_FALSE(engine->groups().register_group(members, AccountGroupId{static_cast<std::uint32_t>(group)}));
      EXPECT_FALSE(engine->groups().unregister_group(members, AccountGroupId{static_cast<std::uint32_t>(group)}));
      ++group;
    } while (running.load() > 0);
  });
  for (std::thread& t : threads) t.join();
  blocker.join();

  long total_accepted = 0, total_commits = 0;
  for (int t = 0; t < kThreads; ++t) {
    total_accepted += accepted[t];
    total_commits += commits[t];
    EXPECT_EQ(accepted[t] + refused[t], kOrders);
    if (t != 0) {
      EXPECT_EQ(refused[t], 0) << t;
    }
  }
  EXPECT_EQ(counter.committed.load(), total_commits);
  EXPECT_EQ(counter.committed.load() + counter.rolled_back.load(), total_accepted);
  for (std::uint64_t a = 0; a < kAccountsPerThread; ++a)
    EXPECT_EQ(engine->blocks().check(AccountId{a}).has_value(), a % 2 == 0) << a;
}

INSTANTIATE_TEST_SUITE_P(Modes, EngineConcurrency, ::testing::Values(EngineSync::FullSync, EngineSync::AccountSync));

}  // namespace
}  // namespace vantrel
