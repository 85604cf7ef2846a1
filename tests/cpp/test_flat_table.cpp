#include <gtest/gtest.h>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "vantrel/core/flat_table.hpp"
#include "vantrel/core/int_map.hpp"

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

// The cells a rebuild gives each home's entries, against placing them one by one by linear
// probing (which fills the same cells, whatever the order): homes spread, crowded at the end of
// the array so that runs wrap past it, or all in a few cells.
TEST(FlatTable, RebuildsPlaceEachHomesEntriesAsLinearProbingWould) {
  std::mt19937_64 random(11);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t capacity = 1 + random() % 200;
    const std::size_t count = random() % capacity;  // at least one cell stays free
    const int shape = round % 4;
    std::vector<std::uint32_t> first(capacity, 0);
    std::vector<std::size_t> homes;
    for (std::size_t k = 0; k < count; ++k) {
      std::size_t h = random() % capacity;
      if (shape == 1) h = capacity - 1 - random() % (1 + capacity / 8);  // near the end
      if (shape == 2) h = (random() % 3) * capacity / 3;                  // three cells
      if (shape == 3 && k % 2 == 0) h = capacity - 1;                     // the last cell, and spread
      homes.push_back(h);
      ++first[h];
    }
    std::vector<bool> probed(capacity, false);
    for (std::size_t h : homes) {
      std::size_t i = h;
      while (probed[i]) i = (i + 1) % capacity;
      probed[i] = true;
    }
    std::size_t expected_longest = 0;
    for (std::size_t start = 0; start < capacity; ++start) {
      std::size_t run = 0;
      while (run < capacity && probed[(start + run) % capacity]) ++run;
      expected_longest = std::max(expected_longest, run);
    }
    const std::size_t longest = flat_table_detail::first_cells(first.data(), capacity);
    ASSERT_EQ(longest, expected_longest) << "round " << round;
    std::vector<bool> placed(capacity, false);
    std::vector<std::size_t> order(homes);
    std::sort(order.begin(), order.end());
    for (std::size_t h : order) {
      const std::size_t at = first[h]++ % capacity;
      ASSERT_FALSE(placed[at]) << "round " << round << ": two entries in cell " << at;
      placed[at] = true;
      for (std::size_t i = h; i != at; i = (i + 1) % capacity) ASSERT_TRUE(probed[i]) << "round " << round;
    }
    ASSERT_EQ(placed, probed) << "round " << round;
  }
}

// Placed by a fixed mix of the key alone, so the sizes a table passes through are the same in
// every run.
struct FixedTraits {
  static std::uint64_t hash(std::uint64_t id, const PlacementKey&) noexcept { return mix_hash(id); }
  static bool used(const ProbeEntry& e) noexcept { return e.id != 0; }
  static std::uint64_t hash(const ProbeEntry& e, const PlacementKey& k) noexcept { return hash(e.id, k); }
  static bool matches(const ProbeEntry& e, std::uint64_t id) noexcept { return e.id == id; }
};

// A table fills to three quarters of its cells, rounded down, and grows at the insert past that.
TEST(FlatTable, GrowsAtTheFirstInsertPastThreeQuartersFull) {
  FlatTable<ProbeEntry, FixedTraits> table;
  std::size_t growths = 0;
  for (std::uint64_t k = 1; k <= 20'000; ++k) {
    const std::size_t before = table.capacity();
    table.insert_new(ProbeEntry{k, k});
    if (table.capacity() == before) continue;
    ++growths;
    ASSERT_EQ(k - 1, before * 3 / 4) << "a table of " << before << " cells grew at entry " << k;
  }
  EXPECT_GE(growths, 15u);
}

