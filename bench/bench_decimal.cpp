// Decimal core throughput. Every benchmark also reports allocs_per_op, to show that no
// operation touches the heap.

#include <benchmark/benchmark.h>

#include "allocation_count.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

#include "vantrel/param/decimal.hpp"


namespace {

using vantrel::Decimal;

Decimal d(const char* text) { return Decimal::parse(text).value; }

// Runs op(a, b) per iteration with both inputs opaque to the optimiser.
template <class Op>
void run_binary(benchmark::State& state, Decimal a, Decimal b, Op op) {
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    auto r = op(a, b);
    benchmark::DoNotOptimize(r);
  }
  state.counters["allocs_per_op"] = benchmark::Counter(
      static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}

void BM_AddSameScale(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("2.5000"), [](Decimal a, Decimal b) { return a.checked_add(b); });
}
void BM_AddMixedScale(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("2.5"), [](Decimal a, Decimal b) { return a.checked_add(b); });
}
void BM_SubSameScale(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("99999.0001"), [](Decimal a, Decimal b) { return a.checked_sub(b); });
}
void BM_AddRounding(benchmark::State& s) {  // 96-bit carry forces a lower scale
  run_binary(s, d("79228162514264337593543950.335"), d("0.0000000000000000000000000005"),
             [](Decimal a, Decimal b) { return a.checked_add(b); });
}
void BM_Mul(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("2.5"), [](Decimal a, Decimal b) { return a.checked_mul(b); });
}
void BM_MulWide(benchmark::State& s) {  // 192-bit product rounded to 96 bits
  run_binary(s, d("3.9614081257132168796771975168"), d("1.2345678901234567890123456789"),
             [](Decimal a, Decimal b) { return a.checked_mul(b); });
}
void BM_DivExact(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("2.5"), [](Decimal a, Decimal b) { return a.checked_div(b); });
}
void BM_DivOneThird(benchmark::State& s) {  // 28 fractional digits, rounded
  run_binary(s, d("1"), d("3"), [](Decimal a, Decimal b) { return a.checked_div(b); });
}
void BM_DivWideDivisor(benchmark::State& s) {  // divisor above 2^64
  run_binary(s, d("12345.6789"), d("1844674407370955161.7"), [](Decimal a, Decimal b) { return a.checked_div(b); });
}
void BM_DivWideFullMantissa(benchmark::State& s) {  // 29-digit quotient rounded, 65-bit divisor
  run_binary(s, d("79228162514264337593543950335"), d("18446744073709551617"),
             [](Decimal a, Decimal b) { return a.checked_div(b); });
}
void BM_DivWideNearMax(benchmark::State& s) {  // 96-bit divisor, quotient near 1
  run_binary(s, d("7922816251426433759354395033.4"), d("79228162514264337593543950.335"),
             [](Decimal a, Decimal b) { return a.checked_div(b); });
}
void BM_Rem(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("2.5"), [](Decimal a, Decimal b) { return a.checked_rem(b); });
}
void BM_CompareSameScale(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("12345.6790"), [](Decimal a, Decimal b) { return Decimal::compare(a, b); });
}
void BM_CompareMixedScale(benchmark::State& s) {
  run_binary(s, d("12345.6789"), d("12345.67"), [](Decimal a, Decimal b) { return Decimal::compare(a, b); });
}
void BM_RoundTo2(benchmark::State& s) {
  run_binary(s, d("12345.6789"), Decimal(),
             [](Decimal a, Decimal) { return a.round_to(2, vantrel::RoundingStrategy::MidpointNearestEven); });
}
void BM_Hash(benchmark::State& s) {
  run_binary(s, d("12345.6789"), Decimal(), [](Decimal a, Decimal) { return a.hash(); });
}
void BM_ToDouble(benchmark::State& s) {
  run_binary(s, d("12345.6789"), Decimal(), [](Decimal a, Decimal) { return a.to_double(); });
}

void BM_Parse(benchmark::State& state) {
  const std::size_t before = vantrel::bench::allocations();
  const char* text = "12345.6789";
  for (auto _ : state) {
    benchmark::DoNotOptimize(text);
    auto r = Decimal::parse(text);
    benchmark::DoNotOptimize(r);
  }
  state.counters["allocs_per_op"] = benchmark::Counter(
      static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}

void BM_WriteText(benchmark::State& state) {
  const std::size_t before = vantrel::bench::allocations();
  Decimal a = d("12345.6789");
  char buf[Decimal::kMaxTextLength];
  for (auto _ : state) {
    benchmark::DoNotOptimize(a);
    const std::size_t n = a.write_text(buf);
    benchmark::DoNotOptimize(n);
    benchmark::ClobberMemory();
  }
  state.counters["allocs_per_op"] = benchmark::Counter(
      static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}

void BM_FromDouble(benchmark::State& state) {
  const std::size_t before = vantrel::bench::allocations();
  double v = 12345.6789;
  for (auto _ : state) {
    benchmark::DoNotOptimize(v);
    auto r = Decimal::from_double(v);
    benchmark::DoNotOptimize(r);
  }
  state.counters["allocs_per_op"] = benchmark::Counter(
      static_cast<double>(vantrel::bench::allocations() - before), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_AddSameScale);
BENCHMARK(BM_AddMixedScale);
BENCHMARK(BM_SubSameScale);
BENCHMARK(BM_AddRounding);
BENCHMARK(BM_Mul);
BENCHMARK(BM_MulWide);
BENCHMARK(BM_DivExact);
BENCHMARK(BM_DivOneThird);
BENCHMARK(BM_DivWideDivisor);
BENCHMARK(BM_DivWideFullMantissa);
BENCHMARK(BM_DivWideNearMax);
BENCHMARK(BM_Rem);
BENCHMARK(BM_CompareSameScale);
BENCHMARK(BM_CompareMixedScale);
BENCHMARK(BM_Parse);
BENCHMARK(BM_WriteText);
BENCHMARK(BM_RoundTo2);
BENCHMARK(BM_Hash);
BENCHMARK(BM_FromDouble);
BENCHMARK(BM_ToDouble);

}  // namespace

BENCHMARK_MAIN();
