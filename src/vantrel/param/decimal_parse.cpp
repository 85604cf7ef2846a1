// Decimal text parsing: the plain form, the scientific form, and their error texts.

#include <algorithm>
#include <limits>

#include "vantrel/param/decimal.hpp"
#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {

using namespace decimal_detail;

namespace {

// Collects digits left to right. Digits past the rounding's scale, or past what 96 bits can
// hold, are not ignored: the first of them and whether any later one is non-zero decide the
// rounding, so the exact value is rounded once.
struct DigitAccumulator {
  Rounding rounding{kMaxScale, RoundingStrategy::MidpointNearestEven};
  u128 mantissa = 0;
  unsigned scale = 0;
  bool integer_overflow = false;
  int first_dropped = -1;
  bool sticky = false;

  void integer_digit(unsigned d) noexcept {
    if (integer_overflow) return;
    if (!append_fits(mantissa, d, 1)) {
      integer_overflow = true;
      return;
    }
    mantissa = mantissa * 10 + d;
  }

  void fraction_digit(unsigned d) noexcept {
    if (first_dropped >= 0) {
      sticky |= d != 0;
      return;
    }
    if (scale == rounding.scale || !append_fits(mantissa, d, 1)) {
      first_dropped = static_cast<int>(d);
      return;
    }
    mantissa = mantissa * 10 + d;
    ++scale;
  }

  // Applies the rounding; false when even scale 0 cannot hold the rounded value.
  bool finish(bool negative) noexcept {
    while (first_dropped >= 0) {
      const bool up = rounds_up(rounding.strategy, negative, static_cast<unsigned>(first_dropped), sticky,
                                (mantissa & 1) != 0);
      if (!up) return true;
      if (mantissa < kMaxMantissa) {
        ++mantissa;
        return true;
      }
      if (scale == 0) return false;
      // Rounding up carried past 96 bits: keep one digit less, rounding from the exact digits.
      first_dropped = static_cast<int>(mantissa % 10);
      sticky = true;
      mantissa /= 10;
      --scale;
    }
    return true;
  }

  DecimalParse result(bool negative) noexcept;
};

// Texts of at most 19 digits can neither overflow 64 bits nor exceed scale 28: they are
// collected exactly, with no rounding to track.
struct ShortAccumulator {
  std::uint64_t mantissa = 0;
  unsigned scale = 0;
  void integer_digit(unsigned d) noexcept { mantissa = mantissa * 10 + d; }
  void fraction_digit(unsigned d) noexcept {
    mantissa = mantissa * 10 + d;
    ++scale;
  }
  DecimalParse result(bool negative) const noexcept {
    DecimalParse p;
    p.value = Decimal::from_parts(mantissa, 0, scale, negative && mantissa != 0);
    return p;
  }
};

DecimalParse failure(DecimalError e, std::uint32_t detail = 0) noexcept {
  DecimalParse p;
  p.error = e;
  p.detail = detail;
  return p;
}

DecimalParse success(const DigitAccumulator& acc, bool negative) noexcept {
  DecimalParse p;
  // A text "-0" yields a zero without a sign.
  p.value = make_decimal(acc.mantissa, acc.scale, negative && acc.mantissa != 0);
  return p;
}

DecimalParse DigitAccumulator::result(bool negative) noexcept {
  if (integer_overflow) return failure(DecimalError::TooManyDigits);
  if (!finish(negative)) return failure(DecimalError::MantissaAfterRounding);
  return success(*this, negative);
}

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Scientific mantissa: sign, digits, at most one '.', '_' after the first digit.
struct MantissaShape {
  bool negative = false;
  std::size_t start = 0;
  std::int64_t digits = 0;
  std::int64_t fraction_digits = 0;
};

bool scan_mantissa(std::string_view t, MantissaShape& shape) noexcept {
  std::size_t i = 0;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    shape.negative = t[0] == '-';
    i = 1;
  }
  shape.start = i;
  bool point = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (is_digit(c)) {
      ++shape.digits;
      if (point) ++shape.fraction_digits;
    } else if (c == '.' && !point) {
      point = true;
    } else if (!(c == '_' && shape.digits > 0)) {
      return false;
    }
  }
  return shape.digits > 0;
}

// Optional sign, then one or more digits; saturates far beyond any usable exponent.
bool scan_exponent(std::string_view t, std::int64_t& exponent) noexcept {
  std::size_t i = 0;
  bool negative = false;
  if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
    negative = t[0] == '-';
    i = 1;
  }
  if (i == t.size()) return false;
  constexpr std::int64_t kCap = 1'000'000'000'000;
  std::int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (!is_digit(t[i])) return false;
    v = std::min(kCap, v * 10 + (t[i] - '0'));
  }
  exponent = negative ? -v : v;
  return true;
}

}  // namespace

namespace {

// The one digit loop of the plain form: sign already read, digits with '_' after the first
// and at most one '.'; the accumulator keeps the digits.
template <class Accumulator>
DecimalParse scan_plain(std::string_view text, std::size_t i, bool negative, Accumulator& acc) noexcept {
  bool seen_digit = false, seen_point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    const unsigned d = static_cast<unsigned char>(c) - static_cast<unsigned>('0');
    if (d < 10) {
      seen_digit = true;
      if (seen_point)
        acc.fraction_digit(d);
      else
        acc.integer_digit(d);
    } else if (c == '.') {
      if (seen_point) return failure(DecimalError::TwoDecimalPoints);
      seen_point = true;
    } else if (c == '_') {
      if (!seen_digit) return failure(DecimalError::MustStartWithNumber);
    } else {
      return failure(DecimalError::UnknownCharacter);
    }
  }
  if (!seen_digit) return failure(DecimalError::NoDigits);
  return acc.result(negative);
}

