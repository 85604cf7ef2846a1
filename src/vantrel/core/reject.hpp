#pragma once
// Rejects: the business "no" of every check, with its 44 codes and two scopes.
// Plain values; any thread may use them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vantrel/core/inline_vector.hpp"

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

// A reject's policy name or reason. Built-in policies name themselves and most
// of their reasons with constant texts: those are kept by reference, so a
// reject costs no allocation for them. Any other text is owned.
class RejectText {
 public:
  RejectText() noexcept = default;
  RejectText(const RejectText&) = default;
  RejectText& operator=(const RejectText&) = default;
  RejectText& operator=(RejectText&&) noexcept = default;
  // A fixed text moves as its two words: moving the empty owned string would copy its inline
  // buffer through memcpy, and a reject moves several times on its way out.
  RejectText(RejectText&& other) noexcept
      : fixed_(other.fixed_),
        fixed_size_(other.fixed_size_),
        owned_(other.fixed_ == nullptr ? std::move(other.owned_) : std::string()) {}
  RejectText(std::string text) noexcept : owned_(std::move(text)) {}  // NOLINT: owned, implicitly
  RejectText(const char* text) : owned_(text) {}  // NOLINT: owned, implicitly
  explicit RejectText(std::string_view text) : owned_(text) {}
  // `text` must outlive every copy: a literal, or a constant of static storage.
  static RejectText fixed(std::string_view text) noexcept {
    RejectText t;
    t.fixed_ = text.data();
    t.fixed_size_ = text.size();
    return t;
  }

  std::string_view view() const noexcept {
    return fixed_ != nullptr ? std::string_view(fixed_, fixed_size_) : std::string_view(owned_);
  }
  operator std::string_view() const noexcept { return view(); }  // NOLINT: reads as a text
  std::string str() const { return std::string(view()); }
  const char* data() const noexcept { return view().data(); }
  std::size_t size() const noexcept { return view().size(); }
  bool empty() const noexcept { return size() == 0; }

  friend bool operator==(const RejectText& a, const RejectText& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const RejectText& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const RejectText& a, const std::string& b) noexcept { return a.view() == b; }
  friend bool operator==(const RejectText& a, const char* b) noexcept { return a.view() == b; }

 private:
  const char* fixed_ = nullptr;
  std::size_t fixed_size_ = 0;
  std::string owned_;
};
std::ostream& operator<<(std::ostream& out, const RejectText& text);

struct Reject {
  RejectText policy;    // the refusing policy's name, or "Engine"
  RejectText reason;    // short statement of what failed
  std::string details;  // longer explanation, often with the values involved
  std::uint64_t user_data = 0;  // opaque token; non-zero only from Python code
  RejectScope scope = RejectScope::Order;
  RejectCode code = RejectCode::Other;

  // Scope order, user data 0.
  static Reject make(std::string_view policy, RejectCode code, std::string_view reason, std::string_view details) {
    return Reject{RejectText(policy), RejectText(reason), std::string(details), 0, RejectScope::Order, code};
  }
  static Reject with_scope(std::string_view policy, RejectScope scope, RejectCode code, std::string reason,
                           std::string details) {
    return Reject{RejectText(policy), std::move(reason), std::move(details), 0, scope, code};
  }
  // A built-in policy's reject: its name and reason are constants (see RejectText::fixed).
  static Reject fixed(std::string_view policy, RejectScope scope, RejectCode code, std::string_view reason,
                      std::string details) {
    return Reject{RejectText::fixed(policy), RejectText::fixed(reason), std::move(details), 0, scope, code};
  }
  friend bool operator==(const Reject&, const Reject&) = default;
};

// "Reject(code=\"...\", reason=\"...\", details=\"...\", policy=\"...\", scope=\"...\", user_data=N)"
std::string reject_text(const Reject& reject);

// The rejects of a refused stage or batch. Never empty: a refusal always says
// why, so a refused result without a reject cannot be built.
class NonEmptyRejects {
 public:
  // Most refusals carry one reject: it lives inside the list.
  using Items = InlineVector<Reject, 1>;

  explicit NonEmptyRejects(Reject first) { items_.push_back(std::move(first)); }
  // Nullopt for an empty list.
  static std::optional<NonEmptyRejects> from(std::vector<Reject> rejects) {
    if (rejects.empty()) return std::nullopt;
    Items items;
    items.reserve_more(rejects.size());
    for (Reject& r : rejects) items.push_back(std::move(r));
    return NonEmptyRejects(std::move(items));
  }

  void push_back(Reject reject) { items_.push_back(std::move(reject)); }
  std::size_t size() const noexcept { return items_.size(); }
  const Reject& front() const noexcept { return items_[0]; }
  const Reject& operator[](std::size_t i) const noexcept { return items_[i]; }
  auto begin() const noexcept { return items_.begin(); }
  auto end() const noexcept { return items_.end(); }
  std::span<const Reject> items() const noexcept { return {items_.data(), items_.size()}; }
  // Gives up the list; the object must not be used afterwards.
  Items take() && noexcept { return std::move(items_); }

 private:
  explicit NonEmptyRejects(Items items) noexcept : items_(std::move(items)) {}
  Items items_;
};

}  // namespace vantrel
