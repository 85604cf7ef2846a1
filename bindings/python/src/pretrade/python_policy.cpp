// The adapter that lets a Python object act as a policy. Its hooks run on
// whatever thread drives the engine, with or without the interpreter lock:
// each resolves the account group first (no Python involved), then takes the
// interpreter lock for the call unless the thread still holds it. No engine
// lock is held at that point.
#include "pretrade/python_policy.hpp"

#include <array>
#include <string>

#include "param/ids.hpp"
#include "pretrade/policy_group_id.hpp"
#include "pretrade/policy_results.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/gil.hpp"
#include "toolkit/pending.hpp"

namespace vantrel::py {
namespace {

// Keyword names of the post-trade call, made once.
struct Names {
  Ref ctx = intern("ctx");
  Ref report = intern("report");

  static Ref intern(const char* text) {
    Ref name = Ref::steal(PyUnicode_InternFromString(text));
    if (!name) throw_pending();
    return name;
  }
};

const Names& names() {
  // Kept for the life of the process; made under the interpreter lock.
  static const Names* made = new Names();
  return *made;
}

enum Hook { kStart, kMain, kPostTrade, kAdjustment, kHookCount };
constexpr const char* kHooks[kHookCount] = {"check_pre_trade_start", "perform_pre_trade_check",
                                            "apply_execution_report", "apply_account_adjustment"};

// The hooks as looked up when the policy was registered.
using HookMethods = std::array<Ref, kHookCount>;

// method(*args), without a tuple: the arguments go on the C stack.
template <class... Args>
Ref call_hook(const Ref& method, Args*... args) {
  Ref result = Ref::steal(PyObject_CallFunctionObjArgs(method.get(), args..., nullptr));
  if (!result) throw_pending();
  return result;
}

PyObject* source_of(const SourceRef& source) {
  PyObject* obj = static_cast<PyObject*>(source.get());
  return obj != nullptr ? obj : Py_None;
}

// Parks the exception being handled (a Python error or a C++ one translated).
void park_current() noexcept {
  try {
    throw;
  } catch (const ErrorAlreadySet&) {
  } catch (...) {
    translate_current_exception();
  }
  try {
    park_pending_error(PyErrState::fetch());
  } catch (...) {
    // The slot itself is broken; show the error rather than lose it.
    translate_current_exception();
    PyErr_WriteUnraisable(nullptr);
  }
}

class PythonPolicy final : public Policy {
 public:
  PythonPolicy(std::string name, HookMethods hooks, std::uint16_t group) noexcept
      : name_(std::move(name)), hooks_(std::move(hooks)), group_(group) {}

  std::string_view name() const noexcept override { return name_; }
  std::uint16_t policy_group_id() const noexcept override { return group_; }

  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override {
    ctx.account_group();
    GilToken lock;
    try {
      ContextLease py_ctx(ctx);
      Ref result = call_hook(hooks_[kStart], py_ctx.get(), source_of(order.source));
      return read_start_result(result.get(), name_);
    } catch (...) {
      park_current();
    }
    return Rejects(callback_failure());
  }

  PreTradeCheck perform_pre_trade_check(const PreTradeContext& ctx, const OrderRecord& order,
                                        Mutations& mutations) const override {
    ctx.account_group();
    GilToken lock;
    try {
      ContextLease py_ctx(ctx);
      Ref result = call_hook(hooks_[kMain], py_ctx.get(), source_of(order.source));
      return read_main_result(result.get(), name_, mutations);
    } catch (...) {
      park_current();
    }
    return Rejects(callback_failure());
  }

  std::optional<PostTradeContribution> apply_execution_report(const PostTradeContext& ctx,
                                                              const ExecutionReportRecord& report) const override {
    ctx.account_group();
    GilToken lock;
    try {
      ContextLease py_ctx(ctx);
      Ref kwargs = Ref::steal(PyDict_New());
      if (!kwargs) throw_pending();
      if (PyDict_SetItem(kwargs.get(), names().ctx.get(), py_ctx.get()) != 0 ||
          PyDict_SetItem(kwargs.get(), names().report.get(), source_of(report.source)) != 0)
        throw ErrorAlreadySet{};
      Ref no_args = Ref::steal(PyTuple_New(0));
      if (!no_args) throw_pending();
      Ref result = Ref::steal(PyObject_Call(hooks_[kPostTrade].get(), no_args.get(), kwargs.get()));
      if (!result) throw_pending();
      return read_post_trade_result(result.get());
    } catch (...) {
      park_current();
    }
    return std::nullopt;
  }

  AdjustmentCheck apply_account_adjustment(const AccountAdjustmentContext& ctx, AccountId account_id,
                                           const AccountAdjustmentRecord& adjustment,
                                           Mutations& mutations) const override {
    ctx.account_group();
    GilToken lock;
    try {
      ContextLease py_ctx(ctx);
      Ref account = wrap_account_id(account_id);
      Ref result = call_hook(hooks_[kAdjustment], py_ctx.get(), account.get(), source_of(adjustment.source));
      return read_adjustment_result(result.get(), name_, mutations);
    } catch (...) {
      park_current();
    }
    return Rejects(callback_failure());
  }

 private:
  Reject callback_failure() const {
    return Reject::with_scope(name_, RejectScope::Order, RejectCode::SystemUnavailable, "python policy callback failed",
                              "python policy callback raised an exception");
  }

  std::string name_;
  HookMethods hooks_;
  std::uint16_t group_;
};

}  // namespace

std::unique_ptr<Policy> extract_python_policy(PyObject* policy) {
  Ref name = attr_required(policy, "name");
  if (!PyUnicode_Check(name.get())) throw_error(PyExc_ValueError, "policy.name must be a string");
  std::string name_text(utf8_of(name.get()));
  std::uint16_t group = 0;
  if (Ref group_obj = attr_if_present(policy, "policy_group_id")) {
    if (!extract_policy_group_id(group_obj.get(), group)) throw ErrorAlreadySet{};
  }
  // Looked up once: every order calls the methods found here.
  HookMethods hooks;
  for (int i = 0; i < kHookCount; ++i) {
    hooks[i] = attr_required(policy, kHooks[i]);
    if (PyCallable_Check(hooks[i].get()) == 0)
      throw_error(PyExc_TypeError, std::string("policy.") + kHooks[i] + " must be callable");
  }
  names();  // made here, under the interpreter lock, before any hook needs them
  return std::make_unique<PythonPolicy>(std::move(name_text), std::move(hooks), group);
}

}  // namespace vantrel::py
