#pragma once
// The Python side of the eight decimal kinds: which class holds each kind,
// how a Python argument becomes a value of the kind, and how a value becomes
// a new Python object.
#include <string_view>

#include "class_table.hpp"
#include "param/decimal_kinds.hpp"
#include "toolkit/ref.hpp"
#include "vantrel/param/amount.hpp"

namespace vantrel::py {

// The class that holds a value of kind K (ClassId::Price for ValueKind::Price, ...).
template <ValueKind K>
constexpr ClassId amount_class() noexcept;

// The argument conversion behind every constructor and record field of kind K:
// a K instance, a decimal.Decimal, a str, an int or a float, by the first rule
// that applies; raises TypeError / ValueError "{K} must be a Decimal, str, int,
// or float", or ParamError with the value error's text.
template <ValueKind K>
Amount<K> extract_amount(PyObject* obj);

// A new Python object of K's class holding `value`.
template <ValueKind K>
Ref wrap_amount(Amount<K> value);

// True when `obj` is an instance of K's class; then amount_of reads its value.
template <ValueKind K>
bool is_amount(PyObject* obj);
template <ValueKind K>
Amount<K> amount_of(PyObject* obj);

inline Price extract_price(PyObject* obj) { return extract_amount<ValueKind::Price>(obj); }
inline Quantity extract_quantity(PyObject* obj) { return extract_amount<ValueKind::Quantity>(obj); }
inline Volume extract_volume(PyObject* obj) { return extract_amount<ValueKind::Volume>(obj); }
inline Notional extract_notional(PyObject* obj) { return extract_amount<ValueKind::Notional>(obj); }
inline Pnl extract_pnl(PyObject* obj) { return extract_amount<ValueKind::Pnl>(obj); }
inline Fee extract_fee(PyObject* obj) { return extract_amount<ValueKind::Fee>(obj); }
inline CashFlow extract_cash_flow(PyObject* obj) { return extract_amount<ValueKind::CashFlow>(obj); }
inline PositionSize extract_position_size(PyObject* obj) { return extract_amount<ValueKind::PositionSize>(obj); }

// Raises the ParamErrorKind as the Python exception its variant maps to
// (ParamError for the decimal kinds).
[[noreturn]] void throw_param_error_kind(const ParamErrorKind& error);

// The bridge to decimal.Decimal.
Ref decimal_to_python(Decimal value);
Decimal decimal_from_python(PyObject* obj, std::string_view class_name);
// str() of a decimal.Decimal (subclasses included), not yet judged by the text rule.
Ref decimal_text_from_python(PyObject* obj, std::string_view class_name);

// The decimal.Decimal type, imported once and kept for the life of the process.
PyObject* python_decimal_type();

// The engines behind extract_amount<K> and wrap_amount<K>, driven by the kind's row.
Decimal extract_decimal(PyObject* obj, const DecimalClassRow& row);
Ref wrap_decimal(Decimal value, const DecimalClassRow& row);

// ---- definitions ----
// Every decimal class stores one Decimal (Object<Decimal>); the kind is the class.

template <ValueKind K>
constexpr ClassId amount_class() noexcept {
  static_assert(K != ValueKind::Leverage, "Leverage is not a decimal class");
  return decimal_class(K).class_id;
}

template <ValueKind K>
inline Amount<K> extract_amount(PyObject* obj) {
  return Amount<K>{extract_decimal(obj, decimal_class(K))};
}

template <ValueKind K>
inline Ref wrap_amount(Amount<K> value) {
  return wrap_decimal(value.value, decimal_class(K));
}

template <ValueKind K>
inline bool is_amount(PyObject* obj) {
  PyTypeObject* type = class_type(amount_class<K>());
  return Py_TYPE(obj) == type || PyObject_TypeCheck(obj, type);
}

template <ValueKind K>
inline Amount<K> amount_of(PyObject* obj) {
  return Amount<K>{object_cast<Decimal>(obj)->value};
}

}  // namespace vantrel::py
