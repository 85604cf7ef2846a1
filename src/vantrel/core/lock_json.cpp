// The JSON form of a price lock. Reading goes through the JSON library's event (SAX)
// parser, which keeps its own nesting stack instead of recursing; the layout refuses any
// array deeper than the third level at once. Positions come from counting what the
// parser consumes.

#include <nlohmann/json.hpp>

#include <charconv>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#include "vantrel/core/lock_codec.hpp"
#include "vantrel/core/lock_reader.hpp"

namespace vantrel {
namespace {

using lock_codec::LockReader;

// ---- writer ----

std::size_t digits_of(std::uint16_t value) noexcept {
  return value >= 10000 ? 5 : value >= 1000 ? 4 : value >= 100 ? 3 : value >= 10 ? 2 : 1;
}

std::size_t price_size(Decimal price) noexcept {
  char buf[Decimal::kMaxTextLength];
  return price.write_text(buf) + 2;
}

char* put_price(char* out, Decimal price) noexcept {
  *out++ = '"';
  out += price.write_text(out);
  *out++ = '"';
  return out;
}

// ---- reader ----

bool is_json_space(char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// How far the parser has read. Lines and columns are worked out only for a message.
struct Position {
  Position(const char* first, const char* last) noexcept : begin(first), end(last), scanned(first) {}

  std::string_view text() const noexcept { return std::string_view(begin, static_cast<std::size_t>(end - begin)); }

  const char* begin;
  const char* end;
  std::size_t offset = 0;  // characters consumed
  bool at_end = false;     // the parser's last read found no character
  const char* run = nullptr;  // where the run of white space being read began
  // Whether a character stands inside a string, worked out only where a long run of white
  // space needs it: the text before `scanned` has been walked, each character once.
  const char* scanned;
  bool in_string = false;
  bool escaped = false;  // in a string, after a backslash

  bool in_string_at(const char* at) noexcept {
    for (; scanned < at; ++scanned) {
      const char c = *scanned;
      if (escaped) {
        escaped = false;
      } else if (in_string) {
        escaped = c == '\\';
        in_string = c != '"';
      } else {
        in_string = c == '"';
      }
    }
    return in_string;
  }
};

// The 1-based line (split at line feeds) and the code points read on it, after the
// first `consumed` bytes of `text`.
std::string line_and_column(std::string_view text, std::size_t consumed) {
  std::size_t line = 1, column = 0;
  for (std::size_t i = 0; i < consumed && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 0;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;  // continuation bytes belong to the code point already counted
    }
  }
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, " at line %zu column %zu", line, column);
  return std::string(buf, static_cast<std::size_t>(n));
}

// The parser reads through this iterator, so every character it takes is counted.
// `kPassOverRuns`: the parser keeps all it read since its last scalar for its messages,
// so past the first kQuotedBytes + 1 characters of a run of white space outside strings
// the run is passed over, and a refusal costs in proportion to what it can quote.
// Messages quote at most kQuotedBytes, so they read as if the parser had seen every
// character. Inside a string every character counts (a tab there is an error). Input
// that holds no such run is read without that check (json_may_hold_long_space_run).
template <bool kPassOverRuns>
class CountingIterator {
 public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  CountingIterator(const char* p, Position* position) noexcept : p_(p), position_(position) {}
  reference operator*() const noexcept { return *p_; }
  CountingIterator& operator++() noexcept {
    Position& at = *position_;
    ++at.offset;
    if constexpr (!kPassOverRuns) {
      ++p_;
    } else {
      const char c = *p_++;
      if (c <= ' ' && is_json_space(c)) [[unlikely]] {
        const char* here = p_ - 1;
        if (here == at.begin || !is_json_space(here[-1])) at.run = here;
        if (static_cast<std::size_t>(p_ - at.run) > lock_codec::kQuotedBytes && !at.in_string_at(here)) {
          while (p_ != at.end && is_json_space(*p_)) {
            ++p_;
            ++at.offset;
          }
        }
      }
    }
    return *this;
  }
  CountingIterator operator++(int) noexcept {
    CountingIterator before = *this;
    ++*this;
    return before;
  }
  // The parser asks this before every read: a false answer is its end of input.
  bool operator!=(const CountingIterator& other) const noexcept {
    const bool more = p_ != other.p_;
    position_->at_end = !more;
    return more;
  }
  bool operator==(const CountingIterator& other) const noexcept { return !(*this != other); }

