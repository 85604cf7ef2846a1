#include "vantrel/core/flat_table.hpp"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>

namespace vantrel {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::align_val_t kLineAlign{64};
std::atomic<std::size_t> g_mapped_bytes{0};

// Large enough that rounding up to whole huge pages wastes at most a quarter.
[[maybe_unused]] bool on_huge_pages(std::size_t bytes) noexcept { return bytes >= 4 * kHugePage; }
[[maybe_unused]] std::size_t huge_size(std::size_t bytes) noexcept { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }

#if defined(__linux__) && defined(MADV_HUGEPAGE)
// Whole huge pages of our own, on a huge-page boundary: over-map by a huge page less
// a small one (the mapping starts on a small page, so a boundary lies within that
// much) and give back the ends. nullptr when the system refuses the mapping.
void* map_huge(std::size_t size) noexcept {
  if (size > SIZE_MAX - kHugePage) return nullptr;
  const std::size_t span = size + kHugePage - static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  void* raw = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::size_t head = aligned - start;
  const std::size_t tail = span - head - size;
  if (head != 0) ::munmap(raw, head);
  if (tail != 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);  // a hint: refused, the pages stay small
  g_mapped_bytes.fetch_add(size, std::memory_order_relaxed);
  return reinterpret_cast<void*>(aligned);
}
#endif

}  // namespace

void* allocate_table_cells(std::size_t bytes, bool& mapped) {
  mapped = false;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (on_huge_pages(bytes)) {
    if (void* cells = map_huge(huge_size(bytes))) {
      mapped = true;
      return cells;
    }
  }
#endif
  return ::operator new(bytes, kLineAlign);
}

void free_table_cells(void* cells, std::size_t bytes, bool mapped) noexcept {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (mapped) {
    ::munmap(cells, huge_size(bytes));
    g_mapped_bytes.fetch_sub(huge_size(bytes), std::memory_order_relaxed);
    return;
  }
#endif
  (void)bytes;
  (void)mapped;
  ::operator delete(cells, kLineAlign);
}

std::size_t mapped_table_bytes() noexcept { return g_mapped_bytes.load(std::memory_order_relaxed); }

}  // namespace vantrel
