#pragma once
// The Python OrderSizeLimit's value, for the configuration of the order size limit policy.
#include "toolkit/python.hpp"
#include "vantrel/pretrade/policies/order_size.hpp"

namespace vantrel::py {

bool is_order_size_limit(PyObject* obj);
// Precondition: is_order_size_limit(obj).
OrderSizeLimit order_size_limit_of(PyObject* obj);

}  // namespace vantrel::py
