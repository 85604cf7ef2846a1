// libFuzzer target: the cbor reader of the price lock.
#include "fuzz_common.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vantrel::fuzz::check_reader(vantrel::read_lock_cbor, data, size);
  return 0;
}