 private:
  const char* p_;
  Position* position_;
};


using Json = nlohmann::json;

constexpr int kNumberOverflow = 406;  // the library's out_of_range id for such a number

// The library quotes the bytes it read for the token at hand ("last read: '...'"), each
// control byte shown as "<U+00XX>" and every other byte as itself, so the shown text alone
// cannot tell a control byte from those eight characters typed in the input. The bytes
// are found in the input instead.
std::string_view shown_form(unsigned char c, char (&buf)[9]) noexcept {
  if (c > 0x1F) {
    buf[0] = static_cast<char>(c);
    return std::string_view(buf, 1);
  }
  std::snprintf(buf, sizeof buf, "<U+%.4X>", c);
  return std::string_view(buf, 8);
}

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Where the bytes shown as `token` begin in `text`, the parser having read `text` up to
// `end`: walking back from there, each byte's shown form ends what is left of the token.
// Only white space of a long run passed over may be missing from it. (The parser quotes
// its token only when reading the token failed, so no byte read is ever put back then.)
std::size_t token_start(std::string_view text, std::size_t end, std::string_view token) noexcept {
  std::size_t left = token.size(), at = end;
  char buf[9];
  while (left > 0) {
    if (at == 0) return kNotFound;
    const unsigned char c = static_cast<unsigned char>(text[at - 1]);
    const std::string_view form = shown_form(c, buf);
    if (form.size() <= left && token.compare(left - form.size(), form.size(), form) == 0) {
      left -= form.size();
    } else if (!is_json_space(static_cast<char>(c))) {
      return kNotFound;
    }
    --at;
  }
  return at;
}

// The library's message with the token it quotes cut to the shown form of its first
// kQuotedBytes input bytes (backing off to the start of a code point).
std::string with_bounded_last_read(std::string_view what, std::string_view token, std::string_view text,
                                   std::size_t end) {
  constexpr std::string_view kLastRead = "; last read: '";
  const std::size_t at = what.find(kLastRead);
  if (at == std::string_view::npos) return std::string(what);
  const std::size_t from = at + kLastRead.size();
  if (what.compare(from, token.size(), token) != 0 || what.size() <= from + token.size()) return std::string(what);
  if (token.size() <= lock_codec::kQuotedBytes) return std::string(what);  // shows at most that many bytes
  // Were the bytes not found, as many shown characters would stand for no more bytes.
  std::size_t cut = lock_codec::kQuotedBytes;
  const std::size_t start = token_start(text, end, token);
  // shown[k]: the length of the shown form of the token's first k bytes. The first
  // kQuotedBytes + 1 bytes stand together in the input: nothing is passed over there.
  std::size_t shown[lock_codec::kQuotedBytes + 1] = {};
  std::size_t bytes = 0;
  bool found = start != kNotFound;
  char buf[9];
  while (found && bytes < lock_codec::kQuotedBytes && shown[bytes] < token.size()) {
    found = start + bytes < end;
    if (!found) break;
    const std::string_view form = shown_form(static_cast<unsigned char>(text[start + bytes]), buf);
    found = token.compare(shown[bytes], form.size(), form) == 0;
    shown[bytes + 1] = shown[bytes] + form.size();
    ++bytes;
  }
  if (found) {
    if (shown[bytes] == token.size()) return std::string(what);  // the whole token is that short
    // The token goes on past the bound: back off continuation bytes at the cut.
    for (int k = 0; k < 3 && start + bytes < end &&
                    (static_cast<unsigned char>(text[start + bytes]) & 0xC0) == 0x80;
         ++k)
      --bytes;
    cut = shown[bytes];
  } else {
    while (cut > 0 && (static_cast<unsigned char>(token[cut]) & 0xC0) == 0x80) --cut;
  }
  std::string out;
  out.reserve(from + cut + 64);
  out.append(what.substr(0, from)).append(token.substr(0, cut)).append("'").append(lock_codec::kCutNote);
  out.append(what.substr(from + token.size() + 1));  // after the token's closing quote
  return out;
}

class JsonEvents {
 public:
  JsonEvents(LockReader& reader, Position& position) noexcept : reader_(reader), position_(position) {}

  bool null() { return settle(reader_.other("null")); }
  bool boolean(bool value) { return settle(reader_.other(value ? "boolean `true`" : "boolean `false`")); }
  bool number_integer(std::int64_t value) { return settle_number(reader_.integer(value)); }
  bool number_unsigned(std::uint64_t value) { return settle_number(reader_.integer(false, value)); }
  bool number_float(double value, const std::string& raw) { return settle_number(reader_.floating(value, raw)); }
  bool string(std::string& value) { return settle(reader_.text(value)); }
  bool binary(Json::binary_t&) { return settle(reader_.other("byte array")); }
  bool start_object(std::size_t) { return settle(reader_.other("map")); }
  bool key(std::string&) { return false; }  // unreachable: every map is refused at its start
  bool end_object() { return false; }
  bool start_array(std::size_t) { return settle(reader_.begin_array()); }
  bool end_array() { return settle(reader_.end_array()); }
  bool parse_error(std::size_t, const std::string& token, const nlohmann::detail::exception& ex) {
    // A number beyond the double's range: an infinite float, as the other readers see it.
    if (ex.id == kNumberOverflow) {
      const double infinity = std::numeric_limits<double>::infinity();
      return settle_number(reader_.floating(!token.empty() && token[0] == '-' ? -infinity : infinity, token));
    }
    // The library's own wording, without its prefix and position (ours follow).
    std::string_view what = ex.what();
    const std::size_t colon = what.find(": ");
    if (colon != std::string_view::npos) what.remove_prefix(colon + 2);
    message_ = lock_codec::valid_utf8(with_bounded_last_read(what, token, position_.text(), position_.offset));
    consumed_ = position_.offset;
    return false;
  }

