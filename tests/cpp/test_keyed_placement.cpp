// Every real table keyed by host input places it under a key of the process's own: keys chosen
// against the hash a table once used (or any fixed hash) cost what random keys cost, counted in
// cells or slots read, and every key is still found.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "chosen_names.hpp"
#include "limit_policy_util.hpp"
#include "old_mixer.hpp"
#include "vantrel/core/int_map.hpp"
#include "vantrel/core/name_hash.hpp"
#include "vantrel/core/placement.hpp"
#include "vantrel/marketdata/instrument_index.hpp"
#include "vantrel/param/sip_hash.hpp"
#include "vantrel/pretrade/policies/frozen_map.hpp"
#include "vantrel/pretrade/policies/holdings_state.hpp"
#include "vantrel/pretrade/policies/limit_keys.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"

namespace vantrel {
namespace {

using limit_test::dec;
using old_mixer::unmix;

// Per set: the first half present, the second absent. Tables of 2,000 entries are a little over
// half full, where the mean cost of random keys varies by about 5 % from set to set: over a
// million pairs of random sets, the larger cost was never 1.5 times the smaller.
constexpr std::size_t kKeys = 4000;

double mean(std::size_t total, std::size_t count) { return static_cast<double>(total) / static_cast<double>(count); }

// Ids whose hash under the old unkeyed placement is k << 16 for k = 1, 2, ...: the same high
// bits (the home cell of every table placed by them) and the same low bits (the shard of every
// split table). `asset` is the asset number the old pair hash, mix_hash(account ^ asset << 40),
// took in; 0 for keys that are ids alone.
std::vector<std::uint64_t> chosen_ids(std::uint64_t asset = 0) {
  std::vector<std::uint64_t> ids;
  for (std::uint64_t k = 1; ids.size() < kKeys; ++k) ids.push_back(unmix(k << 16) ^ (asset << 40));
  return ids;
}
std::vector<std::uint64_t> random_ids(std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::uint64_t> ids(kKeys);
  for (auto& id : ids) id = random() | 1;
  return ids;
}

TEST(KeyedPlacement, TheChosenIdsShareTheOldHashesBits) {
  for (const std::uint64_t asset : {0, 1}) {
    const std::vector<std::uint64_t> ids = chosen_ids(asset);
    for (std::size_t i = 0; i < ids.size(); ++i) ASSERT_EQ(mix_hash(ids[i] ^ (asset << 40)), (i + 1) << 16);
  }
}

// Runs `cost(ids)` on random ids and on ids chosen with `asset`: chosen at most twice random.
template <class Cost>
void expect_chosen_cost_what_random_cost(const char* table, Cost&& cost, double most_random, std::uint64_t asset = 0) {
  const double random = cost(random_ids(11));
  const double chosen = cost(chosen_ids(asset));
  EXPECT_LT(random, most_random) << table;
  EXPECT_LE(chosen, 2 * random) << table << ": random " << random << ", chosen " << chosen;
}

// Market data's maps by account id.
TEST(KeyedPlacement, IntMapCellsCostWhatRandomIdsCost) {
  expect_chosen_cost_what_random_cost("IntMap", [](const std::vector<std::uint64_t>& ids) {
    IntMap<std::uint64_t, std::uint64_t> map;
    for (std::size_t i = 0; i < kKeys / 2; ++i) map.try_emplace(ids[i], i);
    std::size_t cells = 0;
    for (std::size_t i = 0; i < kKeys; ++i) {
      const std::uint64_t* found = map.find(ids[i]);
      EXPECT_EQ(found != nullptr, i < kKeys / 2);
      if (found != nullptr) {
        EXPECT_EQ(*found, i);
      }
      cells += map.cells_read(ids[i]);
    }
    return mean(cells, kKeys);
  }, 8.0);
}

// The P&L kill switch's cells of account barriers, keyed by (account, asset number).
TEST(KeyedPlacement, PnlCellsCostWhatRandomKeysCost) {
  expect_chosen_cost_what_random_cost("P&L cells", [](const std::vector<std::uint64_t>& ids) {
    PnlKillSwitchConfig config;
    for (std::size_t i = 0; i < kKeys / 2; ++i)
      config.account_barriers.push_back({ids[i], "USD", Decimal::from_u64(i), {dec("-1"), std::nullopt}});
    const PnlBoundsKillSwitchPolicy policy(config, SyncMode::Full);
    std::size_t cells = 0;
    for (std::size_t i = 0; i < kKeys; ++i) {
      const std::optional<Decimal> pnl = policy.running_pnl(ids[i], "USD");
      EXPECT_EQ(pnl.has_value(), i < kKeys / 2);
      if (pnl) {
        EXPECT_EQ(*pnl, Decimal::from_u64(i));
      }
      cells += LimitPolicyProbe::cells_read(policy, ids[i], "USD");
    }
    return mean(cells, kKeys);
  }, 8.0, /*asset=*/1);
}

// The size limit's (account, asset) limits, a configured map keyed by the account and the name's
// keyed hash.
TEST(KeyedPlacement, SizeLimitKeysCostWhatRandomKeysCost) {
  expect_chosen_cost_what_random_cost("size limits", [](const std::vector<std::uint64_t>& ids) {
    OrderSizeLimitConfig config;
    for (std::size_t i = 0; i < kKeys / 2; ++i)
      config.account_asset_barriers.push_back({OrderSizeLimit{Quantity{dec("0.5")}, Volume{dec("100")}}, ids[i], "USD"});
    const OrderSizeLimitPolicy policy(config);
    std::size_t slots = 0;
    for (std::size_t i = 0; i < kKeys; ++i) {
      slots += LimitPolicyProbe::slots_read(policy, ids[i], "USD");
      if (i % 97 == 0) EXPECT_EQ(policy.check_start(limit_test::order_for(ids[i])).has_value(), i < kKeys / 2) << i;
    }
    return mean(slots, kKeys);
  }, 4.0);
}

// The rate limit's logs: by account, and by (account, asset number).
TEST(KeyedPlacement, RateLimitLogsCostWhatRandomKeysCost) {
  const RateBarrier one_order{1, 3'600'000'000'000};
  const auto build = [&](const std::vector<std::uint64_t>& ids) {
    RateLimitConfig config;
    for (std::size_t i = 0; i < kKeys / 2; ++i) {
      config.account_barriers.push_back({ids[i], one_order});
      config.account_asset_barriers.push_back({ids[i], "USD", one_order});
    }
    return RateLimitPolicy(config, limit_test::at_ms(0), SyncMode::Full);
  };
  expect_chosen_cost_what_random_cost("account logs", [&](const std::vector<std::uint64_t>& ids) {
    const RateLimitPolicy policy = build(ids);
    std::size_t cells = 0;
    for (std::size_t i = 0; i < kKeys; ++i) cells += LimitPolicyProbe::account_cells_read(policy, ids[i]);
    // Found: an account's second order is over its barrier; an account without one never is.
    for (std::size_t i = 0; i < kKeys; i += 97) {
      EXPECT_FALSE(policy.check_start(limit_test::order_for(ids[i], "EUR")));
      EXPECT_EQ(policy.check_start(limit_test::order_for(ids[i], "EUR")).has_value(), i < kKeys / 2) << i;
    }
    return mean(cells, kKeys);
  }, 8.0);
  expect_chosen_cost_what_random_cost("account+asset logs", [&](const std::vector<std::uint64_t>& ids) {
    const RateLimitPolicy policy = build(ids);
    std::size_t cells = 0;
    for (std::size_t i = 0; i < kKeys; ++i) cells += LimitPolicyProbe::account_asset_cells_read(policy, ids[i], "USD");
    return mean(cells, kKeys);
  }, 8.0, /*asset=*/1);
}

// Funds slots: each key's shard, and the cells a lookup reads in it.
TEST(KeyedPlacement, FundsSlotsSpreadOverTheShardsAsRandomKeysDo) {
  for (const bool chosen : {false, true}) {
    HoldingsState state(SyncMode::Full);
    const std::string* usd = state.assets().intern("USD");
    ASSERT_EQ(AssetNames::number(usd), 1u);
    const std::vector<std::uint64_t> ids = chosen ? chosen_ids(1) : random_ids(12);
    for (std::size_t i = 0; i < kKeys / 2; ++i)
      state.change({AccountId{ids[i]}, usd}, [&](const Holdings&, Holdings& next) {
        next.available = Decimal::from_u64(i + 1);
        return true;
      });
    std::size_t cells = 0;
    for (std::size_t i = 0; i < kKeys; ++i) {
      const std::optional<Holdings> slot = state.read({AccountId{ids[i]}, usd});
      EXPECT_EQ(slot.has_value(), i < kKeys / 2);
      if (slot) {
        EXPECT_EQ(slot->available, Decimal::from_u64(i + 1));
      }
      cells += state.cells_read({AccountId{ids[i]}, usd});
    }
    EXPECT_LT(mean(cells, kKeys), 8.0) << "chosen " << chosen;
    // 2,000 keys over 16 shards: 125 each, a binomial deviation of 11; a shard holding fewer
    // than 40 or more than 250 is more than seven deviations out.
    const std::vector<std::size_t> per_shard = state.slots_per_shard();
    ASSERT_EQ(per_shard.size(), 16u);
    for (std::size_t n : per_shard) {
      EXPECT_GT(n, 40u) << "chosen " << chosen;
      EXPECT_LT(n, 250u) << "chosen " << chosen;
    }
  }
}

// The standard containers keyed by ids and pairs of ids (account groups, blocks, configured
// funds adjustments, instrument overrides): the mean count of keys in a looked-up key's bucket.
template <class Map, class Key>
double bucket_cost(const std::vector<Key>& keys) {
  Map map;
  for (std::size_t i = 0; i < keys.size() / 2; ++i) map.emplace(keys[i], i);
  std::size_t read = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto it = map.find(keys[i]);
    EXPECT_EQ(it != map.end(), i < keys.size() / 2);
    if (it != map.end()) {
      EXPECT_EQ(it->second, i);
    }
    read += map.bucket_size(map.bucket(keys[i]));
  }
  return mean(read, keys.size());
}

TEST(KeyedPlacement, IdBucketsCostWhatRandomIdsCost) {
  using ById = std::unordered_map<std::uint64_t, std::size_t, KeyedIdHash>;
  expect_chosen_cost_what_random_cost("ids", [](const std::vector<std::uint64_t>& ids) {
    return bucket_cost<ById>(ids);
  }, 3.0);
  // Pairs sharing one part, either one.
  using ByPair = std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, std::size_t, KeyedIdPairHash>;
  const std::vector<std::uint64_t> random = random_ids(13), chosen = chosen_ids();
  std::vector<std::pair<std::uint64_t, std::uint64_t>> random_pairs, one_instrument, one_account;
  for (std::size_t i = 0; i < kKeys; ++i) {
    random_pairs.push_back({random[i], random[kKeys - 1 - i]});
    one_instrument.push_back({42, chosen[i]});
    one_account.push_back({chosen[i], 42});
  }
  const double base = bucket_cost<ByPair>(random_pairs);
  EXPECT_LT(base, 3.0);
  EXPECT_LE(bucket_cost<ByPair>(one_instrument), 2 * base);
  EXPECT_LE(bucket_cost<ByPair>(one_account), 2 * base);
}

// The limit policies' configured maps and their builders. The old hash of an (account, asset)
// key was mix(account ^ fnv1a(asset)): (C ^ fnv1a(a_i), a_i) over distinct assets all shared it.
TEST(KeyedPlacement, LimitKeysSharingTheOldHashCostWhatRandomKeysCost) {
  constexpr std::uint64_t kShared = 0x5EED;
  const auto cost = [&](bool chosen) {
    std::mt19937_64 random(14);
    FrozenMapBuilder<AccountAssetKey, std::size_t, LimitKeyHash, LimitKeyEqual> builder;
    std::vector<AccountAssetKey> keys;
    for (std::size_t i = 0; i < kKeys; ++i) {
      char text[16];
      std::string asset(text, static_cast<std::size_t>(std::snprintf(text, sizeof text, "A%zu", i)));
      const std::uint64_t account = chosen ? kShared ^ fnv1a_64(asset) : random();
      keys.push_back({account, std::move(asset)});
      if (chosen) {
        EXPECT_EQ(keys.back().account_id ^ fnv1a_64(keys.back().asset), kShared);
      }
      if (i < kKeys / 2) builder.put(keys.back(), i + 1);
    }
    for (std::size_t i = 0; i < kKeys / 2; i += 2) builder.put(keys[i], i);  // a later value replaces
    const auto map = std::move(builder).freeze();
    EXPECT_EQ(map.size(), kKeys / 2);
    std::size_t slots = 0;
    for (std::size_t i = 0; i < kKeys; ++i) {
      const std::size_t* found = map.find(keys[i].view());
      EXPECT_EQ(found != nullptr, i < kKeys / 2);
      if (found != nullptr) {
        EXPECT_EQ(*found, i % 2 ? i + 1 : i);
      }
      slots += map.slots_read(keys[i].view());
    }
    return mean(slots, kKeys);
  };
  const double random = cost(false), chosen = cost(true);
  EXPECT_LT(random, 4.0);
  EXPECT_LE(chosen, 2 * random) << "random " << random << ", chosen " << chosen;
}

// A lookup's cost counts every slot it compares, not just those up to the first equal hash:
// with every key sharing one hash, the i-th key placed is found at the i-th slot of one run.
TEST(KeyedPlacement, FrozenMapSlotsReadCountEverySlotCompared) {
  struct OneHash {
    std::uint64_t operator()(std::uint64_t) const noexcept { return 7; }
  };
  std::vector<std::pair<std::uint64_t, int>> entries;
  for (int i = 0; i < 100; ++i) entries.push_back({1000 + i, i});
  const FrozenMap<std::uint64_t, int, OneHash, std::equal_to<>> map(std::move(entries));
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(*map.find(std::uint64_t(1000 + i)), i);
    EXPECT_EQ(map.slots_read(std::uint64_t(1000 + i)), static_cast<std::size_t>(i + 1));
  }
  EXPECT_EQ(map.slots_read(std::uint64_t{5}), 101u) << "a miss reads the run and the free slot after it";
  EXPECT_FALSE(map.find(std::uint64_t{5}));
}

