// The funds policy under threads: no overdraw, no funds created or lost, and
// every account ending where a lone thread would have taken it.
// Bounded in rounds; run under the sanitizers too.
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "spot_funds_test_util.hpp"

namespace vantrel {
namespace {

using namespace funds_testing;

// One account, full locking: holders hold 1 USD and commit, roll back or drop;
// a filler settles committed orders; a churner deposits and withdraws, so the
// BTC and USD slots keep being removed and recreated under everyone else.
TEST(SpotFundsConcurrency, FullSyncOneAccountConservesFunds) {
  FundsEngine f(EngineSync::FullSync);
  f.add_funds();
  EngineCore& engine = f.build();
  f.deposit(1, "USD", D(5000));
  constexpr int kHolders = 8, kRounds = 4000;
  std::atomic<bool> overdrawn{false}, blocked{false}, holders_done{false};
  std::atomic<std::int64_t> pending{0}, filled{0}, deposited{5000};

  std::vector<std::thread> threads;
  for (int t = 0; t < kHolders; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(t);
      for (int i = 0; i < kRounds; ++i) {
        MainOutcome out = engine.execute(order(1, Side::Buy, qty("1"), D(1)));
        CoreReservation* r = std::get_if<CoreReservation>(&out);
        if (r == nullptr) continue;
        if (r->account_adjustments()[0].entry.balance->absolute.value < Decimal()) overdrawn = true;
        switch (rng() % 3) {
          case 0:
            r->commit();
            ++pending;
            break;
          case 1:
            r->rollback();
            break;
          default:
            break;  // dropped open: rolled back on release
        }
      }
    });
  std::thread filler([&] {
    for (;;) {
      std::int64_t p = pending.load();
      if (p == 0) {
        if (holders_done.load() && pending.load() == 0) return;
        std::this_thread::yield();
        continue;
      }
      if (!pending.compare_exchange_weak(p, p - 1)) continue;
      const PostTradeOutcome out =
          engine.apply_execution_report(report(1, Side::Buy, std::pair{"1", "1"}, "0", true, lock_of({{0, "1"}})));
      if (!out.account_blocks.empty()) blocked = true;
      ++filled;
    }
  });
  std::thread churner([&] {
    while (!holders_done.load()) {
      f.deposit(1, "BTC", D(5));
      f.deposit(1, "BTC", D(-5));
      AccountAdjustmentRecord withdraw = adjust("USD", delta(D(-3)));
      withdraw.bounds = AccountAdjustmentRecord::Bounds{};
      withdraw.bounds->balance_lower = PositionSize{D(0)};
      if (!f.apply(1, adjust("USD", delta(D(3)))).failed_index) deposited += 3;
      if (!f.apply(1, std::move(withdraw)).failed_index) deposited -= 3;
    }
  });
  for (std::thread& th : threads) th.join();
  holders_done = true;
  churner.join();
  filler.join();

