#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "vantrel/core/lock.hpp"

namespace vantrel {
// Failure messages show a lock by its text, not its bytes.
inline void PrintTo(const Lock& lock, std::ostream* os) { *os << format_lock(lock); }

// One price of a lock as a test writes it down.
struct LockEntry {
  std::uint16_t group;
  std::string price;
};

inline Lock lock_of(const std::vector<LockEntry>& entries) {
  Lock lock;
  for (const LockEntry& e : entries) lock.push_price(e.group, Decimal::parse(e.price).value);
  return lock;
}
}  // namespace vantrel