// The old name hash chained fold((h ^ word) * C) over 8-byte words from a fixed start, so a
// second word equal to the state after the first zeroed it: every such 16-byte underlying with
// one settlement asset had one hash. Each takes a few thousand tries of a printable first word.
constexpr std::uint64_t kOldStart = 0x243F6A8885A308D3ull;
std::uint64_t old_mix(std::uint64_t h, std::uint64_t word) {
  const unsigned __int128 product = static_cast<unsigned __int128>(h ^ word) * 0x9E3779B97F4A7C15ull;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}
std::uint64_t old_name_hash(std::string_view underlying, std::string_view settlement) {
  // The names here are 16 and 3 bytes long.
  std::uint64_t w0, w1;
  std::memcpy(&w0, underlying.data(), 8);
  std::memcpy(&w1, underlying.data() + 8, 8);
  const std::uint64_t h = old_mix(old_mix(old_mix(kOldStart, w0), w1), std::uint64_t{16} << 56);
  const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(settlement[i])); };
  return old_mix(h, ((byte(0) << 16) | (byte(1) << 8) | byte(2)) ^ (std::uint64_t{3} << 56));
}
bool printable(std::uint64_t word) {
  for (int i = 0; i < 8; ++i, word >>= 8)
    if ((word & 0xFF) < 0x21 || (word & 0xFF) > 0x7E) return false;
  return true;
}
std::vector<std::string> names_zeroing_the_old_hash(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::string> names;
  while (names.size() < count) {
    std::uint64_t first = 0;
    for (int i = 0; i < 8; ++i) first |= (0x21 + random() % 94) << (8 * i);
    const std::uint64_t second = old_mix(kOldStart, first);
    if (!printable(second)) continue;
    std::string name(16, '\0');
    std::memcpy(name.data(), &first, 8);
    std::memcpy(name.data() + 8, &second, 8);
    names.push_back(std::move(name));
  }
  return names;
}
std::vector<std::string> random_names(std::size_t count, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::vector<std::string> names(count, std::string(16, ' '));
  for (std::string& name : names)
    for (char& c : name) c = static_cast<char>(0x21 + random() % 94);
  return names;
}

