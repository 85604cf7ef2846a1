// The CBOR form of a price lock. Reading decodes one item head at a time, so nesting
// lives in our own bounded frame stack and chains of tags are skipped in a loop. Every
// well-formed head is recognised, including simple values and every tag number.

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "vantrel/core/lock_codec.hpp"
#include "vantrel/core/lock_reader.hpp"

namespace vantrel {
namespace {

using lock_codec::LockReader;
using Slot = LockReader::Slot;

constexpr std::size_t kNestingLimit = 128;

// ---- writer ----

std::size_t head_size(std::uint64_t value) noexcept {
  return value < 24 ? 1 : value < 0x100 ? 2 : value < 0x10000 ? 3 : value < 0x100000000u ? 5 : 9;
}

std::uint8_t* put_head(std::uint8_t* out, std::uint8_t major, std::uint64_t value) noexcept {
  const std::uint8_t type = static_cast<std::uint8_t>(major << 5);
  int bytes;
  if (value < 24) {
    *out++ = static_cast<std::uint8_t>(type | value);
    return out;
  } else if (value < 0x100) {
    *out++ = type | 24;
    bytes = 1;
  } else if (value < 0x10000) {
    *out++ = type | 25;
    bytes = 2;
  } else if (value < 0x100000000u) {
    *out++ = type | 26;
    bytes = 4;
  } else {
    *out++ = type | 27;
    bytes = 8;
  }
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) *out++ = static_cast<std::uint8_t>(value >> shift);
  return out;
}

std::size_t price_size(Decimal price) noexcept {
  char buf[Decimal::kMaxTextLength];
  const std::size_t n = price.write_text(buf);
  return head_size(n) + n;
}

std::uint8_t* put_price(std::uint8_t* out, Decimal price) noexcept {
  char buf[Decimal::kMaxTextLength];
  const std::size_t n = price.write_text(buf);
  out = put_head(out, 3, n);
  std::memcpy(out, buf, n);
  return out + n;
}

// ---- reader ----

// One decoded item head; a definite string comes with its content.
struct Item {
  enum Kind : std::uint8_t {
    Unsigned, Negative, Bytes, BytesStart, Text, TextStart, Array, ArrayStart, Map, Tag, Float, Undefined, Null,
    Boolean, Break, Simple,
  };
  Kind kind = Null;
  std::uint64_t number = 0;  // integers (a negative one is -1 - number), counts, tags, simple values
  double real = 0;
  bool flag = false;
  const unsigned char* data = nullptr;
  std::size_t size = 0;
};

enum class Status { Item, Truncated, Malformed };

std::uint64_t load_big_endian(const unsigned char* p, std::size_t bytes) noexcept {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

// A half float widened exactly (every half is a float).
double half_to_double(std::uint64_t half) noexcept {
  const int exponent = static_cast<int>(half >> 10 & 0x1f);
  const double mantissa = static_cast<double>(half & 0x3ff);
  const double magnitude = exponent == 0    ? std::ldexp(mantissa, -24)
                           : exponent != 31 ? std::ldexp(mantissa + 1024, exponent - 25)
                           : mantissa == 0  ? std::numeric_limits<double>::infinity()
                                            : std::numeric_limits<double>::quiet_NaN();
  return half & 0x8000 ? -magnitude : magnitude;
}

// Decodes the item head at `offset` (with a definite string's content), advancing past it.
Status next_item(std::string_view bytes, std::size_t& offset, Item& item) {
  if (offset >= bytes.size()) return Status::Truncated;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + offset;
  const std::size_t left = bytes.size() - offset;
  const unsigned major = p[0] >> 5;
  const unsigned info = p[0] & 0x1f;
  const bool indefinite = info == 31;
  if (info >= 28 && info <= 30) return Status::Malformed;
  if (indefinite && (major <= 1 || major == 6)) return Status::Malformed;
  // The argument sits in the initial byte below 24, else in the 1, 2, 4 or 8 bytes after it.
  std::size_t head = 1;
  std::uint64_t argument = info;
  if (info >= 24 && info <= 27) {
    head += std::size_t{1} << (info - 24);
    if (left < head) return Status::Truncated;
    argument = load_big_endian(p + 1, head - 1);
  }
  item = {};
  switch (major) {
    case 0:
    case 1:
      item.kind = major == 0 ? Item::Unsigned : Item::Negative;
      item.number = argument;
      break;
    case 2:
    case 3:
      if (indefinite) {
        item.kind = major == 2 ? Item::BytesStart : Item::TextStart;
        break;
      }
      if (argument > left - head) return Status::Truncated;
      item.kind = major == 2 ? Item::Bytes : Item::Text;
      item.data = p + head;
      item.size = static_cast<std::size_t>(argument);
      head += item.size;
      break;
    case 4:
      item.kind = indefinite ? Item::ArrayStart : Item::Array;
      if (!indefinite) item.number = argument;
      break;
    case 5:
      item.kind = Item::Map;
      break;
    case 6:
      item.kind = Item::Tag;
      item.number = argument;
      break;
    default:
      if (info < 20 || info == 24) {
        // A simple value in an extra byte must be one the initial byte cannot hold.
        if (info == 24 && argument < 0x20) return Status::Malformed;
        item.kind = Item::Simple;
        item.number = argument;
      } else if (info <= 21) {
        item.kind = Item::Boolean;
        item.flag = info == 21;
      } else if (info == 22) {
        item.kind = Item::Null;
      } else if (info == 23) {
        item.kind = Item::Undefined;
      } else if (info == 31) {
        item.kind = Item::Break;
      } else {
        item.kind = Item::Float;
        if (info == 25) {
          item.real = half_to_double(argument);
        } else if (info == 26) {
          item.real = std::bit_cast<float>(static_cast<std::uint32_t>(argument));
        } else {
          item.real = std::bit_cast<double>(argument);
        }
      }
      break;
  }
  offset += head;
  return Status::Item;
}

// The reader words CBOR refusals ready to stand in quotes (a quoted value inside is
// escaped once more), so the message is wrapped, not quoted a second time.
std::string semantic(std::string_view message) {
  std::string out;
  out.reserve(message.size() + 18);
  out.append("Semantic(None, \"").append(message).append("\")");
  return out;
}

// Inside a string of indefinite length only chunks of its own kind and the closing break
// may follow: any other initial byte is malformed whatever it declares, so no later byte
// could make the input valid.
bool is_chunk_or_break(std::string_view bytes, std::size_t offset, unsigned major) noexcept {
  if (offset >= bytes.size()) return true;  // the end of input: truncated, not malformed
  const unsigned initial = static_cast<unsigned char>(bytes[offset]);
  return initial == 0xff || initial >> 5 == major;
}

class CborReader {
 public:
  CborReader(std::string_view bytes, Lock& out) : bytes_(bytes), reader_(out, lock_codec::Dialect::Cbor) {}

  bool run(std::string& error);

 private:
  // An open array: counted, up to a break, or a byte string read as an array (chunks
  // up to a break), with the tags in front of it.
  struct Frame {
    enum Kind : std::uint8_t { Counted, UpToBreak, ByteChunks } kind;
    std::uint64_t remaining;
    std::size_t tags = 0;
  };

  bool step(const Item& item);
  bool feed_bytes(const Item& item);
  bool complete_item();
  // Opens an array the layout has accepted (begin_array), taking over the tags in front.
  bool open(Frame::Kind kind, std::uint64_t remaining) {
    if (!fits_one_more_level()) return false;
    if (!frames_.push_back({kind, remaining, tags_})) [[unlikely]] return refuse_third_level();
    tags_ = 0;
    return true;
  }
  [[gnu::cold, gnu::noinline]] bool refuse_third_level();
  // An empty array the layout has accepted: a level as any other array, closed at once.
  // Out of line, so the reading loop stays as compact as before it was counted.
  [[gnu::noinline]] bool read_empty_array() { return fits_one_more_level() && reader_.end_array() && complete_item(); }
  bool close();
  // An array at the current place, empty or not, is one level more, below the open
  // arrays and every tag in front of them and of itself.
  bool fits_one_more_level() {
    if (frames_.levels + tags_ + 1 <= kNestingLimit) return true;
    too_deep_ = true;
    return false;
  }
  bool read_text_chunks();
  bool malformed() {
    syntax_ = true;
    return false;
  }

  std::string_view bytes_;
  LockReader reader_;
  std::size_t offset_ = 0;
  std::size_t item_offset_ = 0;
  // The layout refuses arrays below the second level, so two frames are ever open.
  struct Frames {
    std::array<Frame, 2> items;
    std::size_t count = 0;
    std::size_t levels = 0;  // the open arrays and every tag in front of them
    bool empty() const noexcept { return count == 0; }
    Frame& back() noexcept { return items[count - 1]; }
    void pop_back() noexcept {
      levels -= items[count - 1].tags + 1;
      --count;
    }
    // False, with nothing changed, for a third level.
    [[nodiscard]] bool push_back(Frame frame) noexcept {
      if (count == items.size()) return false;
      levels += frame.tags + 1;
      items[count++] = frame;
      return true;
    }
  } frames_;
  std::size_t tags_ = 0;       // tags in front of the item being read
  bool truncated_ = false;
  bool syntax_ = false;
  bool too_deep_ = false;
};

bool CborReader::run(std::string& error) {
  while (!reader_.done()) {
    Item item;
    item_offset_ = offset_;
    if (!frames_.empty() && frames_.back().kind == Frame::ByteChunks && !is_chunk_or_break(bytes_, offset_, 2)) {
      syntax_ = true;
      break;
    }
    const Status status = next_item(bytes_, offset_, item);
    if (status == Status::Truncated) {
      truncated_ = true;
      break;
    }
    if (status == Status::Malformed) {
      syntax_ = true;
      break;
    }
    if (!step(item)) break;
  }
  if (reader_.done()) return true;
  if (truncated_) {
    error = "Io(\"failed to fill whole buffer\")";
  } else if (syntax_) {
    error = "Syntax(" + std::to_string(item_offset_) + ")";
  } else if (too_deep_) {
    error = "RecursionLimitExceeded";
  } else {
    error = semantic(reader_.error());
  }
  return false;
}

bool CborReader::complete_item() {
  tags_ = 0;
  while (!frames_.empty() && frames_.back().kind == Frame::Counted) {
    if (--frames_.back().remaining != 0) return true;
    frames_.pop_back();
    if (!reader_.end_array()) return false;
  }
  return true;
}

bool CborReader::refuse_third_level() { return reader_.fail("arrays nested deeper than the layout allows"); }

// Closes the innermost array at its break.
bool CborReader::close() {
  frames_.pop_back();
  return reader_.end_array() && complete_item();
}

bool CborReader::feed_bytes(const Item& item) {
  for (std::size_t i = 0; i < item.size; ++i)
    if (!reader_.byte_item(item.data[i])) return false;
  return true;
}

// Collects the chunks of a text string of indefinite length and reads them as one price.
bool CborReader::read_text_chunks() {
  std::string text;
  for (;;) {
    Item chunk;
    item_offset_ = offset_;
    if (!is_chunk_or_break(bytes_, offset_, 3)) return malformed();
    const Status status = next_item(bytes_, offset_, chunk);
    if (status == Status::Truncated) {
      truncated_ = true;
      return false;
    }
    if (status == Status::Malformed) return malformed();
    if (chunk.kind == Item::Break) break;
    if (chunk.kind != Item::Text) return malformed();  // a chunk of indefinite length
    text.append(reinterpret_cast<const char*>(chunk.data), chunk.size);
  }
  return reader_.text(text) && complete_item();
}

bool CborReader::step(const Item& item) {
  const Slot slot = reader_.slot();
  const bool array_place = slot == Slot::Outer || slot == Slot::DefaultList || slot == Slot::Section;

  // Inside a byte string of indefinite length, only its chunks and the closing break.
  if (!frames_.empty() && frames_.back().kind == Frame::ByteChunks) {
    if (item.kind == Item::Break) return close();
    if (item.kind != Item::Bytes) return malformed();  // a chunk of indefinite length
    return feed_bytes(item);
  }

  switch (item.kind) {
    case Item::Tag:
      if (array_place) {
        // Skipped: a tagged array reads as the array. Every tag counts toward the nesting
        // limit, those in front of an open array as long as it is open.
        if (frames_.levels + ++tags_ > kNestingLimit) {
          too_deep_ = true;
          return false;
        }
        return true;
      }
      if (slot == Slot::GroupId && (item.number == 2 || item.number == 3)) return reader_.fail("integer too large");
      return reader_.other("tag");
    case Item::Array:
      if (!reader_.begin_array()) return false;
      if (item.number == 0) return read_empty_array();
      return open(Frame::Counted, item.number);
    case Item::ArrayStart:
      return reader_.begin_array() && open(Frame::UpToBreak, 0);
    case Item::Break:
      if (tags_ != 0) return malformed();  // a tag must be followed by an item
      if (!frames_.empty() && frames_.back().kind == Frame::UpToBreak) return close();
      return reader_.other("break");
    case Item::Bytes:
      if (!array_place) return reader_.other("byte array");
      if (!reader_.begin_array() || !fits_one_more_level()) return false;
      return feed_bytes(item) && reader_.end_array() && complete_item();
    case Item::BytesStart:
      if (!array_place) return reader_.other("byte array");
      return reader_.begin_array() && open(Frame::ByteChunks, 0);
    case Item::Text:
      return reader_.text(std::string_view(reinterpret_cast<const char*>(item.data), item.size)) && complete_item();
    case Item::TextStart:
      if (slot != Slot::Price) return reader_.text({});  // refused by kind; the chunks do not matter
      return read_text_chunks();
    case Item::Unsigned:
      return reader_.integer(false, item.number) && complete_item();
    case Item::Negative:
      return reader_.integer(true, static_cast<unsigned __int128>(item.number) + 1) && complete_item();
    case Item::Float:
      return reader_.floating(item.real) && complete_item();
    case Item::Map:
      return reader_.other("map");
    case Item::Undefined:
      return reader_.other("undefined");
    case Item::Null:
      return reader_.other("null");
    case Item::Boolean:
      return reader_.other(item.flag ? "boolean `true`" : "boolean `false`");
    case Item::Simple:
      return reader_.other("simple");
  }
  return malformed();
}

}  // namespace

std::size_t lock_cbor_size(const Lock& lock) noexcept {
  if (lock.empty()) return 1;
  std::size_t size = head_size(lock.sections().size() + 1) + head_size(lock.default_prices().size());
  for (const Decimal& price : lock.default_prices()) size += price_size(price);
  for (const LockSection& section : lock.sections()) {
    size += head_size(section.prices.size() + 1) + head_size(section.policy_group_id);
    for (const Decimal& price : section.prices) size += price_size(price);
  }
  return size;
}

void write_lock_cbor(const Lock& lock, std::uint8_t* out) noexcept {
  if (lock.empty()) {
    *out = 0x80;
    return;
  }
  out = put_head(out, 4, lock.sections().size() + 1);
  out = put_head(out, 4, lock.default_prices().size());
  for (const Decimal& price : lock.default_prices()) out = put_price(out, price);
  for (const LockSection& section : lock.sections()) {
    out = put_head(out, 4, section.prices.size() + 1);
    out = put_head(out, 0, section.policy_group_id);
    for (const Decimal& price : section.prices) out = put_price(out, price);
  }
}

bool read_lock_cbor(std::string_view bytes, Lock& out, std::string& error) {
  CborReader reader(bytes, out);
  return reader.run(error);
}

}  // namespace vantrel
