#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <unordered_map>
#include <vector>

#include "vantrel/marketdata/instrument_override.hpp"
#include "vantrel/core/int_map.hpp"
#include "vantrel/marketdata/service.hpp"

namespace vantrel {
namespace {

std::atomic<std::uint64_t> g_now_ns{1'000'000'000'000};
Instant fake_now() noexcept {
  const std::uint64_t ns = g_now_ns.load();
  return {ns / 1'000'000'000u, static_cast<std::uint32_t>(ns % 1'000'000'000u)};
}

class QuoteTestClock {
 public:
  QuoteTestClock() { set_test_clock(&fake_now); }
  ~QuoteTestClock() { set_test_clock(nullptr); }
  void advance_ns(std::int64_t ns) { g_now_ns += static_cast<std::uint64_t>(ns); }
};

Price price(std::int64_t units) { return Price{Decimal::from_i64(units)}; }
Quote quote(std::optional<std::int64_t> mark, std::optional<std::int64_t> bid = {},
            std::optional<std::int64_t> ask = {}) {
  Quote q;
  if (mark) q.mark = price(*mark);
  if (bid) q.bid = price(*bid);
  if (ask) q.ask = price(*ask);
  return q;
}
Instrument instrument(const char* underlying, const char* settlement = "USD") {
  return Instrument{*Asset::from_text(underlying), *Asset::from_text(settlement)};
}
QuoteTtl within_ns(std::uint64_t ns) {
  return QuoteTtl::within({ns / 1'000'000'000u, static_cast<std::uint32_t>(ns % 1'000'000'000u)});
}

constexpr AccountId kAlice{7};
constexpr AccountId kBob{8};
constexpr AccountGroupId kDesk{3};
constexpr AccountGroupId kDefaultGroup{AccountGroupId::kDefault};
constexpr auto kAll = QuoteResolution::AccountThenGroupThenDefault;

TEST(IntMap, AgreesWithAReferenceMapUnderRandomInsertsAndErases) {
  IntMap<std::uint64_t, std::uint64_t> map;
  std::unordered_map<std::uint64_t, std::uint64_t> model;
  std::mt19937_64 random(12345);
  for (int step = 0; step < 200'000; ++step) {
    const std::uint64_t key = random() % 512;  // small key space: long runs, many wraps
    switch (random() % 4) {
      case 0:
      case 1:
        map.insert_or_assign(key, std::uint64_t{key * 3 + step});
        model[key] = key * 3 + step;
        break;
      case 2:
        ASSERT_EQ(map.erase(key), model.erase(key) == 1) << "step " << step;
        break;
      default: {
        const std::uint64_t* found = map.find(key);
        auto it = model.find(key);
        ASSERT_EQ(found != nullptr, it != model.end()) << "step " << step;
        if (found != nullptr) {
          ASSERT_EQ(*found, it->second);
        }
      }
    }
    ASSERT_EQ(map.size(), model.size());
  }
  std::size_t seen = 0;
  map.for_each([&](std::uint64_t key, std::uint64_t value) {
    ++seen;
    EXPECT_EQ(model.at(key), value);
  });
  EXPECT_EQ(seen, model.size());
  map.clear();
  EXPECT_TRUE(map.empty());
  EXPECT_EQ(map.find(1), nullptr);
}

