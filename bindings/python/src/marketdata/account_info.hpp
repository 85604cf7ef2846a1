#pragma once
// Reading the account group of a duck-typed `account_info` object during core work.
#include <optional>

#include "toolkit/python.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel::py {

// `account_info.account_group`, read once by the caller per lookup. A failed read
// or a value that is neither AccountGroupId nor None is parked in the thread's
// pending slot and counts as no group. Caller holds the lock.
std::optional<AccountGroupId> read_account_info_group(PyObject* account_info);

}  // namespace vantrel::py
