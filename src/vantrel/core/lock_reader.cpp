#include "vantrel/core/lock_reader.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "vantrel/core/debug_text.hpp"
#include "vantrel/param/float_text.hpp"

namespace vantrel::lock_codec {
namespace {

using u128 = unsigned __int128;

constexpr std::string_view kOuter =
    "a sequence whose first element is the default-group price list and whose remaining elements are "
    "[group_id, prices...] sections";
constexpr std::string_view kDefaultList = "a list of prices for the default group";
constexpr std::string_view kSection = "a non-default group section [group_id, prices...]";
constexpr std::string_view kGroupId = "u16";
constexpr std::string_view kPrice = "a Decimal type representing a fixed-point number";
constexpr std::string_view kEmptySection =
    "invalid length 0, expected non-default group section must start with a group_id";
constexpr std::string_view kTaggedDefault =
    "default group must be encoded as the first sublist, not as a tagged section";

std::string cat(std::string_view a, std::string_view b, std::string_view c = {}, std::string_view d = {}) {
  std::string out;
  out.reserve(a.size() + b.size() + c.size() + d.size());
  out.append(a).append(b).append(c).append(d);
  return out;
}

// The significant digits and the decimal exponent of a number text (JSON's grammar, or a
// decimal's own text): value = 0.digits * 10^exponent. False for zero or when the digits
// do not fit `buf` (then no decimal can hold the value exactly).
struct Significand {
  bool negative = false;
  bool zero = true;
  char digits[40];
  std::size_t count = 0;
  long exponent = 0;
};

bool significand_of(std::string_view text, Significand& out) {
  std::size_t i = 0;
  out.negative = i < text.size() && text[i] == '-';
  if (out.negative || (i < text.size() && text[i] == '+')) ++i;
  const std::size_t mantissa_begin = i;
  while (i < text.size() && text[i] != 'e' && text[i] != 'E') ++i;
  const std::string_view mantissa = text.substr(mantissa_begin, i - mantissa_begin);
  long exponent = 0;
  if (i < text.size()) {
    ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    for (; i < text.size(); ++i) {
      exponent = exponent * 10 + (text[i] - '0');
      if (exponent > 1'000'000'000) exponent = 1'000'000'000;  // far past any decimal's reach
    }
    if (negative) exponent = -exponent;
  }
  long before_point = 0;
  bool seen_point = false;
  long position = 0;        // digits read so far
  long first_nonzero = -1;  // position of the first significant digit
  long last_nonzero = -1;
  for (char c : mantissa) {
    if (c == '.') {
      seen_point = true;
      continue;
    }
    if (!seen_point) ++before_point;
    if (c != '0') {
      if (first_nonzero < 0) first_nonzero = position;
      last_nonzero = position;
    }
    ++position;
  }
  out.zero = first_nonzero < 0;
  if (out.zero) return true;
  const long significant = last_nonzero - first_nonzero + 1;
  if (significant > static_cast<long>(sizeof out.digits)) return false;
  out.count = 0;
  position = 0;
  for (char c : mantissa) {
    if (c == '.') continue;
    if (position >= first_nonzero && position <= last_nonzero) out.digits[out.count++] = c;
    ++position;
  }
  out.exponent = before_point - first_nonzero + exponent;
  return true;
}

// True when the number text and the decimal have the same value.
bool same_value(std::string_view number_text, Decimal value) {
  Significand a, b;
  char buf[Decimal::kMaxTextLength];
  const std::size_t n = value.write_text(buf);
  if (!significand_of(number_text, a) || !significand_of(std::string_view(buf, n), b)) return false;
  if (a.zero || b.zero) return a.zero && b.zero;
  return a.negative == b.negative && a.exponent == b.exponent && a.count == b.count &&
         std::memcmp(a.digits, b.digits, a.count) == 0;
}

Decimal without_negative_zero(Decimal value) noexcept { return value.is_zero() ? value.abs() : value; }

}  // namespace

// ---- descriptions ----

std::string describe_integer(bool negative, u128 magnitude) {
  char buf[48];
  char* end = buf + sizeof buf;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) *--p = '-';
  return cat("integer `", std::string_view(p, static_cast<std::size_t>(end - p)), "`");
}

std::string describe_float(double value) {
  std::string_view text;
  char buf[48];
  if (std::isnan(value)) {
    text = "nan";
  } else if (std::isinf(value)) {
    text = value < 0 ? "-inf" : "inf";
  } else {
    // Shortest round-trip digits, positional for exponents -4..15, else d.ddde+XX; whole
    // values keep a ".0", so the text always reads as a float.
    char sci[40];
    const char* end = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific).ptr;
    const char* e = static_cast<const char*>(std::memchr(sci, 'e', static_cast<std::size_t>(end - sci)));
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
    std::size_t n = 0;
    if (exponent < -4 || exponent >= 16) {
      std::memcpy(buf, sci, static_cast<std::size_t>(e - sci));
      n = static_cast<std::size_t>(e - sci);
      n += static_cast<std::size_t>(std::snprintf(buf + n, sizeof buf - n, "e%c%02d", exponent < 0 ? '-' : '+',
                                                  exponent < 0 ? -exponent : exponent));
    } else {
      n = write_float_text(value, buf);
      if (std::memchr(buf, '.', n) == nullptr) {
        buf[n++] = '.';
        buf[n++] = '0';
      }
    }
    text = std::string_view(buf, n);
  }
  return cat("floating point `", text, "`");
}

