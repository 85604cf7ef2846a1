// Line-oriented driver for the differential test of the funds ledger's amounts
// against exact integers in Python. Each input line is one operation; each
// output line its result.
//   echo A                 -> A's digits (to_string)
//   plus|minus A A         -> digits | none
//   prod D D up|down       -> digits | none       (LedgerAmount::product)
//   dec A up|down          -> M:S                 (the reported 96-bit decimal)
//   pack|packis A          -> digits | none       (unpack of pack() / pack_as_is())
//   cmp A A                -> -1 | 0 | 1
//   move F T M             -> value value | none  (transfer; values with no trailing zeros)
//   slot A A A [A A A]     -> R S | digits digits digits
//        R: needs_room of the first three; S: whether store() took them on an empty
//        slot (else reshape() with a spare block did); with three more, then store()
//        of those and whether it took them; the load() at the end.
//   sync                   -> "sync", after flushing every earlier result
// A is an amount written N:S, the signed integer N over 10^S (S <= 36), |N/10^S| in
// range. D is a 96-bit decimal written M:S, as the decimal driver reads it.
//
// An amount of at most 119 bits is made by unpack(); a wider one from 96-bit
// decimals by sums and exact products, its last term one unit at scale S, so that
// the sum has scale S.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "vantrel/pretrade/policies/holdings.hpp"
#include "vantrel/pretrade/policies/ledger_amount.hpp"
#include "driver_kit.hpp"

