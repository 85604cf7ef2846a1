#pragma once
// A Python object acting as a policy, and the context objects its hooks receive.
#include <memory>

#include "toolkit/ref.hpp"
#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel::py {

// Reads and checks `policy` (name, policy_group_id, the four hooks, in that
// order) and returns the engine-side policy; the first failure raises.
std::unique_ptr<Policy> extract_python_policy(PyObject* policy);

// The Python context objects, snapshots of an engine context (its account
// group resolved first).
Ref make_context(const PreTradeContext& ctx);
Ref make_post_trade_context(const PostTradeContext& ctx);
Ref make_adjustment_context(const AccountAdjustmentContext& ctx);

// A new AccountControl binding `registry` to `account`.
Ref make_account_control(std::shared_ptr<AccountBlockRegistry> registry, AccountId account);

}  // namespace vantrel::py
