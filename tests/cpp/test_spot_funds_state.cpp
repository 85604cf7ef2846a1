// The holdings map: slots appear only for non-zero values, vanish when they
// return to zero, and survive concurrent holds, undos and deposits intact.
#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "allocation_refusal.hpp"
#include "vantrel/pretrade/policies/holdings_state.hpp"

namespace vantrel {
namespace {

Decimal D(std::int64_t v) { return Decimal::from_i64(v); }

TEST(AssetNames, InternsOncePerNameAsTheTableGrows) {
  AssetNames names;
  EXPECT_EQ(names.find("USD"), nullptr);
  const std::string* usd = names.intern("USD");
  EXPECT_EQ(names.intern("USD"), usd);
  EXPECT_EQ(names.find("USD"), usd);
  EXPECT_EQ(*usd, "USD");
  std::vector<const std::string*> seen;
  for (int i = 0; i < 5000; ++i) seen.push_back(names.intern(std::string("A").append(std::to_string(i))));
  EXPECT_EQ(std::set<const std::string*>(seen.begin(), seen.end()).size(), seen.size());
  for (int i = 0; i < 5000; i += 7) {
    EXPECT_EQ(names.find(std::string("A").append(std::to_string(i))), seen[i]);
    EXPECT_EQ(names.intern(std::string("A").append(std::to_string(i))), seen[i]);
  }
  EXPECT_EQ(names.find("B1"), nullptr);
  // Every name has its own number from 1, in interning order, read from its pointer.
  std::set<std::uint32_t> numbers{AssetNames::number(usd)};
  for (const std::string* name : seen) numbers.insert(AssetNames::number(name));
  EXPECT_EQ(numbers.size(), seen.size() + 1);
  EXPECT_EQ(*numbers.begin(), 1u);
  EXPECT_EQ(AssetNames::number(names.intern("A4999")), AssetNames::number(seen[4999]));
  EXPECT_EQ(*numbers.rbegin(), 5001u);
  EXPECT_EQ(names.size(), 5001u);
}

// Out of memory at any allocation of an intern (the grown array's among them) leaves the
// names as they were: the name is not there, and interned once memory is back it takes the
// next number, so no name ever has two.
TEST(AssetNames, AnInternThatRunsOutOfMemoryLeavesNoNumberBehind) {
  AssetNames names;
  int refusals = 0;
  for (std::uint32_t i = 1; i <= 300; ++i) {  // past the growths at 33, 65 and 129 names
    const std::string name = "N" + std::to_string(i);
    const std::string* interned = nullptr;
    for (int allowed = 0; interned == nullptr; ++allowed) {
      testing::t_allocations_before_refusal = allowed;
      testing::t_refused_allocations = 1;
      try {
        interned = names.intern(name);
      } catch (const std::bad_alloc&) {
        ++refusals;
      }
      testing::t_refused_allocations = 0;
      testing::t_allocations_before_refusal = 0;
      if (interned == nullptr) {
        ASSERT_EQ(names.size(), i - 1) << name << ", allocation " << allowed << " refused";
        ASSERT_EQ(names.find(name), nullptr) << name;
      }
    }
    ASSERT_EQ(AssetNames::number(interned), i) << name;
    ASSERT_EQ(names.intern(name), interned);
    ASSERT_EQ(names.size(), i);
  }
  EXPECT_GE(refusals, 3 * 3) << "each growth allocates its new array, its cells and room for it";
  for (std::uint32_t i = 1; i <= 300; i += 29)
    EXPECT_EQ(AssetNames::number(names.find("N" + std::to_string(i))), i);
}

// Mean cells read per lookup: a few, whatever the count of names, for names
// interned first, last, and never.
struct ProbeCosts {
  double early, late, unknown;
};
ProbeCosts probe_costs(int count) {
  AssetNames names;
  for (int i = 0; i < count; ++i) names.intern("X" + std::to_string(i));
  const auto mean = [&](int from, const char* prefix) {
    double sum = 0;
    for (int i = from; i < from + 100; ++i) sum += static_cast<double>(names.probes(prefix + std::to_string(i)));
    return sum / 100;
  };
  return {mean(0, "X"), mean(count - 100, "X"), mean(0, "Y")};
}

TEST(AssetNames, LookupsCostAFewProbesAtAnySize) {
  const ProbeCosts small = probe_costs(100), large = probe_costs(100'000);
  // At most half full, a hit averages about 1.5 cells and a miss 2.5.
  for (double cost : {small.early, small.late, small.unknown, large.early, large.late, large.unknown})
    EXPECT_LE(cost, 6.0);
  EXPECT_LE(large.early, 3 * small.early);
  EXPECT_LE(large.late, 3 * small.late);
  EXPECT_LE(large.unknown, 3 * small.unknown);
}

// Readers take no lock: while one thread interns (and the table grows under
// them), every name interned before a reader looks is found, at its first pointer.
TEST(AssetNames, ReadersFindEveryNameWhileTheTableGrows) {
  AssetNames names;
  constexpr int kNames = 20'000;
  std::vector<const std::string*> interned(kNames);
  std::atomic<int> published{0};
  std::atomic<int> misses{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t));
      for (int seen = 0; seen < kNames;) {
        seen = published.load(std::memory_order_acquire);
        if (seen == 0) continue;
        const int i = static_cast<int>(random() % static_cast<unsigned>(seen));
        if (names.find("R" + std::to_string(i)) != interned[i]) misses.fetch_add(1);
      }
    });
  for (int i = 0; i < kNames; ++i) {
    interned[i] = names.intern("R" + std::to_string(i));
    published.store(i + 1, std::memory_order_release);
  }
  for (std::thread& th : readers) th.join();
  EXPECT_EQ(misses.load(), 0);
}

