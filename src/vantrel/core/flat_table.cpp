#include "vantrel/core/flat_table.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace vantrel {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::align_val_t kLineAlign{64};
constexpr std::align_val_t kHugeAlign{kHugePage};

// Large enough that rounding up to whole huge pages wastes at most a quarter.
bool on_huge_pages(std::size_t bytes) noexcept { return bytes >= 4 * kHugePage; }
std::size_t huge_size(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

}  // namespace

void* allocate_table_cells(std::size_t bytes) {
  if (!on_huge_pages(bytes)) return ::operator new(bytes, kLineAlign);
  const std::size_t size = huge_size(bytes);
  void* cells = ::operator new(size, kHugeAlign);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  ::madvise(cells, size, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
#endif
  return cells;
}

void free_table_cells(void* cells, std::size_t bytes) noexcept {
  if (!on_huge_pages(bytes))
    ::operator delete(cells, kLineAlign);
  else
    ::operator delete(cells, kHugeAlign);
}

}  // namespace vantrel