bool is_valid_utf8(std::string_view bytes) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    const unsigned c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    std::size_t extra;
    unsigned min;
    if (c >= 0xC2 && c <= 0xDF) {
      extra = 1, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      extra = 2, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      extra = 3, min = 0x10000;
    } else {
      return false;
    }
    if (static_cast<std::size_t>(end - p) <= extra) return false;
    unsigned code = c & (0x3Fu >> extra);
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      code = (code << 6) | (p[k] & 0x3Fu);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    p += extra + 1;
  }
  return true;
}

std::string valid_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    // The longest valid sequence starting here, else one replaced byte.
    std::size_t len = 1;
    const unsigned c = static_cast<unsigned char>(bytes[i]);
    const std::size_t want = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
    if (i + want <= bytes.size() && is_valid_utf8(bytes.substr(i, want))) {
      len = want;
      out.append(bytes.substr(i, len));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    i += len;
  }
  return out;
}

std::string_view quoted_prefix(std::string_view bytes) noexcept {
  if (bytes.size() <= kQuotedBytes) return bytes;
  std::size_t end = kQuotedBytes;
  // Back off a continuation byte or three, so the cut leaves no broken code point.
  for (int k = 0; k < 3 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80; ++k) --end;
  return bytes.substr(0, end);
}

std::string describe_string(std::string_view bytes, bool nested) {
  const std::string_view prefix = quoted_prefix(bytes);
  std::string out = "string ";
  if (!nested) {
    append_debug_quoted(out, valid_utf8(prefix));
  } else {
    // The quoted form's quotes and backslashes escaped once more: what quoting the whole
    // message again would do to this part (the rest of every such message needs none).
    std::string quoted;
    append_debug_quoted(quoted, valid_utf8(prefix));
    for (char c : quoted) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  }
  if (prefix.size() < bytes.size()) out += kCutNote;
  return out;
}

// ---- LockReader ----

LockReader::Slot LockReader::slot() const noexcept {
  switch (depth_) {
    case 0: return closed_ ? Slot::Done : Slot::Outer;
    case 1: return outer_items_ == 0 ? Slot::DefaultList : Slot::Section;
    default: return in_default_ || section_items_ > 0 ? Slot::Price : Slot::GroupId;
  }
}

std::string_view LockReader::expectation(Slot slot) const noexcept {
  switch (slot) {
    case Slot::Outer: return kOuter;
    case Slot::DefaultList: return kDefaultList;
    case Slot::Section: return kSection;
    case Slot::GroupId: return kGroupId;
    default: return kPrice;
  }
}

bool LockReader::fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool LockReader::refuse_type(std::string_view unexpected, Slot slot) {
  std::string_view expected = expectation(slot);
  if (dialect_ == Dialect::Cbor) {
    if (slot == Slot::Outer || slot == Slot::DefaultList || slot == Slot::Section) expected = "array";
    if (slot == Slot::GroupId) expected = "integer";
  }
  return fail(cat("invalid type: ", unexpected, ", expected ", expected));
}