TEST(KeyedPlacement, InstrumentNamesSharingTheOldHashCostWhatRandomNamesCost) {
  // 1,200 registered: the table has just grown, half full, where the cost varies least.
  constexpr std::size_t kNames = 2400;
  using NamePairs = std::vector<std::pair<std::string, std::string>>;  // (underlying, settlement)
  const auto cost = [](const NamePairs& names) {
    std::deque<IndexedInstrument> registered;
    InstrumentIndex index;
    for (std::size_t i = 0; i < names.size() / 2; ++i) {
      registered.push_back(
          {Instrument{*Asset::from_text(names[i].first), *Asset::from_text(names[i].second)}, InstrumentId{i + 1}});
      index.reserve_one();
      index.insert(registered.back());
    }
    std::size_t cells = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
      const IndexedInstrument* found = index.find(names[i].first, names[i].second);
      EXPECT_EQ(found != nullptr, i < names.size() / 2);
      if (found != nullptr) {
        EXPECT_EQ(found->id.value, i + 1);
      }
      EXPECT_FALSE(index.find(names[i].second, names[i].first)) << "the two names in the other roles";
      cells += index.cells_read(names[i].first, names[i].second);
    }
    return mean(cells, names.size());
  };
  const std::vector<std::string> zeroing = names_zeroing_the_old_hash(kNames, 15);
  const std::set<std::string> distinct(zeroing.begin(), zeroing.end());
  ASSERT_EQ(distinct.size(), kNames);
  for (const std::string& name : zeroing) ASSERT_EQ(old_name_hash(name, "USD"), old_name_hash(zeroing[0], "USD"));
  const std::vector<std::string> random_underlyings = random_names(kNames, 16), random_settlements = random_names(kNames, 17);
  // Short names chosen against the short-name word, as underlying and as settlement.
  const std::vector<std::string> nul_padded = chosen_names::against_the_short_word(true, kNames),
                                 seven_shared = chosen_names::against_the_short_word(false, kNames);
  NamePairs random, chosen, one_underlying, one_settlement, one_text_split, padded_underlying, padded_settlement,
      shared_underlying, shared_settlement;
  for (std::size_t i = 0; i < kNames; ++i) {
    random.push_back({random_underlyings[i], random_settlements[i]});
    chosen.push_back({zeroing[i], "USD"});
    one_underlying.push_back({"BTC", random_settlements[i]});
    one_settlement.push_back({random_underlyings[i], "USD"});
    // Groups of 63 pairs whose two names make up one 64-byte text, cut in each place.
    const std::string text = random_underlyings[i / 63 * 4] + random_underlyings[i / 63 * 4 + 1] +
                             random_underlyings[i / 63 * 4 + 2] + random_underlyings[i / 63 * 4 + 3];
    one_text_split.push_back({text.substr(0, 1 + i % 63), text.substr(1 + i % 63)});
    padded_underlying.push_back({nul_padded[i], "USD"});
    padded_settlement.push_back({"BTC", nul_padded[i]});
    shared_underlying.push_back({seven_shared[i], "USD"});
    shared_settlement.push_back({"BTC", seven_shared[i]});
  }
  const double base = cost(random);
  EXPECT_LT(base, 8.0);
  for (const NamePairs* names : {&chosen, &one_underlying, &one_settlement, &one_text_split, &padded_underlying,
                                 &padded_settlement, &shared_underlying, &shared_settlement}) {
    const double c = cost(*names);
    EXPECT_LE(c, 2 * base) << "random " << base << ", these " << c << " (" << (*names)[0].first << ", "
                           << (*names)[0].second << ")";
  }
}

