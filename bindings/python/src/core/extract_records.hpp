#pragma once
// Python records into the engine's own records. Each runs with the interpreter
// lock held, before the engine gives the lock up; the record it returns shares
// nothing with the Python objects but its `source` handle, so it may be read and
// dropped on any thread.
#include <optional>

#include "toolkit/python.hpp"
#include "vantrel/core/account_adjustment.hpp"
#include "vantrel/core/order.hpp"

namespace vantrel {
struct ExecutionReportRecord;  // vantrel/core/execution_report.hpp
}

namespace vantrel::py {

// The caller's object a record was converted from (borrowed: the record keeps it
// alive); null for a record that was not converted. Use it with the lock held.
inline PyObject* source_object(const SourceRef& source) noexcept { return static_cast<PyObject*>(source.get()); }

// An Order (subclasses included), else TypeError "order must inherit from vantrel.Order".
OrderRecord extract_order(PyObject* order);

// An ExecutionReport (subclasses included), else TypeError "report must inherit
// from vantrel.ExecutionReport".
ExecutionReportRecord extract_execution_report(PyObject* report);

// An AccountAdjustment (subclasses included), else TypeError "adjustment must
// inherit from vantrel.AccountAdjustment".
AccountAdjustmentRecord extract_account_adjustment(PyObject* adjustment);

}  // namespace vantrel::py