bool LockReader::refuse_value(std::string_view unexpected, Slot slot) {
  return fail(cat("invalid value: ", unexpected, ", expected ", expectation(slot)));
}

bool LockReader::begin_array() {
  const Slot s = slot();
  switch (s) {
    case Slot::Outer:
      depth_ = 1;
      return true;
    case Slot::DefaultList:
    case Slot::Section:
      depth_ = 2;
      in_default_ = s == Slot::DefaultList;
      section_items_ = 0;
      return true;
    default:
      return refuse_type("sequence", s);
  }
}

bool LockReader::end_array() {
  if (depth_ == 2) {
    if (!in_default_ && section_items_ == 0) return fail(std::string(kEmptySection));
    depth_ = 1;
    ++outer_items_;
  } else {
    depth_ = 0;
    closed_ = true;
  }
  return true;
}

bool LockReader::group_id(std::uint64_t value) {
  if (value > 0xFFFF) return refuse_value(describe_integer(false, value), Slot::GroupId);
  if (value == 0) return fail(std::string(kTaggedDefault));
  group_ = static_cast<std::uint16_t>(value);
  ++section_items_;
  return true;
}

bool LockReader::price(Decimal value) {
  appender_.push_price(in_default_ ? kDefaultPolicyGroupId : group_, without_negative_zero(value));
  ++section_items_;
  return true;
}

bool LockReader::integer(bool negative, u128 magnitude) {
  const Slot s = slot();
  if (s == Slot::Price)
    return price(Decimal::from_parts(static_cast<std::uint64_t>(magnitude), static_cast<std::uint32_t>(magnitude >> 64),
                                     0, negative));
  if (s == Slot::GroupId) {
    if (negative && dialect_ == Dialect::Cbor) return fail("unexpected negative integer");
    if (negative) return refuse_value(describe_integer(true, magnitude), s);
    return group_id(static_cast<std::uint64_t>(magnitude));
  }
  return refuse_type(describe_integer(negative, magnitude), s);
}

bool LockReader::floating(double value, std::string_view raw) {
  const Slot s = slot();
  if (s != Slot::Price) return refuse_type(describe_float(value), s);
  const std::string_view shown = quoted_prefix(raw);
  const std::string unexpected =
      raw.empty() ? describe_float(value) : cat("number `", shown, "`", shown.size() < raw.size() ? kCutNote : "");
  if (!std::isfinite(value)) return refuse_value(unexpected, s);
  char text[kFloatTextMax];
  const DecimalParse parsed = Decimal::parse(std::string_view(text, write_float_text(value, text)));
  if (!parsed.ok()) return refuse_value(unexpected, s);
  // A JSON number carries an exact decimal value: one the double cannot hold is refused,
  // never rounded into a different price.
  if (!raw.empty() && !same_value(raw, parsed.value)) return refuse_value(unexpected, s);
  return price(parsed.value);
}

bool LockReader::text(std::string_view bytes) {
  const Slot s = slot();
  if (s == Slot::Price) {
    if (is_valid_utf8(bytes)) {
      const DecimalParse parsed = Decimal::parse(bytes);
      if (parsed.ok()) return price(parsed.value);
    }
    return refuse_value(describe_string(bytes, dialect_ == Dialect::Cbor), s);
  }
  return refuse_type(dialect_ == Dialect::Cbor ? std::string("string") : describe_string(bytes), s);
}

bool LockReader::byte_item(std::uint8_t value) {
  const Slot s = slot();
  if (s == Slot::GroupId) return group_id(value);
  const std::string unexpected = describe_integer(false, value);
  if (s == Slot::Price) return fail(cat("invalid type: ", unexpected, ", expected tuple struct Price"));
  if (s == Slot::DefaultList) return fail(cat("invalid type: ", unexpected, ", expected ", kDefaultList));
  return refuse_type(unexpected, s);
}

bool LockReader::other(std::string_view unexpected) { return refuse_type(unexpected, slot()); }

}  // namespace vantrel::lock_codec