// Second line: 1,000 names chosen with the names' keys known (they leaked), all sharing the top
// 12 bits of their hash, so a table placed by that hash alone would hold them in one run: names
// of at most 8 bytes (the short-name word) and longer ones (SipHash). The index places the hash
// under a key of its table's own, which the table renews when a run passes its bound: no lookup,
// of a name present or absent, reads past that bound.
TEST(KeyedPlacement, InstrumentNamesChosenWithTheNamesKeysKnownStayWithinTheRunBound) {
  const PlacementKey &words = placement_secret(SecretUse::instrument_words),
                     &pairs = placement_secret(SecretUse::instrument_pairs),
                     &long_names = placement_secret(SecretUse::instrument_names);
  const auto name_hash = [&](std::string_view name) {
    return keyed_name_hash(name, words, SipKey{long_names.k0, long_names.k1});
  };
  const auto names_hash = [&](const std::string& underlying) {  // as the index hashes (underlying, "USD")
    return placement_hash(name_hash(underlying), name_hash("USD"), pairs);
  };
  for (const char* prefix : {"U", "Underlying-"}) {
    std::vector<std::string> chosen;  // 1,000 registered, then 100 absent
    for (std::uint64_t n = 0; chosen.size() < 1100; ++n) {
      std::string name = prefix + std::to_string(n);
      if (names_hash(name) >> 52 == 0xABC) chosen.push_back(std::move(name));
    }
    ASSERT_EQ(chosen.back().size() <= 8, prefix == std::string("U")) << chosen.back();
    std::deque<IndexedInstrument> registered;
    InstrumentIndex index;
    for (std::size_t i = 0; i < 1000; ++i) {
      registered.push_back({limit_test::instrument("USD", chosen[i]), InstrumentId{i + 1}});
      index.reserve_one();
      index.insert(registered.back());
    }
    // The run bound: 32 cells per bit of the capacity (cells of 16 bytes), one more for a miss.
    const std::size_t bound = 32 * static_cast<std::size_t>(std::bit_width(index.allocated_bytes() / 16)) + 1;
    EXPECT_LE(bound, 385u);
    std::size_t longest = 0;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      const IndexedInstrument* found = index.find(chosen[i], "USD");
      ASSERT_EQ(found != nullptr ? found->id.value : 0, i < 1000 ? i + 1 : 0) << chosen[i];
      longest = std::max(longest, index.cells_read(chosen[i], "USD"));
    }
    EXPECT_LE(longest, bound) << prefix;
  }
}

