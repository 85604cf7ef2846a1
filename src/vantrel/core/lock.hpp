#pragma once
// The price lock: the prices a reservation was priced at, per policy group. Group 0 (the
// default group) has its own list; every other group has one section, in the order in which
// its first price arrived. No section has group 0, no group has two sections, no section is
// empty, and nothing is ever removed.
// Thread-safety: a plain value; no shared state.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "vantrel/core/inline_vector.hpp"
#include "vantrel/param/decimal.hpp"

namespace vantrel {

inline constexpr std::uint16_t kDefaultPolicyGroupId = 0;

// One price per list and two sections fit inline: the typical lock allocates nothing.
using LockPrices = InlineVector<Decimal, 1>;

struct LockSection {
  LockPrices prices;
  std::uint16_t policy_group_id = 0;
};

class Lock {
 public:
  using Sections = InlineVector<LockSection, 2>;

  const LockPrices& default_prices() const noexcept { return default_prices_; }
  const Sections& sections() const noexcept { return sections_; }

  // The prices of group `policy_group_id` (the default list for 0), or null when the
  // group has no section.
  const LockPrices* prices_of(std::uint16_t policy_group_id) const noexcept;

  // The number of prices over all groups.
  std::size_t size() const noexcept;
  bool empty() const noexcept { return default_prices_.empty() && sections_.empty(); }

  // Appends one price to the group. Cannot fail beyond std::bad_alloc, which leaves the
  // lock as it was.
  void push_price(std::uint16_t policy_group_id, Decimal price);
  // Appends all prices to the group, grouped as that many single pushes would be; room
  // for all of them is reserved first. An empty span changes nothing.
  void push_many(std::uint16_t policy_group_id, std::span<const Decimal> prices);
  // Appends other's default prices, then each of other's sections to this lock's section
  // of the same group, or as a new section at the end. `other` may be this lock.
  void merge(const Lock& other);

  // Every price in entries order: the default prices with group 0, then each section's
  // prices with its group id.
  template <class F>
  void for_each_entry(F&& f) const {
    for (const Decimal& price : default_prices_) f(kDefaultPolicyGroupId, price);
    for (const LockSection& section : sections_)
      for (const Decimal& price : section.prices) f(section.policy_group_id, price);
  }

  // Prices compare by numeric value; order and grouping matter.
  friend bool operator==(const Lock& a, const Lock& b) noexcept;

 private:
  friend class LockAppender;

  LockPrices default_prices_;
  Sections sections_;
};

// Appends many prices to one lock with lookups by group id that stay constant-time
// however many sections the lock has: a linear scan while the lock has few sections or
// few lookups were made, a table indexed by group id beyond that. Used wherever an unbounded number of pushes
// arrives from outside (readers of the serialised forms, extend, merge).
class LockAppender {
 public:
  explicit LockAppender(Lock& lock) noexcept : lock_(lock) {}
  LockAppender(const LockAppender&) = delete;
  LockAppender& operator=(const LockAppender&) = delete;

  void push_price(std::uint16_t policy_group_id, Decimal price);
  // Appends the prices, in order, to the group (nothing for an empty list).
  void append(std::uint16_t policy_group_id, const LockPrices& prices);
  void append_section(const LockSection& section) { append(section.policy_group_id, section.prices); }

  Lock& lock() noexcept { return lock_; }

 private:
  static constexpr std::size_t kScanLimit = 8;
  LockSection* find(std::uint16_t policy_group_id);
  void add_section(LockSection&& section);

  Lock& lock_;
  std::size_t scans_ = 0;  // lookups of a lock past kScanLimit sections, before the table
  // Section position + 1 per group id (0: no section).
  std::unique_ptr<std::uint16_t[]> index_;
};

// "Lock([(0, 101.5), (7, 99.25)])": every entry as (group, decimal text), scale kept.
std::string format_lock(const Lock& lock);

}  // namespace vantrel