TEST(QuoteValues, DurationFromPartsIsExactIn128Bits) {
  struct Case {
    std::int64_t days, seconds, micros;
    DurationError error;
    std::uint64_t out_seconds;
    std::uint32_t out_nanos;
  };
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const Case cases[] = {
      {0, 0, 0, DurationError::None, 0, 0},
      {1, 0, 0, DurationError::None, 86400, 0},
      {0, 1, 500'000, DurationError::None, 1, 500'000'000},
      {0, 0, 2'500'000, DurationError::None, 2, 500'000'000},          // microseconds carried
      {999'999'999, 86399, 999'999, DurationError::None, 86'399'999'999'999, 999'999'000},  // timedelta.max
      {-1, 86399, 999'999, DurationError::Negative, 0, 0},               // -1 microsecond
      {-1, 0, 0, DurationError::Negative, 0, 0},
      {0, 0, -1, DurationError::Negative, 0, 0},
      {1'000'000'000'000'000, 0, 0, DurationError::TooLarge, 0, 0},      // 8.64e19 s
      {kMax, kMax, kMax, DurationError::TooLarge, 0, 0},
      {0, kMax, kMax, DurationError::None, 9'223'372'036'854'775'807ull + 9'223'372'036'854u, 775'807'000},
      {213'503'982'334'601, 25'215, 0, DurationError::None, 18'446'744'073'709'551'615ull, 0},  // u64 max seconds
      {213'503'982'334'601, 25'216, 0, DurationError::TooLarge, 0, 0},
  };
  for (const Case& c : cases) {
    const DurationParts parts = duration_from_parts(c.days, c.seconds, c.micros);
    EXPECT_EQ(parts.error, c.error) << c.days << " " << c.seconds << " " << c.micros;
    if (c.error == DurationError::None) {
      EXPECT_EQ(parts.duration.seconds, c.out_seconds) << c.days;
      EXPECT_EQ(parts.duration.nanos, c.out_nanos) << c.days;
    }
  }
}

TEST(QuoteValues, StalenessComparesSecondsThenNanosAndAnEqualAgeIsStale) {
  const QuoteTtl ttl = QuoteTtl::within({1, 500});
  EXPECT_FALSE(ttl.is_stale({0, 999'999'999}));
  EXPECT_FALSE(ttl.is_stale({1, 499}));
  EXPECT_TRUE(ttl.is_stale({1, 500}));
  EXPECT_TRUE(ttl.is_stale({2, 0}));
  EXPECT_TRUE(QuoteTtl::within({}).is_stale({}));
  EXPECT_FALSE(QuoteTtl::infinite().is_stale({UINT64_MAX, 999'999'999}));
  EXPECT_FALSE(QuoteTtl::within({UINT64_MAX, 999'999'999}).is_stale({UINT64_MAX, 999'999'998}));
}

TEST(QuoteValues, EqualityIsNumericPerField) {
  Quote a = quote(1);
  Quote b;
  b.mark = Price{*Decimal::from_parts(100, 0, 2, false).checked_add(Decimal{})};
  EXPECT_EQ(a, b);  // 1 and 1.00
  EXPECT_NE(a, quote(1, 1));
  EXPECT_EQ(Quote{}, Quote{});
  Quote merged = quote(10, 9, 11);
  merged.merge(quote(std::nullopt, 8));
  EXPECT_EQ(merged, quote(10, 8, 11));
}

TEST(MarketDataService, AutomaticIdsStartAtZeroAndSkipExplicitOnes) {
  MarketDataService service(QuoteTtl::infinite(), SyncMode::Full);
  EXPECT_EQ(service.register_instrument_with_id(instrument("X"), InstrumentId{1}, std::nullopt),
            RegisterWithIdStatus::Ok);
  EXPECT_EQ(service.register_instrument(instrument("Y"), std::nullopt), InstrumentId{0});
  EXPECT_EQ(service.register_instrument(instrument("Z"), std::nullopt), InstrumentId{2});
  EXPECT_EQ(service.register_instrument(instrument("Z"), std::nullopt), std::nullopt);
  // The instrument is looked up before the id.
  EXPECT_EQ(service.register_instrument_with_id(instrument("Y"), InstrumentId{2}, std::nullopt),
            RegisterWithIdStatus::InstrumentTaken);
  EXPECT_EQ(service.register_instrument_with_id(instrument("W"), InstrumentId{0}, std::nullopt),
            RegisterWithIdStatus::IdTaken);
  // A failed registration leaves the counter alone.
  EXPECT_EQ(service.register_instrument(instrument("V"), std::nullopt), InstrumentId{3});
  EXPECT_EQ(service.resolve_instrument_id(instrument("X")), InstrumentId{1});
  EXPECT_EQ(service.resolve_instrument_id("Z", "USD"), InstrumentId{2});
  EXPECT_EQ(service.resolve_instrument_id("Z", "EUR"), std::nullopt);
  EXPECT_EQ(service.resolve_instrument_id("ZU", "SD"), std::nullopt);
  EXPECT_EQ(service.instrument_count(), 4u);
}

TEST(MarketDataService, ManyInstrumentsStayReachable) {
  MarketDataService service(QuoteTtl::infinite(), SyncMode::None);
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back(std::string("ASSET-").append(std::to_string(i)).append(std::size_t(i % 40), 'x'));
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(service.register_instrument(instrument(names[i].c_str()), std::nullopt), InstrumentId{std::uint64_t(i)});
    ASSERT_EQ(service.push(InstrumentId{std::uint64_t(i)}, quote(i), PushMode::Replace), PushStatus::Ok);
  }
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(service.resolve_instrument_id(names[i], "USD"), InstrumentId{std::uint64_t(i)});
    const QuoteLookup found = service.resolve_quote(InstrumentId{std::uint64_t(i)}, kAlice, std::nullopt);
    ASSERT_EQ(found.status, LookupStatus::Found);
    ASSERT_EQ(found.quote, quote(i));
  }
}

TEST(MarketDataService, TheGroupIsNeededOnlyWhenTheWalkReachesIt) {
  MarketDataService service(QuoteTtl::infinite(), SyncMode::Full);
  const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
  const AccountId accounts[] = {kAlice};
  service.push_for(id, quote(1), accounts, {}, PushMode::Replace);
  EXPECT_EQ(service.lookup(id, kBob, QuoteResolution::AccountOnly, GroupHint::unknown()).status,
            LookupStatus::QuoteUnavailable);
  EXPECT_EQ(service.lookup(id, kBob, kAll, GroupHint::unknown()).status, LookupStatus::NeedGroup);
  // An account hit still needs the group for the limit, unless instrument+account sets one.
  EXPECT_EQ(service.lookup(id, kAlice, kAll, GroupHint::unknown()).status, LookupStatus::NeedGroup);
  ASSERT_TRUE(service.set_instrument_account_ttl(id, kAlice, QuoteTtl::infinite()));
  EXPECT_EQ(service.lookup(id, kAlice, kAll, GroupHint::unknown()).status, LookupStatus::Found);
  EXPECT_EQ(service.lookup(InstrumentId{99}, kAlice, kAll, GroupHint::unknown()).status,
            LookupStatus::UnknownInstrument);

  int calls = 0;
  const QuoteLookup result = service.resolve_quote(id, kBob, [&] {
    ++calls;
    return std::optional<AccountGroupId>{kDesk};
  });
  EXPECT_EQ(result.status, LookupStatus::QuoteUnavailable);
  EXPECT_EQ(calls, 1);
}

// The limit that applies at each step of a set / clear chain over the eight
// levels, probed with ages just below and at the limit.
TEST(MarketDataService, StalenessChainAcrossEveryLevel) {
  QuoteTestClock clock;
  MarketDataService service(within_ns(800), SyncMode::Full);
  const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
  service.push(id, quote(1), PushMode::Replace);

  auto limit_in_force = [&]() -> std::optional<std::uint64_t> {
    // Ages 0..1000 ns: the first stale age is the limit; none means infinite.
    const std::uint64_t base = g_now_ns.load();
    std::optional<std::uint64_t> limit;
    for (std::uint64_t age = 0; age <= 1000 && !limit; ++age) {
      g_now_ns = base + age;
      if (service.resolve_quote(id, kAlice, kDesk).status == LookupStatus::QuoteUnavailable) limit = age;
    }
    g_now_ns = base;
    return limit;
  };
  using L = std::optional<std::uint64_t>;
  EXPECT_EQ(limit_in_force(), L{800});                              // 8: builder default
  service.set_instrument_ttl(id, within_ns(700));
  EXPECT_EQ(limit_in_force(), L{700});                              // 7: instrument
  service.set_group_ttl(kDefaultGroup, within_ns(600));
  EXPECT_EQ(limit_in_force(), L{600});                              // 6: service default group
  service.set_group_ttl(kDesk, within_ns(500));
  EXPECT_EQ(limit_in_force(), L{500});                              // 5: service group
  service.set_account_ttl(kAlice, within_ns(400));
  EXPECT_EQ(limit_in_force(), L{400});                              // 4: service account
  service.set_instrument_group_ttl(id, kDefaultGroup, within_ns(300));
  EXPECT_EQ(limit_in_force(), L{300});                              // 3: instrument default group
  service.set_instrument_group_ttl(id, kDesk, within_ns(200));
  EXPECT_EQ(limit_in_force(), L{200});                              // 2: instrument + group
  service.set_instrument_account_ttl(id, kAlice, QuoteTtl::infinite());
  EXPECT_EQ(limit_in_force(), L{});                                 // 1: instrument + account
  service.clear_instrument_account_ttl(id, kAlice);
  EXPECT_EQ(limit_in_force(), L{200});
  service.clear_instrument_group_ttl(id, kDesk);
  EXPECT_EQ(limit_in_force(), L{300});
  service.clear_instrument_group_ttl(id, kDefaultGroup);
  EXPECT_EQ(limit_in_force(), L{400});
  service.clear_account_ttl(kAlice);
  EXPECT_EQ(limit_in_force(), L{500});
  service.clear_group_ttl(kDesk);
  EXPECT_EQ(limit_in_force(), L{600});
  service.clear_group_ttl(kDefaultGroup);
  EXPECT_EQ(limit_in_force(), L{700});
  service.set_instrument_ttl(id, std::nullopt);
  EXPECT_EQ(limit_in_force(), L{800});
  service.set_account_ttl(kAlice, within_ns(450));                  // set again after a clear
  EXPECT_EQ(limit_in_force(), L{450});
  // Clearing an absent entry is no error; an unknown id is reported.
  service.clear_account_ttl(kBob);
  EXPECT_FALSE(service.set_instrument_ttl(InstrumentId{12345}, std::nullopt));
  EXPECT_FALSE(service.clear_instrument_account_ttl(InstrumentId{12345}, kAlice));
}

// A fresh service whose only override is one account's limit: that account's
// quotes go stale at its limit, everyone else's at the default, in both modes.
TEST(MarketDataService, AnAccountLimitAloneIsInForce) {
  QuoteTestClock clock;
  for (SyncMode mode : {SyncMode::None, SyncMode::Full}) {
    MarketDataService service(within_ns(800), mode);
    const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
    service.set_account_ttl(kAlice, within_ns(400));
    service.push(id, quote(1), PushMode::Replace);
    clock.advance_ns(400);
    EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).status, LookupStatus::QuoteUnavailable);
    EXPECT_EQ(service.resolve_quote(id, kBob, std::nullopt).status, LookupStatus::Found);
    clock.advance_ns(399);
    EXPECT_EQ(service.resolve_quote(id, kBob, std::nullopt).status, LookupStatus::Found);
    clock.advance_ns(1);
    EXPECT_EQ(service.resolve_quote(id, kBob, std::nullopt).status, LookupStatus::QuoteUnavailable);
  }
}

TEST(MarketDataService, AZeroLimitIsAlwaysStaleAndAPushFromTheFutureHasAgeZero) {
  QuoteTestClock clock;
  MarketDataService service(within_ns(0), SyncMode::Full);
  const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
  service.push(id, quote(1), PushMode::Replace);
  EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).status, LookupStatus::QuoteUnavailable);
  service.set_instrument_ttl(id, within_ns(10));
  clock.advance_ns(5'000'000'000);
  service.push(id, quote(2), PushMode::Replace);
  clock.advance_ns(-3'000'000'000);  // the clock reads earlier than the push
  const QuoteLookup result = service.resolve_quote(id, kAlice, std::nullopt);
  EXPECT_EQ(result.status, LookupStatus::Found);
  EXPECT_EQ(result.quote, quote(2));
}

TEST(MarketDataService, HugeLimitsNeverGoStale) {
  QuoteTestClock clock;
  g_now_ns = std::numeric_limits<std::uint64_t>::max() - 1;
  MarketDataService service(QuoteTtl::within({86'399'999'999'999, 999'999'000}), SyncMode::None);
  const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
  g_now_ns = 0;
  service.push(id, quote(1), PushMode::Replace);
  g_now_ns = std::numeric_limits<std::uint64_t>::max() - 1;
  EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).status, LookupStatus::Found);
}

