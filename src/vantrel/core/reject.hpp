#pragma once
// Rejects: the business "no" of every check, with its 44 codes and two scopes.
// Plain values; any thread may use them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

// The numbering is part of the interface: codes keep these values.
enum class RejectCode : std::uint8_t {
  MissingRequiredField,
  InvalidFieldFormat,
  InvalidFieldValue,
  UnsupportedOrderType,
  UnsupportedTimeInForce,
  UnsupportedOrderAttribute,
  DuplicateClientOrderId,
  TooLateToEnter,
  ExchangeClosed,
  UnknownInstrument,
  UnknownAccount,
  UnknownVenue,
  UnknownClearingAccount,
  UnknownCollateralAsset,
  InsufficientFunds,
  InsufficientMargin,
  InsufficientPosition,
  CreditLimitExceeded,
  RiskLimitExceeded,
  OrderExceedsLimit,
  OrderQtyExceedsLimit,
  OrderNotionalExceedsLimit,
  PositionLimitExceeded,
  ConcentrationLimitExceeded,
  LeverageLimitExceeded,
  RateLimitExceeded,
  PnlKillSwitchTriggered,
  AccountBlocked,
  AccountNotAuthorized,
  ComplianceRestriction,
  InstrumentRestricted,
  JurisdictionRestriction,
  WashTradePrevention,
  SelfMatchPrevention,
  ShortSaleRestriction,
  RiskConfigurationMissing,
  ReferenceDataUnavailable,
  OrderValueCalculationFailed,
  SystemUnavailable,
  MarkPriceUnavailable,
  AccountAdjustmentBoundsExceeded,
  ArithmeticOverflow,
  Custom,
  Other,
};
inline constexpr std::size_t kRejectCodeCount = 44;

// Order: only this order is refused. Account: the account itself is refused.
enum class RejectScope : std::uint8_t { Order = 0, Account = 1 };

// The one table of code names, indexed by code value. Every conversion of a
// code to text and every parser of a code name goes through it.
inline constexpr std::array<std::string_view, kRejectCodeCount> kRejectCodeNames = {
    "MissingRequiredField",     "InvalidFieldFormat",          "InvalidFieldValue",
    "UnsupportedOrderType",     "UnsupportedTimeInForce",      "UnsupportedOrderAttribute",
    "DuplicateClientOrderId",   "TooLateToEnter",              "ExchangeClosed",
    "UnknownInstrument",        "UnknownAccount",              "UnknownVenue",
    "UnknownClearingAccount",   "UnknownCollateralAsset",      "InsufficientFunds",
    "InsufficientMargin",       "InsufficientPosition",        "CreditLimitExceeded",
    "RiskLimitExceeded",        "OrderExceedsLimit",           "OrderQtyExceedsLimit",
    "OrderNotionalExceedsLimit", "PositionLimitExceeded",      "ConcentrationLimitExceeded",
    "LeverageLimitExceeded",    "RateLimitExceeded",           "PnlKillSwitchTriggered",
    "AccountBlocked",           "AccountNotAuthorized",        "ComplianceRestriction",
    "InstrumentRestricted",     "JurisdictionRestriction",     "WashTradePrevention",
    "SelfMatchPrevention",      "ShortSaleRestriction",        "RiskConfigurationMissing",
    "ReferenceDataUnavailable", "OrderValueCalculationFailed", "SystemUnavailable",
    "MarkPriceUnavailable",     "AccountAdjustmentBoundsExceeded", "ArithmeticOverflow",
    "Custom",                   "Other",
};
static_assert(static_cast<std::size_t>(RejectCode::Other) + 1 == kRejectCodeCount);

// The code's name ("InsufficientFunds"). A value outside the enumeration,
// which only a bad cast can make, gives an empty text.
constexpr std::string_view reject_code_name(RejectCode code) noexcept {
  const auto index = static_cast<std::size_t>(code);
  return index < kRejectCodeCount ? kRejectCodeNames[index] : std::string_view{};
}

// Exact match, letter case included, no trimming.
std::optional<RejectCode> parse_reject_code(std::string_view name) noexcept;
// "unsupported reject code {}" with the given text quoted.
std::string unsupported_reject_code_message(std::string_view name);

constexpr std::string_view reject_scope_name(RejectScope scope) noexcept {
  return scope == RejectScope::Account ? "account" : "order";
}
// Trimmed of white space and lower-cased (ASCII letters), then "order" or "account".
std::optional<RejectScope> parse_reject_scope(std::string_view text) noexcept;
inline constexpr std::string_view kRejectScopeMessage = "reject.scope must be either 'order' or 'account'";

struct Reject {
  std::string policy;   // the refusing policy's name, or "Engine"
  std::string reason;   // short statement of what failed
  std::string details;  // longer explanation, often with the values involved
  std::uint64_t user_data = 0;  // opaque token; non-zero only from Python code
  RejectScope scope = RejectScope::Order;
  RejectCode code = RejectCode::Other;

  // Scope order, user data 0.
  static Reject make(std::string_view policy, RejectCode code, std::string_view reason, std::string_view details) {
    return Reject{std::string(policy), std::string(reason), std::string(details), 0, RejectScope::Order, code};
  }
  static Reject with_scope(std::string_view policy, RejectScope scope, RejectCode code, std::string reason,
                           std::string details) {
    return Reject{std::string(policy), std::move(reason), std::move(details), 0, scope, code};
  }
  friend bool operator==(const Reject&, const Reject&) = default;
};

// "Reject(code=\"...\", reason=\"...\", details=\"...\", policy=\"...\", scope=\"...\", user_data=N)"
std::string reject_text(const Reject& reject);

// The rejects of a refused stage or batch. Never empty: a refusal always says
// why, so a refused result without a reject cannot be built.
class NonEmptyRejects {
 public:
  explicit NonEmptyRejects(Reject first) { items_.push_back(std::move(first)); }
  // Nullopt for an empty list.
  static std::optional<NonEmptyRejects> from(std::vector<Reject> rejects) {
    if (rejects.empty()) return std::nullopt;
    return NonEmptyRejects(std::move(rejects));
  }

  void push_back(Reject reject) { items_.push_back(std::move(reject)); }
  std::size_t size() const noexcept { return items_.size(); }
  const Reject& front() const noexcept { return items_.front(); }
  const Reject& operator[](std::size_t i) const noexcept { return items_[i]; }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }
  const std::vector<Reject>& items() const noexcept { return items_; }
  // Gives up the list; the object must not be used afterwards.
  std::vector<Reject> take() && noexcept { return std::move(items_); }

 private:
  explicit NonEmptyRejects(std::vector<Reject> items) noexcept : items_(std::move(items)) {}
  std::vector<Reject> items_;
};

}  // namespace vantrel
