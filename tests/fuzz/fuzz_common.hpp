#pragma once
// What every lock fuzz target checks: a reader either refuses with valid UTF-8 text, or
// yields a lock whose written forms read back to an equal lock and write again to the
// same bytes, in all three forms.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "vantrel/core/lock_codec.hpp"
#include "vantrel/core/lock_reader.hpp"

namespace vantrel::fuzz {

[[noreturn]] inline void broken(const char* what) {
  __builtin_trap();
  (void)what;
}

inline std::string json_of(const Lock& lock) {
  std::string out(lock_json_size(lock), '\0');
  write_lock_json(lock, out.data());
  return out;
}
inline std::string msgpack_of(const Lock& lock) {
  std::string out(*lock_msgpack_size(lock), '\0');
  write_lock_msgpack(lock, reinterpret_cast<std::uint8_t*>(out.data()));
  return out;
}
inline std::string cbor_of(const Lock& lock) {
  std::string out(lock_cbor_size(lock), '\0');
  write_lock_cbor(lock, reinterpret_cast<std::uint8_t*>(out.data()));
  return out;
}

// The three forms of `lock` read back to an equal lock, and from there reading and writing
// reach a fixed point (a negative zero is written "-0" once and read as 0).
inline void check_round_trips(const Lock& lock) {
  bool (*const readers[3])(std::string_view, Lock&, std::string&) = {read_lock_json, read_lock_msgpack,
                                                                      read_lock_cbor};
  const std::string first[3] = {json_of(lock), msgpack_of(lock), cbor_of(lock)};
  Lock settled[3];
  for (int i = 0; i < 3; ++i) {
    std::string error;
    if (!readers[i](first[i], settled[i], error)) broken("a written form does not read back");
    if (!(settled[i] == lock)) broken("a round trip changed the lock");
  }
  const std::string second[3] = {json_of(settled[0]), msgpack_of(settled[0]), cbor_of(settled[0])};
  for (int i = 0; i < 3; ++i) {
    if (json_of(settled[i]) != second[0] || msgpack_of(settled[i]) != second[1] || cbor_of(settled[i]) != second[2])
      broken("the forms disagree");
    Lock again;
    std::string error;
    if (!readers[i](second[i], again, error) || !(again == settled[i])) broken("no fixed point");
  }
}

// Runs one reader over the input and checks what it gives.
inline void check_reader(bool (*read)(std::string_view, Lock&, std::string&), const std::uint8_t* data,
                         std::size_t size) {
  Lock lock;
  std::string error;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (read(input, lock, error)) {
    if (!error.empty()) broken("an error text on success");
    check_round_trips(lock);
  } else if (error.empty() || !lock_codec::is_valid_utf8(error)) {
    broken("a refusal without valid text");
  }
}

}  // namespace vantrel::fuzz
