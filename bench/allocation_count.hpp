#pragma once
// Counts heap allocations made by the calling thread, through replaced global
// allocation functions. Include it in exactly one source file of a benchmark
// program; benchmarks report allocs_per_op from the difference of two readings.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <new>

namespace vantrel::bench {
inline thread_local std::uint64_t t_allocations = 0;
inline std::uint64_t allocations() noexcept { return t_allocations; }

// Sets allocs_per_op: allocations since `before`, per iteration.
inline void report_allocations(benchmark::State& state, std::uint64_t before) {
  state.counters["allocs_per_op"] =
      benchmark::Counter(static_cast<double>(allocations() - before), benchmark::Counter::kAvgIterations);
}
}  // namespace vantrel::bench

// Replacement allocation functions pair malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n) {
  ++vantrel::bench::t_allocations;
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t align) {
  ++vantrel::bench::t_allocations;
  const std::size_t a = static_cast<std::size_t>(align);
  if (void* p = std::aligned_alloc(a, (n + a - 1) / a * a)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
