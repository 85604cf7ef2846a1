#pragma once
// The engines of the decimal class template: operators and factories, each
// driven by the kind's row. The template (param_decimal.cpp) binds them to a
// class's slots and method table.
#include "param/extract.hpp"

namespace vantrel::py {

// Operator slots. Every one returns a new reference, or NotImplemented for an
// operand it does not take.
PyObject* decimal_add(const DecimalClassRow& row, PyObject* left, PyObject* right);
PyObject* decimal_subtract(const DecimalClassRow& row, PyObject* left, PyObject* right);
PyObject* decimal_multiply(const DecimalClassRow& row, PyObject* left, PyObject* right);
PyObject* decimal_true_divide(const DecimalClassRow& row, PyObject* left, PyObject* right);
PyObject* decimal_remainder(const DecimalClassRow& row, PyObject* left, PyObject* right);

// The static factories, after their arguments were matched to parameters.
Ref decimal_from_decimal(const DecimalClassRow& row, PyObject* value);
Ref decimal_from_string(const DecimalClassRow& row, PyObject* value);
Ref decimal_from_int(const DecimalClassRow& row, PyObject* value);
Ref decimal_from_float(const DecimalClassRow& row, PyObject* value);
Ref decimal_from_string_rounded(const DecimalClassRow& row, PyObject* value, PyObject* scale, PyObject* strategy);
Ref decimal_from_float_rounded(const DecimalClassRow& row, PyObject* value, PyObject* scale, PyObject* strategy);
Ref decimal_from_decimal_rounded(const DecimalClassRow& row, PyObject* value, PyObject* scale, PyObject* strategy);

// A double as a decimal the way from_float converts it; NaN, the infinities
// and magnitudes beyond the decimal raise "invalid float value".
Decimal decimal_from_finite_double(double value);

}  // namespace vantrel::py