// Keys that share one hash under every secret: one run, whatever the table does. Rebuilding
// the array still places each entry once, counting its cells rather than walking the run
// (the count of `used` calls is what a rehash reads).
struct OneHashTraits {
  static inline std::size_t used_calls = 0;
  static bool used(const ProbeEntry& e) noexcept {
    ++used_calls;
    return e.id != 0;
  }
  static std::uint64_t hash(std::uint64_t, const PlacementKey&) noexcept { return 0x5555'5555'5555'5555ull; }
  static std::uint64_t hash(const ProbeEntry&, const PlacementKey&) noexcept { return 0x5555'5555'5555'5555ull; }
  static bool matches(const ProbeEntry& e, std::uint64_t id) noexcept { return e.id == id; }
};

TEST(FlatTable, RehashingIsLinearInTheEntriesHoweverTheirHomesFall) {
  FlatTable<ProbeEntry, OneHashTraits> table;
  constexpr std::uint64_t kCount = 4000;
  table.reserve_more(kCount);
  for (std::uint64_t k = 1; k <= kCount; ++k) table.insert_new(ProbeEntry{k, k});
  const std::size_t before = table.capacity();
  OneHashTraits::used_calls = 0;
  table.reserve_more(table.max_size() / 4 > 4 * before ? 2 * before : 0);  // grows: every entry placed anew
  const std::size_t calls = OneHashTraits::used_calls;
  ASSERT_GT(table.capacity(), before);
  // Placing one by one along the run reads about kCount^2 / 2 = 8,000,000 cells.
  EXPECT_LE(calls, 4 * (before + table.capacity())) << "cells read by one rehash of " << kCount << " colliding entries";
  for (std::uint64_t k = 1; k <= kCount; k += 7) ASSERT_EQ(table.find(k)->payload, k);
  EXPECT_EQ(table.size(), kCount);
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


// A line-sized entry: the policies' slots and cells are 64 bytes, one cache line each.
struct alignas(64) LineEntry {
  std::uint64_t id = 0;
  unsigned char rest[56] = {};
};
struct LineTraits {
  static bool used(const LineEntry& e) noexcept { return e.id != 0; }
  static std::uint64_t hash(std::uint64_t id, const PlacementKey& k) noexcept { return placement_hash(id, k); }
  static std::uint64_t hash(const LineEntry& e, const PlacementKey& k) noexcept { return placement_hash(e.id, k); }
  static bool matches(const LineEntry& e, std::uint64_t id) noexcept { return e.id == id; }
};

TEST(FlatTable, CellsOfLineSizedEntriesStartOnALine) {
  FlatTable<LineEntry, LineTraits> table;
  // Every size the table passes through up to a few thousand, then arrays of megabytes, which come another way.
  for (std::uint64_t id = 1; id <= 140'000; ++id) {
    table.insert_new(LineEntry{id, {}});
    if (id > 3000 && id % 9973 != 0) continue;
    for (std::uint64_t probe : {std::uint64_t{1}, id / 2 + 1, id})
      ASSERT_EQ(reinterpret_cast<std::uintptr_t>(table.find(probe)) % 64, 0u) << "size " << id << ", capacity " << table.capacity();
  }
  EXPECT_GE(table.allocated_bytes(), std::size_t{8} << 20);
}

TEST(FlatTable, ReservingMoreThanATableHoldsThrowsAndChangesNothing) {
  FlatTable<ProbeEntry, ProbeTraits<false>> table;
  for (std::uint64_t k = 1; k <= 10; ++k) table.insert_new(ProbeEntry{k, k});
  const std::size_t capacity = table.capacity();
  // Counts whose cell count or byte count would wrap.
  for (std::size_t extra : {std::numeric_limits<std::size_t>::max(), std::numeric_limits<std::size_t>::max() / 4 + 1,
                            table.max_size() - table.size() + 1})
    EXPECT_THROW(table.reserve_more(extra), std::length_error) << extra;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Within the limit but beyond any memory: what the allocator throws.
  EXPECT_THROW(table.reserve_more(table.max_size() - table.size()), std::bad_alloc);
#endif
  EXPECT_EQ(table.capacity(), capacity);
  EXPECT_EQ(table.size(), 10u);
  for (std::uint64_t k = 1; k <= 10; ++k) ASSERT_EQ(table.find(k)->payload, k);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Arrays of 8 MB and more are mapped on their own, not carved from the allocator's memory (which
// it may hand to other objects while the huge-page advice still covers it); freed, they go back.
TEST(FlatTable, LargeArraysAreMappedOnTheirOwn) {
  const auto heap = [] {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
  };
  const std::size_t before = heap();
  {
    FlatTable<ProbeEntry, ProbeTraits<false>> table;
    table.reserve_more(1'000'000);  // about 21 MB of cells
    ASSERT_GE(table.allocated_bytes(), std::size_t{16} << 20);
    EXPECT_LT(heap(), before + (std::size_t{1} << 20)) << "the cells came from the allocator";
    for (std::uint64_t k = 1; k <= 1000; ++k) table.insert_new(ProbeEntry{k, k});
    EXPECT_EQ(table.find(std::uint64_t{500})->payload, 500u);
  }
  EXPECT_LT(heap(), before + (std::size_t{1} << 20));
}
#endif

#if defined(__linux__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// The address space this process holds, in bytes (read without allocating).
std::size_t mapped_address_space() {
  char text[128] = {};
  const int fd = ::open("/proc/self/statm", O_RDONLY);
  if (fd < 0) return 0;
  const ssize_t got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (got <= 0) return 0;
  return std::strtoull(text, nullptr, 10) * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

constexpr std::size_t kHugePage = std::size_t{2} << 20;

// A mapped array holds exactly the whole huge pages its bytes round up to, on a huge-page
// boundary (what it over-mapped to find one is given back), counts in mapped_table_bytes(), and
// freeing it gives back all of that.
TEST(FlatTable, MappedArraysHoldTheirWholePagesAndGiveThemAllBack) {
  constexpr std::size_t kBytes = 8 * kHugePage + 3 * 4096 + 100;  // rounds up to 9 huge pages
  constexpr std::size_t kHeld = 9 * kHugePage;
  constexpr int kArrays = 6;
  const std::size_t space = mapped_address_space(), counted = mapped_table_bytes();
  ASSERT_GT(space, 0u);
  void* arrays[kArrays] = {};
  bool mapped[kArrays] = {};
  for (int i = 0; i < kArrays; ++i) arrays[i] = allocate_table_cells(kBytes, mapped[i]);
  const std::size_t space_held = mapped_address_space(), counted_held = mapped_table_bytes();
  for (int i = 0; i < kArrays; ++i) {
    ASSERT_TRUE(mapped[i]) << i;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(arrays[i]) % kHugePage, 0u) << i;
    static_cast<unsigned char*>(arrays[i])[kBytes - 1] = 1;  // the last byte is there
  }
  for (int i = 0; i < kArrays; ++i) free_table_cells(arrays[i], kBytes, mapped[i]);
  EXPECT_EQ(space_held - space, kArrays * kHeld) << "address space taken by the arrays";
  EXPECT_EQ(counted_held - counted, kArrays * kHeld);
  EXPECT_EQ(mapped_address_space(), space) << "address space left behind by the freed arrays";
  EXPECT_EQ(mapped_table_bytes(), counted);
}

// A table moved by construction or assignment takes its mapping with it: the moved-to table
// hands it back as a mapping, and the moved-from one holds nothing.
TEST(FlatTable, AMovedTableTakesItsMappingWithIt) {
  const std::size_t counted = mapped_table_bytes();
  {
    FlatTable<ProbeEntry, ProbeTraits<false>> big;
    big.reserve_more(1'000'000);  // about 21 MB of cells
    for (std::uint64_t k = 1; k <= 1000; ++k) big.insert_new(ProbeEntry{k, k});
    const std::size_t held = mapped_table_bytes() - counted;
    ASSERT_GE(held, big.allocated_bytes());
    FlatTable<ProbeEntry, ProbeTraits<false>> moved(std::move(big));
    FlatTable<ProbeEntry, ProbeTraits<false>> assigned;
    assigned.insert_new(ProbeEntry{5, 5});
    assigned = std::move(moved);
    EXPECT_EQ(mapped_table_bytes() - counted, held);
    EXPECT_EQ(assigned.find(std::uint64_t{777})->payload, 777u);
    EXPECT_EQ(big.allocated_bytes() + moved.allocated_bytes(), 0u);
  }
  EXPECT_EQ(mapped_table_bytes(), counted);
}
#endif

// insert_or_assign uses its value once: a moved string arrives whole in a new cell or over an old value.
TEST(IntMap, InsertOrAssignUsesItsValueOnce) {
  IntMap<std::uint64_t, std::string> map;
  const std::string long_text(100, 'x');  // beyond the small-string buffer: a move empties the source
  std::string moved = long_text;
  EXPECT_EQ(map.insert_or_assign(7, std::move(moved)), long_text);
  EXPECT_EQ(*map.find(7), long_text);
  EXPECT_EQ(map.insert_or_assign(7, std::string(50, 'y')), std::string(50, 'y'));
  const std::string kept(80, 'z');
  map.insert_or_assign(8, kept);  // an lvalue is copied, the caller's string stays as it was
  EXPECT_EQ(kept, std::string(80, 'z'));
  EXPECT_EQ(*map.find(8), kept);
  EXPECT_EQ(*map.find(7), std::string(50, 'y'));
  EXPECT_EQ(map.size(), 2u);
}

}  // namespace
}  // namespace vantrel
