#pragma once
// The Python side of the price lock, for the records and results that carry one.
#include "toolkit/ref.hpp"
#include "vantrel/core/lock.hpp"

namespace vantrel::py {

// A new vantrel.pretrade.Lock (exactly that class) holding `lock`.
Ref wrap_lock(Lock lock);
bool is_lock(PyObject* obj);  // subclasses included
// A copy of the lock inside `obj` (precondition: is_lock), read under a shared
// borrow: RuntimeError "Already mutably borrowed" while a write is under way.
Lock lock_copy_of(PyObject* obj);

}  // namespace vantrel::py
