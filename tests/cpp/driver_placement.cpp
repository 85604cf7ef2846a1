// Prints `count` account ids, one per line, that all land in home cell 0 of a
// table of `capacity` cells in this process: brute force against this
// process's placement secret, for a test to use in another process.
// Usage: driver_placement COUNT CAPACITY
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "vantrel/core/placement.hpp"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
  const std::uint64_t capacity = std::strtoull(argv[2], nullptr, 10);
  if (capacity == 0) return 2;
  const vantrel::PlacementKey& secret = vantrel::placement_secret();
  std::uint64_t found = 0;
  for (std::uint64_t id = 1; found < count; ++id) {
    const std::uint64_t h = vantrel::placement_hash(id, secret);
    // A flat table's home cell: the high half of hash * capacity.
    if ((static_cast<unsigned __int128>(h) * capacity) >> 64 != 0) continue;
    std::printf("%llu\n", static_cast<unsigned long long>(id));
    ++found;
  }
  return 0;
}
