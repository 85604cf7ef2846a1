// Probe functions that make the result records from core values, the way the
// engine's entry points do.
#include <optional>
#include <string>
#include <vector>

#include "pretrade/outcome.hpp"
#include "pretrade/reject.hpp"
#include "pretrade/results.hpp"
#include "toolkit/args.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/trampoline.hpp"

namespace vantrel::py {
namespace {

std::string text_item(PyObject* tuple, Py_ssize_t i) { return std::string(utf8_of(PyTuple_GetItem(tuple, i))); }

// (policy, code, reason, details, scope, user_data) tuples into core rejects.
std::vector<Reject> core_rejects(PyObject* items) {
  std::vector<Reject> rejects;
  Ref iterator = Ref::steal(PyObject_GetIter(items));
  if (!iterator) throw_pending();
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    if (!PyTuple_Check(item.get()) || PyTuple_Size(item.get()) != 6)
      throw_error(PyExc_TypeError, "a reject is a 6-tuple");
    Reject reject;
    reject.policy = text_item(item.get(), 0);
    reject.code = reject_code_or_raise(text_item(item.get(), 1));
    reject.reason = text_item(item.get(), 2);
    reject.details = text_item(item.get(), 3);
    const std::optional<RejectScope> scope = parse_reject_scope(text_item(item.get(), 4));
    if (!scope) throw_error(PyExc_ValueError, kRejectScopeMessage);
    reject.scope = *scope;
    reject.user_data = PyLong_AsUnsignedLongLong(PyTuple_GetItem(item.get(), 5));
    if (PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    rejects.push_back(std::move(reject));
  }
  if (PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
  return rejects;
}

NonEmptyRejects non_empty(PyObject* items) {
  std::optional<NonEmptyRejects> rejects = NonEmptyRejects::from(core_rejects(items));
  if (!rejects) throw_error(PyExc_ValueError, "a refused result needs a reject");
  return std::move(*rejects);
}

// stage_result(kind, *, rejects=None, handle=None): kind "start" or "execute";
// exactly one of rejects and handle.
PyObject* stage_result(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("stage_result()", req("kind"), kw_opt("rejects"), kw_opt("handle"));
  auto [kind, rejects, handle] = parse(spec, args, nargs, kwnames);
  const bool start = utf8_of(kind) == "start";
  if (handle != nullptr) {
    Ref held = handle == Py_None ? Ref() : Ref::borrow(handle);  // None stands for a missing handle
    return (start ? make_start_result(std::move(held)) : make_execute_result(std::move(held))).release();
  }
  NonEmptyRejects list = non_empty(rejects != nullptr ? rejects : Py_None);
  return (start ? make_start_result(std::move(list)) : make_execute_result(std::move(list))).release();
}

// batch_result(*, outcomes=None, failed_index=None, rejects=None)
PyObject* batch_result(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("batch_result()", kw_opt("outcomes"), kw_opt("failed_index"), kw_opt("rejects"));
  auto [outcomes, failed_index, rejects] = parse(spec, args, nargs, kwnames);
  if (failed_index != nullptr) {
    const std::uint64_t index = PyLong_AsUnsignedLongLong(failed_index);
    if (PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return make_batch_result(index, non_empty(rejects)).release();
  }
  std::vector<AdjustmentOutcomeRecord> records;
  if (outcomes != nullptr) records = extract_adjustment_outcomes(outcomes);
  return make_batch_result(std::move(records)).release();
}

// post_trade_result(blocks, outcomes): through the readers, then the factory.
PyObject* post_trade_result(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("post_trade_result()", req("blocks"), req("outcomes"));
  auto [blocks, outcomes] = parse(spec, args, nargs, kwnames);
  std::vector<AccountBlock> block_records = extract_account_blocks(blocks);
  return make_post_trade_result(std::move(block_records), extract_adjustment_outcomes(outcomes)).release();
}

// post_trade_parts(result): (block reprs, outcome reprs) as the engine reads them.
PyObject* post_trade_parts(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("post_trade_parts()", req("result"));
  auto [result] = parse(spec, args, nargs, kwnames);
  if (!is_post_trade_result(result)) throw_arg_cannot_convert("result", result, "PostTradeResult");
  const PostTradeParts& parts = post_trade_result_of(result);
  Ref blocks = Ref::steal(PyList_New(0));
  Ref outcomes = Ref::steal(PyList_New(0));
  if (!blocks || !outcomes) throw_pending();
  for (const AccountBlock& block : parts.blocks)
    if (PyList_Append(blocks.get(), make_str(account_block_text(block)).get()) != 0) throw_pending();
  for (const AdjustmentOutcomeRecord& outcome : parts.outcomes)
    if (PyList_Append(outcomes.get(), make_str(adjustment_outcome_text(outcome)).get()) != 0) throw_pending();
  PyObject* pair = PyTuple_Pack(2, blocks.get(), outcomes.get());
  if (pair == nullptr) throw_pending();
  return pair;
}

// account_blocks(iterable): the reader alone, as reprs.
PyObject* account_blocks(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("account_blocks()", req("iterable"));
  auto [iterable] = parse(spec, args, nargs, kwnames);
  Ref list = Ref::steal(PyList_New(0));
  if (!list) throw_pending();
  for (const AccountBlock& block : extract_account_blocks(iterable))
    if (PyList_Append(list.get(), make_str(account_block_text(block)).get()) != 0) throw_pending();
  return list.release();
}

}  // namespace

PyMethodDef kResultProbeFunctions[] = {
    {"stage_result", method_entry<&stage_result>(), kFastcallFlags, "stage_result(kind, *, rejects=None, handle=None)\n--\n\n"},
    {"batch_result", method_entry<&batch_result>(), kFastcallFlags,
     "batch_result(*, outcomes=None, failed_index=None, rejects=None)\n--\n\n"},
    {"post_trade_result", method_entry<&post_trade_result>(), kFastcallFlags, "post_trade_result(blocks, outcomes)\n--\n\n"},
    {"post_trade_parts", method_entry<&post_trade_parts>(), kFastcallFlags, "post_trade_parts(result)\n--\n\n"},
    {"account_blocks", method_entry<&account_blocks>(), kFastcallFlags, "account_blocks(iterable)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vantrel::py
