// libFuzzer target: the same input through all three readers. Whatever one reader accepts
// must survive every form (decode, encode, decode reaches a fixed point; the forms agree).
// The first byte chooses how the rest is also offered: as is, or re-encoded by the
// writers from a lock built of the input's bytes.
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
