// The decimal classes' operators. Kinds never mix: + and - take two objects of
// the class, *, / and % a plain number on the other side.
#include <cmath>

#include "exceptions.hpp"
#include "param/decimal_ops.hpp"

namespace vantrel::py {
namespace {

constexpr std::string_view kIntOutOfRange = "integer operand is out of range for i64/u64";

// The other operand of *, / and %: an exact integer or a double.
struct Number {
  bool is_integer;
  Decimal integer;
  double real;
};

// nullopt: not a number these operators take (a bool, a decimal class, or
// anything without a float value).
std::optional<Number> extract_number(PyObject* obj) {
  if (PyFloat_CheckExact(obj)) return Number{false, {}, PyFloat_AsDouble(obj)};
  if (!PyLong_CheckExact(obj)) {
    if (PyBool_Check(obj)) return std::nullopt;
    const ForeignType type = inspect_type(obj);
    if (type.numpy_bool || type.decimal_class) return std::nullopt;
    if (!PyLong_Check(obj)) {
      const double real = PyFloat_AsDouble(obj);
      if (real == -1.0 && PyErr_Occurred() != nullptr) {
        discard_conversion_error();
        return std::nullopt;
      }
      return Number{false, {}, real};
    }
  }
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow == 0) {
    if (value == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return Number{true, Decimal::from_i64(value), 0};
  }
  if (overflow > 0) {
    const unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(obj);
    if (unsigned_value != static_cast<unsigned long long>(-1) || PyErr_Occurred() == nullptr)
      return Number{true, Decimal::from_u64(unsigned_value), 0};
    PyErr_Clear();
  }
  throw_param_error(kIntOutOfRange);
}

enum class Arith { Multiply, Divide, Remainder };

// Checks the operand against the kind's rules, in the documented order, then
// computes. A never-negative kind refuses a negative operand before any
// arithmetic and gives a plain zero (scale 0) for a zero factor.
Decimal compute(const DecimalClassRow& row, Decimal value, const Number& number, Arith arith) {
  Decimal operand = number.is_integer ? number.integer : decimal_from_finite_double(number.real);
  if (operand.is_zero()) {
    if (arith != Arith::Multiply) throw_param_error_kind(ParamErrorKind::division_by_zero(row.kind));
    if (row.never_negative) return Decimal();
  } else if (row.never_negative && operand.is_negative()) {
    throw_param_error_kind(ParamErrorKind::negative_value(row.kind));
  }
  std::optional<Decimal> result;
  switch (arith) {
    case Arith::Multiply: result = value.checked_mul(operand); break;
    case Arith::Divide: result = value.checked_div(operand); break;
    case Arith::Remainder: result = value.checked_rem(operand); break;
  }
  if (!result) throw_param_error_kind(ParamErrorKind::overflow(row.kind));
  return *result;
}

Decimal value_of(PyObject* obj) noexcept { return object_cast<Decimal>(obj)->value; }

// The rules of the kind's checked sum and difference (failure is Overflow; a
// never-negative result below zero is Underflow), applied to the decimal's
// inline operation so the common case stays out of the error machinery.
Decimal kind_result(const DecimalClassRow& row, std::optional<Decimal> result) {
  if (!result) [[unlikely]]
    throw_param_error_kind(ParamErrorKind::overflow(row.kind));
  if (row.never_negative && result->is_negative() && !result->is_zero()) [[unlikely]]
    throw_param_error_kind(ParamErrorKind::underflow(row.kind));
  return *result;
}

PyObject* not_implemented() { return Ref::borrow(Py_NotImplemented).release(); }

// `self` holds the class's value; the result, or empty when `other` is not a number.
Ref apply(const DecimalClassRow& row, PyObject* self, PyObject* other, Arith arith) {
  const std::optional<Number> number = extract_number(other);
  if (!number) return Ref();
  return wrap_decimal(compute(row, value_of(self), *number, arith), row);
}

PyObject* left_only(const DecimalClassRow& row, PyObject* left, PyObject* right, Arith arith) {
  if (!is_exact(left, row.class_id)) return not_implemented();
  Ref result = apply(row, left, right, arith);
  return result ? result.release() : not_implemented();
}

}  // namespace

Decimal decimal_from_finite_double(double value) {
  if (!std::isfinite(value)) throw_param_error_kind(ParamErrorKind::invalid_float());
  const std::optional<Decimal> decimal = Decimal::from_double(value);
  if (!decimal) throw_param_error_kind(ParamErrorKind::invalid_float());
  return *decimal;
}

PyObject* decimal_add(const DecimalClassRow& row, PyObject* left, PyObject* right) {
  PyTypeObject* type = class_type(row.class_id);
  if (Py_TYPE(left) != type || Py_TYPE(right) != type) return not_implemented();
  return wrap_decimal(kind_result(row, value_of(left).checked_add(value_of(right))), row).release();
}

PyObject* decimal_subtract(const DecimalClassRow& row, PyObject* left, PyObject* right) {
  PyTypeObject* type = class_type(row.class_id);
  if (Py_TYPE(left) != type || Py_TYPE(right) != type) return not_implemented();
  return wrap_decimal(kind_result(row, value_of(left).checked_sub(value_of(right))), row).release();
}

PyObject* decimal_multiply(const DecimalClassRow& row, PyObject* left, PyObject* right) {
  // The slot serves both operand orders; the value may stand on either side.
  if (is_exact(left, row.class_id)) {
    if (Ref result = apply(row, left, right, Arith::Multiply)) return result.release();
  }
  if (is_exact(right, row.class_id)) {
    if (Ref result = apply(row, right, left, Arith::Multiply)) return result.release();
  }
  return not_implemented();
}

PyObject* decimal_true_divide(const DecimalClassRow& row, PyObject* left, PyObject* right) {
  return left_only(row, left, right, Arith::Divide);
}

PyObject* decimal_remainder(const DecimalClassRow& row, PyObject* left, PyObject* right) {
  return left_only(row, left, right, Arith::Remainder);
}

}  // namespace vantrel::py
