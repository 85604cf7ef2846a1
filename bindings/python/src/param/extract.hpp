#pragma once
// What the decimal classes' constructors, factories and operators share when
// they look at an arbitrary Python argument.
#include <cstddef>
#include <string_view>

#include "param/values.hpp"
#include "vantrel/param/float_text.hpp"

namespace vantrel::py {

// How a type that is none of the fast-path builtins presents itself, read from
// the type's __module__ and __name__ attributes (an error while reading them,
// or a value that is not a str, is raised unchanged).
struct ForeignType {
  bool decimal_class = false;  // "vantrel.param" and one of the eight class names
  bool numpy_bool = false;     // "numpy" and "bool_" or "bool"
  std::string_view name;       // valid only when decimal_class
};
ForeignType inspect_type(PyObject* obj);
// A Python bool, or the numpy library's boolean scalar (recognised by name only).
bool is_bool_like(PyObject* obj, const ForeignType& type) noexcept;

// The double's shortest round-trip digits in plain positional notation (the core's
// rule, shared with the lock readers).
using vantrel::kFloatTextMax;
using vantrel::write_float_text;

// The value, or raises the error as throw_param_error_kind does.
template <class T>
T value_or_raise(Result<T>&& result) {
  if (!result) [[unlikely]]
    throw_param_error_kind(result.error());
  return std::move(result.value());
}

// The kind's sign rule on a finished value: NegativeValue below zero.
inline Decimal checked_sign(const DecimalClassRow& row, Decimal value) {
  if (row.never_negative && value.is_negative() && !value.is_zero()) [[unlikely]]
    throw_param_error_kind(ParamErrorKind::negative_value(row.kind));
  return value;
}

// The kind's text rule (plain, then scientific notation; the sign rule).
Decimal parse_kind_text(const DecimalClassRow& row, std::string_view text);

// "{Kind} must be a Decimal, str, int, or float" as `type` (TypeError or ValueError).
[[noreturn]] void throw_kind_refusal(PyObject* type, const DecimalClassRow& row);

}  // namespace vantrel::py