constexpr Rounding kFitRounding{kMaxScale, RoundingStrategy::MidpointNearestEven};

DecimalParse parse_plain_with(std::string_view text, Rounding rounding) noexcept {
  if (text.empty()) return failure(DecimalError::Empty);
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  if (text.size() - i <= 19) {
    ShortAccumulator acc;
    return scan_plain(text, i, negative, acc);
  }
  DigitAccumulator acc;
  acc.rounding = rounding;
  return scan_plain(text, i, negative, acc);
}

DecimalParse parse_scientific_with(std::string_view text, Rounding rounding) noexcept;

}  // namespace

DecimalParse Decimal::parse_plain(std::string_view text) noexcept { return parse_plain_with(text, kFitRounding); }

DecimalParse Decimal::parse_scientific(std::string_view text) noexcept {
  return parse_scientific_with(text, kFitRounding);
}

namespace {

DecimalParse parse_scientific_with(std::string_view text, Rounding rounding) noexcept {
  const std::size_t e = text.find_first_of("eE");
  if (e == std::string_view::npos) return failure(DecimalError::FailedToParse);
  const std::string_view mantissa_text = text.substr(0, e);
  MantissaShape shape;
  std::int64_t exponent = 0;
  if (!scan_mantissa(mantissa_text, shape) || !scan_exponent(text.substr(e + 1), exponent))
    return failure(DecimalError::FailedToParse);

  const std::int64_t scale = shape.fraction_digits - exponent;
  if (scale > static_cast<std::int64_t>(kMaxScale)) {
    const auto shown = std::min<std::int64_t>(scale, std::numeric_limits<std::uint32_t>::max());
    return failure(DecimalError::ScaleExceedsMaximum, static_cast<std::uint32_t>(shown));
  }
  const DecimalError too_large = shape.negative ? DecimalError::LessThanMinimum : DecimalError::ExceedsMaximum;

  // Digit i of the mantissa text lands in the integer part iff i < digits - scale.
  DigitAccumulator acc;
  acc.rounding = rounding;
  const std::int64_t integer_places = shape.digits - scale;
  for (std::int64_t z = integer_places; z < 0; ++z) acc.fraction_digit(0);  // implied leading zeros
  std::int64_t index = 0;
  for (std::size_t i = shape.start; i < mantissa_text.size(); ++i) {
    const char c = mantissa_text[i];
    if (!is_digit(c)) continue;
    const unsigned d = static_cast<unsigned>(c - '0');
    if (index++ < integer_places)
      acc.integer_digit(d);
    else
      acc.fraction_digit(d);
  }
  if (scale < 0 && acc.mantissa != 0) {
    if (-scale > static_cast<std::int64_t>(kMaxScale) + 1) return failure(too_large);
    for (std::int64_t z = scale; z < 0; ++z) acc.integer_digit(0);
  }
  if (acc.integer_overflow || !acc.finish(shape.negative)) return failure(too_large);
  return success(acc, shape.negative);
}

}  // namespace

DecimalParse Decimal::parse(std::string_view text) noexcept {
  DecimalParse plain = parse_plain(text);
  if (plain.ok() || text.find_first_of("eE") == std::string_view::npos) return plain;
  return parse_scientific(text);
}

DecimalParse Decimal::parse_rounded(std::string_view text, Rounding rounding) noexcept {
  const Rounding collect{std::min(rounding.scale, kMaxScale), rounding.strategy};
  DecimalParse p = parse_plain_with(text, collect);
  if (!p.ok() && text.find_first_of("eE") != std::string_view::npos) p = parse_scientific_with(text, collect);
  // A short text was collected exactly: this is its one rounding (a no-op for the others).
  if (p.ok()) p.value = p.value.round_to(rounding.scale, rounding.strategy);
  return p;
}

std::string DecimalParse::message() const {
  switch (error) {
    case DecimalError::None: return {};
    case DecimalError::Empty: return "Invalid decimal: empty";
    case DecimalError::NoDigits: return "Invalid decimal: no digits found";
    case DecimalError::TwoDecimalPoints: return "Invalid decimal: two decimal points";
    case DecimalError::MustStartWithNumber: return "Invalid decimal: must start lead with a number";
    case DecimalError::UnknownCharacter: return "Invalid decimal: unknown character";
    case DecimalError::TooManyDigits: return "Invalid decimal: overflow from too many digits";
    case DecimalError::MantissaAfterRounding: return "Invalid decimal: overflow from mantissa after rounding";
    case DecimalError::FailedToParse: return "Failed to parse";
    case DecimalError::ScaleExceedsMaximum:
      return "Scale exceeds the maximum precision allowed: " + std::to_string(detail) + " > " +
             std::to_string(Decimal::kMaxScale);
    case DecimalError::ExceedsMaximum: return "Number exceeds maximum value that can be represented.";
    case DecimalError::LessThanMinimum: return "Number less than minimum value that can be represented.";
  }
  return "Failed to parse";
}

}  // namespace vantrel
