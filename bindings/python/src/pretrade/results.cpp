// StartResult, ExecuteResult, PostTradeResult and AccountAdjustmentBatchResult:
// immutable records; any thread holding the interpreter lock may use them.
// Every list property builds a new list of new objects at each read, so
// nothing a caller does to one changes the result.
#include "pretrade/results.hpp"

#include <string>
#include <variant>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "pretrade/outcome.hpp"
#include "pretrade/reject.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

Ref new_list() {
  Ref list = Ref::steal(PyList_New(0));
  if (!list) throw_pending();
  return list;
}

Ref new_int(std::uint64_t value) {
  Ref obj = Ref::steal(PyLong_FromUnsignedLongLong(value));
  if (!obj) throw_pending();
  return obj;
}

// -- StartResult, ExecuteResult: rejects or the next step's handle, never both
// and never neither.

struct StageResult {
  std::variant<NonEmptyRejects, Ref> state;
  bool ok() const noexcept { return std::holds_alternative<Ref>(state); }
};

const StageResult& stage_of(PyObject* obj) { return object_cast<StageResult>(obj)->value; }

template <ClassId Id>
constexpr const char* stage_name() {
  return Id == ClassId::StartResult ? "StartResult" : "ExecuteResult";
}

Ref make_stage(ClassId id, StageResult result) {
  return make_final_instance<StageResult>(class_type(id), std::move(result));
}

Ref accepted_stage(ClassId id, Ref handle, const char* what) {
  if (!handle) fail(cat(what, " result made without its handle"));
  return make_stage(id, StageResult{std::move(handle)});
}

PyObject* stage_ok_getter(PyObject* self, void*) { return new_bool(stage_of(self).ok()).release(); }

PyObject* stage_rejects_getter(PyObject* self, void*) {
  const auto* rejects = std::get_if<NonEmptyRejects>(&stage_of(self).state);
  return (rejects != nullptr ? wrap_rejects(rejects->items()) : new_list()).release();
}

PyObject* stage_handle_getter(PyObject* self, void*) {
  const auto* handle = std::get_if<Ref>(&stage_of(self).state);
  return Ref::borrow(handle != nullptr ? handle->get() : Py_None).release();
}

int stage_bool(PyObject* self) { return stage_of(self).ok() ? 1 : 0; }

template <ClassId Id>
PyObject* stage_repr(PyObject* self) {
  const auto* rejects = std::get_if<NonEmptyRejects>(&stage_of(self).state);
  if (rejects == nullptr) return make_str(cat(stage_name<Id>(), "(ok=True)")).release();
  return make_str(cat(stage_name<Id>(), "(ok=False, rejects=", rejects->size(), ")")).release();
}

template <ClassId Id>
const ClassBehaviour* stage_behaviour(const char* handle_name) {
  static PyGetSetDef getset[] = {
      {"ok", entry<&stage_ok_getter>, nullptr, nullptr, nullptr},
      {"rejects", entry<&stage_rejects_getter>, nullptr, nullptr, nullptr},
      {handle_name, entry<&stage_handle_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<StageResult>();
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_nb_bool, slot_entry<&stage_bool>()});
    b.slots.push_back({Py_tp_repr, slot_entry<&stage_repr<Id>>()});
    return b;
  }();
  return &behaviour;
}

// -- PostTradeResult

PyObject* post_trade_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec =
      params("PostTradeResult.__new__()", kw_opt("account_blocks"), kw_opt("account_adjustments"));
  auto [blocks_arg, outcomes_arg] = parse(spec, args, kwargs);
  PostTradeParts parts;
  // The readers' own errors pass unchanged, without the argument's name.
  if (blocks_arg != nullptr && blocks_arg != Py_None) parts.blocks = extract_account_blocks(blocks_arg);
  if (outcomes_arg != nullptr && outcomes_arg != Py_None) parts.outcomes = extract_adjustment_outcomes(outcomes_arg);
  return make_instance<PostTradeParts>(type, std::move(parts)).release();
}

PyObject* post_trade_blocks_getter(PyObject* self, void*) {
  const std::vector<AccountBlock>& blocks = post_trade_result_of(self).blocks;
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(blocks.size())));
  if (!list) throw_pending();
  for (std::size_t i = 0; i < blocks.size(); ++i)
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), wrap_account_block(blocks[i]).release());
  return list.release();
}

PyObject* post_trade_outcomes_getter(PyObject* self, void*) {
  return wrap_adjustment_outcomes(post_trade_result_of(self).outcomes).release();
}

PyObject* post_trade_repr(PyObject* self) {
  const PostTradeParts& parts = post_trade_result_of(self);
  return make_str(cat("PostTradeResult(account_blocks=", parts.blocks.size(),
                      ", account_adjustments=", parts.outcomes.size(), ")"))
      .release();
}