// The placement hash: under the zero key, whole words hash as sip_hash13 of the
// words does (one implementation), and a key changes every hash.
TEST(SipHash, KeyedBytesAgreeWithWordsAndDependOnTheKey) {
  const std::uint64_t words[2] = {0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
  const std::string_view bytes(reinterpret_cast<const char*>(words), sizeof(words));
  EXPECT_EQ(sip_hash13(SipKey{}, bytes), sip_hash13({words[0], words[1]}));
  EXPECT_EQ(sip_hash13(SipKey{}, bytes.substr(0, 8)), sip_hash13({words[0]}));
  EXPECT_EQ(sip_hash13(SipKey{}, ""), sip_hash13({}));
  EXPECT_NE(sip_hash13(SipKey{1, 0}, "USD"), sip_hash13(SipKey{}, "USD"));
  EXPECT_NE(sip_hash13(SipKey{0, 1}, "USD"), sip_hash13(SipKey{}, "USD"));
  EXPECT_NE(sip_hash13(SipKey{}, std::string_view("USD\0", 4)), sip_hash13(SipKey{}, "USD"));
}

TEST(AssetNames, ConcurrentInternsAgree) {
  AssetNames names;
  constexpr int kThreads = 8, kNames = 6000;  // the table doubles several times meanwhile
  std::vector<std::vector<const std::string*>> got(kThreads, std::vector<const std::string*>(kNames));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < kNames; ++i) {
        const int n = (i * 7 + t * 13) % kNames;
        got[t][n] = names.intern(std::string("N").append(std::to_string(n)));
      }
    });
  for (std::thread& th : threads) th.join();
  for (int t = 1; t < kThreads; ++t) EXPECT_EQ(got[t], got[0]);
}

class StateModes : public ::testing::TestWithParam<SyncMode> {};

