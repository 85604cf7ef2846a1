// Prints `count` account ids, one per line, that all land in home cell 0 of a
// table reserved for `reserved` entries in this process: brute force against
// this process's placement, for a test to use in another process. With KIND
// "ids" or "names": keys into slot 0 of a configured map holding count / 2
// entries, account ids or asset names of eight bytes (printed as their word).
// Usage: driver_placement COUNT RESERVED [cells|ids|names]
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "vantrel/core/flat_table.hpp"
#include "vantrel/pretrade/policies/frozen_map.hpp"
#include "vantrel/pretrade/policies/limit_keys.hpp"

namespace {

struct DriverId {
  std::uint64_t id = 0;  // 0: free
};
struct DriverIdTraits {
  static bool used(const DriverId& e) noexcept { return e.id != 0; }
  static std::uint64_t hash(std::uint64_t id, const vantrel::PlacementKey& k) noexcept { return vantrel::placement_hash(id, k); }
  static std::uint64_t hash(const DriverId& e, const vantrel::PlacementKey& k) noexcept { return hash(e.id, k); }
  static bool matches(const DriverId& e, std::uint64_t id) noexcept { return e.id == id; }
};

// Keys into slot 0 of a map of `count / 2` entries, made from candidate words by `key_of`.
template <class Key, class Hash, class Equal, class KeyOf>
void print_slot_0_keys(std::uint64_t count, KeyOf&& key_of) {
  std::vector<std::pair<Key, int>> entries;
  for (std::uint64_t i = 0; i < count / 2; ++i) entries.push_back({key_of(~i), 0});
  const vantrel::FrozenMap<Key, int, Hash, Equal> map(std::move(entries));
  std::uint64_t found = 0;
  for (std::uint64_t w = 1; found < count; ++w) {
    if (map.home_slot(key_of(w)) != 0) continue;
    std::printf("%llu\n", static_cast<unsigned long long>(w));
    ++found;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
  const std::string kind = argc == 4 ? argv[3] : "cells";
  if (kind == "ids") {
    print_slot_0_keys<std::uint64_t, vantrel::AccountIdHash, std::equal_to<>>(count, [](std::uint64_t w) { return w; });
    return 0;
  }
  if (kind == "names") {
    print_slot_0_keys<std::string, vantrel::LimitKeyHash, vantrel::LimitKeyEqual>(
        count, [](std::uint64_t w) { return std::string(reinterpret_cast<const char*>(&w), 8); });
    return 0;
  }
  if (kind != "cells") return 2;
  vantrel::FlatTable<DriverId, DriverIdTraits> table;
  table.reserve_more(std::strtoull(argv[2], nullptr, 10));
  std::uint64_t found = 0;
  for (std::uint64_t id = 1; found < count; ++id) {
    if (table.home_cell(id) != 0) continue;
    std::printf("%llu\n", static_cast<unsigned long long>(id));
    ++found;
  }
  return 0;
}