  EXPECT_FALSE(overdrawn.load());
  EXPECT_FALSE(blocked.load());
  EXPECT_FALSE(engine.blocks().any_block());
  EXPECT_EQ(f.slot(1, "USD"), (Holdings{D(deposited.load() - filled.load()), D(0), D(0)}));
  EXPECT_EQ(f.slot(1, "BTC"), (Holdings{D(filled.load()), D(0), D(0)}));
}

// Holds of 36 places, which need more than 119 bits: each new slot turns into
// one kept apart (under the shard's write lock) at its first hold, while
// holders hold and release on it, a reader reads it, and the churner empties
// the slot before it (which removes it). The churner opens a new account with
// a deposit of 3 USD, then waits for a hold on it. Every read is a whole slot:
// held is some number of open holds, and available + held is 3 or 0.
TEST(SpotFundsConcurrency, FullSyncSlotsTurnKeptApartUnderHoldsReleasesAndReads) {
  FundsEngine f(EngineSync::FullSync);
  f.add_funds();
  EngineCore& engine = f.build();
  constexpr int kHolders = 6, kRounds = 1500;
  constexpr std::uint64_t kMaxAccounts = 400;
  const char* const kQty = "1.000000000000000001";
  const char* const kPrice = "1.000000000000000001";
  const LedgerAmount one_hold = *LedgerAmount::product(D(kQty), D(kPrice), RoundingStrategy::Up);
  ASSERT_FALSE(one_hold.pack_as_is());
  std::vector<LedgerAmount> open_holds{LedgerAmount()};
  for (int k = 1; k <= kHolders; ++k) open_holds.push_back(*open_holds.back().plus(one_hold));
  std::atomic<bool> overdrawn{false}, blocked{false}, torn{false}, holders_done{false};
  std::atomic<std::uint64_t> current{1};
  std::vector<bool> emptied(kMaxAccounts + 1, false);  // the churner's own; read after it is joined
  f.deposit(1, "USD", D(3));

  std::vector<std::thread> threads;
  for (int t = 0; t < kHolders; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(t);
      for (int i = 0; i < kRounds; ++i) {
        const std::uint64_t account = current.load();
        MainOutcome out = engine.execute(order(account, Side::Buy, qty(kQty), D(kPrice)));
        CoreReservation* r = std::get_if<CoreReservation>(&out);
        if (r == nullptr) continue;
        if (r->account_adjustments()[0].entry.balance->absolute.value < Decimal()) overdrawn = true;
        switch (rng() % 3) {
          case 0: {
            const Lock lock = r->lock();
            r->commit();
            if (!engine.apply_execution_report(report(account, Side::Buy, std::nullopt, kQty, true, lock))
                     .account_blocks.empty())
              blocked = true;
            break;
          }
          case 1:
            r->rollback();
            break;
          default:
            break;  // dropped open: rolled back on release
        }
      }
    });
  std::thread reader([&] {
    while (!holders_done.load()) {
      const Holdings h = f.slot(current.load(), "USD");
      bool some_holds = false;
      for (const LedgerAmount& held : open_holds) some_holds |= h.held == held;
      const std::optional<LedgerAmount> total = h.available.plus(h.held);
      if (!some_holds || h.available.is_negative() || !total || (*total != D(3) && !total->is_zero())) torn = true;
    }
  });
  std::thread churner([&] {
    std::uint64_t account = 1;
    while (!holders_done.load() && account < kMaxAccounts) {
      while (!holders_done.load() && f.slot(account, "USD").held.is_zero()) std::this_thread::yield();
      f.deposit(account + 1, "USD", D(3));
      current = ++account;
      AccountAdjustmentRecord withdraw = adjust("USD", delta(D(-3)));
      withdraw.bounds = AccountAdjustmentRecord::Bounds{};
      withdraw.bounds->balance_lower = PositionSize{D(0)};
      emptied[account - 1] = !f.apply(account - 1, std::move(withdraw)).failed_index;
    }
  });
  for (std::thread& th : threads) th.join();
  holders_done = true;
  churner.join();
  reader.join();

  EXPECT_FALSE(overdrawn.load());
  EXPECT_FALSE(blocked.load());
  EXPECT_FALSE(torn.load());
  EXPECT_FALSE(engine.blocks().any_block());
  for (std::uint64_t a = 1; a <= current.load(); ++a) {
    EXPECT_EQ(f.slot(a, "USD"), (Holdings{emptied[a] ? D(0) : D(3), D(0), D(0)})) << a;
    EXPECT_EQ(f.has_slot(a, "USD"), !emptied[a]) << a;
  }
}

// One step of an account's life, drawn from a seed: a deposit, or an order
// that is committed (then partly filled and finished) or rolled back.
struct Step {
  std::uint64_t account;
  int kind;  // 0 deposit, 1 order
  const char* asset;
  std::int64_t amount;
  Side side;
  bool by_volume;
  std::int64_t price;  // 0: at market (sells by quantity only)
  bool commit;
  std::int64_t fill;
};

