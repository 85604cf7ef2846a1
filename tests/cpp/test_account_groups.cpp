#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "vantrel/pretrade/account_groups.hpp"

namespace vantrel {
namespace {

std::vector<AccountId> ids(std::initializer_list<std::uint64_t> values) {
  std::vector<AccountId> out;
  for (std::uint64_t v : values) out.push_back(AccountId{v});
  return out;
}

std::string error_text(const std::optional<AccountGroupError>& e) { return e ? e->message() : ""; }

class AccountGroups : public ::testing::TestWithParam<SyncMode> {
 protected:
  AccountGroupRegistry registry{GetParam(), GetParam() == SyncMode::Full ? SyncMode::Full : SyncMode::None};
};

TEST_P(AccountGroups, RegisterAndUnregisterTexts) {
  struct Step {
    bool reg;
    std::vector<AccountId> accounts;
    std::uint32_t group;
    const char* error;
  };
  const Step steps[] = {
      {true, ids({}), 0, "the reserved default account group is not a valid target"},
      {false, ids({1}), 0, "the reserved default account group is not a valid target"},
      {true, ids({1, 1}), 4, ""},
      {true, ids({1}), 4, "account 1 is already registered in group 4"},
      {true, ids({2, 1}), 5, "account 1 is already registered in group 4"},
      {false, ids({1}), 5, "account 1 is not in group 5; it belongs to group 4"},
      {false, ids({1, 2}), 4, "account 2 is not in group 4; it belongs to no group"},
      {false, ids({1}), 4, ""},
      {false, ids({1}), 4, "account 1 is not in group 4; it belongs to no group"},
  };
  for (const Step& s : steps) {
    auto error = s.reg ? registry.register_group(s.accounts, AccountGroupId{s.group})
                       : registry.unregister_group(s.accounts, AccountGroupId{s.group});
    EXPECT_EQ(error_text(error), s.error);
  }
  // The failed steps changed nothing: account 2 was never placed anywhere.
  EXPECT_FALSE(registry.group_of(AccountId{2}));
  EXPECT_FALSE(registry.group_of(AccountId{1}));
}

TEST_P(AccountGroups, FailedRegistrationLeavesEarlierAccountsOut) {
  ASSERT_FALSE(registry.register_group(ids({2}), AccountGroupId{9}));
  EXPECT_TRUE(registry.register_group(ids({1, 2}), AccountGroupId{3}));
  EXPECT_FALSE(registry.group_of(AccountId{1}));
  EXPECT_EQ(registry.group_of(AccountId{2}), AccountGroupId{9});
}

TEST_P(AccountGroups, BatchesAreNeverSeenHalfApplied) {
  if (GetParam() == SyncMode::None) GTEST_SKIP() << "no_sync is single-threaded by contract";
  // Batches of fresh accounts registered for good, one after another. Once the
  // last account of a batch is visible, the first must be too.
  constexpr std::uint64_t kBatch = 64, kRounds = 300;
  std::atomic<std::uint64_t> done{0};
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!stop.load(std::memory_order_relaxed)) {
      const std::uint64_t k = done.load(std::memory_order_relaxed);
      const bool last = registry.group_of(AccountId{k * kBatch + kBatch - 1}).has_value();
      const bool first = registry.group_of(AccountId{k * kBatch}).has_value();
      if (last && !first) ++torn;
    }
  });
  for (std::uint64_t k = 0; k < kRounds; ++k) {
    std::vector<AccountId> batch;
    for (std::uint64_t i = 0; i < kBatch; ++i) batch.push_back(AccountId{k * kBatch + i});
    ASSERT_FALSE(registry.register_group(batch, AccountGroupId{static_cast<std::uint32_t>(k + 1)}));
    done.store(k + 1, std::memory_order_relaxed);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(torn, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, AccountGroups,
                         ::testing::Values(SyncMode::None, SyncMode::Full, SyncMode::Account));

}  // namespace
}  // namespace vantrel
