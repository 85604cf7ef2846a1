#pragma once
// A Python object acting as a policy, and the context objects its hooks receive.
#include <memory>

#include "class_table.hpp"
#include "toolkit/ref.hpp"
#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel::py {

// Reads and checks `policy` (name, policy_group_id, the four hooks, in that
// order) and returns the engine-side policy; the first failure raises.
std::unique_ptr<Policy> extract_python_policy(PyObject* policy);

// The Python context object of one hook call, a snapshot of an engine context
// (its account group resolved first). Lives on the stack around the call, under
// the interpreter lock; when the hook kept no reference to it, the object is
// reused by the next call of its kind.
class ContextLease {
 public:
  explicit ContextLease(const PreTradeContext& ctx);
  explicit ContextLease(const PostTradeContext& ctx);
  explicit ContextLease(const AccountAdjustmentContext& ctx);
  ~ContextLease();
  ContextLease(const ContextLease&) = delete;
  ContextLease& operator=(const ContextLease&) = delete;
  PyObject* get() const noexcept { return object_.get(); }

 private:
  ClassId id_;
  Ref object_;
};

// A new AccountControl binding `registry` to `account`.
Ref make_account_control(std::shared_ptr<AccountBlockRegistry> registry, AccountId account);

}  // namespace vantrel::py
