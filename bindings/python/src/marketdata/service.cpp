// MarketDataService: registration, staleness settings, clearing and pushes.
// Every argument is converted before the service is touched; the core work
// runs without the interpreter lock when the service has locks.
#include <optional>
#include <vector>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "exceptions.hpp"
#include "marketdata/builder.hpp"
#include "marketdata/quote.hpp"
#include "marketdata/service_support.hpp"
#include "param/asset.hpp"
#include "param/ids.hpp"
#include "registry_errors.hpp"
#include "toolkit/args.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/iterate.hpp"

namespace vantrel::py {

PyMethodDef* market_data_read_methods();  // marketdata/service_reads.cpp

namespace {

constexpr const char* kNoTargets = "push_for requires at least one account or group target";

Ref none() { return Ref::borrow(Py_None); }

[[noreturn]] void raise_unknown_id(InstrumentId id) { raise_exception(format_unknown_instrument_id(id)); }

// -- registration

template <bool WithTtl>
PyObject* register_auto(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec_plain = params("MarketDataService.register()", req("instrument"));
  static constexpr auto spec_ttl = params("MarketDataService.register_with_ttl()", req("instrument"), req("ttl"));
  std::optional<Instrument> instrument;
  std::optional<QuoteTtl> ttl;
  if constexpr (WithTtl) {
    auto [instrument_obj, ttl_obj] = parse(spec_ttl, args, nargs, kwnames);
    instrument.emplace(extract_instrument(instrument_obj));
    ttl = extract_quote_ttl("ttl", ttl_obj);
  } else {
    auto [instrument_obj] = parse(spec_plain, args, nargs, kwnames);
    instrument.emplace(extract_instrument(instrument_obj));
  }
  MarketDataService& service = service_of(self);
  const std::optional<InstrumentId> id =
      run_on_service(service, [&] { return service.register_instrument(*instrument, ttl); });
  if (!id) raise_exception(format_register_error(*instrument));
  return wrap_instrument_id(*id).release();
}

template <bool WithTtl>
PyObject* register_with_id(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec_plain =
      params("MarketDataService.register_with_id()", req("instrument"), req("id"));
  static constexpr auto spec_ttl =
      params("MarketDataService.register_with_id_and_ttl()", req("instrument"), req("id"), req("ttl"));
  std::optional<Instrument> instrument;
  InstrumentId id{0};
  std::optional<QuoteTtl> ttl;
  if constexpr (WithTtl) {
    auto [instrument_obj, id_obj, ttl_obj] = parse(spec_ttl, args, nargs, kwnames);
    instrument.emplace(extract_instrument(instrument_obj));
    id = extract_instrument_id("id", id_obj);
    ttl = extract_quote_ttl("ttl", ttl_obj);
  } else {
    auto [instrument_obj, id_obj] = parse(spec_plain, args, nargs, kwnames);
    instrument.emplace(extract_instrument(instrument_obj));
    id = extract_instrument_id("id", id_obj);
  }
  MarketDataService& service = service_of(self);
  const RegisterWithIdStatus status =
      run_on_service(service, [&] { return service.register_instrument_with_id(*instrument, id, ttl); });
  using Error = InstrumentRegistrationError;
  if (status == RegisterWithIdStatus::InstrumentTaken)
    raise_exception(format_register_with_id_error(Error{Error::InstrumentAlreadyRegistered{*instrument}}));
  if (status == RegisterWithIdStatus::IdTaken)
    raise_exception(format_register_with_id_error(Error{Error::InstrumentIdAlreadyRegistered{id}}));
  return wrap_instrument_id(id).release();
}

// -- staleness settings

PyObject* set_instrument_account_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.set_instrument_account_ttl()", req("instrument_id"),
                                      req("account_id"), req("ttl"));
  auto [id_obj, account_obj, ttl_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const AccountId account = extract_account_id(account_obj);
  const QuoteTtl ttl = extract_quote_ttl("ttl", ttl_obj);
  MarketDataService& service = service_of(self);
  if (!run_on_service(service, [&] { return service.set_instrument_account_ttl(id, account, ttl); }))
    raise_unknown_id(id);
  return none().release();
}

PyObject* clear_instrument_account_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("MarketDataService.clear_instrument_account_ttl()", req("instrument_id"), req("account_id"));
  auto [id_obj, account_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const AccountId account = extract_account_id(account_obj);
  MarketDataService& service = service_of(self);
  if (!run_on_service(service, [&] { return service.clear_instrument_account_ttl(id, account); }))
    raise_unknown_id(id);
  return none().release();
}

PyObject* set_instrument_group_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.set_instrument_account_group_ttl()", req("instrument_id"),
                                      req("account_group_id"), req("ttl"));
  auto [id_obj, group_obj, ttl_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const AccountGroupId group = extract_account_group_id(group_obj);
  const QuoteTtl ttl = extract_quote_ttl("ttl", ttl_obj);
  MarketDataService& service = service_of(self);
  if (!run_on_service(service, [&] { return service.set_instrument_group_ttl(id, group, ttl); }))
    raise_unknown_id(id);
  return none().release();
}

