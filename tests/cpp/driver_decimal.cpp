// Line-oriented driver for the differential test against Python's decimal module.
// Each input line is one operation; each output line its result.
//   parse TEXT          -> M:S | !MESSAGE
//   fmt D               -> canonical text
//   add|sub|mul|div|rem D D -> M:S | none
//   round D SCALE STRATEGY  -> M:S          (STRATEGY is a name, parsed as the bindings do)
//   addr|mulr D D STRATEGY  -> M:S | none   (a sum or product that 96 bits cannot hold, rounded by STRATEGY)
//   fromdbl HEXBITS     -> M:S | none
//   todbl D             -> HEXBITS
//   cmp D D             -> -1 | 0 | 1
//   hash D              -> signed integer
//   sync                -> "sync", after flushing every earlier result
// D is written M:S: a signed integer mantissa (sign flag kept, so "-0" is a negative zero)
// and a scale.

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "vantrel/param/decimal.hpp"
#include "driver_kit.hpp"

namespace {

using vantrel::Decimal;
using u128 = unsigned __int128;

Decimal read_decimal(std::string_view t) {
  bool neg = false;
  std::size_t i = 0;
  if (!t.empty() && t[0] == '-') {
    neg = true;
    i = 1;
  }
  u128 m = 0;
  for (; i < t.size() && t[i] != ':'; ++i) m = m * 10 + static_cast<unsigned>(t[i] - '0');
  const auto scale = static_cast<std::uint32_t>(std::stoul(std::string(t.substr(i + 1))));
  return Decimal::from_parts(static_cast<std::uint64_t>(m), static_cast<std::uint32_t>(m >> 64), scale, neg);
}

std::string show(Decimal d) { return show_decimal(d); }

std::string show(const std::optional<Decimal>& d) { return d ? show(*d) : "none"; }

std::string failure(std::string message) {
  message.insert(message.begin(), '!');
  return message;
}

std::string_view next_field(std::string_view& rest) {
  const std::size_t sp = rest.find(' ');
  const std::string_view f = rest.substr(0, sp);
  rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
  return f;
}

std::string run(std::string_view line) {
  std::string_view rest = line;
  const std::string_view op = next_field(rest);
  if (op == "parse") {
    const vantrel::DecimalParse p = Decimal::parse(rest);
    return p.ok() ? show(p.value) : failure(p.message());
  }
  if (op == "fmt") return read_decimal(next_field(rest)).to_string();
  if (op == "fromdbl") {
    const std::uint64_t bits = std::stoull(std::string(next_field(rest)), nullptr, 16);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return show(Decimal::from_double(v));
  }
  const Decimal a = read_decimal(next_field(rest));
  if (op == "todbl") {
    const double v = a.to_double();
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof v);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(bits));
    return buf;
  }
  if (op == "hash") return std::to_string(a.hash());
  if (op == "round") {
    const auto scale = static_cast<std::uint32_t>(std::stoul(std::string(next_field(rest))));
    const auto strategy = vantrel::parse_rounding_strategy(rest);
    if (!strategy) return failure(vantrel::rounding_strategy_error(rest));
    return show(a.round_to(scale, *strategy));
  }
  const Decimal b = read_decimal(next_field(rest));
  if (op == "addr" || op == "mulr") {
    const auto strategy = vantrel::parse_rounding_strategy(rest);
    if (!strategy) return failure(vantrel::rounding_strategy_error(rest));
    return show(op == "addr" ? a.checked_add(b, *strategy) : a.checked_mul(b, *strategy));
  }
  if (op == "add") return show(a.checked_add(b));
  if (op == "sub") return show(a.checked_sub(b));
  if (op == "mul") return show(a.checked_mul(b));
  if (op == "div") return show(a.checked_div(b));
  if (op == "rem") return show(a.checked_rem(b));
  if (op == "cmp") return std::to_string(Decimal::compare(a, b));
  return "?unknown op";
}

}  // namespace

int main() { return serve_cases(run); }
