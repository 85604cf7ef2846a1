#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <unordered_map>

#include "vantrel/core/flat_table.hpp"

namespace vantrel {
namespace {

// An entry with its own key and a payload; id 0 marks a free cell. `collide`
// maps every key to a few hashes, so runs are long and wrap the array.
struct ProbeEntry {
  std::uint64_t id = 0;
  std::uint64_t payload = 0;
};
template <bool Collide>
struct ProbeTraits {
  static std::uint64_t hash(std::uint64_t id, const PlacementKey& k) noexcept {
    return Collide ? placement_hash(id % 3, k) : placement_hash(id, k);
  }
  static bool used(const ProbeEntry& e) noexcept { return e.id != 0; }
  static std::uint64_t hash(const ProbeEntry& e, const PlacementKey& k) noexcept { return hash(e.id, k); }
  static bool matches(const ProbeEntry& e, std::uint64_t id) noexcept { return e.id == id; }
};

template <bool Collide>
void agree_with_reference(std::uint64_t key_space, int steps) {
  FlatTable<ProbeEntry, ProbeTraits<Collide>> table;
  std::unordered_map<std::uint64_t, std::uint64_t> model;
  std::mt19937_64 random(Collide ? 7 : 12345);
  for (int step = 0; step < steps; ++step) {
    const std::uint64_t key = 1 + random() % key_space;
    switch (random() % 4) {
      case 0:
      case 1: {
        ProbeEntry& e = table.find_or_insert(key, [&] { return ProbeEntry{key, 0}; });
        e.payload = key * 3 + static_cast<std::uint64_t>(step);
        model[key] = e.payload;
        break;
      }
      case 2:
        ASSERT_EQ(table.erase(key), model.erase(key) == 1) << "step " << step;
        break;
      default: {
        const ProbeEntry* found = table.find(key);
        const auto it = model.find(key);
        ASSERT_EQ(found != nullptr, it != model.end()) << "step " << step;
        if (found != nullptr) ASSERT_EQ(found->payload, it->second);
      }
    }
    ASSERT_EQ(table.size(), model.size());
    ASSERT_LE(table.size() * 4, table.capacity() * 3) << "never more than three quarters full";
  }
  std::size_t seen = 0;
  table.for_each([&](const ProbeEntry& e) {
    ++seen;
    EXPECT_EQ(model.at(e.id), e.payload);
  });
  EXPECT_EQ(seen, model.size());
  for (const auto& [key, payload] : model) ASSERT_TRUE(table.find(key)) << key;
  table.clear();
  EXPECT_TRUE(table.empty());
  EXPECT_EQ(table.find(std::uint64_t{1}), nullptr);
}

TEST(FlatTable, AgreesWithAReferenceMapUnderRandomInsertsAndErases) { agree_with_reference<false>(600, 200'000); }

TEST(FlatTable, LongCollidingRunsSurviveErasesInTheirMiddle) { agree_with_reference<true>(60, 50'000); }

TEST(FlatTable, IsSizedToWhatItHolds) {
  FlatTable<ProbeEntry, ProbeTraits<false>> table;
  EXPECT_EQ(table.allocated_bytes(), 0u) << "an empty table allocates nothing";
  for (std::uint64_t n : {1u, 3u, 100u, 1000u, 12345u}) {
    FlatTable<ProbeEntry, ProbeTraits<false>> sized;
    sized.reserve_more(n);
    const std::size_t before = sized.capacity();
    for (std::uint64_t k = 1; k <= n; ++k) sized.insert_new(ProbeEntry{k, k});
    EXPECT_EQ(sized.capacity(), before) << "reserved room takes every insert without growing";
    // Three quarters full at most, and no power-of-two rounding: below twice the count (plus the first cells).
    EXPECT_LE(sized.capacity(), 2 * n + 4) << n;
    EXPECT_EQ(sized.allocated_bytes(), sized.capacity() * sizeof(ProbeEntry));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sized.find(std::uint64_t{1})) % sizeof(ProbeEntry), 0u)
        << "cells start on the array's aligned boundary";
  }
}

// Tables of several megabytes take their memory another way (huge pages): growing into that
// size, through it and back out of it (by moving) keeps every entry.
TEST(FlatTable, LargeTablesKeepEveryEntry) {
  FlatTable<ProbeEntry, ProbeTraits<false>> table;
  constexpr std::uint64_t kCount = 800'000;  // about 16 MB of cells at the last growth
  for (std::uint64_t k = 1; k <= kCount; ++k) table.insert_new(ProbeEntry{k, k + 7});
  EXPECT_GE(table.allocated_bytes(), std::size_t{8} << 20);
  for (std::uint64_t k = 1; k <= kCount; k += 997) ASSERT_EQ(table.find(k)->payload, k + 7) << k;
  FlatTable<ProbeEntry, ProbeTraits<false>> small;
  small.insert_new(ProbeEntry{1, 1});
  table = std::move(small);  // the large array is given back
  EXPECT_EQ(table.size(), 1u);
  EXPECT_EQ(table.find(std::uint64_t{2}), nullptr);
}

TEST(FlatTable, MovesItsCellsWithIt) {
  FlatTable<ProbeEntry, ProbeTraits<false>> a;
  for (std::uint64_t k = 1; k <= 50; ++k) a.insert_new(ProbeEntry{k, k * 2});
  FlatTable<ProbeEntry, ProbeTraits<false>> b(std::move(a));
  EXPECT_TRUE(a.empty());
  EXPECT_EQ(a.find(std::uint64_t{7}), nullptr);
  ASSERT_TRUE(b.find(std::uint64_t{7}));
  EXPECT_EQ(b.find(std::uint64_t{7})->payload, 14u);
  a = std::move(b);
  EXPECT_EQ(a.size(), 50u);
  EXPECT_EQ(a.find(std::uint64_t{50})->payload, 100u);
  for (std::uint64_t k = 1; k < 50; ++k) a.erase(k);
  EXPECT_GT(a.allocated_bytes(), 0u);
  EXPECT_TRUE(a.erase(std::uint64_t{50}));
  EXPECT_EQ(a.allocated_bytes(), 0u) << "the last entry erased gives the array back";
  EXPECT_EQ(a.find(std::uint64_t{50}), nullptr);
  a.insert_new(ProbeEntry{9, 9});
  EXPECT_EQ(a.find(std::uint64_t{9})->payload, 9u);
}

}  // namespace
}  // namespace vantrel
