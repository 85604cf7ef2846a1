// Prints `count` account ids, one per line, that all land in home cell 0 of a
// table reserved for `reserved` entries in this process: brute force against
// this process's placement, for a test to use in another process.
// Usage: driver_placement COUNT RESERVED
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "vantrel/core/flat_table.hpp"

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
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