TEST(MarketDataService, PushesReplaceAndPatchesMergeWithAFreshTime) {
  QuoteTestClock clock;
  MarketDataService service(within_ns(100), SyncMode::Full);
  const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
  service.push(id, quote(10, 9, 11), PushMode::Replace);
  clock.advance_ns(90);
  service.push(id, quote(std::nullopt, 8), PushMode::Patch);
  clock.advance_ns(90);  // 180 after the first push, 90 after the patch
  QuoteLookup result = service.resolve_quote(id, kAlice, std::nullopt);
  ASSERT_EQ(result.status, LookupStatus::Found);
  EXPECT_EQ(result.quote, quote(10, 8, 11));
  service.push(id, quote(std::nullopt, 7), PushMode::Replace);
  EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).quote, quote(std::nullopt, 7));
  // A patch of an empty bucket stores just the patch.
  const AccountId accounts[] = {kAlice, kAlice};
  EXPECT_EQ(service.push_for(id, quote(5), accounts, {}, PushMode::Patch), PushStatus::Ok);
  EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).quote, quote(5));
  EXPECT_EQ(service.push_for(InstrumentId{77}, quote(5), {}, {}, PushMode::Replace), PushStatus::NoTargets);
  EXPECT_EQ(service.push_for(InstrumentId{77}, quote(5), accounts, {}, PushMode::Replace),
            PushStatus::UnknownInstrument);
  EXPECT_EQ(service.push(InstrumentId{77}, quote(5), PushMode::Replace), PushStatus::UnknownInstrument);
  service.clear(id);
  EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).status, LookupStatus::QuoteUnavailable);
  service.clear(InstrumentId{12345});
  // push_by_instrument registers once and reuses the id.
  const InstrumentId eth = service.push_by_instrument(instrument("ETH"), quote(4), PushMode::Replace);
  EXPECT_EQ(eth, InstrumentId{1});
  EXPECT_EQ(service.push_by_instrument(instrument("ETH"), quote(5), PushMode::Patch), eth);
  EXPECT_EQ(service.resolve_quote(eth, kBob, std::nullopt).quote, quote(5));
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

