// Context, PostTradeContext, AccountAdjustmentContext: read-only snapshots of
// an engine context for one Python hook call, and AccountControl, through
// which a hook blocks the account of its context. Used under the interpreter
// lock; AccountControl.block takes the block registry's locks meanwhile.
#include <memory>
#include <new>
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

// The group as the stage first resolved it; the account control only where
// offered. Its registry is borrowed from the stage while the hook runs, and
// held once the context outlives the hook.
struct ContextValue {
  std::optional<AccountGroupId> group;
  AccountBlockRegistry* registry = nullptr;
  std::shared_ptr<AccountBlockRegistry> held;
  AccountId account{};
};

namespace {

ContextValue context_value(const StageContext& ctx, AccountBlockRegistry* registry) {
  ContextValue value{ctx.account_group(), nullptr, nullptr, {}};
  if (registry != nullptr && ctx.account_id()) {
    value.registry = registry;
    value.account = *ctx.account_id();
  }
  return value;
}

PyObject* account_group_getter(PyObject* self, void*) {
  const std::optional<AccountGroupId>& group = object_cast<ContextValue>(self)->value.group;
  if (!group) Py_RETURN_NONE;
  return wrap_account_group_id(*group).release();
}

PyObject* account_control_getter(PyObject* self, void*) {
  const ContextValue& value = object_cast<ContextValue>(self)->value;
  if (value.registry == nullptr) Py_RETURN_NONE;
  return make_account_control(value.held ? value.held : value.registry->shared_from_this(), value.account).release();
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

// One spare context object per class. A hook that kept no reference to its
// context hands the object back for the next hook of its kind, so contexts cost
// no allocation; one that kept it keeps a snapshot that never changes. Owned
// references, kept for the life of the process; used under the interpreter lock.
PyObject* g_spare_contexts[3] = {nullptr, nullptr, nullptr};

PyObject*& spare_context(ClassId id) {
  return g_spare_contexts[id == ClassId::Context ? 0 : id == ClassId::PostTradeContext ? 1 : 2];
}

Ref context_object(ClassId id, const StageContext& ctx, AccountBlockRegistry* registry) {
  PyObject*& spare = spare_context(id);
  if (spare != nullptr && Py_REFCNT(spare) == 1) {
    Ref reused = Ref::steal(std::exchange(spare, nullptr));
    ContextValue& value = object_cast<ContextValue>(reused.get())->value;
    value.group = ctx.account_group();
    if (registry != nullptr && ctx.account_id()) {
      value.registry = registry;
      value.account = *ctx.account_id();
    }
    return reused;
  }
  return make_final_instance<ContextValue>(class_type(id), context_value(ctx, registry));
}

}  // namespace

ContextLease::ContextLease(const PreTradeContext& ctx)
    : id_(ClassId::Context), object_(context_object(id_, ctx, ctx.account_control())) {}

ContextLease::ContextLease(const PostTradeContext& ctx)
    : id_(ClassId::PostTradeContext), object_(context_object(id_, ctx, nullptr)) {}

ContextLease::ContextLease(const AccountAdjustmentContext& ctx)
    : id_(ClassId::AccountAdjustmentContext), object_(context_object(id_, ctx, &ctx.account_control())) {}

ContextLease::~ContextLease() {
  ContextValue& value = object_cast<ContextValue>(object_.get())->value;
  if (!may_touch_python()) {
    // A thread being ended (or one without the lock) can neither read the
    // reference count nor touch the spares, so the object is leaked, and with
    // it whatever the hook may have kept. Its registry is borrowed from the
    // stage: the registry is kept for good instead of handed over, so a kept
    // context never points at a freed one. Nothing of the object is written.
    // Asked in full, not by the exiting flag: a hook's body wraps every call
    // that can run Python before its first reference, and that reference's
    // release notes the thread, so the flag would do today, but a call added
    // there unwrapped would hand an ended thread's context back as the spare.
    if (value.registry != nullptr && !value.held)
      if (std::shared_ptr<AccountBlockRegistry> registry = value.registry->weak_from_this().lock())
        static_cast<void>(new (std::nothrow) std::shared_ptr<AccountBlockRegistry>(std::move(registry)));
    static_cast<void>(object_.release());
    return;
  }
  if (Py_REFCNT(object_.get()) > 1) {
    // Kept by the hook: it must stand on its own once the stage is over.
    if (value.registry != nullptr && !value.held) value.held = value.registry->weak_from_this().lock();
    return;
  }
  // Spares hold nothing of the stage (a kept context never becomes a spare, so
  // `held` is empty here).
  value.registry = nullptr;
  PyObject*& spare = spare_context(id_);
  if (spare == nullptr) spare = object_.release();
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