namespace {

using vantrel::Decimal;
using vantrel::Holdings;
using vantrel::LedgerAmount;
using vantrel::PackedHoldings;
using vantrel::RoundingStrategy;
using u128 = unsigned __int128;

std::string_view next_field(std::string_view& rest) {
  const std::size_t sp = rest.find(' ');
  const std::string_view f = rest.substr(0, sp);
  rest = sp == std::string_view::npos ? std::string_view{} : rest.substr(sp + 1);
  return f;
}

u128 digits_value(std::string_view t) {
  u128 m = 0;
  for (char c : t) m = m * 10 + static_cast<unsigned>(c - '0');
  return m;
}

u128 pow10(unsigned n) {
  u128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}

Decimal decimal_of(u128 m, unsigned scale, bool negative = false) {
  return Decimal::from_parts(static_cast<std::uint64_t>(m), static_cast<std::uint32_t>(m >> 64), scale, negative);
}

Decimal read_decimal(std::string_view t) {
  const bool neg = !t.empty() && t[0] == '-';
  if (neg) t.remove_prefix(1);
  const std::size_t colon = t.find(':');
  return decimal_of(digits_value(t.substr(0, colon)), static_cast<unsigned>(digits_value(t.substr(colon + 1))), neg);
}

// Set when an amount could not be made (a fault in the steps that make it).
bool g_unmade = false;

LedgerAmount sum(const LedgerAmount& a, const LedgerAmount& b) {
  const std::optional<LedgerAmount> s = a.plus(b);
  if (!s) g_unmade = true;
  return s ? *s : LedgerAmount();
}

LedgerAmount read_amount(std::string_view t) {
  const bool neg = !t.empty() && t[0] == '-';
  if (neg) t.remove_prefix(1);
  const std::size_t colon = t.find(':');
  const auto scale = static_cast<unsigned>(digits_value(t.substr(colon + 1)));
  const std::string_view digits = t.substr(0, colon);
  const std::size_t split = digits.size() > scale ? digits.size() - scale : 0;
  u128 whole = digits_value(digits.substr(0, split)), fraction = digits_value(digits.substr(split));
  u128 n;
  if (!__builtin_mul_overflow(whole, pow10(scale), &n) && !__builtin_add_overflow(n, fraction, &n) &&
      (n >> 119) == 0) {
    const std::uint64_t hi = static_cast<std::uint64_t>(n >> 64) | (neg && n != 0 ? std::uint64_t{1} << 55 : 0) |
                             std::uint64_t{scale} << 56;
    return LedgerAmount::unpack(LedgerAmount::Packed{static_cast<std::uint64_t>(n), hi});
  }
  // n - 1 in parts, then the unit.
  if (fraction > 0) {
    --fraction;
  } else {
    --whole;
    fraction = pow10(scale) - 1;
  }
  constexpr u128 k18 = 1000000000000000000ull;
  LedgerAmount a = decimal_of(whole, 0);
  if (scale <= 18) {
    a = sum(a, decimal_of(fraction, scale));
  } else {
    a = sum(a, decimal_of(fraction / k18, scale - 18));
    const auto low = LedgerAmount::product(decimal_of(fraction % k18, 18), decimal_of(1, scale - 18),
                                           RoundingStrategy::Down);
    a = sum(a, low ? *low : LedgerAmount());
  }
  const unsigned first = scale < 28 ? scale : 28;
  const auto unit = LedgerAmount::product(decimal_of(1, first), decimal_of(1, scale - first), RoundingStrategy::Down);
  a = sum(a, unit ? *unit : LedgerAmount());
  return neg ? a.negated() : a;
}

std::string show(const std::optional<LedgerAmount>& a) { return a ? a->to_string() : "none"; }

std::string show(Decimal d) { return show_decimal(d); }

// The value alone: no trailing zeros after the point.
std::string value_text(const LedgerAmount& a) {
  std::string s = a.to_string();
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s;
}

RoundingStrategy strategy_of(std::string_view t) { return t == "up" ? RoundingStrategy::Up : RoundingStrategy::Down; }

std::string run(std::string_view line) {
  std::string_view rest = line;
  const std::string_view op = next_field(rest);
  g_unmade = false;
  std::string out;
  if (op == "prod") {
    const Decimal a = read_decimal(next_field(rest)), b = read_decimal(next_field(rest));
    out = show(LedgerAmount::product(a, b, strategy_of(rest)));
  } else if (op == "slot") {
    Holdings first, second;
    first.available = read_amount(next_field(rest));
    first.held = read_amount(next_field(rest));
    first.incoming = read_amount(next_field(rest));
    PackedHoldings slot;
    out = PackedHoldings::needs_room(first) ? "1 " : "0 ";
    if (slot.store(first)) {
      out += "1";
    } else {
      auto spare = std::make_unique<Holdings>();
      out += slot.reshape(first, spare) && !spare ? "0" : "?";
    }
    if (!rest.empty()) {
      second.available = read_amount(next_field(rest));
      second.held = read_amount(next_field(rest));
      second.incoming = read_amount(next_field(rest));
      out += slot.store(second) ? " 1" : " 0";
    }
    const Holdings h = slot.load();
    out += " | " + h.available.to_string() + " " + h.held.to_string() + " " + h.incoming.to_string();
  } else {
    const LedgerAmount a = read_amount(next_field(rest));
    if (op == "echo") {
      out = a.to_string();
    } else if (op == "dec") {
      out = show(a.to_decimal(strategy_of(rest)));
    } else if (op == "pack" || op == "packis") {
      const auto p = op == "pack" ? a.pack() : a.pack_as_is();
      out = p ? LedgerAmount::unpack(*p).to_string() : "none";
    } else {
      const LedgerAmount b = read_amount(next_field(rest));
      if (op == "plus") {
        out = show(a.plus(b));
      } else if (op == "minus") {
        out = show(a.minus(b));
      } else if (op == "cmp") {
        const int c = LedgerAmount::compare(a, b);
        // The operators agree with compare().
        if ((a == b) != (c == 0) || (a < b) != (c < 0)) return "?operators";
        out = std::to_string(c);
      } else if (op == "move") {
        LedgerAmount from = a, to = b;
        const LedgerAmount m = read_amount(next_field(rest));
        out = LedgerAmount::transfer(from, to, m) ? value_text(from) + " " + value_text(to) : "none";
      } else {
        out = "?unknown op";
      }
    }
  }
  return g_unmade ? "?unmade" : out;
}

}  // namespace

int main() { return serve_cases(run); }
