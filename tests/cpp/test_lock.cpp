#include <gtest/gtest.h>

#include "lock_test_util.hpp"

#include <vector>

#include "vantrel/core/lock.hpp"

namespace vantrel {
namespace {

Decimal dec(const char* text) { return Decimal::parse(text).value; }

std::vector<std::pair<int, std::string>> entries_of(const Lock& lock) {
  std::vector<std::pair<int, std::string>> out;
  lock.for_each_entry([&](std::uint16_t g, Decimal p) { out.emplace_back(g, p.to_string()); });
  return out;
}

TEST(Lock, GroupsBySectionInOrderOfFirstArrival) {
  const Lock lock = lock_of({{7, "1"}, {0, "2"}, {7, "3"}, {3, "4"}});
  ASSERT_EQ(lock.sections().size(), 2u);
  EXPECT_EQ(lock.sections()[0].policy_group_id, 7);
  EXPECT_EQ(lock.sections()[1].policy_group_id, 3);
  const std::vector<std::pair<int, std::string>> want = {{0, "2"}, {7, "1"}, {7, "3"}, {3, "4"}};
  EXPECT_EQ(entries_of(lock), want);
  EXPECT_EQ(lock.size(), 4u);
  EXPECT_EQ(lock.prices_of(5), nullptr);
  ASSERT_NE(lock.prices_of(0), nullptr);
  EXPECT_EQ(lock.prices_of(0)->size(), 1u);
  EXPECT_EQ(format_lock(lock), "Lock([(0, 2), (7, 1), (7, 3), (3, 4)])");
  EXPECT_EQ(format_lock(Lock()), "Lock([])");
}

TEST(Lock, PushManyGroupsLikeSinglePushes) {
  const std::vector<Decimal> prices = {dec("1"), dec("2"), dec("3")};
  for (std::uint16_t group : {0, 4, 9}) {
    Lock many = lock_of({{4, "9"}});
    Lock single = many;
    many.push_many(group, prices);
    for (const Decimal& p : prices) single.push_price(group, p);
    EXPECT_EQ(many, single) << group;
  }
  Lock lock;
  lock.push_many(9, {});
  EXPECT_TRUE(lock.empty());
  EXPECT_TRUE(lock.sections().empty());
}

TEST(Lock, EqualityByValueOrderAndGrouping) {
  struct Case {
    Lock a, b;
    bool equal;
  };
  const Case cases[] = {
      {lock_of({{0, "1.0"}}), lock_of({{0, "1.00"}}), true},
      {lock_of({{0, "-0"}}), lock_of({{0, "0.000"}}), true},
      {lock_of({{7, "1"}, {3, "2"}}), lock_of({{3, "2"}, {7, "1"}}), false},
      {lock_of({{7, "1"}, {7, "2"}}), lock_of({{7, "2"}, {7, "1"}}), false},
      {lock_of({{7, "1"}}), lock_of({{7, "1"}, {7, "1"}}), false},
      {lock_of({{7, "1"}}), lock_of({{8, "1"}}), false},
      {lock_of({{0, "1"}}), lock_of({{0, "1"}, {1, "1"}}), false},
      {Lock(), Lock(), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << format_lock(c.a) << " vs " << format_lock(c.b);
    EXPECT_EQ(c.b == c.a, c.equal);
  }
}

TEST(Lock, MergeAppendsPerGroup) {
  Lock a = lock_of({{0, "1"}, {2, "5"}});
  const Lock b = lock_of({{4, "6"}, {2, "7"}, {0, "8"}});
  a.merge(b);
  EXPECT_EQ(a, lock_of({{0, "1"}, {0, "8"}, {2, "5"}, {2, "7"}, {4, "6"}}));
  EXPECT_EQ(b, lock_of({{4, "6"}, {2, "7"}, {0, "8"}}));
  Lock self = lock_of({{0, "1"}, {3, "2"}});
  self.merge(self);
  EXPECT_EQ(self, lock_of({{0, "1"}, {0, "1"}, {3, "2"}, {3, "2"}}));
}

TEST(Lock, AppenderAgreesWithPushPastTheScanLimit) {
  // Enough groups for the appender to switch to its table, in a scrambled order.
  Lock plain, indexed;
  LockAppender appender(indexed);
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 40; ++i) {
      const auto group = static_cast<std::uint16_t>((i * 37 + round) % 29);
      const Decimal price = Decimal::from_i64(round * 100 + i);
      plain.push_price(group, price);
      appender.push_price(group, price);
    }
  }
  EXPECT_EQ(plain, indexed);
  EXPECT_EQ(entries_of(plain), entries_of(indexed));
  // Merging into a lock with many sections goes through the same table.
  Lock merged = plain;
  merged.merge(plain);
  Lock twice = plain;
  plain.for_each_entry([&](std::uint16_t g, Decimal p) { twice.push_price(g, p); });
  EXPECT_EQ(merged, twice);
}

TEST(Lock, CopiesAreIndependent) {
  Lock a = lock_of({{0, "1"}, {0, "2"}, {5, "3"}, {6, "4"}, {7, "5"}});
  Lock b = a;
  b.push_price(5, dec("9"));
  b.push_price(0, dec("9"));
  EXPECT_EQ(a.size(), 5u);
  EXPECT_EQ(b.size(), 7u);
  Lock c = std::move(b);
  EXPECT_EQ(c.size(), 7u);
  a = c;
  EXPECT_EQ(a, c);
}

TEST(InlineVector, GrowsPastInlineRoomKeepingOrder) {
  InlineVector<LockSection, 2> v;
  for (int i = 0; i < 100; ++i) {
    LockSection s;
    s.policy_group_id = static_cast<std::uint16_t>(i);
    for (int k = 0; k <= i % 3; ++k) s.prices.push_back(Decimal::from_i64(k));
    v.push_back(std::move(s));
    EXPECT_EQ(v.on_heap(), v.size() > 2);
  }
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(v[i].policy_group_id, i);
    EXPECT_EQ(v[i].prices.size(), static_cast<std::size_t>(i % 3 + 1));
  }
  InlineVector<Decimal, 1> d;
  d.push_back(Decimal::from_i64(1));
  d.push_back(d[0]);  // an element of the vector itself, across a reallocation
  EXPECT_EQ(d[1], Decimal::from_i64(1));
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

bool all_inline(const Lock& lock) {
  bool inline_only = !lock.default_prices().on_heap() && !lock.sections().on_heap();
  for (const LockSection& s : lock.sections()) inline_only = inline_only && !s.prices.on_heap();
  return inline_only;
}

// The only allocation of a lock is a list leaving its inline room.
TEST(Lock, TypicalLockStaysInline) {
  Lock lock;
  lock.push_price(0, Decimal::from_i64(1));
  lock.push_price(3, Decimal::from_i64(2));
  lock.push_price(9, Decimal::from_i64(3));
  EXPECT_TRUE(all_inline(lock));
  Lock copy = lock;
  Lock moved = std::move(copy);
  EXPECT_TRUE(all_inline(moved));
  EXPECT_EQ(moved, lock);
  Lock third = lock;
  third.push_price(4, Decimal::from_i64(4));
  EXPECT_FALSE(all_inline(third));
  Lock second = lock;
  second.push_price(3, Decimal::from_i64(4));
  EXPECT_FALSE(all_inline(second));
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

// An element that counts its live copies and can be told to fail its next copies.
struct CopyCounted {
  static inline int live = 0;
  static inline int copies_left = 1 << 30;
  int value = 0;
  explicit CopyCounted(int v) : value(v) { ++live; }
  CopyCounted(const CopyCounted& other) : value(other.value) {
    if (copies_left-- <= 0) throw std::bad_alloc();
    ++live;
  }
  CopyCounted(CopyCounted&& other) noexcept : value(other.value) { ++live; }
  ~CopyCounted() { --live; }
};

// A copy that fails part-way destroys what it had built and leaves the source whole,
// both for the copy constructor and for copy assignment, inline or on the heap.
TEST(InlineVector, FailedCopyReleasesWhatItBuilt) {
  for (int size : {1, 2, 5}) {
    for (int fail_at = 0; fail_at < size; ++fail_at) {
      {
        InlineVector<CopyCounted, 2> source;
        for (int i = 0; i < size; ++i) source.emplace_back(i);
        InlineVector<CopyCounted, 2> target;
        target.emplace_back(99);
        const int before = CopyCounted::live;
        CopyCounted::copies_left = fail_at;
        EXPECT_THROW((InlineVector<CopyCounted, 2>(source)), std::bad_alloc) << size << "/" << fail_at;
        EXPECT_EQ(CopyCounted::live, before) << size << "/" << fail_at;
        CopyCounted::copies_left = fail_at;
        EXPECT_THROW(target = source, std::bad_alloc) << size << "/" << fail_at;
        CopyCounted::copies_left = 1 << 30;
        EXPECT_EQ(CopyCounted::live, before) << size << "/" << fail_at;
        ASSERT_EQ(target.size(), 1u);
        EXPECT_EQ(target[0].value, 99);
        ASSERT_EQ(source.size(), static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i) EXPECT_EQ(source[i].value, i);
      }
      EXPECT_EQ(CopyCounted::live, 0);
    }
  }
}

}  // namespace
}  // namespace vantrel

namespace vantrel {
namespace {

// The widest items: a five-digit group id with the longest decimal texts (31 characters).
TEST(Lock, TextOfTheWidestEntries) {
  const char* widest[] = {"-0.0000000000000000000000000001", "-7.9228162514264337593543950335",
                          "-79228162514264337593543950335", "0.0000000000000000000000000001"};
  for (const char* price : widest) {
    for (std::uint16_t group : {0, 9, 65535}) {
      Lock lock;
      lock.push_price(group, dec(price));
      lock.push_price(group, dec(price));
      const std::string item = "(" + std::to_string(group) + ", " + price + ")";
      EXPECT_EQ(format_lock(lock), "Lock([" + item + ", " + item + "])");
    }
  }
}

}  // namespace
}  // namespace vantrel