  std::string take_message(std::string_view text) {
    std::string out = message_.empty() ? reader_.error() : message_;
    return out + line_and_column(text, consumed_);
  }
  void fail_at(std::size_t consumed, std::string message) {
    message_ = std::move(message);
    consumed_ = consumed;
  }

 private:
  bool settle(bool ok) {
    if (!ok) consumed_ = position_.offset;
    return ok;
  }
  // A number is known only once the character after it was read; that one is not counted.
  bool settle_number(bool ok) {
    if (!ok) consumed_ = position_.at_end ? position_.offset : position_.offset - 1;
    return ok;
  }

  LockReader& reader_;
  Position& position_;
  std::string message_;
  std::size_t consumed_ = 0;
};

}  // namespace

std::size_t lock_json_size(const Lock& lock) noexcept {
  if (lock.empty()) return 2;
  std::size_t size = 2 + 2 + (lock.default_prices().empty() ? 0 : lock.default_prices().size() - 1);
  for (const Decimal& price : lock.default_prices()) size += price_size(price);
  for (const LockSection& section : lock.sections()) {
    size += 1 + 2 + digits_of(section.policy_group_id);  // ",[" "]" and the id
    for (const Decimal& price : section.prices) size += 1 + price_size(price);
  }
  return size;
}

void write_lock_json(const Lock& lock, char* out) noexcept {
  *out++ = '[';
  if (!lock.empty()) {
    *out++ = '[';
    bool first = true;
    for (const Decimal& price : lock.default_prices()) {
      if (!first) *out++ = ',';
      first = false;
      out = put_price(out, price);
    }
    *out++ = ']';
    for (const LockSection& section : lock.sections()) {
      *out++ = ',';
      *out++ = '[';
      out = std::to_chars(out, out + 5, section.policy_group_id).ptr;
      for (const Decimal& price : section.prices) {
        *out++ = ',';
        out = put_price(out, price);
      }
      *out++ = ']';
    }
  }
  *out = ']';
}

namespace {

template <bool kPassOverRuns>
bool sax_parse_counting(std::string_view text, Position& position, JsonEvents& events) {
  const CountingIterator<kPassOverRuns> first(text.data(), &position);
  const CountingIterator<kPassOverRuns> last(text.data() + text.size(), &position);
  return Json::sax_parse(first, last, &events, Json::input_format_t::json, /*strict=*/false);
}

}  // namespace

// A run longer than kQuotedBytes + 1 (the header's 65) covers at least four whole 8-byte words at offsets that are multiples of
// 8, so looking at every fourth such word for one of bytes no greater than a space
// misses none; compact input passes at a word per 32 bytes.
bool json_may_hold_long_space_run(std::string_view text) noexcept {
  static_assert(lock_codec::kQuotedBytes + 2 >= 4 * 8 + 7);
  constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kTop = 0x8080808080808080ull;
  constexpr std::uint64_t kAbove0x20 = 0x5F5F5F5F5F5F5F5Full;  // a byte's low 7 bits past 0x20 carry into its top
  for (std::size_t i = 0; i + 8 <= text.size(); i += 32) {
    std::uint64_t w;
    std::memcpy(&w, text.data() + i, 8);
    if ((((w & kLow7) + kAbove0x20) | w) & kTop) continue;  // some byte above a space
    return true;
  }
  return false;
}

bool read_lock_json(std::string_view text, Lock& out, std::string& error) {
  Position position(text.data(), text.data() + text.size());
  LockReader reader(out, lock_codec::Dialect::Json);
  JsonEvents events(reader, position);
  const bool parsed = json_may_hold_long_space_run(text) ? sax_parse_counting<true>(text, position, events)
                                                    : sax_parse_counting<false>(text, position, events);
  if (parsed && reader.done()) {
    // Only white space may follow the value.
    for (std::size_t i = position.offset; i < text.size(); ++i) {
      if (!is_json_space(text[i])) {
        events.fail_at(i + 1, "trailing characters");
        error = events.take_message(text);
        return false;
      }
    }
    return true;
  }
  error = events.take_message(text);
  return false;
}

}  // namespace vantrel
