// Threads hammering one service: no torn quotes, no sequence going back, one
// winner per registration, no lost patch. Bounded in count; meant for TSan too.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "vantrel/marketdata/service.hpp"

namespace vantrel {
namespace {

constexpr int kInstruments = 16;
constexpr int kPushers = 4;
constexpr int kReaders = 8;
constexpr int kPushesPerPusher = 20'000;
constexpr std::uint32_t kPusherGroupBase = 100;

Instrument instrument(const std::string& name) { return {*Asset::from_text(name), *Asset::from_text("USD")}; }
Instrument instrument(char prefix, std::uint64_t n) { return instrument(std::string(1, prefix).append(std::to_string(n))); }

// writer * 1e9 + sequence, written into all three prices.
std::int64_t stamp(int writer, std::int64_t sequence) { return writer * 1'000'000'000LL + sequence; }
Price price(std::int64_t value) { return Price{Decimal::from_i64(value)}; }

std::optional<std::int64_t> as_int(const std::optional<Price>& p) {
  if (!p) return std::nullopt;
  return std::stoll(p->value.to_string());
}

TEST(MarketDataConcurrency, ReadersNeverSeeATornQuoteOrASequenceGoingBack) {
  MarketDataService service(QuoteTtl::within({3600, 0}), SyncMode::Full);
  std::vector<InstrumentId> ids;
  for (int i = 0; i < kInstruments; ++i) ids.push_back(*service.register_instrument(instrument('I', i), std::nullopt));

  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  // Pusher w owns group bucket 100+w of every instrument (so its sequence is its
  // own) and also writes the shared default bucket (torn-read check only).
  for (int w = 0; w < kPushers; ++w) {
    threads.emplace_back([&, w] {
      const AccountGroupId own[] = {AccountGroupId{kPusherGroupBase + w}};
      for (std::int64_t seq = 1; seq <= kPushesPerPusher; ++seq) {
        const std::int64_t v = stamp(w, seq);
        Quote q{price(v), price(v), price(v)};
        const InstrumentId id = ids[static_cast<std::size_t>(seq % kInstruments)];
        const PushMode mode = seq % 2 == 0 ? PushMode::Replace : PushMode::Patch;
        service.push_for(id, q, {}, own, mode);
        service.push(id, q, mode);
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      std::array<std::array<std::int64_t, kInstruments>, kPushers> last{};
      std::uint64_t reads = 0;
      while (!stop.load(std::memory_order_relaxed) || reads < 1000) {
        ++reads;
        const int i = static_cast<int>((reads * 7 + r) % kInstruments);
        const int w = static_cast<int>(reads % kPushers);
        const auto group = std::optional<AccountGroupId>{AccountGroupId{kPusherGroupBase + w}};
        const QuoteLookup own = service.lookup(ids[i], AccountId{0}, QuoteResolution::AccountThenGroup, GroupHint::of(group));
        if (own.status == LookupStatus::Found) {
          const auto mark = as_int(own.quote.mark);
          if (!mark || mark != as_int(own.quote.bid) || mark != as_int(own.quote.ask) || *mark / 1'000'000'000 != w ||
              *mark < last[w][i])
            ++failures;
          else
            last[w][i] = *mark;
        }
        const QuoteLookup shared = service.resolve_quote(ids[i], AccountId{1}, std::nullopt);
        if (shared.status == LookupStatus::Found &&
            (as_int(shared.quote.mark) != as_int(shared.quote.bid) || as_int(shared.quote.bid) != as_int(shared.quote.ask)))
          ++failures;
      }
    });
  }
  // Registrations and limit changes meanwhile.
  threads.emplace_back([&] {
    for (int i = 0; i < 400; ++i) {
      const std::optional<InstrumentId> id = service.register_instrument(instrument('N', i), std::nullopt);
      if (!id) ++failures;
      service.push(*id, Quote{price(i), std::nullopt, std::nullopt}, PushMode::Replace);
      service.set_instrument_ttl(ids[i % kInstruments], QuoteTtl::within({3600 + std::uint64_t(i), 0}));
      service.set_account_ttl(AccountId{std::uint64_t(i % 3)}, QuoteTtl::infinite());
      service.set_group_ttl(AccountGroupId{kPusherGroupBase + i % kPushers}, QuoteTtl::within({7200, 0}));
      service.clear_account_ttl(AccountId{std::uint64_t(i % 3)});
      if (service.resolve_quote(*id, AccountId{9}, std::nullopt).status != LookupStatus::Found) ++failures;
    }
  });
  for (int t = 0; t < kPushers; ++t) threads[t].join();
  stop = true;
  for (std::size_t t = kPushers; t < threads.size(); ++t) threads[t].join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(service.instrument_count(), static_cast<std::size_t>(kInstruments + 400));
}

TEST(MarketDataConcurrency, EightThreadsRegisteringOneInstrumentHaveOneWinner) {
  for (int round = 0; round < 50; ++round) {
    MarketDataService service(QuoteTtl::infinite(), SyncMode::Full);
    std::atomic<int> winners{0};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    std::array<std::optional<InstrumentId>, 8> by_push{};
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        ++ready;
        while (ready.load() < 8) {
        }
        // Even rounds: eight registrations; odd rounds: half of them push instead.
        if (round % 2 == 0 || t % 2 == 0) {
          if (service.register_instrument(instrument("BTC"), std::nullopt)) ++winners;
        } else {
          by_push[t] = service.push_by_instrument(instrument("BTC"), Quote{}, PushMode::Replace);
        }
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(winners.load(), round % 2 == 0 ? 1 : winners.load());
    EXPECT_LE(winners.load(), 1);
    EXPECT_EQ(service.instrument_count(), 1u);
    const std::optional<InstrumentId> id = service.resolve_instrument_id("BTC", "USD");
    ASSERT_EQ(id, InstrumentId{0});
    for (int t = 1; t < 8; t += 2) {
      if (round % 2 == 1) {
        EXPECT_EQ(by_push[t], id) << t;
      }
    }
  }
}

TEST(MarketDataConcurrency, ConcurrentPatchesOfDifferentFieldsKeepBoth) {
  MarketDataService service(QuoteTtl::infinite(), SyncMode::Full);
  const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
  constexpr int kRounds = 2000;
  for (int round = 0; round < kRounds; round += 100) {
    service.clear(id);
    std::thread bid([&] {
      for (int i = 0; i < 100; ++i) service.push(id, Quote{std::nullopt, price(round + i), std::nullopt}, PushMode::Patch);
    });
    std::thread ask([&] {
      for (int i = 0; i < 100; ++i) service.push(id, Quote{std::nullopt, std::nullopt, price(round + i)}, PushMode::Patch);
    });
    bid.join();
    ask.join();
    const QuoteLookup result = service.resolve_quote(id, AccountId{1}, std::nullopt);
    ASSERT_EQ(result.status, LookupStatus::Found);
    EXPECT_EQ(as_int(result.quote.bid), round + 99);
    EXPECT_EQ(as_int(result.quote.ask), round + 99);
    EXPECT_FALSE(result.quote.mark.has_value());
  }
}

TEST(MarketDataConcurrency, ReadersRacingRegistrationWithIdNeverReachAMissingSlot) {
  MarketDataService service(QuoteTtl::infinite(), SyncMode::Full);
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::thread reader([&] {
    while (!done.load()) {
      for (std::uint64_t id = 0; id < 64; ++id) {
        const QuoteLookup r = service.resolve_quote(InstrumentId{id * 3}, AccountId{1}, std::nullopt);
        if (r.status == LookupStatus::Found && r.quote.mark && as_int(r.quote.mark) != std::int64_t(id)) ++failures;
      }
    }
  });
  for (std::uint64_t id = 0; id < 64; ++id) {
    ASSERT_EQ(service.register_instrument_with_id(instrument('R', id), InstrumentId{id * 3}, std::nullopt),
              RegisterWithIdStatus::Ok);
    service.push(InstrumentId{id * 3}, Quote{price(std::int64_t(id)), std::nullopt, std::nullopt}, PushMode::Replace);
  }
  done = true;
  reader.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace vantrel
