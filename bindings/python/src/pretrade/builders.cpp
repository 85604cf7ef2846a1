// EngineBuilder -> SyncedEngineBuilder -> ReadyEngineBuilder -> Engine. The
// builders hold the interpreter lock throughout and are not bound to a thread.
// A ReadyEngineBuilder is never borrowed across a call into Python, so a
// `_build` hook may use it (or find it spent) freely.
#include <limits>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "marketdata/builder.hpp"
#include "marketdata/quote.hpp"
#include "pretrade/engine_support.hpp"
#include "pretrade/limit_policies.hpp"
#include "pretrade/python_policy.hpp"
#include "pretrade/spot_funds.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/pending.hpp"
#include "vantrel/pretrade/policies/order_validation.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kSpent = "engine builder is no longer available";

struct EngineBuilderValue {};

struct SyncedBuilderValue {
  EngineSync sync;
};

// The state in a one-shot cell, and the mode kept outside it for market_data().
struct ReadyBuilderValue {
  std::optional<EngineState> state;
  EngineSync sync;
};

ReadyBuilderValue& ready_of(PyObject* self) { return object_cast<ReadyBuilderValue>(self)->value; }

Ref make_synced(EngineSync sync) {
  return make_instance<SyncedBuilderValue>(class_type(ClassId::SyncedEngineBuilder), SyncedBuilderValue{sync});
}

Ref make_ready(EngineSync sync) {
  ReadyBuilderValue value{EngineState(sync), sync};
  return make_instance<ReadyBuilderValue>(class_type(ClassId::ReadyEngineBuilder), std::move(value));
}

template <EngineSync Sync>
PyObject* choose_sync(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params(Sync == EngineSync::NoSync     ? "EngineBuilder.no_sync()"
                                      : Sync == EngineSync::FullSync ? "EngineBuilder.full_sync()"
                                                                     : "EngineBuilder.account_sync()");
  parse(spec, args, nargs, kwnames);
  return make_synced(Sync).release();
}

EngineSync sync_of(PyObject* self) {
  if (is_instance(self, ClassId::ReadyEngineBuilder)) return ready_of(self).sync;
  return object_cast<SyncedBuilderValue>(self)->value.sync;
}

// builtin(b) on either builder: b._build(ready), whose result is ignored.
PyObject* builder_builtin(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("builtin()", req("builtin_ready_builder"));
  auto [builtin] = parse(spec, args, nargs, kwnames);
  Ref ready = is_instance(self, ClassId::ReadyEngineBuilder) ? Ref::borrow(self) : make_ready(sync_of(self));
  py_call_build(builtin, ready.get());
  return ready.release();
}

// pre_trade(policy) on either builder: the Python object is read in full
// before anything is appended.
PyObject* builder_pre_trade(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("pre_trade()", req("policy"));
  auto [policy_obj] = parse(spec, args, nargs, kwnames);
  std::unique_ptr<Policy> policy = extract_python_policy(policy_obj);
  Ref ready = is_instance(self, ClassId::ReadyEngineBuilder) ? Ref::borrow(self) : make_ready(sync_of(self));
  append_policy(ready.get(), std::move(policy));
  return ready.release();
}

PyObject* builder_market_data(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("market_data()", req("default_ttl"));
  auto [ttl_obj] = parse(spec, args, nargs, kwnames);
  const QuoteTtl ttl = extract_quote_ttl("default_ttl", ttl_obj);
  return make_market_data_builder(market_data_sync_mode(engine_lock_mode(sync_of(self))), ttl);
}

PyObject* ready_build(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("ReadyEngineBuilder.build()");
  parse(spec, args, nargs, kwnames);
  ReadyBuilderValue& ready = ready_of(self);
  // Spent from here on, whether the build succeeds or not.
  std::optional<EngineState> state = std::move(ready.state);
  ready.state.reset();
  if (!state) throw_error(PyExc_ValueError, kSpent);
  BuildOutcome built = build_engine(std::move(*state));
  if (!built.engine) throw_error(PyExc_ValueError, built.error);
  return wrap_engine(std::move(built.engine), ready.sync).release();
}