PyObject* clear_instrument_group_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.clear_instrument_account_group_ttl()",
                                      req("instrument_id"), req("account_group_id"));
  auto [id_obj, group_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const AccountGroupId group = extract_account_group_id(group_obj);
  MarketDataService& service = service_of(self);
  if (!run_on_service(service, [&] { return service.clear_instrument_group_ttl(id, group); }))
    raise_unknown_id(id);
  return none().release();
}

PyObject* set_account_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.set_account_ttl()", req("account_id"), req("ttl"));
  auto [account_obj, ttl_obj] = parse(spec, args, nargs, kwnames);
  const AccountId account = extract_account_id(account_obj);
  const QuoteTtl ttl = extract_quote_ttl("ttl", ttl_obj);
  MarketDataService& service = service_of(self);
  run_on_service(service, [&] { service.set_account_ttl(account, ttl); });
  return none().release();
}

PyObject* clear_account_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.clear_account_ttl()", req("account_id"));
  auto [account_obj] = parse(spec, args, nargs, kwnames);
  const AccountId account = extract_account_id(account_obj);
  MarketDataService& service = service_of(self);
  run_on_service(service, [&] { service.clear_account_ttl(account); });
  return none().release();
}

PyObject* set_account_group_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("MarketDataService.set_account_group_ttl()", req("account_group_id"), req("ttl"));
  auto [group_obj, ttl_obj] = parse(spec, args, nargs, kwnames);
  const AccountGroupId group = extract_account_group_id(group_obj);
  const QuoteTtl ttl = extract_quote_ttl("ttl", ttl_obj);
  MarketDataService& service = service_of(self);
  run_on_service(service, [&] { service.set_group_ttl(group, ttl); });
  return none().release();
}

PyObject* clear_account_group_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.clear_account_group_ttl()", req("account_group_id"));
  auto [group_obj] = parse(spec, args, nargs, kwnames);
  const AccountGroupId group = extract_account_group_id(group_obj);
  MarketDataService& service = service_of(self);
  run_on_service(service, [&] { service.clear_group_ttl(group); });
  return none().release();
}

PyObject* set_instrument_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.set_instrument_ttl()", req("instrument_id"), req("ttl"));
  auto [id_obj, ttl_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const QuoteTtl ttl = extract_quote_ttl("ttl", ttl_obj);
  MarketDataService& service = service_of(self);
  if (!run_on_service(service, [&] { return service.set_instrument_ttl(id, ttl); })) raise_unknown_id(id);
  return none().release();
}

PyObject* clear_instrument_ttl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.clear_instrument_ttl()", req("instrument_id"));
  auto [id_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  MarketDataService& service = service_of(self);
  if (!run_on_service(service, [&] { return service.set_instrument_ttl(id, std::nullopt); })) raise_unknown_id(id);
  return none().release();
}