// Many accounts and assets: slots made, changed, emptied and made again keep
// their own values while the tables grow and shift around them.
TEST_P(StateModes, ManySlotsKeepTheirValuesAsTablesGrowAndShrink) {
  HoldingsState state(GetParam());
  const std::string* assets[3] = {state.assets().intern("USD"), state.assets().intern("BTC"), state.assets().intern("E")};
  auto set = [&](std::uint64_t account, int asset, std::int64_t value) {
    state.change(HoldingsKey{AccountId{account}, assets[asset]}, [&](const Holdings&, Holdings& next) {
      next = Holdings{D(value), D(0), D(0)};
      return true;
    });
  };
  constexpr std::uint64_t kAccounts = 3000;
  for (std::uint64_t a = 0; a < kAccounts; ++a)
    for (int k = 0; k < 3; ++k) set(a, k, static_cast<std::int64_t>(a * 3 + k + 1));
  EXPECT_EQ(state.slot_count(), 3 * kAccounts);
  for (std::uint64_t a = 0; a < kAccounts; a += 2) set(a, 1, 0);  // emptied: removed
  EXPECT_EQ(state.slot_count(), 3 * kAccounts - kAccounts / 2);
  for (std::uint64_t a = 0; a < kAccounts; ++a)
    for (int k = 0; k < 3; ++k) {
      const std::optional<Holdings> h = state.read(HoldingsKey{AccountId{a}, assets[k]});
      if (k == 1 && a % 2 == 0) {
        ASSERT_FALSE(h) << a;
      } else {
        ASSERT_TRUE(h) << a << " " << k;
        ASSERT_EQ(h->available, D(static_cast<std::int64_t>(a * 3 + k + 1))) << a << " " << k;
      }
    }
}

TEST_P(StateModes, SlotsExistOnlyForNonZeroValues) {
  HoldingsState state(GetParam());
  const HoldingsKey key{AccountId{1}, state.assets().intern("USD")};
  // Refused on a missing slot: no slot, no write lock.
  EXPECT_FALSE(state.change(key, [](const Holdings&, Holdings&) { return false; }));
  // Writing zeros onto a missing slot keeps nothing.
  EXPECT_TRUE(state.change(key, [](const Holdings& old, Holdings& next) {
    next = old;
    return true;
  }));
  EXPECT_EQ(state.slot_count(), 0u);
  EXPECT_EQ(state.write_locks_taken(), 0u);

  EXPECT_TRUE(state.change(key, [](const Holdings& old, Holdings& next) {
    next = old;
    next.available = *old.available.plus(D(5));
    return true;
  }));
  EXPECT_EQ(state.read(key), (Holdings{D(5), D(0), D(0)}));
  EXPECT_EQ(state.slot_count(), 1u);
  // A refused change leaves the slot as it was.
  EXPECT_FALSE(state.change(key, [](const Holdings&, Holdings& next) {
    next = Holdings{D(99), D(99), D(99)};
    return false;
  }));
  EXPECT_EQ(state.read(key), (Holdings{D(5), D(0), D(0)}));
  EXPECT_TRUE(state.change(key, [](const Holdings&, Holdings& next) {
    next = Holdings{};
    return true;
  }));
  EXPECT_EQ(state.read(key), std::nullopt);
  EXPECT_EQ(state.slot_count(), 0u);
}

