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

// A hook as found when the policy was registered. A bound Python method is kept
// as its function and instance, so the call goes straight to the function with
// the arguments on the C stack, as the interpreter's own call of the method
// would. Used under the interpreter lock only.
class HookCall {
 public:
  HookCall() = default;
  explicit HookCall(Ref method) : method_(std::move(method)) {
    if (reinterpret_cast<PyObject*>(Py_TYPE(method_.get())) == bound_method_type()) {
      self_ = attr_required(method_.get(), "__self__");
      callable_ = attr_required(method_.get(), "__func__");
    } else {
      callable_ = method_;
    }
  }
  // The call by keywords only (no tuple to reuse there).
  Ref call_with_keywords(PyObject* kwargs) const {
    Ref no_args = Ref::steal(PyTuple_New(0));
    if (!no_args) throw_pending();
    Ref result = Ref::steal(PyObject_Call(method_.get(), no_args.get(), kwargs));
    if (!result) throw_pending();
    return result;
  }

  template <class... Args>
  Ref operator()(Args*... args) const {
    Ref result = Ref::steal(self_ ? PyObject_CallFunctionObjArgs(callable_.get(), self_.get(), args..., nullptr)
                                  : PyObject_CallFunctionObjArgs(callable_.get(), args..., nullptr));
    if (!result) throw_pending();
    return result;
  }

 private:
  static PyObject* bound_method_type() {
    // Kept for the life of the process; first asked for under the interpreter lock.
    static PyObject* type = [] {
      Ref types = Ref::steal(PyImport_ImportModule("types"));
      if (!types) throw_pending();
      return attr_required(types.get(), "MethodType").release();
    }();
    return type;
  }

  Ref method_;
  Ref callable_;
  Ref self_;
};

enum Hook { kStart, kMain, kPostTrade, kAdjustment, kHookCount };
constexpr const char* kHooks[kHookCount] = {"check_pre_trade_start", "perform_pre_trade_check",
                                            "apply_execution_report", "apply_account_adjustment"};
using HookMethods = std::array<HookCall, kHookCount>;

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

// Runs one hook's `body` under the interpreter lock. Whatever goes wrong, a
// refused lock included, is parked for the entry point (under the lock, which
// the inner handler still holds) and the hook gives `failed()` instead: a hook
// never throws into a stage that has changes staged.
template <class Body, class Failed>
auto run_hook(Body&& body, Failed&& failed) -> decltype(failed()) {
  {
    GilToken lock(std::nothrow);
    if (const char* refusal = lock.refusal()) {
      park_lock_refusal(refusal);
    } else {
      try {
        return body();
      } catch (...) {
        park_current();
      }
    }
  }
  return failed();
}

class PythonPolicy final : public Policy {
 public:
  PythonPolicy(std::string name, HookMethods hooks, std::uint16_t group) noexcept
      : name_(std::move(name)), hooks_(std::move(hooks)), group_(group) {}

  std::string_view name() const noexcept override { return name_; }
  std::uint16_t policy_group_id() const noexcept override { return group_; }

  std::optional<Rejects> check_pre_trade_start(const PreTradeContext& ctx, const OrderRecord& order) const override {
    ctx.account_group();
    return run_hook(
        [&] {
          ContextLease py_ctx(ctx);
          Ref result = hooks_[kStart](py_ctx.get(), source_of(order.source));
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
          Ref result = hooks_[kMain](py_ctx.get(), source_of(order.source));
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
          Ref kwargs = Ref::steal(PyDict_New());
          if (!kwargs) throw_pending();
          if (PyDict_SetItem(kwargs.get(), names().ctx.get(), py_ctx.get()) != 0 ||
              PyDict_SetItem(kwargs.get(), names().report.get(), source_of(report.source)) != 0)
            throw ErrorAlreadySet{};
          Ref result = hooks_[kPostTrade].call_with_keywords(kwargs.get());
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
          Ref result = hooks_[kAdjustment](py_ctx.get(), account.get(), source_of(adjustment.source));
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
    Ref method = attr_required(policy, kHooks[i]);
    if (PyCallable_Check(method.get()) == 0)
      throw_error(PyExc_TypeError, std::string("policy.") + kHooks[i] + " must be callable");
    hooks[i] = HookCall(std::move(method));
  }
  names();  // made here, under the interpreter lock, before any hook needs them
  return std::make_unique<PythonPolicy>(std::move(name_text), std::move(hooks), group);
}

}  // namespace vantrel::py
