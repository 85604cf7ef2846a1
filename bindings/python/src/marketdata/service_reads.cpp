// MarketDataService reads. get and get_or_err keep the interpreter lock
// throughout (the account group may have to be read from a Python object) and
// never hold a market-data lock while Python runs: a walk that needs the group
// returns with every lock released, the group is read once, and the walk
// starts again with it.
#include "class_table.hpp"
#include "exceptions.hpp"
#include "marketdata/account_info.hpp"
#include "marketdata/quote.hpp"
#include "marketdata/service_support.hpp"
#include "param/asset.hpp"
#include "param/ids.hpp"
#include "toolkit/args.hpp"
#include "toolkit/pending.hpp"

namespace vantrel::py {
namespace {

QuoteLookup host_lookup(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, const MarketDataService& service,
                        std::string_view func) {
  static constexpr auto get_spec = params("MarketDataService.get()", req("instrument_id"), req("account_id"),
                                          req("account_info"), req("resolution"));
  static constexpr auto get_or_err_spec = params("MarketDataService.get_or_err()", req("instrument_id"),
                                                 req("account_id"), req("account_info"), req("resolution"));
  auto [id_obj, account_obj, account_info, resolution_obj] =
      func == "get" ? parse(get_spec, args, nargs, kwnames) : parse(get_or_err_spec, args, nargs, kwnames);
  const InstrumentId id = extract_instrument_id("instrument_id", id_obj);
  const QuoteResolution resolution = extract_quote_resolution("resolution", resolution_obj);
  const AccountId account = extract_account_id(account_obj);

  PendingErrorScope pending;
  QuoteLookup result = service.lookup(id, account, resolution, GroupHint::unknown());
  if (result.status == LookupStatus::NeedGroup) {
    result = service.lookup(id, account, resolution, GroupHint::of(read_account_info_group(account_info)));
  }
  pending.finish();  // an account_info error wins over every outcome
  return result;
}

PyObject* get(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const QuoteLookup result = host_lookup(args, nargs, kwnames, service_of(self), "get");
  if (result.status != LookupStatus::Found) Py_RETURN_NONE;
  return wrap_quote(result.quote).release();
}

PyObject* get_or_err(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const QuoteLookup result = host_lookup(args, nargs, kwnames, service_of(self), "get_or_err");
  switch (result.status) {
    case LookupStatus::Found:
      return wrap_quote(result.quote).release();
    case LookupStatus::UnknownInstrument:
      throw_error(exception_type(ExceptionId::UnknownInstrument), "unknown instrument");
    default:
      throw_error(exception_type(ExceptionId::QuoteUnavailable), "quote unavailable");
  }
}

PyObject* resolve(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataService.resolve()", req("instrument"));
  auto [instrument_obj] = parse(spec, args, nargs, kwnames);
  const Instrument instrument = extract_instrument(instrument_obj);
  const MarketDataService& service = service_of(self);
  const std::optional<InstrumentId> id = run_on_service(service, [&] { return service.resolve_instrument_id(instrument); });
  if (!id) Py_RETURN_NONE;
  return wrap_instrument_id(*id).release();
}

}  // namespace

PyMethodDef* market_data_read_methods() {
  static PyMethodDef methods[] = {
      {"get", method_entry<&get>(), kFastcallFlags,
       "get($self, instrument_id, account_id, account_info, resolution)\n--\n\n"},
      {"get_or_err", method_entry<&get_or_err>(), kFastcallFlags,
       "get_or_err($self, instrument_id, account_id, account_info, resolution)\n--\n\n"},
      {"resolve", method_entry<&resolve>(), kFastcallFlags, "resolve($self, instrument)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  return methods;
}

}  // namespace vantrel::py