// Amounts of more than 119 bits are kept apart from the slot: they survive the
// table growing and shifting around them, and go with the slot.
TEST_P(StateModes, AmountsKeptApartMoveWithTheirSlot) {
  HoldingsState state(GetParam());
  const std::string* usd = state.assets().intern("USD");
  const LedgerAmount wide = *LedgerAmount(D(700)).plus(
      *LedgerAmount::product(Decimal::from_parts(1, 0, 18, false), Decimal::from_parts(1, 0, 18, false),
                             RoundingStrategy::Up));
  ASSERT_FALSE(wide.pack());
  auto set = [&](std::uint64_t account, const Holdings& value) {
    return state.change(HoldingsKey{AccountId{account}, usd}, [&](const Holdings&, Holdings& next) {
      next = value;
      return true;
    });
  };
  for (std::uint64_t a = 0; a < 300; ++a) ASSERT_TRUE(set(a, Holdings{a % 3 == 0 ? wide : D(1), wide, D(a)}));
  for (std::uint64_t a = 0; a < 300; a += 2) ASSERT_TRUE(set(a, Holdings{}));
  for (std::uint64_t a = 1; a < 300; a += 2) {
    EXPECT_EQ(state.read(HoldingsKey{AccountId{a}, usd}), (Holdings{a % 3 == 0 ? wide : D(1), wide, D(a)}));
    ASSERT_TRUE(set(a, Holdings{D(2), D(0), D(0)}));
    EXPECT_EQ(state.read(HoldingsKey{AccountId{a}, usd}), (Holdings{D(2), D(0), D(0)}));
  }
  EXPECT_EQ(state.slot_count(), 150u);
  // A packed slot turns into one kept apart only under the write lock, which
  // excludes every load that could read its pointer half-written; a slot that
  // keeps its form changes under the read lock.
  ASSERT_TRUE(set(1000, Holdings{D(1), D(0), D(0)}));
  const std::uint64_t writes = state.write_locks_taken();
  ASSERT_TRUE(set(1000, Holdings{wide, D(0), D(0)}));
  EXPECT_EQ(state.write_locks_taken(), writes + 1);
  ASSERT_TRUE(set(1000, Holdings{D(3), wide, D(0)}));
  ASSERT_TRUE(set(1000, Holdings{D(4), D(0), D(0)}));
  ASSERT_TRUE(set(3, Holdings{D(4), D(0), D(0)}));
  EXPECT_EQ(state.write_locks_taken(), writes + 1);
  EXPECT_EQ(state.read(HoldingsKey{AccountId{1000}, usd}), (Holdings{D(4), D(0), D(0)}));
}

INSTANTIATE_TEST_SUITE_P(Modes, StateModes,
                         ::testing::Values(SyncMode::None, SyncMode::Full, SyncMode::Account));

// One account and asset, full locking. Holders hold 1 and either keep it or
// undo it; a churner deposits and withdraws (never below zero), emptying the
// slot again and again so that it is removed and recreated under the holders.
TEST(HoldingsStateConcurrency, FullSyncHoldsUndosAndChurnConserveFunds) {
  HoldingsState state(SyncMode::Full);
  const HoldingsKey key{AccountId{7}, state.assets().intern("USD")};
  constexpr int kHolders = 8, kRounds = 20000;
  std::atomic<bool> overdrawn{false}, stop{false};
  std::atomic<std::int64_t> kept{0};
  std::atomic<std::int64_t> deposited{0};

  auto deposit = [&](std::int64_t amount) {
    BalanceAdjustment a;
    a.fields[0] = FieldAdjustment{false, D(amount)};
    a.bounds[0].lower = Decimal();
    return state.change(key, [&](const Holdings& old, Holdings& next) {
      const AdjustStep step = adjust_step(old, a);
      if (step.verdict != AdjustVerdict::Adjusted) return false;
      next = step.after;
      return true;
    });
  };

  std::vector<std::thread> threads;
  for (int t = 0; t < kHolders; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(t);
      for (int i = 0; i < kRounds; ++i) {
        LedgerAmount moved;
        const bool held = state.change(key, [&](const Holdings& old, Holdings& next) {
          const HoldStep step = hold_step(old, D(1));
          if (step.verdict != HoldVerdict::Held) return false;
          if (step.after.available < Decimal()) overdrawn = true;
          moved = step.moved;
          next = step.after;
          return true;
        });
        if (!held) continue;
        if (rng() % 2 == 0) {
          kept += 1;
        } else {
          state.change(key, [&](const Holdings& old, Holdings& next) {
            const std::optional<Holdings> released = release_step(old, moved);
            if (!released) return false;
            next = *released;
            return true;
          });
        }
      }
    });
  std::thread churner([&] {
    while (!stop.load()) {
      if (deposit(3)) deposited += 3;
      if (deposit(-3)) deposited -= 3;
    }
  });
  for (std::thread& th : threads) th.join();
  stop = true;
  churner.join();

  EXPECT_FALSE(overdrawn.load());
  const Holdings end = state.read(key).value_or(Holdings{});
  EXPECT_EQ(end.held, D(kept.load()));
  EXPECT_EQ(*end.available.plus(end.held), D(deposited.load()));
  EXPECT_GE(end.available, Decimal());
}