// -- AccountAdjustmentBatchResult: the outcomes of a batch that passed, or the
// failing index with its rejects.

struct BatchFailure {
  std::uint64_t index;
  NonEmptyRejects rejects;
};
struct BatchResult {
  std::variant<std::vector<AdjustmentOutcomeRecord>, BatchFailure> state;
};

const BatchResult& batch_of(PyObject* obj) { return object_cast<BatchResult>(obj)->value; }
const BatchFailure* batch_failure(PyObject* obj) { return std::get_if<BatchFailure>(&batch_of(obj).state); }

PyObject* batch_ok_getter(PyObject* self, void*) { return new_bool(batch_failure(self) == nullptr).release(); }

PyObject* batch_failed_index_getter(PyObject* self, void*) {
  const BatchFailure* failure = batch_failure(self);
  return (failure != nullptr ? new_int(failure->index) : Ref::borrow(Py_None)).release();
}

PyObject* batch_rejects_getter(PyObject* self, void*) {
  const BatchFailure* failure = batch_failure(self);
  return (failure != nullptr ? wrap_rejects(failure->rejects.items()) : new_list()).release();
}

PyObject* batch_outcomes_getter(PyObject* self, void*) {
  const auto* outcomes = std::get_if<std::vector<AdjustmentOutcomeRecord>>(&batch_of(self).state);
  return (outcomes != nullptr ? wrap_adjustment_outcomes(*outcomes) : new_list()).release();
}

int batch_bool(PyObject* self) { return batch_failure(self) == nullptr ? 1 : 0; }

PyObject* batch_repr(PyObject* self) {
  const BatchFailure* failure = batch_failure(self);
  if (failure == nullptr) return make_str("AccountAdjustmentBatchResult(ok=True)").release();
  return make_str(cat("AccountAdjustmentBatchResult(ok=False, failed_index=", failure->index,
                      ", rejects=", failure->rejects.size(), ")"))
      .release();
}

Ref make_batch(BatchResult result) {
  return make_instance<BatchResult>(class_type(ClassId::AccountAdjustmentBatchResult), std::move(result));
}

}  // namespace

Ref make_start_result(NonEmptyRejects rejects) {
  return make_stage(ClassId::StartResult, StageResult{std::move(rejects)});
}
Ref make_start_result(Ref request) { return accepted_stage(ClassId::StartResult, std::move(request), "a passed start"); }
Ref make_execute_result(NonEmptyRejects rejects) {
  return make_stage(ClassId::ExecuteResult, StageResult{std::move(rejects)});
}
Ref make_execute_result(Ref reservation) {
  return accepted_stage(ClassId::ExecuteResult, std::move(reservation), "a passed main-stage");
}

Ref make_post_trade_result(std::vector<AccountBlock> blocks, std::vector<AdjustmentOutcomeRecord> outcomes) {
  return make_instance<PostTradeParts>(class_type(ClassId::PostTradeResult),
                                       PostTradeParts{std::move(blocks), std::move(outcomes)});
}
bool is_post_trade_result(PyObject* obj) { return is_instance(obj, ClassId::PostTradeResult); }
const PostTradeParts& post_trade_result_of(PyObject* obj) { return object_cast<PostTradeParts>(obj)->value; }

Ref make_batch_result(std::vector<AdjustmentOutcomeRecord> outcomes) {
  return make_batch(BatchResult{std::move(outcomes)});
}
Ref make_batch_result(std::uint64_t failed_index, NonEmptyRejects rejects) {
  return make_batch(BatchResult{BatchFailure{failed_index, std::move(rejects)}});
}

const ClassBehaviour* start_result_behaviour() { return stage_behaviour<ClassId::StartResult>("request"); }
const ClassBehaviour* execute_result_behaviour() { return stage_behaviour<ClassId::ExecuteResult>("reservation"); }

const ClassBehaviour* post_trade_result_behaviour() {
  static PyGetSetDef getset[] = {
      {"account_blocks", entry<&post_trade_blocks_getter>, nullptr, nullptr, nullptr},
      {"account_adjustments", entry<&post_trade_outcomes_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<PostTradeParts>();
    b.slots.push_back({Py_tp_new, slot_entry<&post_trade_new>()});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&post_trade_repr>()});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* account_adjustment_batch_result_behaviour() {
  static PyGetSetDef getset[] = {
      {"ok", entry<&batch_ok_getter>, nullptr, nullptr, nullptr},
      {"failed_index", entry<&batch_failed_index_getter>, nullptr, nullptr, nullptr},
      {"rejects", entry<&batch_rejects_getter>, nullptr, nullptr, nullptr},
      {"outcomes", entry<&batch_outcomes_getter>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<BatchResult>();
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_nb_bool, slot_entry<&batch_bool>()});
    b.slots.push_back({Py_tp_repr, slot_entry<&batch_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
