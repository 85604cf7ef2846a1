// A test-only extension built from the binding sources without the module body,
// so the shared argument conversions can be driven before any method uses them.
// Its classes and exception types are its own objects, separate from _vantrel's.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "exceptions.hpp"
#include "marketdata/account_info.hpp"
#include "marketdata/builder.hpp"
#include "marketdata/quote.hpp"
#include "class_table.hpp"
#include "param/amounts.hpp"
#include "param/asset.hpp"
#include "param/enums.hpp"
#include "param/ids.hpp"
#include "pretrade/policy_group_id.hpp"
#include "pretrade/python_policy.hpp"
#include "registry_errors.hpp"
#include "toolkit/args.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/gil.hpp"
#include "toolkit/iterate.hpp"
#include "toolkit/pending.hpp"
#include "vantrel/core/clock.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/pretrade/context.hpp"
#include "vantrel/pretrade/engine.hpp"

namespace vantrel::py {

extern PyMethodDef kRecordProbeFunctions[];  // records.cpp
extern PyMethodDef kResultProbeFunctions[];  // results_probe.cpp

namespace {

Ref none() { return Ref::borrow(Py_None); }

Ref new_int(std::uint64_t value) {
  Ref obj = Ref::steal(PyLong_FromUnsignedLongLong(value));
  if (!obj) throw_pending();
  return obj;
}

Ref new_tuple(Ref a, Ref b) {
  Ref tuple = Ref::steal(PyTuple_New(2));
  if (!tuple) throw_pending();
  PyTuple_SetItem(tuple.get(), 0, a.release());
  PyTuple_SetItem(tuple.get(), 1, b.release());
  return tuple;
}

// An int argument in 0..=2**64-1; the interpreter's errors pass through.
std::uint64_t u64_arg(PyObject* obj) {
  const std::uint64_t value = PyLong_AsUnsignedLongLong(obj);
  if (value == static_cast<std::uint64_t>(-1) && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
  return value;
}

// Hands a formatted exception back, or raises it the way the callers will.
PyObject* deliver(Ref exception, PyObject* raised) {
  if (raised != nullptr && PyObject_IsTrue(raised) == 1) raise_exception(exception);
  return exception.release();
}

// probe_class(name): this module's class object for a class-table name.
PyObject* probe_class(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("probe_class()", req("name"));
  auto [name_obj] = parse(spec, args, nargs, kwnames);
  std::string_view name = arg_utf8("name", name_obj);
  for (int i = 0; i < kClassCount; ++i) {
    auto id = static_cast<ClassId>(i);
    if (class_available(id) && name == class_spec(id).name) return Ref::borrow(class_object_checked(id)).release();
  }
  throw_error(PyExc_LookupError, cat("no class ", name));
}

// account_ids(iterable): every item read with next_account_id_item, as ints.
PyObject* account_ids(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("account_ids()", req("iterable"));
  auto [iterable] = parse(spec, args, nargs, kwnames);
  Ref values = Ref::steal(PyList_New(0));
  if (!values) throw_pending();
  for_each_item(iterable, [&](PyObject* item) {
    if (PyList_Append(values.get(), new_int(account_id_item(item).value).get()) != 0) throw_pending();
  });
  return PyList_AsTuple(values.get());
}

PyObject* account_group_id(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("account_group_id()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return new_int(extract_account_group_id(value).value).release();
}

PyObject* asset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("asset()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return make_str(extract_asset(value).name()).release();
}

PyObject* parse_asset_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("parse_asset()", req("text"));
  auto [text] = parse(spec, args, nargs, kwnames);
  return make_str(parse_asset(arg_utf8("text", text)).name()).release();
}

// optional_asset(value): None stays None, anything else goes through extract_asset.
PyObject* optional_asset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("optional_asset()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::optional<Asset> asset;
  if (value != Py_None) asset = extract_asset(value);
  std::optional<std::string> text = asset_to_optional_string(asset);
  return (text ? make_str(*text) : none()).release();
}

// instrument(value): (underlying_asset, settlement_asset).
PyObject* instrument(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("instrument()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  const Instrument result = extract_instrument(value);
  return new_tuple(make_str(result.underlying_asset.name()), make_str(result.settlement_asset.name())).release();
}

// outcome_amount(value): None, or the texts (delta, absolute).
PyObject* outcome_amount(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("outcome_amount()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::optional<OutcomeAmount> amount = extract_outcome_amount(value);
  if (!amount) return none().release();
  return new_tuple(make_str(amount->delta.value.to_string()), make_str(amount->absolute.value.to_string()))
      .release();
}

// The position parsers give the member's index (0 for long, netting, open).
template <auto Parse>
PyObject* position_word(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("position_word()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return new_int(static_cast<std::uint64_t>(Parse(value))).release();
}

// position_effect_to_py(effect): effect None, 0 (open) or 1 (close).
PyObject* effect_to_py(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("position_effect_to_py()", req("effect"));
  auto [effect_obj] = parse(spec, args, nargs, kwnames);
  std::optional<PositionEffect> effect;
  if (effect_obj != Py_None) {
    const std::uint64_t index = u64_arg(effect_obj);
    if (index > 1) throw_error(PyExc_ValueError, "effect must be 0, 1 or None");
    effect = static_cast<PositionEffect>(index);
  }
  Ref result = position_effect_to_py(effect);
  return (result ? std::move(result) : none()).release();
}

// account_group_error(form, account=0, group=0, current=None, *, raised=False)
PyObject* account_group_error(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("account_group_error()", req("form"), opt("account"), opt("group"),
                                      opt("current"), kw_opt("raised"));
  auto [form_obj, account_obj, group_obj, current_obj, raised] = parse(spec, args, nargs, kwnames);
  std::string_view form = arg_utf8("form", form_obj);
  const AccountId account{account_obj != nullptr ? u64_arg(account_obj) : 0};
  const AccountGroupId group{static_cast<std::uint32_t>(group_obj != nullptr ? u64_arg(group_obj) : 0)};
  std::optional<AccountGroupId> current;
  if (current_obj != nullptr && current_obj != Py_None)
    current = AccountGroupId{static_cast<std::uint32_t>(u64_arg(current_obj))};
  AccountGroupError error;
  if (form == "ReservedDefaultGroup") {
    error.form = AccountGroupError::ReservedDefaultGroup{};
  } else if (form == "AlreadyInGroup") {
    error.form = AccountGroupError::AlreadyInGroup{account, group};
  } else if (form == "NotInGroup") {
    error.form = AccountGroupError::NotInGroup{account, group, current};
  } else {
    throw_error(PyExc_ValueError, cat("no form ", form));
  }
  return deliver(format_account_group_error(error), raised);
}

// register_error(instrument, *, raised=False)
PyObject* register_error(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("register_error()", req("instrument"), kw_opt("raised"));
  auto [instrument_obj, raised] = parse(spec, args, nargs, kwnames);
  return deliver(format_register_error(extract_instrument(instrument_obj)), raised);
}

// register_with_id_error(taken, *, raised=False): an int is the id already in
// use, anything else the instrument already registered.
PyObject* register_with_id_error(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("register_with_id_error()", req("taken"), kw_opt("raised"));
  auto [taken, raised] = parse(spec, args, nargs, kwnames);
  using Error = InstrumentRegistrationError;
  const Error error = PyLong_Check(taken) ? Error{Error::InstrumentIdAlreadyRegistered{InstrumentId{u64_arg(taken)}}}
                                          : Error{Error::InstrumentAlreadyRegistered{extract_instrument(taken)}};
  return deliver(format_register_with_id_error(error), raised);
}

// unknown_instrument_id(id, *, raised=False)
PyObject* unknown_instrument_id(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("unknown_instrument_id()", req("id"), kw_opt("raised"));
  auto [id, raised] = parse(spec, args, nargs, kwnames);
  return deliver(format_unknown_instrument_id(InstrumentId{u64_arg(id)}), raised);
}

// policy_group_id(value)
PyObject* policy_group_id(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("policy_group_id()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::uint16_t id = 0;
  if (!extract_policy_group_id(value, id)) throw ErrorAlreadySet{};
  return new_int(id).release();
}

// account_info_group(account_info, reads=1, then=None): an entry point that
// follows the pending protocol around core work reading the group `reads` times
// into one account-group cell; `then(group)` stands for the work that goes on with the result
// (None for no group). Returns the group.
PyObject* account_info_group(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("account_info_group()", req("account_info"), opt("reads"), opt("then"));
  auto [account_info, reads_obj, then] = parse(spec, args, nargs, kwnames);
  const std::uint64_t reads = reads_obj != nullptr ? u64_arg(reads_obj) : 1;
  PendingErrorScope scope;
  AccountGroupCell cell;  // the engine's cell: resolved once, then fixed
  for (std::uint64_t i = 0; i < reads; ++i)
    if (!cell.resolved()) cell.set(read_account_info_group(account_info));
  Ref group = cell.value() ? new_int(cell.value()->value) : none();
  if (then != nullptr && then != Py_None) {
    Ref ignored = Ref::steal(PyObject_CallFunctionObjArgs(then, group.get(), nullptr));
    if (!ignored) throw_pending();
  }
  scope.finish();
  return group.release();
}

// adjustment_hook_under_core_lock(policy): an entry point that calls the
// Python policy's adjustment hook as the engine would, but with a core lock
// held, so the hook cannot have the interpreter lock. Returns the reason of
// the reject the hook gave and the message of what the entry point raised.
PyObject* adjustment_hook_under_core_lock(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("adjustment_hook_under_core_lock()", req("policy"));
  auto [policy] = parse(spec, args, nargs, kwnames);
  const std::unique_ptr<Policy> adapter = extract_python_policy(policy);
  EngineState state(EngineSync::NoSync);
  AccountAdjustmentContext ctx(AccountId{1}, *state.groups, *state.blocks);
  const AccountAdjustmentRecord adjustment;
  PendingErrorScope scope;
  std::string reason;
  {
    AllowThreads released;
    RwLock lock(SyncMode::None);
    ExclusiveGuard held(lock);
    Mutations mutations;
    AdjustmentCheck check = adapter->apply_account_adjustment(ctx, AccountId{1}, adjustment, mutations);
    if (const Rejects* rejects = check.rejects()) reason = rejects->front().reason;
  }
  std::string raised;
  try {
    scope.finish();
  } catch (const Fault& fault) {
    raised = fault.what();
  }
  return new_tuple(make_str(reason), make_str(raised)).release();
}

// probe_exception(name): this module's exception type of that name.
PyObject* probe_exception(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("probe_exception()", req("name"));
  auto [name_obj] = parse(spec, args, nargs, kwnames);
  std::string_view name = arg_utf8("name", name_obj);
  for (int i = 0; i < kExceptionCount; ++i) {
    auto id = static_cast<ExceptionId>(i);
    if (name == exception_name(id)) return Ref::borrow(exception_type(id)).release();
  }
  throw_error(PyExc_LookupError, cat("no exception ", name));
}

// market_data_builder(sync_mode, default_ttl): what an engine builder's
// market_data(default_ttl) hands out; sync_mode is the engine's locking mode
// ("no_sync", "full_sync" or "account_sync").
PyObject* market_data_builder(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("market_data_builder()", req("sync_mode"), req("default_ttl"));
  auto [mode_obj, ttl_obj] = parse(spec, args, nargs, kwnames);
  std::string_view mode_text = arg_utf8("sync_mode", mode_obj);
  SyncMode mode = SyncMode::Full;
  if (mode_text == "no_sync") {
    mode = SyncMode::None;
  } else if (mode_text == "account_sync") {
    mode = SyncMode::Account;
  } else if (mode_text != "full_sync") {
    throw_error(PyExc_ValueError, cat("no sync mode ", mode_text));
  }
  const QuoteTtl default_ttl = extract_quote_ttl("default_ttl", ttl_obj);
  return make_market_data_builder(market_data_sync_mode(mode), default_ttl);
}

// market_data_sync_mode(service): 0 or 1, as the engine's policies read it.
PyObject* market_data_sync_mode_of(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("market_data_sync_mode()", req("service"));
  auto [service] = parse(spec, args, nargs, kwnames);
  if (!is_market_data_service(service)) throw_cannot_convert(service, "MarketDataService");
  return new_int(market_data_service_of(service)->is_synced() ? 1 : 0).release();
}

std::atomic<std::int64_t> g_fake_clock_ns{-1};
Instant fake_clock() noexcept {
  const auto ns = static_cast<std::uint64_t>(g_fake_clock_ns.load());
  return {ns / 1'000'000'000u, static_cast<std::uint32_t>(ns % 1'000'000'000u)};
}

// set_fake_clock(ns): the monotonic clock reads `ns` nanoseconds from now on;
// None gives the system clock back.
PyObject* set_fake_clock(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("set_fake_clock()", req("ns"));
  auto [ns_obj] = parse(spec, args, nargs, kwnames);
  if (ns_obj == Py_None) {
    set_test_clock(nullptr);
  } else {
    const std::uint64_t ns = u64_arg(ns_obj);
    if (ns > static_cast<std::uint64_t>(INT64_MAX)) throw_error(PyExc_OverflowError, "fake clock beyond 2**63-1 ns");
    g_fake_clock_ns.store(static_cast<std::int64_t>(ns));
    set_test_clock(&fake_clock);
  }
  return none().release();
}

PyMethodDef kFunctions[] = {
    {"set_fake_clock", method_entry<&set_fake_clock>(), kFastcallFlags, "set_fake_clock(ns)\n--\n\n"},
    {"probe_exception", method_entry<&probe_exception>(), kFastcallFlags, "probe_exception(name)\n--\n\n"},
    {"market_data_builder", method_entry<&market_data_builder>(), kFastcallFlags,
     "market_data_builder(sync_mode, default_ttl)\n--\n\n"},
    {"market_data_sync_mode", method_entry<&market_data_sync_mode_of>(), kFastcallFlags,
     "market_data_sync_mode(service)\n--\n\n"},
    {"probe_class", method_entry<&probe_class>(), kFastcallFlags, "probe_class(name)\n--\n\n"},
    {"account_ids", method_entry<&account_ids>(), kFastcallFlags, "account_ids(iterable)\n--\n\n"},
    {"account_group_id", method_entry<&account_group_id>(), kFastcallFlags, "account_group_id(value)\n--\n\n"},
    {"asset", method_entry<&asset>(), kFastcallFlags, "asset(value)\n--\n\n"},
    {"parse_asset", method_entry<&parse_asset_text>(), kFastcallFlags, "parse_asset(text)\n--\n\n"},
    {"optional_asset", method_entry<&optional_asset>(), kFastcallFlags, "optional_asset(value)\n--\n\n"},
    {"instrument", method_entry<&instrument>(), kFastcallFlags, "instrument(value)\n--\n\n"},
    {"outcome_amount", method_entry<&outcome_amount>(), kFastcallFlags, "outcome_amount(value)\n--\n\n"},
    {"position_side", method_entry<&position_word<&parse_position_side>>(), kFastcallFlags,
     "position_side(value)\n--\n\n"},
    {"position_mode", method_entry<&position_word<&parse_position_mode>>(), kFastcallFlags,
     "position_mode(value)\n--\n\n"},
    {"position_effect", method_entry<&position_word<&parse_position_effect>>(), kFastcallFlags,
     "position_effect(value)\n--\n\n"},
    {"position_effect_to_py", method_entry<&effect_to_py>(), kFastcallFlags, "position_effect_to_py(effect)\n--\n\n"},
    {"account_group_error", method_entry<&account_group_error>(), kFastcallFlags,
     "account_group_error(form, account=0, group=0, current=None, *, raised=False)\n--\n\n"},
    {"register_error", method_entry<&register_error>(), kFastcallFlags,
     "register_error(instrument, *, raised=False)\n--\n\n"},
    {"register_with_id_error", method_entry<&register_with_id_error>(), kFastcallFlags,
     "register_with_id_error(taken, *, raised=False)\n--\n\n"},
    {"unknown_instrument_id", method_entry<&unknown_instrument_id>(), kFastcallFlags,
     "unknown_instrument_id(id, *, raised=False)\n--\n\n"},
    {"policy_group_id", method_entry<&policy_group_id>(), kFastcallFlags, "policy_group_id(value)\n--\n\n"},
    {"account_info_group", method_entry<&account_info_group>(), kFastcallFlags,
     "account_info_group(account_info, reads=1, then=None)\n--\n\n"},
    {"adjustment_hook_under_core_lock", method_entry<&adjustment_hook_under_core_lock>(), kFastcallFlags,
     "adjustment_hook_under_core_lock(policy)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_def = {PyModuleDef_HEAD_INIT, "_vantrel_probe", "", 0, kFunctions,
                     nullptr, nullptr, nullptr, nullptr};

PyObject* init() {
  Ref module = Ref::steal(PyModule_Create2(&g_def, 3));
  if (!module) throw_pending();
  if (PyModule_AddFunctions(module.get(), kRecordProbeFunctions) != 0) throw_pending();
  if (PyModule_AddFunctions(module.get(), kResultProbeFunctions) != 0) throw_pending();
  watch_interpreter_exit();
  return module.release();
}

}  // namespace
}  // namespace vantrel::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__vantrel_probe() {
  return vantrel::py::entry<&vantrel::py::init>();
}