// The default bucket lives in the instrument's slot, other buckets beside it:
// each is written, patched and cleared on its own, and a cleared default bucket
// patched again holds just the patch.
TEST(MarketDataService, TheDefaultBucketAndGroupBucketsAreKeptApart) {
  MarketDataService service(QuoteTtl::infinite(), SyncMode::None);
  const InstrumentId id = *service.register_instrument(instrument("BTC"), std::nullopt);
  const AccountGroupId groups[] = {kDefaultGroup, kDesk};
  EXPECT_EQ(service.push_for(id, quote(10, 9), {}, groups, PushMode::Patch), PushStatus::Ok);
  service.push(id, quote(std::nullopt, std::nullopt, 12), PushMode::Patch);
  EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).quote, quote(10, 9, 12));
  EXPECT_EQ(service.resolve_quote(id, kAlice, kDefaultGroup).quote, quote(10, 9, 12));
  EXPECT_EQ(service.resolve_quote(id, kAlice, kDesk).quote, quote(10, 9));
  EXPECT_EQ(service.lookup(id, kAlice, QuoteResolution::AccountThenGroup, GroupHint::of(AccountGroupId{9})).status,
            LookupStatus::QuoteUnavailable);
  service.clear(id);
  service.push(id, quote(std::nullopt, 3), PushMode::Patch);
  EXPECT_EQ(service.resolve_quote(id, kAlice, std::nullopt).quote, quote(std::nullopt, 3));
  EXPECT_EQ(service.resolve_quote(id, kAlice, kDesk).quote, quote(std::nullopt, 3)) << "the desk bucket was cleared too";

  // Found by names in one walk: the same id and quote as the two-step reads.
  auto no_group = []() -> std::optional<AccountGroupId> { return std::nullopt; };
  const auto both = service.resolve_instrument_quote(instrument("BTC"), kAlice, no_group);
  EXPECT_EQ(both.id, service.resolve_instrument_id(instrument("BTC")));
  EXPECT_EQ(both.lookup.quote, quote(std::nullopt, 3));
  const auto unknown = service.resolve_instrument_quote(instrument("ETH"), kAlice, no_group);
  EXPECT_FALSE(unknown.id);
  EXPECT_EQ(unknown.lookup.status, LookupStatus::UnknownInstrument);
}

