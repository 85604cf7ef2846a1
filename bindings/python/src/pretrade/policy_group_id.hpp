#pragma once
#include <cstdint>

#include "toolkit/python.hpp"

namespace vantrel::py {

inline constexpr const char* kPolicyGroupIdRangeText = "policy_group_id must be an integer in range 0..=65535";

// A policy group id read through the index protocol: int and bool (True is 1)
// and any object with __index__; float, str and None are refused. Every
// ordinary failure becomes ValueError with the range text; an interrupt or
// SystemExit raised by __index__ passes through. False leaves an error set.
bool extract_policy_group_id(PyObject* obj, std::uint16_t& out);

}  // namespace vantrel::py
