#pragma once
// What a Python policy's hooks return, read duck-typed into core results. Each
// reader raises (ErrorAlreadySet) on the first conversion error; the adapter
// parks that error and answers with its failure result.
#include <optional>
#include <string_view>

#include "toolkit/ref.hpp"
#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel::py {

// A reject-like object: code, reason, details, scope, then an optional
// user_data; the reject carries `policy` as its policy.
Reject extract_reject(PyObject* obj, std::string_view policy);
// A mutation-like object: commit, then rollback, each run later as a call
// with no arguments under the interpreter lock.
void extract_mutation(PyObject* obj, Mutations& mutations);

std::optional<Rejects> read_start_result(PyObject* result, std::string_view policy);
PreTradeCheck read_main_result(PyObject* result, std::string_view policy, Mutations& mutations);
std::optional<PostTradeContribution> read_post_trade_result(PyObject* result);
AdjustmentCheck read_adjustment_result(PyObject* result, std::string_view policy, Mutations& mutations);

// The attribute, or an empty Ref when the lookup raised AttributeError (any
// other error raises).
Ref attr_if_present(PyObject* obj, const char* name);
// The attribute; a failed lookup raises its own error.
Ref attr_required(PyObject* obj, const char* name);

}  // namespace vantrel::py