TEST(InstrumentOverride, CascadeTakesTheFirstLevelSetAndResolvesTheGroupOnlyWhenNeeded) {
  InstrumentOverrides<int> overrides;
  overrides.default_value = 4;
  const InstrumentId btc{1}, eth{2};
  const AccountId alice{7}, bob{8};
  const AccountGroupId desk{3};
  overrides.by_instrument[btc.value] = 3;
  overrides.by_group[{btc.value, desk.value}] = 2;
  overrides.by_account[{btc.value, alice.value}] = 1;
  int group_reads = 0;
  auto in_desk = [&] {
    ++group_reads;
    return std::optional<AccountGroupId>{desk};
  };
  auto no_group = [&] {
    ++group_reads;
    return std::optional<AccountGroupId>{};
  };
  EXPECT_EQ(lookup_instrument_override(overrides, btc, alice, in_desk), 1);
  EXPECT_EQ(group_reads, 0);
  EXPECT_EQ(lookup_instrument_override(overrides, btc, bob, in_desk), 2);
  EXPECT_EQ(lookup_instrument_override(overrides, btc, bob, no_group), 3);
  EXPECT_EQ(lookup_instrument_override(overrides, eth, alice, in_desk), 4);
  // The account level is keyed by the instrument too.
  overrides.by_account[{eth.value, bob.value}] = 5;
  EXPECT_EQ(lookup_instrument_override(overrides, btc, bob, no_group), 3);
  EXPECT_EQ(lookup_instrument_override(overrides, eth, bob, no_group), 5);
  EXPECT_EQ(group_reads, 4);
}

}  // namespace
}  // namespace vantrel
