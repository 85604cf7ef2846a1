// The MessagePack form of a price lock. Reading goes through the JSON library's
// MessagePack event (SAX) parser: it reserves nothing from declared lengths, reads
// strings through to their last byte before reporting them, and names the part it was
// reading when the input ends, which is what tells a missing marker from missing data.
// It recurses once per array level, which the layout caps at three.

#include <nlohmann/json.hpp>

#include "vantrel/core/lock_codec.hpp"
#include "vantrel/core/lock_reader.hpp"

// The truncation texts below rest on the parser's wording of an early end of input.
static_assert(NLOHMANN_JSON_VERSION_MAJOR == 3 && NLOHMANN_JSON_VERSION_MINOR >= 11,
              "re-check the MessagePack end-of-input wording against this nlohmann/json version");

namespace vantrel {
namespace {

using lock_codec::LockReader;
using Json = nlohmann::json;

constexpr std::uint64_t kMaxCount = 0xFFFFFFFFu;

std::size_t array_header_size(std::size_t count) noexcept { return count < 16 ? 1 : count < 65536 ? 3 : 5; }

std::uint8_t* put_array_header(std::uint8_t* out, std::size_t count) noexcept {
  if (count < 16) {
    *out++ = static_cast<std::uint8_t>(0x90 | count);
  } else if (count < 65536) {
    *out++ = 0xdc;
    *out++ = static_cast<std::uint8_t>(count >> 8);
    *out++ = static_cast<std::uint8_t>(count);
  } else {
    *out++ = 0xdd;
    for (int shift = 24; shift >= 0; shift -= 8) *out++ = static_cast<std::uint8_t>(count >> shift);
  }
  return out;
}

// A price text is at most 31 bytes: always a fixstr.
static_assert(Decimal::kMaxTextLength < 32);

std::size_t price_size(Decimal price) noexcept {
  char buf[Decimal::kMaxTextLength];
  return 1 + price.write_text(buf);
}

std::uint8_t* put_price(std::uint8_t* out, Decimal price) noexcept {
  const std::size_t n = price.write_text(reinterpret_cast<char*>(out + 1));
  *out = static_cast<std::uint8_t>(0xa0 | n);
  return out + 1 + n;
}

std::size_t group_id_size(std::uint16_t id) noexcept { return id < 128 ? 1 : id < 256 ? 2 : 3; }

std::uint8_t* put_group_id(std::uint8_t* out, std::uint16_t id) noexcept {
  if (id < 128) {
    *out++ = static_cast<std::uint8_t>(id);
  } else if (id < 256) {
    *out++ = 0xcc;
    *out++ = static_cast<std::uint8_t>(id);
  } else {
    *out++ = 0xcd;
    *out++ = static_cast<std::uint8_t>(id >> 8);
    *out++ = static_cast<std::uint8_t>(id);
  }
  return out;
}

class MsgpackEvents {
 public:
  explicit MsgpackEvents(LockReader& reader) noexcept : reader_(reader) {}

  bool null() { return reader_.other("null"); }
  bool boolean(bool value) { return reader_.other(value ? "boolean `true`" : "boolean `false`"); }
  bool number_integer(std::int64_t value) { return reader_.integer(value); }
  bool number_unsigned(std::uint64_t value) { return reader_.integer(false, value); }
  bool number_float(double value, const std::string&) { return reader_.floating(value); }
  bool string(std::string& value) { return reader_.text(value); }
  bool binary(Json::binary_t& value) {
    return reader_.other(value.has_subtype() ? "extension" : "byte array");
  }
  bool start_object(std::size_t) { return reader_.other("map"); }
  bool key(std::string&) { return false; }  // unreachable: every map is refused at its start
  bool end_object() { return false; }
  bool start_array(std::size_t) { return reader_.begin_array(); }
  bool end_array() { return reader_.end_array(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) {
    std::string_view what = ex.what();
    if (what.find("unexpected end of input") != std::string_view::npos) {
      // The parser names what it was reading: a value's first byte, or a number, string
      // or byte array after it.
      const bool marker = what.find("while parsing MessagePack value") != std::string_view::npos;
      reader_.fail(marker ? "IO error while reading marker: failed to fill whole buffer"
                          : "IO error while reading data: failed to fill whole buffer");
      return false;
    }
    const std::size_t colon = what.find(": ");
    if (colon != std::string_view::npos) what.remove_prefix(colon + 2);
    reader_.fail(lock_codec::valid_utf8(what));
    return false;
  }

 private:
  LockReader& reader_;
};

}  // namespace

std::optional<std::size_t> lock_msgpack_size(const Lock& lock) noexcept {
  if (lock.empty()) return 1;
  const std::size_t sections = lock.sections().size();
  if (sections + 1 > kMaxCount || lock.default_prices().size() > kMaxCount) return std::nullopt;
  std::size_t size = array_header_size(sections + 1) + array_header_size(lock.default_prices().size());
  for (const Decimal& price : lock.default_prices()) size += price_size(price);
  for (const LockSection& section : lock.sections()) {
    if (section.prices.size() + 1 > kMaxCount) return std::nullopt;
    size += array_header_size(section.prices.size() + 1) + group_id_size(section.policy_group_id);
    for (const Decimal& price : section.prices) size += price_size(price);
  }
  return size;
}

void write_lock_msgpack(const Lock& lock, std::uint8_t* out) noexcept {
  if (lock.empty()) {
    *out = 0x90;
    return;
  }
  out = put_array_header(out, lock.sections().size() + 1);
  out = put_array_header(out, lock.default_prices().size());
  for (const Decimal& price : lock.default_prices()) out = put_price(out, price);
  for (const LockSection& section : lock.sections()) {
    out = put_array_header(out, section.prices.size() + 1);
    out = put_group_id(out, section.policy_group_id);
    for (const Decimal& price : section.prices) out = put_price(out, price);
  }
}

bool read_lock_msgpack(std::string_view bytes, Lock& out, std::string& error) {
  LockReader reader(out, lock_codec::Dialect::Msgpack);
  MsgpackEvents events(reader);
  const auto* first = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const bool parsed =
      Json::sax_parse(first, first + bytes.size(), &events, Json::input_format_t::msgpack, /*strict=*/false);
  if (parsed && reader.done()) return true;
  error = reader.error();
  return false;
}

}  // namespace vantrel
