#pragma once
// The serialised forms of a price lock: JSON text, MessagePack and CBOR bytes, one layout
// in all three:
//   []                                  a lock without prices
//   [[p, ...], [g, p, ...], ...]        the default prices, then one array per section,
//                                       its policy group id first, then its prices
// Prices are written as text with their scale kept ("1.50"). The writers are exact by
// construction and allocate nothing beyond the output; the readers accept every integer
// width, floats, text prices in plain or scientific notation (and, in CBOR, tags before
// arrays, indefinite lengths and byte strings read as arrays), and normalise through the
// lock's own push: duplicate sections merge, sections holding only a group id vanish.
// Thread-safety: plain functions over caller-owned data.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vantrel/core/lock.hpp"

namespace vantrel {

// ---- writers ----

// The exact length of the JSON text.
std::size_t lock_json_size(const Lock& lock) noexcept;
// Writes exactly lock_json_size(lock) bytes of ASCII.
void write_lock_json(const Lock& lock, char* out) noexcept;

// The exact length of the MessagePack form, or nullopt when a list holds more items than a
// MessagePack array header can count (2^32 - 1).
std::optional<std::size_t> lock_msgpack_size(const Lock& lock) noexcept;
// Precondition: lock_msgpack_size(lock) has a value; writes exactly that many bytes.
void write_lock_msgpack(const Lock& lock, std::uint8_t* out) noexcept;

// The exact length of the CBOR form (CBOR counts reach 2^64 - 1: no limit applies).
std::size_t lock_cbor_size(const Lock& lock) noexcept;
void write_lock_cbor(const Lock& lock, std::uint8_t* out) noexcept;

// The text of an encoder failure for a count past the MessagePack limit.
inline constexpr std::string_view kMsgpackCountTooLarge = "array too long for a MessagePack array header";

// ---- readers ----
// Each fills `out` (a fresh lock) and returns true, or returns false with `error` holding
// the reader's message: valid UTF-8 whatever the input, quoting at most the first 64 bytes
// of the offending value (marked as cut past that). Only std::bad_alloc escapes.

// JSON: the message ends in " at line {l} column {c}": 1-based lines (split at line feeds)
// and the count of code points read on that line when reading stopped. A number is read
// up to its last character; a refused array up to its '[' or, when empty where a section
// must hold a group id, its ']'; trailing text up to its first character.
bool read_lock_json(std::string_view text, Lock& out, std::string& error);
// False only when `text` holds no run of white space longer than 65 characters: such
// input is read without the work of passing over long runs.
bool json_may_hold_long_space_run(std::string_view text) noexcept;
// MessagePack: bytes after the outer array are not examined.
bool read_lock_msgpack(std::string_view bytes, Lock& out, std::string& error);
// CBOR: bytes after the outer array are not examined. The message is structured:
// Semantic(None, "...") for a value the layout refuses, Syntax(offset) for a malformed
// item, Io("failed to fill whole buffer") for truncated input, RecursionLimitExceeded for
// nesting (arrays and tags together) beyond 128 levels.
bool read_lock_cbor(std::string_view bytes, Lock& out, std::string& error);

}  // namespace vantrel
