#pragma once
// ParamErrorKind: the error of every value operation, and Result<T>, a value or that error.

#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "vantrel/param/value_kind.hpp"

namespace vantrel {

class ParamErrorKind {
 public:
  enum class Variant : std::uint8_t {
    Other,            // "other parameter error"
    NegativeValue,    // "value must be non-negative for {kind}"
    DivisionByZero,   // "division by zero in {kind}"
    Overflow,         // "arithmetic overflow in {kind}"
    Underflow,        // "arithmetic underflow in {kind}"
    InvalidFloat,     // "invalid float value"
    InvalidFormat,    // "invalid format for {kind}: '{input}'"
    InvalidPrice,     // "invalid price value"
    InvalidLeverage,  // "invalid leverage value"
    EmptyAsset,       // "asset must not be empty"
    EmptyAccountId,   // "account id string must not be empty"
  };

  static ParamErrorKind other() { return ParamErrorKind(Variant::Other); }
  static ParamErrorKind negative_value(ValueKind k) { return ParamErrorKind(Variant::NegativeValue, k); }
  static ParamErrorKind division_by_zero(ValueKind k) { return ParamErrorKind(Variant::DivisionByZero, k); }
  static ParamErrorKind overflow(ValueKind k) { return ParamErrorKind(Variant::Overflow, k); }
  static ParamErrorKind underflow(ValueKind k) { return ParamErrorKind(Variant::Underflow, k); }
  static ParamErrorKind invalid_float() { return ParamErrorKind(Variant::InvalidFloat); }
  // The input is kept exactly as given (no trimming).
  static ParamErrorKind invalid_format(ValueKind k, std::string_view input) {
    ParamErrorKind e(Variant::InvalidFormat, k);
    e.input_.assign(input);
    return e;
  }
  static ParamErrorKind invalid_price() { return ParamErrorKind(Variant::InvalidPrice); }
  static ParamErrorKind invalid_leverage() { return ParamErrorKind(Variant::InvalidLeverage); }
  static ParamErrorKind empty_asset() { return ParamErrorKind(Variant::EmptyAsset); }
  static ParamErrorKind empty_account_id() { return ParamErrorKind(Variant::EmptyAccountId); }

  Variant variant() const noexcept { return variant_; }
  // Meaningful for the variants that carry a kind.
  ValueKind kind() const noexcept { return kind_; }
  // The failed text of InvalidFormat; empty otherwise.
  const std::string& input() const noexcept { return input_; }

  std::string message() const;

  friend bool operator==(const ParamErrorKind&, const ParamErrorKind&) = default;

 private:
  explicit ParamErrorKind(Variant v, ValueKind k = ValueKind::Quantity) : variant_(v), kind_(k) {}

  Variant variant_;
  ValueKind kind_;
  std::string input_;
};

// A value or a ParamErrorKind (C++20 has no std::expected).
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  Result(ParamErrorKind error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }

  // Preconditions: ok() for value(), !ok() for error().
  const T& value() const& { return *std::get_if<0>(&v_); }
  T& value() & { return *std::get_if<0>(&v_); }
  const T& operator*() const& { return value(); }
  const T* operator->() const { return &value(); }
  const ParamErrorKind& error() const& { return *std::get_if<1>(&v_); }

 private:
  std::variant<T, ParamErrorKind> v_;
};

}  // namespace vantrel