PyObject* clear(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.clear()", req("instrument_id"));
  auto [id_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  MarketDataService& service = service_of(self);
  run_on_service(service, [&] { service.clear(id); });
  return none().release();
}

// -- pushes

template <PushMode Mode>
PyObject* push(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params(Mode == PushMode::Replace ? "MarketDataService.push()"
                                                                : "MarketDataService.push_patch()",
                                      req("instrument_id"), req("quote"));
  auto [id_obj, quote_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const Quote& quote = extract_quote("quote", quote_obj);  // immutable, and kept alive by the caller
  MarketDataService& service = service_of(self);
  if (run_on_service(service, [&] { return service.push(id, quote, Mode); }) != PushStatus::Ok)
    raise_unknown_id(id);
  return none().release();
}

template <PushMode Mode>
PyObject* push_by_instrument(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params(Mode == PushMode::Replace ? "MarketDataService.push_by_instrument()"
                                                                : "MarketDataService.push_by_instrument_patch()",
                                      req("instrument"), req("quote"));
  auto [instrument_obj, quote_obj] = parse(spec, args, nargs, kwnames);
  const Instrument instrument = extract_instrument(instrument_obj);
  const Quote& quote = extract_quote("quote", quote_obj);
  MarketDataService& service = service_of(self);
  const InstrumentId id = run_on_service(service, [&] { return service.push_by_instrument(instrument, quote, Mode); });
  return wrap_instrument_id(id).release();
}

template <PushMode Mode>
PyObject* push_for(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params(Mode == PushMode::Replace ? "MarketDataService.push_for()" : "MarketDataService.push_for_patch()",
             req("instrument_id"), req("quote"), req("account_ids"), req("account_group_ids"));
  auto [id_obj, quote_obj, accounts_obj, groups_obj] = parse(spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const Quote& quote = extract_quote("quote", quote_obj);
  const std::vector<AccountId> accounts = collect_items(accounts_obj, account_id_item);
  const std::vector<AccountGroupId> groups = collect_items(groups_obj, extract_account_group_id);
  MarketDataService& service = service_of(self);
  const PushStatus status = run_on_service(service, [&] { return service.push_for(id, quote, accounts, groups, Mode); });
  if (status == PushStatus::NoTargets) throw_error(PyExc_ValueError, kNoTargets);
  if (status == PushStatus::UnknownInstrument) raise_unknown_id(id);
  return none().release();
}

constexpr const char* kPushForDoc =
    "push_for($self, instrument_id, quote, account_ids, account_group_ids)\n--\n\n"
    "Push a full quote snapshot to specific accounts and/or groups.\n\n"
    "To target the default (\"everyone-else\") bucket, include\n"
    "``AccountGroupId.DEFAULT`` in ``account_group_ids``.";
constexpr const char* kPushForPatchDoc =
    "push_for_patch($self, instrument_id, quote, account_ids, account_group_ids)\n--\n\n"
    "Push a partial quote patch to specific accounts and/or groups.\n\n"
    "To target the default (\"everyone-else\") bucket, include\n"
    "``AccountGroupId.DEFAULT`` in ``account_group_ids``.";
constexpr const char* kSetGroupTtlDoc =
    "set_account_group_ttl($self, account_group_id, ttl)\n--\n\n"
    "Sets the TTL override for the given account group.\n\n"
    "Passing `AccountGroupId.DEFAULT` targets the service-level default-group\n"
    "TTL (the \"everyone-else\" bucket that accounts without an explicit group\n"
    "assignment fall into).";
constexpr const char* kClearGroupTtlDoc =
    "clear_account_group_ttl($self, account_group_id)\n--\n\n"
    "Clears the TTL override for the given account group.\n\n"
    "Passing `AccountGroupId.DEFAULT` targets the service-level default-group\n"
    "TTL (the \"everyone-else\" bucket that accounts without an explicit group\n"
    "assignment fall into).";
constexpr const char* kSetInstrumentGroupTtlDoc =
    "set_instrument_account_group_ttl($self, instrument_id, account_group_id, ttl)\n--\n\n"
    "Sets the per-instrument TTL override for the given account group.\n\n"
    "Passing `AccountGroupId.DEFAULT` targets the instrument-level\n"
    "default-group TTL (the \"everyone-else\" bucket for this instrument).";
constexpr const char* kClearInstrumentGroupTtlDoc =
    "clear_instrument_account_group_ttl($self, instrument_id, account_group_id)\n--\n\n"
    "Clears the per-instrument TTL override for the given account group.\n\n"
    "Passing `AccountGroupId.DEFAULT` targets the instrument-level\n"
    "default-group TTL (the \"everyone-else\" bucket for this instrument).";

std::vector<PyMethodDef> all_methods() {
  std::vector<PyMethodDef> methods = {
      {"register", method_entry<&register_auto<false>>(), kFastcallFlags, "register($self, instrument)\n--\n\n"},
      {"register_with_ttl", method_entry<&register_auto<true>>(), kFastcallFlags,
       "register_with_ttl($self, instrument, ttl)\n--\n\n"},
      {"register_with_id", method_entry<&register_with_id<false>>(), kFastcallFlags,
       "register_with_id($self, instrument, id)\n--\n\n"},
      {"register_with_id_and_ttl", method_entry<&register_with_id<true>>(), kFastcallFlags,
       "register_with_id_and_ttl($self, instrument, id, ttl)\n--\n\n"},
      {"set_instrument_account_ttl", method_entry<&set_instrument_account_ttl>(), kFastcallFlags,
       "set_instrument_account_ttl($self, instrument_id, account_id, ttl)\n--\n\n"},
      {"clear_instrument_account_ttl", method_entry<&clear_instrument_account_ttl>(), kFastcallFlags,
       "clear_instrument_account_ttl($self, instrument_id, account_id)\n--\n\n"},
      {"set_instrument_account_group_ttl", method_entry<&set_instrument_group_ttl>(), kFastcallFlags,
       kSetInstrumentGroupTtlDoc},
      {"clear_instrument_account_group_ttl", method_entry<&clear_instrument_group_ttl>(), kFastcallFlags,
       kClearInstrumentGroupTtlDoc},
      {"set_account_ttl", method_entry<&set_account_ttl>(), kFastcallFlags,
       "set_account_ttl($self, account_id, ttl)\n--\n\n"},
      {"clear_account_ttl", method_entry<&clear_account_ttl>(), kFastcallFlags,
       "clear_account_ttl($self, account_id)\n--\n\n"},
      {"set_account_group_ttl", method_entry<&set_account_group_ttl>(), kFastcallFlags, kSetGroupTtlDoc},
      {"clear_account_group_ttl", method_entry<&clear_account_group_ttl>(), kFastcallFlags, kClearGroupTtlDoc},
      {"set_instrument_ttl", method_entry<&set_instrument_ttl>(), kFastcallFlags,
       "set_instrument_ttl($self, instrument_id, ttl)\n--\n\n"},
      {"clear_instrument_ttl", method_entry<&clear_instrument_ttl>(), kFastcallFlags,
       "clear_instrument_ttl($self, instrument_id)\n--\n\n"},
      {"clear", method_entry<&clear>(), kFastcallFlags, "clear($self, instrument_id)\n--\n\n"},
      {"push", method_entry<&push<PushMode::Replace>>(), kFastcallFlags, "push($self, instrument_id, quote)\n--\n\n"},
      {"push_patch", method_entry<&push<PushMode::Patch>>(), kFastcallFlags,
       "push_patch($self, instrument_id, quote)\n--\n\n"},
      {"push_by_instrument", method_entry<&push_by_instrument<PushMode::Replace>>(), kFastcallFlags,
       "push_by_instrument($self, instrument, quote)\n--\n\n"},
      {"push_by_instrument_patch", method_entry<&push_by_instrument<PushMode::Patch>>(), kFastcallFlags,
       "push_by_instrument_patch($self, instrument, quote)\n--\n\n"},
      {"push_for", method_entry<&push_for<PushMode::Replace>>(), kFastcallFlags, kPushForDoc},
      {"push_for_patch", method_entry<&push_for<PushMode::Patch>>(), kFastcallFlags, kPushForPatchDoc},
  };
  for (PyMethodDef* read = market_data_read_methods(); read->ml_name != nullptr; ++read) methods.push_back(*read);
  methods.push_back({nullptr, nullptr, 0, nullptr});
  return methods;
}

}  // namespace

InstrumentId extract_instrument_id(std::string_view arg, PyObject* obj) {
  if (!is_instrument_id(obj)) throw_arg_cannot_convert(arg, obj, "InstrumentId");
  return instrument_id_of(obj);
}

Ref wrap_market_data_service(std::shared_ptr<MarketDataService> service) {
  return make_instance<ServiceHandle>(class_type(ClassId::MarketDataService), std::move(service));
}

bool is_market_data_service(PyObject* obj) { return is_instance(obj, ClassId::MarketDataService); }

const std::shared_ptr<MarketDataService>& market_data_service_of(PyObject* obj) {
  return object_cast<ServiceHandle>(obj)->value;
}

const ClassBehaviour* market_data_service_behaviour() {
  static std::vector<PyMethodDef> methods = all_methods();
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<ServiceHandle>();
    b.slots.push_back({Py_tp_methods, methods.data()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
