// libFuzzer target: every input is used twice. First it goes as is through all three
// readers: whatever one accepts must survive every form (decode, encode, decode reaches a
// fixed point; the forms agree). Then the same bytes build a lock directly, which the
// writers encode and the readers read back the same way.
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vantrel;
  for (auto read : {read_lock_json, read_lock_msgpack, read_lock_cbor}) fuzz::check_reader(read, data, size);
  // A lock built directly from the bytes: (group, price) pairs of 3 bytes each, the price
  // a small signed value with a scale, so the writers see every header width.
  Lock lock;
  for (std::size_t i = 0; i + 3 <= size; i += 3) {
    const std::uint16_t group = data[i] < 128 ? 0 : static_cast<std::uint16_t>(data[i] * 257 + data[i + 1]);
    const auto value = static_cast<std::int8_t>(data[i + 2]);
    lock.push_price(group, Decimal::from_parts(static_cast<std::uint64_t>(value < 0 ? -value : value), 0,
                                               data[i + 1] % 29, value < 0));
  }
  fuzz::check_round_trips(lock);
  return 0;
}
