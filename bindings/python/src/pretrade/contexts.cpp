// Context, PostTradeContext, AccountAdjustmentContext: read-only snapshots of
// an engine context for one Python hook call, and AccountControl, through
// which a hook blocks the account of its context. Used under the interpreter
// lock; AccountControl.block takes the block registry's locks meanwhile.
#include <memory>
#include <optional>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/ids.hpp"
#include "pretrade/python_policy.hpp"
#include "pretrade/reject.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "vantrel/pretrade/account_blocks.hpp"

namespace vantrel::py {

struct AccountControlValue {
  std::shared_ptr<AccountBlockRegistry> registry;
  AccountId account;
};

// The group as the stage first resolved it; the control only where offered.
struct ContextValue {
  std::optional<AccountGroupId> group;
  std::optional<AccountControlValue> control;
};

namespace {

std::optional<AccountControlValue> control_of(AccountBlockRegistry* registry, std::optional<AccountId> account) {
  if (registry == nullptr || !account) return std::nullopt;
  return AccountControlValue{registry->shared_from_this(), *account};
}

PyObject* account_group_getter(PyObject* self, void*) {
  const std::optional<AccountGroupId>& group = object_cast<ContextValue>(self)->value.group;
  if (!group) Py_RETURN_NONE;
  return wrap_account_group_id(*group).release();
}

PyObject* account_control_getter(PyObject* self, void*) {
  const std::optional<AccountControlValue>& control = object_cast<ContextValue>(self)->value.control;
  if (!control) Py_RETURN_NONE;
  return make_account_control(control->registry, control->account).release();
}

PyObject* account_control_block(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("AccountControl.block()", req("block"));
  auto [block] = parse(spec, args, nargs, kwnames);
  if (!is_account_block(block)) throw_arg_cannot_convert("block", block, "AccountBlock");
  const AccountControlValue& control = object_cast<AccountControlValue>(self)->value;
  // An account already blocked keeps its older block.
  control.registry->record(control.account, account_block_of(block));
  Py_RETURN_NONE;
}

ClassBehaviour context_behaviour_with(bool with_control) {
  static PyGetSetDef both[] = {
      {"account_group", entry<&account_group_getter>, nullptr, nullptr, nullptr},
      {"account_control", entry<&account_control_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static PyGetSetDef group_only[] = {
      {"account_group", entry<&account_group_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  ClassBehaviour b = base_behaviour<ContextValue>();
  b.slots.push_back({Py_tp_getset, with_control ? both : group_only});
  return b;
}

Ref make_context_of(ClassId id, ContextValue value) { return make_instance<ContextValue>(class_type(id), std::move(value)); }

}  // namespace

Ref make_context(const PreTradeContext& ctx) {
  return make_context_of(ClassId::Context,
                         ContextValue{ctx.account_group(), control_of(ctx.account_control(), ctx.account_id())});
}

Ref make_post_trade_context(const PostTradeContext& ctx) {
  return make_context_of(ClassId::PostTradeContext, ContextValue{ctx.account_group(), std::nullopt});
}

Ref make_adjustment_context(const AccountAdjustmentContext& ctx) {
  return make_context_of(ClassId::AccountAdjustmentContext,
                         ContextValue{ctx.account_group(), control_of(&ctx.account_control(), ctx.account_id())});
}

Ref make_account_control(std::shared_ptr<AccountBlockRegistry> registry, AccountId account) {
  return make_instance<AccountControlValue>(class_type(ClassId::AccountControl),
                                            AccountControlValue{std::move(registry), account});
}

const ClassBehaviour* context_behaviour() {
  static const ClassBehaviour behaviour = context_behaviour_with(true);
  return &behaviour;
}
const ClassBehaviour* adjustment_context_behaviour() {
  static const ClassBehaviour behaviour = context_behaviour_with(true);
  return &behaviour;
}
const ClassBehaviour* post_trade_context_behaviour() {
  static const ClassBehaviour behaviour = context_behaviour_with(false);
  return &behaviour;
}

const ClassBehaviour* account_control_behaviour() {
  static PyMethodDef methods[] = {
      {"block", method_entry<&account_control_block>(), kFastcallFlags, "block($self, block)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<AccountControlValue>();
      b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
