#pragma once
// Every reject and block text of the funds policy, built on the cold path.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vantrel/core/account_block.hpp"
#include "vantrel/core/reject.hpp"
#include "vantrel/param/decimal.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/pretrade/policies/holdings.hpp"
#include "vantrel/pretrade/policies/spot_funds_config.hpp"

namespace vantrel {

inline constexpr ValuationFailure kOrderValueCalculationFailed{RejectCode::OrderValueCalculationFailed,
                                                               "order value calculation failed"};
inline constexpr std::string_view kArithmeticOverflowReason = "arithmetic overflow";
inline constexpr std::string_view kRollbackOverflowReason = "rollback overflow: slot left inconsistent";

// ---- main stage (scope order) ----
Reject spot_funds_missing_field(std::string_view label, std::string_view path);
Reject spot_funds_order_reject(const ValuationFailure& failure);
// Amounts as 96-bit decimals: what the account has rounded down, what it is asked for rounded up.
Reject insufficient_funds_reject(AccountId account, std::string_view asset, const LedgerAmount& usable,
                                 const LedgerAmount& requested);
Reject hold_overflow_reject(AccountId account, std::string_view asset, const LedgerAmount& requested);
AccountBlock hold_rollback_overflow_block(AccountId account, std::string_view asset, const LedgerAmount& release,
                                          const Holdings& slot);

// ---- post-trade (blocks) ----
AccountBlock spot_funds_missing_field_block(std::string_view label, std::string_view path);
AccountBlock report_overflow_block(std::string details);
// `label` is "buy fill" or "buy release".
AccountBlock lock_no_price_block(std::string_view label, std::uint16_t group);
AccountBlock lock_multiple_prices_block(std::string_view label, std::uint16_t group);

// "account 1, asset USD, " and the like: the shared head of the overflow details.
std::string account_asset(AccountId account, std::string_view asset);

// ---- account adjustments (scope account) ----
Reject balance_asset_missing_reject();
Reject adjustment_overflow_reject(AccountId account, std::string_view asset, HoldingsField field,
                                  const LedgerAmount& current, Decimal applied);
// The refused value rounded away from the bound it breached: down below a lower bound, up above an upper one.
Reject adjustment_bounds_reject(AccountId account, std::string_view asset, HoldingsField field,
                                const LedgerAmount& value, const FieldBounds& bounds);
Reject adjustment_delta_overflow_reject(AccountId account, std::string_view asset, HoldingsField field);
AccountBlock adjustment_rollback_overflow_block(AccountId account, std::string_view asset,
                                                const HoldingsDelta& delta, const Holdings& slot);

}  // namespace vantrel