// Each use has a key of its own, fixed for the process; the random source refuses what is not
// a character device.
TEST(KeyedPlacement, EachUseHasAKeyOfItsOwn) {
  std::set<std::pair<std::uint64_t, std::uint64_t>> keys;
  for (std::uint64_t use = 1; use <= kSecretUses; ++use) {
    const PlacementKey& key = placement_secret(static_cast<SecretUse>(use));
    EXPECT_EQ(&key, &placement_secret(static_cast<SecretUse>(use)));
    EXPECT_FALSE(key.k0 == 0 && key.k1 == 0) << use;
    keys.insert({key.k0, key.k1});
  }
  EXPECT_EQ(keys.size(), kSecretUses);
  EXPECT_EQ(&placement_secret(), &placement_secret(SecretUse::table_cells));
  EXPECT_EQ(KeyedIdHash{}.key.k0, placement_secret(SecretUse::hash_buckets).k0);
  EXPECT_EQ(KeyedIdPairHash{}.key.k1, placement_secret(SecretUse::hash_buckets).k1);
}

TEST(KeyedPlacement, TheRandomDeviceMustBeACharacterDevice) {
  std::uint64_t words[4] = {};
  EXPECT_TRUE(placement_detail::read_random_device(words, sizeof words, "/dev/urandom"));
  EXPECT_FALSE(words[0] == 0 && words[1] == 0 && words[2] == 0 && words[3] == 0);
  EXPECT_FALSE(placement_detail::read_random_device(words, sizeof words, "/"));
  EXPECT_FALSE(placement_detail::read_random_device(words, sizeof words, "/proc/self/cmdline"));
  EXPECT_FALSE(placement_detail::read_random_device(words, sizeof words, "/nonexistent/urandom"));
  EXPECT_FALSE(placement_detail::read_random_device(words, sizeof words, "/dev/null")) << "gives no bytes";
  std::uint64_t drawn[4] = {};
  EXPECT_TRUE(placement_detail::system_random(drawn, sizeof drawn));
  EXPECT_NE(std::memcmp(words, drawn, sizeof drawn), 0);
}

// A message hashed in pieces hashes as the whole: every split of every length up to 40 bytes.
TEST(KeyedPlacement, SipStreamHashesPiecesAsTheirConcatenation) {
  const SipKey key{0x0706050403020100ull, 0x0F0E0D0C0B0A0908ull};
  std::string message;
  for (int i = 0; i < 40; ++i) message.push_back(static_cast<char>(i * 37 + 1));
  for (std::size_t n = 0; n <= message.size(); ++n) {
    const std::string_view whole(message.data(), n);
    for (std::size_t a = 0; a <= n; ++a)
      for (std::size_t b = a; b <= n; b += 3)
        ASSERT_EQ(SipStream(key).add_bytes(whole.substr(0, a)).add_bytes(whole.substr(a, b - a)).add_bytes(whole.substr(b)).finish(),
                  sip_hash13(key, whole))
            << n << " " << a << " " << b;
    std::uint64_t word;
    if (n >= 8) {
      std::memcpy(&word, message.data() + (n - 8), 8);
      ASSERT_EQ(SipStream(key).add_bytes(whole.substr(0, n - 8)).add_word(word).finish(), sip_hash13(key, whole)) << n;
    }
  }
}

}  // namespace
}  // namespace vantrel
