#pragma once
// The funds policy's entry on ReadyEngineBuilder.
#include "toolkit/python.hpp"

namespace vantrel::py {

// ReadyEngineBuilder._add_builtin_spot_funds(*, policy_group_id=0, market_data=None,
// default_slippage_bps=None, pricing_source=None, overrides=...): returns the builder.
PyObject* ready_add_spot_funds(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vantrel::py