Step draw(std::mt19937& rng, std::uint64_t first_account) {
  Step s{};
  s.account = first_account + rng() % 3;
  s.kind = static_cast<int>(rng() % 3 == 0 ? 0 : 1);
  s.asset = rng() % 2 ? "USD" : "BTC";
  s.amount = static_cast<std::int64_t>(rng() % 7) - 1;
  s.side = rng() % 2 ? Side::Buy : Side::Sell;
  s.by_volume = s.side == Side::Buy && rng() % 2;
  s.price = static_cast<std::int64_t>(rng() % 4);
  if (s.side == Side::Buy && s.price == 0) s.price = 1;
  s.commit = rng() % 3 != 0;
  s.fill = static_cast<std::int64_t>(rng() % 3);
  return s;
}

// Runs one step; returns what the engine said, for comparison.
std::string run(FundsEngine& f, const Step& s) {
  EngineCore& engine = f.engine();
  if (s.kind == 0) {
    const AdjustmentBatchOutcome out = f.apply(s.account, adjust(s.asset, delta(D(s.amount))));
    return out.rejects ? out.rejects->front().details : "deposit";
  }
  const std::optional<Decimal> price = s.price == 0 ? std::nullopt : std::optional<Decimal>(D(s.price));
  const std::int64_t size = s.amount < 1 ? 1 : s.amount;
  const std::string size_text = std::to_string(size);
  MainOutcome out = engine.execute(
      order(s.account, s.side, s.by_volume ? vol(size_text.c_str()) : qty(size_text.c_str()), price));
  if (const Reject* r = only_reject(out)) return r->details;
  CoreReservation& r = std::get<CoreReservation>(out);
  if (!s.commit) {
    r.rollback();
    return "rolled back";
  }
  r.commit();
  if (s.by_volume) {
    // A volume order finishes without fills: its whole hold comes back.
    engine.apply_execution_report(report(s.account, s.side, std::nullopt, "1", true, Lock(r.lock())));
    return "committed";
  }
  const std::int64_t fill = std::min(s.fill, size);
  const std::string fill_text = std::to_string(fill), leaves = std::to_string(size - fill);
  const std::string px = std::to_string(s.price == 0 ? 2 : s.price);
  const PostTradeOutcome rep = engine.apply_execution_report(
      report(s.account, s.side,
             fill == 0 ? std::nullopt : std::optional<std::pair<const char*, const char*>>({px.c_str(), fill_text.c_str()}),
             leaves.c_str(), true, Lock(r.lock())));
  return rep.account_blocks.empty() ? "committed" : rep.account_blocks.front().details;
}

// account_sync with accounts partitioned per thread: every account's verdicts
// and final slots equal a lone no_sync engine's replay of the same steps.
TEST(SpotFundsConcurrency, AccountSyncPartitionedAccountsMatchASequentialReplay) {
  constexpr int kThreads = 8, kRounds = 1500;
  FundsEngine shared(EngineSync::AccountSync);
  shared.add_funds();
  shared.build();
  std::vector<std::vector<Step>> steps(kThreads);
  std::vector<std::vector<std::string>> said(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      std::mt19937 rng(1000 + t);
      for (int i = 0; i < kRounds; ++i) {
        steps[t].push_back(draw(rng, 10 * (t + 1)));
        said[t].push_back(run(shared, steps[t].back()));
      }
    });
  for (std::thread& th : threads) th.join();

  for (int t = 0; t < kThreads; ++t) {
    FundsEngine alone(EngineSync::NoSync);
    alone.add_funds();
    alone.build();
    for (int i = 0; i < kRounds; ++i) ASSERT_EQ(run(alone, steps[t][i]), said[t][i]) << "thread " << t << " step " << i;
    for (std::uint64_t a = 10 * (t + 1); a < 10 * (t + 1) + 3; ++a)
      for (const char* name : {"USD", "BTC"}) EXPECT_EQ(shared.slot(a, name), alone.slot(a, name)) << a << name;
  }
}

}  // namespace
}  // namespace vantrel
