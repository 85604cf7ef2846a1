// The adapter that lets a Python object act as a policy. Its hooks run on
// whatever thread drives the engine, with or without the interpreter lock:
// each resolves the account group first (no Python involved), then takes the
// interpreter lock for the call unless the thread still holds it. No engine
// lock is held at that point.
#include "pretrade/python_policy.hpp"

#include <string>

#include "param/ids.hpp"
#include "pretrade/policy_group_id.hpp"
#include "pretrade/policy_results.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/gil.hpp"
#include "toolkit/hook.hpp"
#include "toolkit/names.hpp"
#include "toolkit/pending.hpp"

namespace vantrel::py {
namespace {

enum Hook { kStart, kMain, kPostTrade, kAdjustment, kHookCount };
constexpr Name kHooks[kHookCount] = {Name::check_pre_trade_start, Name::perform_pre_trade_check,
                                     Name::apply_execution_report, Name::apply_account_adjustment};

// A hook the look-up found no callable for says so as registration would.
// The interpreter raised "'{type}' object is not callable" from its own code
// then, before any call: a TypeError with no Python frame in its traceback.
// Anything else stays as raised, the hook's own TypeError included (its frame
// is in the traceback) even when the hook replaced itself by a non-callable
// meanwhile, or another thread did. Only a failed call comes here, so the
// second look-up costs nothing on the way of an order.
[[noreturn]] void hook_call_failed(PyObject* policy, Hook hook) {
  set_pending_or_system_error();
  if (PyErr_ExceptionMatches(PyExc_TypeError)) {
    PyErrState raised = PyErrState::fetch();
    std::string text;
    // The text and the second look-up run the object's code (a __str__, a
    // property, a __getattr__): a thread ended there is noted before the
    // references held here are released, as in the hook's call.
    if (!raised.traceback && raised.value &&
        noting_thread_exit([&] { return str_of(raised.value.get(), text); }) &&
        text.ends_with("' object is not callable")) {
      Ref method = Ref::steal(noting_thread_exit([&] { return PyObject_GetAttr(policy, interned(kHooks[hook])); }));
      if (method && PyCallable_Check(method.get()) == 0)
        throw_error(PyExc_TypeError, cat("policy.", name_text(kHooks[hook]), " must be callable"));
    }
    PyErr_Clear();
    raised.restore();
  }
  throw ErrorAlreadySet{};
}

// policy.<hook>(args...), the method looked up by name on the object at each
// call, as the interpreter's own method call does it: a function found on the
// class is called with the object prepended, no bound method and no argument
// tuple made. A method replaced on the object or on its class is what the
// next call finds.
template <class... Args>
Ref call_hook(PyObject* policy, Hook hook, Args*... args) {
  Ref result = Ref::steal(noting_thread_exit(
      [&] { return PyObject_CallMethodObjArgs(policy, interned(kHooks[hook]), args..., nullptr); }));
  if (!result) hook_call_failed(policy, hook);
  return result;
}

// policy.apply_execution_report(ctx=ctx, report=report). The 3.11 limited API
// has no keyword call without a bound method and a dict; the bound method
// lives for this call only.
Ref call_post_trade_hook(PyObject* policy, PyObject* ctx, PyObject* report) {
  // The look-up runs the object's code (a property, a __getattr__), wrapped as the call is.
  Ref method = Ref::steal(
      noting_thread_exit([policy] { return PyObject_GetAttr(policy, interned(kHooks[kPostTrade])); }));
  if (!method) throw_pending();
  if (PyCallable_Check(method.get()) == 0)
    throw_error(PyExc_TypeError, cat("policy.", name_text(kHooks[kPostTrade]), " must be callable"));
  Ref kwargs = Ref::steal(PyDict_New());
  if (!kwargs) throw_pending();
  if (PyDict_SetItem(kwargs.get(), interned(Name::ctx), ctx) != 0 ||
      PyDict_SetItem(kwargs.get(), interned(Name::report), report) != 0)
    throw ErrorAlreadySet{};
  Ref no_args = Ref::steal(PyTuple_New(0));
  if (!no_args) throw_pending();
  Ref result =
      Ref::steal(noting_thread_exit([&] { return PyObject_Call(method.get(), no_args.get(), kwargs.get()); }));
  if (!result) throw_pending();
  return result;
}

PyObject* source_of(const SourceRef& source) {
  PyObject* obj = static_cast<PyObject*>(source.get());
  return obj != nullptr ? obj : Py_None;
}

class PythonPolicy final : public Policy {
 public:
  PythonPolicy(std::string name, Ref object, std::uint16_t group) noexcept
      : name_(std::move(name)), object_(std::move(object)), group_(group) {}

