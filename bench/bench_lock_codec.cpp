// The lock's serialised forms: writing and reading a one-price lock in each form (the
// typical reservation), beside the same for a lock of many sections, and the time a
// hostile 1 MB input takes to be refused. allocs_per_op counts global allocations.

#include <benchmark/benchmark.h>

#include "allocation_count.hpp"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "vantrel/core/lock_codec.hpp"


namespace {

using namespace vantrel;

Lock one_price() {
  Lock lock;
  lock.push_price(0, Decimal::parse("101.25").value);
  return lock;
}

Lock many_sections() {
  Lock lock;
  for (int i = 1; i <= 1000; ++i) lock.push_price(static_cast<std::uint16_t>(i), Decimal::parse("99.5").value);
  return lock;
}

template <class Body>
void measure(benchmark::State& state, Body body) {
  const std::size_t before = vantrel::bench::allocations();
  for (auto _ : state) body();
  state.counters["allocs_per_op"] =
      benchmark::Counter(static_cast<double>(vantrel::bench::allocations() - before) / static_cast<double>(state.iterations()));
}

// Writers: into a caller's buffer, as the bindings write into the new str/bytes object.
void BM_WriteJson(benchmark::State& state, Lock lock) {
  std::vector<char> out(lock_json_size(lock));
  measure(state, [&] {
    benchmark::DoNotOptimize(lock);
    write_lock_json(lock, out.data());
    benchmark::DoNotOptimize(out.data());
  });
}
void BM_WriteMsgpack(benchmark::State& state, Lock lock) {
  std::vector<std::uint8_t> out(*lock_msgpack_size(lock));
  measure(state, [&] {
    benchmark::DoNotOptimize(lock);
    write_lock_msgpack(lock, out.data());
    benchmark::DoNotOptimize(out.data());
  });
}
void BM_WriteCbor(benchmark::State& state, Lock lock) {
  std::vector<std::uint8_t> out(lock_cbor_size(lock));
  measure(state, [&] {
    benchmark::DoNotOptimize(lock);
    write_lock_cbor(lock, out.data());
    benchmark::DoNotOptimize(out.data());
  });
}

std::string json_of(const Lock& lock) {
  std::string s(lock_json_size(lock), '\0');
  write_lock_json(lock, s.data());
  return s;
}
std::string msgpack_of(const Lock& lock) {
  std::string s(*lock_msgpack_size(lock), '\0');
  write_lock_msgpack(lock, reinterpret_cast<std::uint8_t*>(s.data()));
  return s;
}
std::string cbor_of(const Lock& lock) {
  std::string s(lock_cbor_size(lock), '\0');
  write_lock_cbor(lock, reinterpret_cast<std::uint8_t*>(s.data()));
  return s;
}

void BM_Read(benchmark::State& state, bool (*read)(std::string_view, Lock&, std::string&), std::string input) {
  std::string error;
  measure(state, [&] {
    Lock lock;
    const bool ok = read(input, lock, error);
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(lock);
  });
}

// About 1 MB each: a section list that only grows (65,535 distinct groups, then repeats),
// a chain of tags, brackets, and a declared length far past the input.
std::string hostile_msgpack_sections() {
  std::string body;
  std::size_t count = 1;
  for (std::uint32_t i = 0; body.size() < (1u << 20); ++i, ++count) {
    const std::uint32_t id = i < 65535 ? i + 1 : 1 + (i * 7919u) % 65535;
    body += "\x92\xcd";
    body += static_cast<char>(id >> 8);
    body += static_cast<char>(id & 0xff);
    body += "\xa1\x31";
  }
  std::string out = "\xdd";
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(count >> shift);
  return out + '\x90' + body;
}

void BM_Refuse(benchmark::State& state, bool (*read)(std::string_view, Lock&, std::string&), std::string input) {
  std::string error;
  for (auto _ : state) {
    Lock lock;
    benchmark::DoNotOptimize(read(input, lock, error));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}

}  // namespace

BENCHMARK_CAPTURE(BM_WriteJson, one_price, one_price());
BENCHMARK_CAPTURE(BM_WriteMsgpack, one_price, one_price());
BENCHMARK_CAPTURE(BM_WriteCbor, one_price, one_price());
BENCHMARK_CAPTURE(BM_Read, json_one_price, read_lock_json, json_of(one_price()));
BENCHMARK_CAPTURE(BM_Read, msgpack_one_price, read_lock_msgpack, msgpack_of(one_price()));
BENCHMARK_CAPTURE(BM_Read, cbor_one_price, read_lock_cbor, cbor_of(one_price()));
BENCHMARK_CAPTURE(BM_WriteJson, sections_1000, many_sections());
BENCHMARK_CAPTURE(BM_WriteMsgpack, sections_1000, many_sections());
BENCHMARK_CAPTURE(BM_WriteCbor, sections_1000, many_sections());
BENCHMARK_CAPTURE(BM_Read, json_sections_1000, read_lock_json, json_of(many_sections()));
BENCHMARK_CAPTURE(BM_Read, msgpack_sections_1000, read_lock_msgpack, msgpack_of(many_sections()));
BENCHMARK_CAPTURE(BM_Read, cbor_sections_1000, read_lock_cbor, cbor_of(many_sections()));
BENCHMARK_CAPTURE(BM_Refuse, msgpack_1MB_sections_then_cut, read_lock_msgpack, hostile_msgpack_sections())
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Refuse, cbor_1MB_tags, read_lock_cbor, std::string(1 << 20, '\xc6') + "\x80")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Refuse, json_1MB_brackets, read_lock_json, std::string(1 << 20, '['))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Refuse, msgpack_1MB_string_length_past_end, read_lock_msgpack,
                  std::string("\x91\x91\xdb\xff\xff\xff\xff") + std::string(1 << 20, '1'))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Refuse, cbor_1MB_indefinite_text, read_lock_cbor,
                  std::string("\x81\x81\x7f") + [] {
                    std::string s;
                    while (s.size() < (1u << 20)) s += "\x61\x31";
                    return s;
                  }())
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