PyObject* ready_add_order_validation(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("ReadyEngineBuilder._add_builtin_order_validation()", kw_opt("policy_group_id"));
  auto [group_obj] = parse(spec, args, nargs, kwnames);
  const std::uint16_t group = group_obj != nullptr ? builtin_policy_group_id_arg(group_obj) : 0;
  append_policy(self, std::make_unique<OrderValidationPolicy>(group));
  return Ref::borrow(self).release();
}

PyMethodDef kMarketDataMethod = {"market_data", method_entry<&builder_market_data>(), kFastcallFlags,
                                 "market_data($self, default_ttl)\n--\n\n"};

}  // namespace

Ref make_engine_builder() {
  return make_instance<EngineBuilderValue>(class_type(ClassId::EngineBuilder), EngineBuilderValue{});
}

void append_policy(PyObject* ready, std::unique_ptr<Policy> policy) {
  ReadyBuilderValue& value = ready_of(ready);
  if (!value.state) throw_error(PyExc_ValueError, kSpent);
  value.state->append(std::move(policy));
}

EngineSync ready_builder_sync(PyObject* ready) { return ready_of(ready).sync; }

bool ready_builder_spent(PyObject* ready) { return !ready_of(ready).state.has_value(); }

std::shared_ptr<AccountBlockRegistry> ready_builder_blocks(PyObject* ready) {
  const ReadyBuilderValue& value = ready_of(ready);
  return value.state ? value.state->blocks : nullptr;
}

std::uint16_t builtin_policy_group_id_arg(PyObject* obj) {
  int beyond_word = 0;
  const long value = convert_arg("policy_group_id", [&] {
    const long result = PyLong_AsLongAndOverflow(obj, &beyond_word);
    if (result == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return result;
  });
  // Beyond a machine word is out of range too, with the same text.
  if (beyond_word != 0 || value < 0 || value > std::numeric_limits<std::uint16_t>::max())
    throw_error(PyExc_OverflowError, "out of range integral type conversion attempted");
  return static_cast<std::uint16_t>(value);
}

const ClassBehaviour* engine_builder_behaviour() {
  static PyMethodDef methods[] = {
      {"no_sync", method_entry<&choose_sync<EngineSync::NoSync>>(), kFastcallFlags, "no_sync($self)\n--\n\n"},
      {"full_sync", method_entry<&choose_sync<EngineSync::FullSync>>(), kFastcallFlags, "full_sync($self)\n--\n\n"},
      {"account_sync", method_entry<&choose_sync<EngineSync::AccountSync>>(), kFastcallFlags,
       "account_sync($self)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<EngineBuilderValue>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* synced_engine_builder_behaviour() {
  static PyMethodDef methods[] = {
      {"builtin", method_entry<&builder_builtin>(), kFastcallFlags, "builtin($self, builtin_ready_builder)\n--\n\n"},
      {"pre_trade", method_entry<&builder_pre_trade>(), kFastcallFlags, "pre_trade($self, policy)\n--\n\n"},
      kMarketDataMethod,
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<SyncedBuilderValue>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* ready_engine_builder_behaviour() {
  static PyMethodDef methods[] = {
      {"builtin", method_entry<&builder_builtin>(), kFastcallFlags, "builtin($self, builtin_ready_builder)\n--\n\n"},
      {"pre_trade", method_entry<&builder_pre_trade>(), kFastcallFlags, "pre_trade($self, policy)\n--\n\n"},
      kMarketDataMethod,
      {"build", method_entry<&ready_build>(), kFastcallFlags, "build($self)\n--\n\n"},
      {"_add_builtin_order_validation", method_entry<&ready_add_order_validation>(), kFastcallFlags,
       "_add_builtin_order_validation($self, *, policy_group_id=0)\n--\n\n"},
      limit_policy_adder(LimitPolicyAdder::OrderSizeLimit),
      limit_policy_adder(LimitPolicyAdder::RateLimit),
      limit_policy_adder(LimitPolicyAdder::PnlBoundsKillSwitch),
      {"_add_builtin_spot_funds", method_entry<&ready_add_spot_funds>(), kFastcallFlags,
       "_add_builtin_spot_funds($self, *, policy_group_id=0, market_data=None, default_slippage_bps=None, "
       "pricing_source=None, overrides=...)\n--\n\n"},
      // -- built-in policy adders: add further rows here
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<ReadyBuilderValue>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
