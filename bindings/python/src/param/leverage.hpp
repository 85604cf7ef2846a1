#pragma once
// The Python side of Leverage: a multiplier held as a whole number of tenths.
#include <cstdint>

#include "toolkit/ref.hpp"
#include "vantrel/param/leverage.hpp"

namespace vantrel::py {

// Every leverage argument goes through this: a Leverage, an integer multiplier or a
// float multiplier, giving a count of tenths within 10..30000. Raises the built-in
// ValueError ("leverage must be vantrel.param.Leverage, int, or float", "invalid
// leverage value", "arithmetic overflow in Leverage"), never ParamError; callers
// raise it unchanged, without an argument name.
std::uint16_t extract_leverage(PyObject* obj);

// A new Leverage object holding `leverage` (already checked).
Ref wrap_leverage(Leverage leverage);
bool is_leverage(PyObject* obj);
// Precondition: is_leverage(obj).
Leverage leverage_of(PyObject* obj);

}  // namespace vantrel::py
