#pragma once
// The layout rules shared by the three lock readers. Each reader parses its own syntax
// and reports what it finds here, value by value; this class decides what the value means
// at its place and builds the lock, or words the refusal.
// Thread-safety: one reader per call.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "vantrel/core/lock.hpp"

namespace vantrel::lock_codec {

enum class Dialect : std::uint8_t { Json, Msgpack, Cbor };

// The unexpected-value texts of the messages, e.g. "integer `5`".
std::string describe_integer(bool negative, unsigned __int128 magnitude);
std::string describe_float(double value);    // "floating point `1.5`", Python's float form
// A refusal quotes at most this many bytes of the offending value, so its message stays
// the same small size however large the input.
inline constexpr std::size_t kQuotedBytes = 64;
// Appended to a quoted value that was cut to its first kQuotedBytes.
inline constexpr std::string_view kCutNote = " (cut to its first 64 bytes)";
// The first kQuotedBytes of `bytes` (all of them when shorter), ending on a code point.
std::string_view quoted_prefix(std::string_view bytes) noexcept;
// "string \"...\"", always valid UTF-8, cut as above. `nested`: escaped once more, ready to
// stand inside a quoted message (the CBOR form quotes its whole message).
std::string describe_string(std::string_view bytes, bool nested = false);
bool is_valid_utf8(std::string_view bytes) noexcept;
// Invalid sequences become U+FFFD, so a message quoting raw input can always be raised.
std::string valid_utf8(std::string_view bytes);

// Each event returns false once the value is refused; error() then holds the message.
class LockReader {
 public:
  // What the next value fills.
  enum class Slot : std::uint8_t { Outer, DefaultList, Section, GroupId, Price, Done };

  LockReader(Lock& out, Dialect dialect) noexcept : appender_(out), dialect_(dialect) {}

  Slot slot() const noexcept;
  bool done() const noexcept { return depth_ == 0 && closed_; }
  int depth() const noexcept { return depth_; }
  const std::string& error() const noexcept { return error_; }
  std::string& error() noexcept { return error_; }

  bool begin_array();
  bool end_array();
  bool integer(bool negative, unsigned __int128 magnitude);
  bool integer(std::int64_t value) {
    const bool negative = value < 0;
    const std::uint64_t magnitude = negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    return integer(negative, magnitude);
  }
  // `raw` is the JSON number's own text (empty elsewhere): its exact value must be the
  // value read through the double.
  bool floating(double value, std::string_view raw = {});
  bool text(std::string_view bytes);
  // CBOR: one byte of a byte string read as an array of integers.
  bool byte_item(std::uint8_t value);
  // Any value no place accepts (null, booleans, maps, byte arrays...), described as given.
  bool other(std::string_view unexpected);
  // A refusal worded by the reader itself.
  bool fail(std::string message);

 private:
  bool refuse_type(std::string_view unexpected, Slot slot);
  bool refuse_value(std::string_view unexpected, Slot slot);
  bool group_id(std::uint64_t value);
  bool price(Decimal value);
  std::string_view expectation(Slot slot) const noexcept;

  LockAppender appender_;
  Dialect dialect_;
  int depth_ = 0;
  bool closed_ = false;
  bool in_default_ = false;
  std::size_t outer_items_ = 0;    // elements of the outer array read so far
  std::size_t section_items_ = 0;  // items of the current section read so far
  std::uint16_t group_ = 0;
  std::string error_;
};

}  // namespace vantrel::lock_codec
