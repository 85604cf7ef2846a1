#pragma once
// The Python side of the identifiers, and the readers of identifier arguments.
#include <optional>

#include "toolkit/ref.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel::py {

Ref wrap_account_id(AccountId id);
bool is_account_id(PyObject* obj);
AccountId account_id_of(PyObject* obj);  // precondition: is_account_id(obj)
// TypeError "account_id must be vantrel.param.AccountId" for anything else.
AccountId extract_account_id(PyObject* obj);

Ref wrap_account_group_id(AccountGroupId id);
bool is_account_group_id(PyObject* obj);
AccountGroupId account_group_id_of(PyObject* obj);  // precondition: is_account_group_id(obj)

Ref wrap_instrument_id(InstrumentId id);
bool is_instrument_id(PyObject* obj);
InstrumentId instrument_id_of(PyObject* obj);  // precondition: is_instrument_id(obj)

// An item of a collection of account ids. An item of another type (a plain int
// included) raises TypeError "account_id must be vantrel.param.AccountId".
AccountId account_id_item(PyObject* item);

// An AccountGroupId (DEFAULT gives group 0) or an integer in 1..=4294967295. The
// integer 0 and anything else raise ValueError with their own texts.
AccountGroupId extract_account_group_id(PyObject* obj);

}  // namespace vantrel::py
