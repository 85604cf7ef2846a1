#include "vantrel/pretrade/policies/spot_funds_text.hpp"

#include "vantrel/pretrade/policies/spot_funds.hpp"

namespace vantrel {

namespace {

std::string text(Decimal d) { return d.to_string(); }
std::string text(const LedgerAmount& a, RoundingStrategy strategy = RoundingStrategy::Down) {
  return a.to_decimal(strategy).to_string();
}

// "None" or "Some(PositionSize(5))".
std::string optional_bound(const std::optional<Decimal>& bound) {
  return bound ? "Some(PositionSize(" + text(*bound) + "))" : std::string("None");
}

std::string_view field_name(HoldingsField field) { return kHoldingsFieldNames[static_cast<std::size_t>(field)]; }

AccountBlock block(std::string reason, std::string details, RejectCode code) {
  return AccountBlock{std::string(kSpotFundsPolicyName), std::move(reason), std::move(details), 0, code};
}

Reject account_reject(RejectCode code, std::string_view reason, std::string details) {
  return Reject::with_scope(kSpotFundsPolicyName, RejectScope::Account, code, std::string(reason),
                            std::move(details));
}

}  // namespace

std::string account_asset(AccountId account, std::string_view asset) {
  std::string out = "account ";
  out += std::to_string(account.value);
  out += ", asset ";
  out += asset;
  return out;
}

Reject spot_funds_missing_field(std::string_view label, std::string_view path) {
  return missing_field_reject(kSpotFundsPolicyName, label, path);
}

Reject spot_funds_order_reject(const ValuationFailure& failure) {
  return Reject::fixed(kSpotFundsPolicyName, RejectScope::Order, failure.code, failure.reason, "");
}

Reject insufficient_funds_reject(AccountId account, std::string_view asset, const LedgerAmount& usable,
                                 const LedgerAmount& requested) {
  return Reject::fixed(kSpotFundsPolicyName, RejectScope::Order, RejectCode::InsufficientFunds, "spot funds insufficient",
                      account_asset(account, asset) + ": available " + text(usable) + ", requested " +
                          text(requested, RoundingStrategy::Up));
}

Reject hold_overflow_reject(AccountId account, std::string_view asset, const LedgerAmount& requested) {
  return Reject::fixed(kSpotFundsPolicyName, RejectScope::Order, RejectCode::ArithmeticOverflow, kArithmeticOverflowReason,
                      "pre-trade hold overflow: " + account_asset(account, asset) + ", requested " + text(requested, RoundingStrategy::Up));
}

AccountBlock hold_rollback_overflow_block(AccountId account, std::string_view asset, const LedgerAmount& release,
                                          const Holdings& slot) {
  return block(std::string(kRollbackOverflowReason),
               "hold rollback overflow: " + account_asset(account, asset) + ", release " + text(release) +
                   ", slot " + holdings_text(slot),
               RejectCode::ArithmeticOverflow);
}

AccountBlock spot_funds_missing_field_block(std::string_view label, std::string_view path) {
  return block("failed to access required field '" + std::string(label) + "'",
               "failed to access field '" + std::string(path) + "'", RejectCode::MissingRequiredField);
}

AccountBlock report_overflow_block(std::string details) {
  return block(std::string(kArithmeticOverflowReason), std::move(details), RejectCode::ArithmeticOverflow);
}

AccountBlock lock_no_price_block(std::string_view label, std::uint16_t group) {
  return block("pre-trade lock has no price for " + std::string(label), "group " + std::to_string(group),
               RejectCode::MissingRequiredField);
}

AccountBlock lock_multiple_prices_block(std::string_view label, std::uint16_t group) {
  return block("pre-trade lock has multiple prices for " + std::string(label) +
                   "; two SpotFundsPolicies share a group_id",
               "group " + std::to_string(group), RejectCode::Other);
}

Reject balance_asset_missing_reject() {
  return account_reject(RejectCode::MissingRequiredField, "failed to access required field 'balance asset'",
                        "failed to access field 'operation.balance_asset'");
}

Reject adjustment_overflow_reject(AccountId account, std::string_view asset, HoldingsField field,
                                  const LedgerAmount& current, Decimal applied) {
  return account_reject(RejectCode::ArithmeticOverflow, kArithmeticOverflowReason,
                        "account adjustment overflow: " + account_asset(account, asset) + ", field " +
                            std::string(field_name(field)) + ", current " + text(current) + ", applied " +
                            text(applied));
}

Reject adjustment_bounds_reject(AccountId account, std::string_view asset, HoldingsField field,
                                const LedgerAmount& value, const FieldBounds& bounds) {
  // Rounded away from the bound it breached (the lower one is checked first), so the
  // value shown lies beyond that bound as the refused one does, never on it.
  const bool below = bounds.lower && value < *bounds.lower;
  const std::string shown = text(value, below ? RoundingStrategy::Down : RoundingStrategy::Up);
  return account_reject(RejectCode::AccountAdjustmentBoundsExceeded, "account adjustment bounds exceeded",
                        account_asset(account, asset) + ": " + std::string(field_name(field)) + " " + shown +
                            ", lower " + optional_bound(bounds.lower) + ", upper " + optional_bound(bounds.upper));
}

Reject adjustment_delta_overflow_reject(AccountId account, std::string_view asset, HoldingsField field) {
  return account_reject(RejectCode::ArithmeticOverflow, kArithmeticOverflowReason,
                        "account adjustment delta overflow: " + account_asset(account, asset) + ", field " +
                            std::string(field_name(field)));
}

AccountBlock adjustment_rollback_overflow_block(AccountId account, std::string_view asset,
                                                const HoldingsDelta& delta, const Holdings& slot) {
  return block(std::string(kRollbackOverflowReason),
               "adjustment rollback overflow: " + account_asset(account, asset) + ", available_delta " +
                   text(delta.available) + ", held_delta " + text(delta.held) + ", incoming_delta " +
                   text(delta.incoming) + ", slot " + holdings_text(slot),
               RejectCode::ArithmeticOverflow);
}

}  // namespace vantrel
