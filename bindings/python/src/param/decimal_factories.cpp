// The decimal classes' static factories: from a decimal.Decimal, a str, an
// int or a float, and the three rounded forms.
#include <cstdint>
#include <limits>

#include "exceptions.hpp"
#include "param/decimal_ops.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

double float_arg(std::string_view arg, PyObject* obj) {
  return convert_arg(arg, [&] {
    const double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return value;
  });
}

// A machine word first, then the u32 range: beyond the word the interpreter's
// own OverflowError stands.
std::uint32_t scale_arg(PyObject* obj) {
  const long value = convert_arg("scale", [&] {
    const long result = PyLong_AsLong(obj);
    if (result == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return result;
  });
  if (value < 0 || static_cast<unsigned long>(value) > std::numeric_limits<std::uint32_t>::max())
    throw_error(PyExc_OverflowError, "out of range integral type conversion attempted");
  return static_cast<std::uint32_t>(value);
}

RoundingStrategy strategy_of(std::string_view text) {
  const std::optional<RoundingStrategy> strategy = parse_rounding_strategy(text);
  if (!strategy) throw_error(PyExc_ValueError, rounding_strategy_error(text));
  return *strategy;
}

// The sign rule applies to the rounded value, so an input that rounds to zero
// is accepted by the never-negative kinds. The value was rounded once, from
// the exact input: a directed strategy never lands on the wrong side of it.
Ref rounded(const DecimalClassRow& row, Decimal value) { return wrap_decimal(checked_sign(row, value), row); }

Decimal parse_rounded_text(const DecimalClassRow& row, std::string_view text, Rounding rounding) {
  const DecimalParse parsed = Decimal::parse_rounded(text, rounding);
  if (!parsed.ok()) throw_param_error_kind(ParamErrorKind::invalid_format(row.kind, text));
  return parsed.value;
}

}  // namespace

Ref decimal_from_decimal(const DecimalClassRow& row, PyObject* value) {
  Decimal decimal = decimal_from_python(value, row.name);
  // The value is rebuilt from its canonical text, which reads a negative
  // zero back without its sign.
  if (decimal.is_zero()) decimal = decimal.abs();
  return wrap_decimal(checked_sign(row, decimal), row);
}

Ref decimal_from_string(const DecimalClassRow& row, PyObject* value) {
  return wrap_decimal(parse_kind_text(row, arg_utf8("value", value)), row);
}

Ref decimal_from_int(const DecimalClassRow& row, PyObject* value) {
  Ref integer = convert_arg("value", [&] {
    Ref index = Ref::steal(PyNumber_Index(value));
    if (!index) throw ErrorAlreadySet{};
    return index;
  });
  int overflow = 0;
  const long long small = PyLong_AsLongLongAndOverflow(integer.get(), &overflow);
  if (overflow == 0) {
    if (small == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return wrap_decimal(checked_sign(row, Decimal::from_i64(small)), row);
  }
  // The accepted range is that of a signed 128-bit integer; past it the
  // interpreter's OverflowError is raised as it comes.
  Ref shift = Ref::steal(PyLong_FromLong(64));
  if (!shift) throw_pending();
  Ref high = Ref::steal(PyNumber_Rshift(integer.get(), shift.get()));
  if (!high) throw_pending();
  if (PyLong_AsLongLong(high.get()) == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
  // Digits beyond the 96-bit mantissa fail the text rule, quoting them.
  Ref digits = Ref::steal(PyObject_Str(integer.get()));
  if (!digits) throw_pending();
  return wrap_decimal(parse_kind_text(row, utf8_of(digits.get())), row);
}

Ref decimal_from_float(const DecimalClassRow& row, PyObject* value) {
  const double real = float_arg("value", value);
  return wrap_decimal(checked_sign(row, decimal_from_finite_double(real)), row);
}

Ref decimal_from_string_rounded(const DecimalClassRow& row, PyObject* value, PyObject* scale, PyObject* strategy) {
  const std::string_view text = arg_utf8("value", value);
  const std::uint32_t digits = scale_arg(scale);
  const RoundingStrategy mode = strategy_of(arg_utf8("strategy", strategy));
  return rounded(row, parse_rounded_text(row, text, {digits, mode}));
}

Ref decimal_from_float_rounded(const DecimalClassRow& row, PyObject* value, PyObject* scale, PyObject* strategy) {
  const double real = float_arg("value", value);
  const std::uint32_t digits = scale_arg(scale);
  const RoundingStrategy mode = strategy_of(arg_utf8("strategy", strategy));
  const std::optional<Decimal> decimal = Decimal::from_double_rounded(real, {digits, mode});
  if (!decimal) throw_param_error_kind(ParamErrorKind::invalid_float());
  return rounded(row, *decimal);
}

Ref decimal_from_decimal_rounded(const DecimalClassRow& row, PyObject* value, PyObject* scale,
                                 PyObject* strategy) {
  const std::uint32_t digits = scale_arg(scale);
  const std::string_view name = arg_utf8("strategy", strategy);
  // Unlike the other two, the value is judged before the strategy.
  Ref text = decimal_text_from_python(value, row.name);
  const std::string_view digits_text = utf8_of(text.get());
  const DecimalParse valid = Decimal::parse(digits_text);
  if (!valid.ok()) throw_param_error(valid.message());
  const DecimalParse parsed = Decimal::parse_rounded(digits_text, {digits, strategy_of(name)});
  if (!parsed.ok()) throw_param_error(parsed.message());
  return rounded(row, parsed.value);
}

}  // namespace vantrel::py
