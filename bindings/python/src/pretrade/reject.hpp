#pragma once
// The Python side of rejects and account blocks, and the readers that turn
// Python objects into account blocks.
#include <cstdint>
#include <string_view>
#include <span>
#include <vector>

#include "toolkit/ref.hpp"
#include "vantrel/core/account_block.hpp"
#include "vantrel/core/reject.hpp"

namespace vantrel::py {

// The code named exactly `name`, else ValueError "unsupported reject code {}".
RejectCode reject_code_or_raise(std::string_view name);

// A new vantrel.pretrade.Reject holding a copy of `reject`.
Ref wrap_reject(const Reject& reject);
// A new list of new Reject objects, in order.
Ref wrap_rejects(std::span<const Reject> rejects);

Ref wrap_account_block(const AccountBlock& block);
bool is_account_block(PyObject* obj);
const AccountBlock& account_block_of(PyObject* obj);  // precondition: is_account_block(obj)

// An AccountBlock object, or any object read by its attributes code, policy,
// reason, details (each a str, else ValueError "account_block.{} must be a
// string") and an optional user_data (else "account_block.user_data must be an
// integer token"); the code name is parsed last. A failed lookup raises its own error.
AccountBlock extract_account_block(PyObject* obj);
// Every item of an iterable through extract_account_block; the first error
// stops the reading and nothing read is kept.
std::vector<AccountBlock> extract_account_blocks(PyObject* iterable);

}  // namespace vantrel::py