  std::string_view name() const noexcept override { return name_; }
  std::uint16_t policy_group_id() const noexcept override { return group_; }

  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override {
    ctx.account_group();
    return run_hook(
        [&] {
          ContextLease py_ctx(ctx);
          Ref result = call_hook(object_.get(), kStart, py_ctx.get(), source_of(order.source));
          return read_start_result(result.get(), name_);
        },
        [this] { return std::optional<Rejects>(callback_failure()); });
  }

  PreTradeCheck perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord& order,
                                        Mutations& mutations) const override {
    ctx.account_group();
    return run_hook(
        [&] {
          ContextLease py_ctx(ctx);
          Ref result = call_hook(object_.get(), kMain, py_ctx.get(), source_of(order.source));
          return read_main_result(result.get(), name_, mutations);
        },
        [this] { return PreTradeCheck(Rejects(callback_failure())); });
  }

  std::optional<PostTradeContribution> apply_execution_report(const PostTradeContext& ctx,
                                                              const ExecutionReportRecord& report) const override {
    ctx.account_group();
    return run_hook(
        [&] {
          ContextLease py_ctx(ctx);
          Ref result = call_post_trade_hook(object_.get(), py_ctx.get(), source_of(report.source));
          return read_post_trade_result(result.get());
        },
        [] { return std::optional<PostTradeContribution>(); });
  }

  AdjustmentCheck apply_account_adjustment(const AccountAdjustmentContext& ctx, AccountId account_id,
                                           const AccountAdjustmentRecord& adjustment,
                                           Mutations& mutations) const override {
    ctx.account_group();
    return run_hook(
        [&] {
          ContextLease py_ctx(ctx);
          Ref account = wrap_account_id(account_id);
          Ref result = call_hook(object_.get(), kAdjustment, py_ctx.get(), account.get(), source_of(adjustment.source));
          return read_adjustment_result(result.get(), name_, mutations);
        },
        [this] { return AdjustmentCheck(Rejects(callback_failure())); });
  }

 private:
  Reject callback_failure() const {
    return Reject::with_scope(name_, RejectScope::Order, RejectCode::SystemUnavailable, "python policy callback failed",
                              "python policy callback raised an exception");
  }

  std::string name_;
  Ref object_;  // the hooks are looked up on it at every call
  std::uint16_t group_;
};

}  // namespace

std::unique_ptr<Policy> extract_python_policy(PyObject* policy) {
  Ref name = attr_required(policy, "name");
  if (!PyUnicode_Check(name.get())) throw_error(PyExc_ValueError, "policy.name must be a string");
  std::string policy_name(utf8_of(name.get()));
  std::uint16_t group = 0;
  if (Ref group_obj = attr_if_present(policy, "policy_group_id")) {
    if (!extract_policy_group_id(group_obj.get(), group)) throw ErrorAlreadySet{};
  }
  // Checked here; each call looks the method up again, so the host may replace it.
  for (Name hook : kHooks) {
    Ref method = Ref::steal(PyObject_GetAttr(policy, interned(hook)));
    if (!method) throw_pending();
    if (PyCallable_Check(method.get()) == 0)
      throw_error(PyExc_TypeError, cat("policy.", name_text(hook), " must be callable"));
  }
  for (Name keyword : {Name::ctx, Name::report}) interned(keyword);  // made now, under the interpreter lock
  return std::make_unique<PythonPolicy>(std::move(policy_name), Ref::borrow(policy), group);
}

}  // namespace vantrel::py