// Every thread takes the slot to zero and back again and again: a removal must
// never take a slot that another thread refilled between the change and the
// removal, or that thread's deposit is lost.
TEST(HoldingsStateConcurrency, RemovalNeverLosesARefill) {
  HoldingsState state(SyncMode::Full);
  const HoldingsKey key{AccountId{1}, state.assets().intern("USD")};
  auto add = [&](std::int64_t amount) {
    state.change(key, [&](const Holdings& old, Holdings& next) {
      next = old;
      next.incoming = *old.incoming.plus(D(amount));
      return true;
    });
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        add(1);
        add(-1);
      }
    });
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(state.read(key), std::nullopt);
  EXPECT_EQ(state.slot_count(), 0u);
}

// Accounts partitioned per thread, shared assets and shards: each account ends
// exactly where the same operations take a lone slot.
TEST(HoldingsStateConcurrency, AccountSyncPartitionedAccountsMatchTheirSequentialModel) {
  HoldingsState state(SyncMode::Account);
  const std::string* assets[] = {state.assets().intern("USD"), state.assets().intern("BTC")};
  constexpr int kThreads = 8, kAccountsPerThread = 4, kRounds = 6000;
  std::vector<std::vector<Holdings>> models(kThreads * kAccountsPerThread, std::vector<Holdings>(2));
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(100 + t);
      for (int i = 0; i < kRounds; ++i) {
        const int account = t * kAccountsPerThread + static_cast<int>(rng() % kAccountsPerThread);
        const int asset = static_cast<int>(rng() % 2);
        Holdings& model = models[account][asset];
        const HoldingsKey key{AccountId{static_cast<std::uint64_t>(account)}, assets[asset]};
        const std::int64_t amount = static_cast<std::int64_t>(rng() % 5);
        const bool is_hold = rng() % 2 == 0;
        auto apply = [&](const Holdings& old) -> std::optional<Holdings> {
          if (is_hold) {
            const HoldStep s = hold_step(old, D(amount));
            return s.verdict == HoldVerdict::Held ? std::optional<Holdings>(s.after) : std::nullopt;
          }
          BalanceAdjustment a;
          a.fields[i % 3] = FieldAdjustment{false, D(amount - 2)};
          const AdjustStep s = adjust_step(old, a);
          return s.verdict == AdjustVerdict::Adjusted ? std::optional<Holdings>(s.after) : std::nullopt;
        };
        if (const std::optional<Holdings> expected = apply(model)) model = *expected;
        state.change(key, [&](const Holdings& old, Holdings& next) {
          const std::optional<Holdings> after = apply(old);
          if (!after) return false;
          next = *after;
          return true;
        });
      }
    });
  for (std::thread& th : threads) th.join();
  for (int account = 0; account < kThreads * kAccountsPerThread; ++account)
    for (int asset = 0; asset < 2; ++asset) {
      const HoldingsKey key{AccountId{static_cast<std::uint64_t>(account)}, assets[asset]};
      const Holdings& model = models[account][asset];
      EXPECT_EQ(state.read(key), model.all_zero() ? std::nullopt : std::optional<Holdings>(model))
          << "account " << account << " asset " << asset;
    }
}

}  // namespace
}  // namespace vantrel
