#include "pretrade/policy_results.hpp"

#include <string>

#include "param/values.hpp"
#include "pretrade/outcome.hpp"
#include "pretrade/reject.hpp"
#include "pretrade/results.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/iterate.hpp"
#include "toolkit/pending.hpp"

namespace vantrel::py {
namespace {

// A staged action backed by a Python callable: runs it under the interpreter
// lock, parking what it raises. Released unrun, the reference goes through
// py_decref (queued when this thread has given the lock up).
class PythonAction {
 public:
  static constexpr bool kCallsHost = true;  // a thread being ended runs none of its list
  explicit PythonAction(Ref callable) noexcept : callable_(std::move(callable)) {}
  PythonAction(PythonAction&&) noexcept = default;
  void operator()() noexcept { py_call_action(std::move(callable_)); }

 private:
  Ref callable_;
};

std::string text_attr(PyObject* obj, const char* name, const char* refusal) {
  Ref value = attr_required(obj, name);
  if (!PyUnicode_Check(value.get())) throw_error(PyExc_ValueError, refusal);
  return std::string(utf8_of(value.get()));
}

std::uint64_t user_data_of(PyObject* obj) {
  constexpr const char* kRefusal = "reject.user_data must be an integer token (default 0)";
  if (!has_user_data_attr(obj)) return 0;
  // Looked up again: what `has` saw is not kept.
  Ref value = attr_required(obj, "user_data");
  Ref index = Ref::steal(PyNumber_Index(value.get()));
  if (index) {
    const unsigned long long token = PyLong_AsUnsignedLongLong(index.get());
    if (!(token == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr)) return token;
  }
  PyErr_Clear();
  throw_error(PyExc_ValueError, kRefusal);
}

// A result's attributes may be properties: Python code, noted if the thread
// is ended there, as iterating the result is.
Ref attr_of(PyObject* obj, const char* name) {
  return Ref::steal(noting_thread_exit([=] { return PyObject_GetAttrString(obj, name); }));
}

}  // namespace

Ref attr_if_present(PyObject* obj, const char* name) {
  Ref value = attr_of(obj, name);
  if (value) return value;
  if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw ErrorAlreadySet{};
  PyErr_Clear();
  return Ref();
}

Ref attr_required(PyObject* obj, const char* name) {
  Ref value = attr_of(obj, name);
  if (!value) throw_pending();
  return value;
}

Reject extract_reject(PyObject* obj, std::string_view policy) {
  const std::string code = text_attr(obj, "code", "reject.code must be a string");
  const RejectCode parsed_code = reject_code_or_raise(code);
  std::string reason = text_attr(obj, "reason", "reject.reason must be a string");
  std::string details = text_attr(obj, "details", "reject.details must be a string");
  const std::string scope_text = text_attr(obj, "scope", "reject.scope must be a string");
  const std::optional<RejectScope> scope = parse_reject_scope(scope_text);
  if (!scope) throw_error(PyExc_ValueError, kRejectScopeMessage);
  Reject reject = Reject::with_scope(policy, *scope, parsed_code, std::move(reason), std::move(details));
  reject.user_data = user_data_of(obj);
  return reject;
}

void extract_mutation(PyObject* obj, Mutations& mutations) {
  Ref commit = attr_required(obj, "commit");
  Ref rollback = attr_required(obj, "rollback");
  mutations.push(PythonAction(std::move(commit)), PythonAction(std::move(rollback)));
}

std::optional<Rejects> read_start_result(PyObject* result, std::string_view policy) {
  if (result == Py_None) return std::nullopt;
  std::optional<Rejects> rejects;
  for_each_item(result, [&](PyObject* item) {
    Reject reject = extract_reject(item, policy);
    if (rejects)
      rejects->push_back(std::move(reject));
    else
      rejects.emplace(std::move(reject));
  });
  return rejects;
}

PreTradeCheck read_main_result(PyObject* result, std::string_view policy, Mutations& mutations) {
  if (result == Py_None) return {};
  std::optional<Rejects> rejects;
  Ref rejects_attr = attr_if_present(result, "rejects");
  const bool has_mutations = rejects_attr || static_cast<bool>(attr_if_present(result, "mutations"));
  if (has_mutations) {
    // Both are required once either is there.
    if (!rejects_attr) rejects_attr = attr_required(result, "rejects");
    for_each_item(rejects_attr.get(), [&](PyObject* item) {
      Reject reject = extract_reject(item, policy);
      if (rejects)
        rejects->push_back(std::move(reject));
      else
        rejects.emplace(std::move(reject));
    });
    Ref mutations_attr = attr_required(result, "mutations");
    for_each_item(mutations_attr.get(), [&](PyObject* item) { extract_mutation(item, mutations); });
  }
  // The entries are read before lock_prices is looked up.
  PreTradeContribution contribution;
  Ref adjustments_attr = attr_if_present(result, "account_adjustments");
  if (adjustments_attr)
    for_each_item(adjustments_attr.get(),
                  [&](PyObject* item) { contribution.entries.push_back(extract_outcome_entry(item)); });
  Ref prices_attr = attr_if_present(result, "lock_prices");
  if (!has_mutations && !adjustments_attr && !prices_attr) {
    // Anything else (a list of rejects, [], False) would otherwise pass the order silently.
    throw_error(PyExc_TypeError,
                "perform_pre_trade_check must return None or an object with 'rejects' and 'mutations', "
                "'account_adjustments' or 'lock_prices'; got " +
                    type_name(result));
  }
  if (prices_attr)
    for_each_item(prices_attr.get(), [&](PyObject* item) { contribution.lock_prices.push_back(extract_price(item)); });
  if (rejects) return std::move(*rejects);
  if (contribution.empty()) return {};
  return contribution;
}

std::optional<PostTradeContribution> read_post_trade_result(PyObject* result) {
  if (result == Py_None || result == Py_False) return std::nullopt;
  if (result == Py_True) {
    throw_error(PyExc_TypeError,
                "apply_execution_report must return PostTradeResult or None; bool True no longer maps to a "
                "synthetic account block");
  }
  PostTradeContribution contribution;
  if (is_post_trade_result(result)) {
    const PostTradeParts& parts = post_trade_result_of(result);
    contribution.account_blocks = parts.blocks;
    contribution.account_adjustments = parts.outcomes;
  } else {
    Ref blocks = attr_required(result, "account_blocks");
    contribution.account_blocks = extract_account_blocks(blocks.get());
    Ref adjustments = attr_required(result, "account_adjustments");
    contribution.account_adjustments = extract_adjustment_outcomes(adjustments.get());
  }
  if (contribution.account_blocks.empty() && contribution.account_adjustments.empty()) return std::nullopt;
  return contribution;
}

AdjustmentCheck read_adjustment_result(PyObject* result, std::string_view policy, Mutations& mutations) {
  if (result == Py_None) return {};
  std::optional<Rejects> rejects;
  auto add_reject = [&](Reject reject) {
    if (rejects)
      rejects->push_back(std::move(reject));
    else
      rejects.emplace(std::move(reject));
  };
  Ref rejects_attr = attr_if_present(result, "rejects");
  if (rejects_attr && attr_if_present(result, "mutations")) {
    for_each_item(rejects_attr.get(), [&](PyObject* item) { add_reject(extract_reject(item, policy)); });
    Ref mutations_attr = attr_required(result, "mutations");
    for_each_item(mutations_attr.get(), [&](PyObject* item) { extract_mutation(item, mutations); });
    if (rejects) return std::move(*rejects);
    return {};
  }
  if (attr_if_present(result, "code")) return Rejects(extract_reject(result, policy));
  if (attr_if_present(result, "asset")) return std::vector<OutcomeEntryRecord>{extract_outcome_entry(result)};
  std::vector<OutcomeEntryRecord> entries;
  for_each_item(result, [&](PyObject* item) {
    if (attr_if_present(item, "code")) {
      add_reject(extract_reject(item, policy));
    } else if (attr_if_present(item, "asset")) {
      entries.push_back(extract_outcome_entry(item));
    } else {
      extract_mutation(item, mutations);
    }
  });
  if (rejects) return std::move(*rejects);
  return entries;
}

}  // namespace vantrel::py
