// vantrel.Engine: the built engine. The four entry points follow the pending-
// exception protocol and give the interpreter lock up only if their core work
// must wait for a core lock (never in no_sync); the engine state itself is
// shared and guards itself.
#include <utility>
#include <vector>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "core/extract_records.hpp"
#include "param/ids.hpp"
#include "pretrade/engine_support.hpp"
#include "pretrade/results.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/iterate.hpp"
#include "vantrel/core/execution_report.hpp"

namespace vantrel::py {

Ref make_engine_builder();  // pretrade/builders.cpp

namespace {

const EngineValue& engine_of(PyObject* self) { return object_cast<EngineValue>(self)->value; }

PyObject* engine_builder(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Engine.builder()");
  parse(spec, args, nargs, kwnames);
  return make_engine_builder().release();
}

PyObject* engine_start_pre_trade(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Engine.start_pre_trade()", req("order"));
  auto [order_obj] = parse(spec, args, nargs, kwnames);
  const EngineValue& engine = engine_of(self);
  PendingErrorScope pending;
  OrderRecord order = extract_order(order_obj);
  std::optional<StartOutcome> outcome;
  outcome.emplace(BuiltBy{[&] {
    CoreWorkScope work(engine.sync);
    return engine.core->start_request(std::move(order));
  }});
  finish_or_discard(pending, outcome);
  return start_result_of(std::move(*outcome)).release();
}

PyObject* engine_execute_pre_trade(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Engine.execute_pre_trade()", req("order"));
  auto [order_obj] = parse(spec, args, nargs, kwnames);
  const EngineValue& engine = engine_of(self);
  PendingErrorScope pending;
  OrderRecord order = extract_order(order_obj);
  // The caller's argument outlives this call, so the record only borrows it;
  // the reference is dropped here, with the interpreter lock held, rather
  // than queued from inside the stage.
  SourceRef owned = std::exchange(order.source, SourceRef(order.source.get(), nullptr));
  std::optional<MainOutcome> outcome;
  outcome.emplace(BuiltBy{[&] {
    CoreWorkScope work(engine.sync);
    return engine.core->execute(std::move(order));
  }});
  finish_or_discard(pending, outcome);
  return execute_result_of(std::move(*outcome)).release();
}

PyObject* engine_apply_execution_report(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Engine.apply_execution_report()", req("report"));
  auto [report_obj] = parse(spec, args, nargs, kwnames);
  const EngineValue& engine = engine_of(self);
  PendingErrorScope pending;
  ExecutionReportRecord report = extract_execution_report(report_obj);
  std::optional<PostTradeOutcome> outcome;
  {
    CoreWorkScope work(engine.sync);
    outcome.emplace(engine.core->apply_execution_report(report));
  }
  // A block recorded meanwhile stays even when the parked exception wins.
  pending.finish();
  return make_post_trade_result(std::move(outcome->account_blocks), std::move(outcome->account_adjustments))
      .release();
}

PyObject* engine_apply_account_adjustment(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                          PyObject* kwnames) {
  static constexpr auto spec = params("Engine.apply_account_adjustment()", req("account_id"), req("adjustments"));
  auto [account_obj, adjustments_obj] = parse(spec, args, nargs, kwnames);
  const EngineValue& engine = engine_of(self);
  PendingErrorScope pending;
  if (!is_account_id(account_obj)) throw_error(PyExc_TypeError, "account_id must be vantrel.param.AccountId");
  const AccountId account = account_id_of(account_obj);
  // Every item is converted before any policy sees the batch.
  const std::vector<AccountAdjustmentRecord> batch = collect_items(adjustments_obj, extract_account_adjustment);
  std::optional<AdjustmentBatchOutcome> outcome;
  {
    CoreWorkScope work(engine.sync);
    outcome.emplace(engine.core->apply_account_adjustment(account, batch));
  }
  // The commit or rollback already happened; a parked exception still wins.
  pending.finish();
  if (outcome->failed_index)
    return make_batch_result(*outcome->failed_index, std::move(*outcome->rejects)).release();
  return make_batch_result(std::move(outcome->outcomes)).release();
}

PyObject* engine_accounts(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Engine.accounts()");
  parse(spec, args, nargs, kwnames);
  const EngineValue& engine = engine_of(self);
  return make_accounts(engine.core->groups_handle(), engine.sync).release();
}

}  // namespace

Ref wrap_engine(std::shared_ptr<const EngineCore> core, EngineSync sync) {
  return make_instance<EngineValue>(class_type(ClassId::Engine), EngineValue{std::move(core), sync});
}

PyObject* discard_report_context() { return class_object(ClassId::Reservation); }

Ref start_result_of(StartOutcome&& outcome) {
  if (Rejects* rejects = std::get_if<Rejects>(&outcome)) return make_start_result(std::move(*rejects));
  return make_start_result(make_request(std::move(std::get<RequestClosure>(outcome))));
}

Ref execute_result_of(MainOutcome&& outcome) {
  if (Rejects* rejects = std::get_if<Rejects>(&outcome)) return make_execute_result(std::move(*rejects));
  return make_execute_result(make_reservation(std::move(std::get<CoreReservation>(outcome))));
}

const ClassBehaviour* engine_behaviour() {
  static PyMethodDef methods[] = {
      {"builder", method_entry<&engine_builder>(), kFastcallFlags | METH_STATIC, "builder()\n--\n\n"},
      {"start_pre_trade", method_entry<&engine_start_pre_trade>(), kFastcallFlags,
       "start_pre_trade($self, order)\n--\n\n"},
      {"execute_pre_trade", method_entry<&engine_execute_pre_trade>(), kFastcallFlags,
       "execute_pre_trade($self, order)\n--\n\n"},
      {"apply_execution_report", method_entry<&engine_apply_execution_report>(), kFastcallFlags,
       "apply_execution_report($self, report)\n--\n\n"},
      {"apply_account_adjustment", method_entry<&engine_apply_account_adjustment>(), kFastcallFlags,
       "apply_account_adjustment($self, account_id, adjustments)\n--\n\n"},
      {"accounts", method_entry<&engine_accounts>(), kFastcallFlags, "accounts($self)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<EngineValue>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
