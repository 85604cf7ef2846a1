#include "vantrel/pretrade/policies/ledger_amount.hpp"

#include <algorithm>

#include "vantrel/param/decimal_wide.hpp"

namespace vantrel {

namespace {

// The rounding a ledger amount takes: Up towards +infinity, anything else towards -infinity.
RoundingStrategy ledger_rounding(RoundingStrategy strategy) noexcept {
  return strategy == RoundingStrategy::Up ? RoundingStrategy::Up : RoundingStrategy::Down;
}

}  // namespace

using namespace ledger_detail;
using decimal_detail::add_wide;
using decimal_detail::cmp_wide;
using decimal_detail::sub_wide;

std::optional<LedgerAmount> LedgerAmount::product_wide(Decimal a, Decimal b, RoundingStrategy strategy) noexcept {
  LedgerAmount r;
  r.neg_ = a.is_negative() != b.is_negative();
  unsigned scale = a.scale() + b.scale();
  const u128 ma = a.mantissa(), mb = b.mantissa();
  if ((ma >> 64) == 0 && (mb >> 64) == 0) {
    r.mag_ = U256::of(static_cast<u128>(static_cast<std::uint64_t>(ma)) * static_cast<std::uint64_t>(mb));
  } else {
    r.mag_ = decimal_detail::mul_wide(U256::of(ma), mb);
  }
  if (scale > kPlaces) {
    r.mag_ = decimal_detail::div_pow10_rounded(r.mag_, scale - kPlaces, ledger_rounding(strategy), r.neg_);
    scale = kPlaces;
  }
  if (r.mag_.is_zero()) r.neg_ = false;
  r.scale_ = static_cast<std::uint8_t>(scale);
  if (cmp_wide(r.mag_, kLimit.v[scale]) >= 0) return std::nullopt;
  return r;
}

Decimal LedgerAmount::to_decimal_rounded(RoundingStrategy strategy) const noexcept {
  if (mag_.fits96() && scale_ <= Decimal::kMaxScale)
    return decimal_detail::make_decimal(mag_.low128(), scale_, neg_);
  // The fewest digits to drop: a 96-bit mantissa keeps at most 29 digits, and
  // a scale of at most 28.
  unsigned k = scale_ > Decimal::kMaxScale ? scale_ - Decimal::kMaxScale : 0;
  const unsigned bits = mag_.bit_length();
  if (bits > 96) {
    const unsigned min_digits = (bits - 1) * 30102u / 100000u + 1;
    if (min_digits > 29) k = std::max(k, min_digits - 29);
  }
  const RoundingStrategy rounding = ledger_rounding(strategy);
  for (; k <= scale_; ++k) {
    const U256 q = decimal_detail::div_pow10_rounded(mag_, k, rounding, neg_);
    // A negative amount rounded up to zero is reported as zero, never as a negative zero.
    if (q.fits96()) return decimal_detail::make_decimal(q.low128(), scale_ - k, neg_ && !q.is_zero());
  }
  // Unreached: an amount is at most 2^96 - 1, which rounds to at most that at scale 0.
  return decimal_detail::make_decimal(decimal_detail::kMaxMantissa, 0, neg_);
}

std::optional<LedgerAmount> LedgerAmount::plus_wide(const LedgerAmount& other) const noexcept {
  const unsigned s = scale_ > other.scale_ ? scale_ : other.scale_;
  const U256 a = at_scale(s), b = other.at_scale(s);
  LedgerAmount r;
  r.scale_ = static_cast<std::uint8_t>(s);
  if (neg_ == other.neg_) {
    r.mag_ = add_wide(a, b);
    r.neg_ = neg_;
  } else if (cmp_wide(a, b) >= 0) {
    r.mag_ = sub_wide(a, b);
    r.neg_ = neg_;
  } else {
    r.mag_ = sub_wide(b, a);
    r.neg_ = other.neg_;
  }
  if (r.mag_.is_zero()) r.neg_ = false;
  if (cmp_wide(r.mag_, kLimit.v[s]) >= 0) return std::nullopt;
  return r;
}

int LedgerAmount::compare_magnitudes(const LedgerAmount& a, const LedgerAmount& b) noexcept {
  const unsigned s = a.scale_ > b.scale_ ? a.scale_ : b.scale_;
  return cmp_wide(a.at_scale(s), b.at_scale(s));
}

std::string LedgerAmount::to_string() const {
  // At most 66 digits: 2^217 has 66.
  char digits[80];
  int n = 0;
  U256 m = mag_;
  do {
    digits[n++] = static_cast<char>('0' + m.divmod(10));
  } while (!m.is_zero());
  while (n <= static_cast<int>(scale_)) digits[n++] = '0';
  std::string out;
  if (neg_) out += '-';
  for (int i = n - 1; i >= 0; --i) {
    out += digits[i];
    if (i == static_cast<int>(scale_) && i != 0) out += '.';
  }
  return out;
}

std::optional<LedgerAmount::Packed> LedgerAmount::pack_shortened() const noexcept {
  LedgerAmount r = *this;
  while (r.scale_ > 0) {
    U256 q = r.mag_;
    if (q.divmod(10) != 0) break;
    r.mag_ = q;
    --r.scale_;
    if (r.mag_.fits128() && (r.mag_.w[1] & ~Packed::kMagnitudeBits) == 0) return r.pack();
  }
  return std::nullopt;
}

}  // namespace vantrel
