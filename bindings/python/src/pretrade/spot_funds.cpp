// ReadyEngineBuilder._add_builtin_spot_funds: converts every argument first,
// then checks the configuration, then appends the policy. Nothing is added
// when anything fails.
#include <optional>
#include <string_view>
#include <vector>

#include "marketdata/builder.hpp"
#include "param/ids.hpp"
#include "pretrade/engine_support.hpp"
#include "pretrade/spot_funds.hpp"
#include "toolkit/args.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/errors.hpp"
#include "vantrel/pretrade/policies/spot_funds.hpp"

namespace vantrel::py {
namespace {

constexpr std::string_view kOverrides = "overrides";

// An integer 0..=65535; a wrong type is a TypeError the caller names. Any
// integer outside the range, one beyond a machine word included, gets the same
// OverflowError.
std::uint16_t u16_of(PyObject* obj) {
  int beyond_word = 0;
  const long value = PyLong_AsLongAndOverflow(obj, &beyond_word);
  if (value == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
  if (beyond_word != 0 || value < 0 || value > 65535)
    throw_error(PyExc_OverflowError, "out of range integral type conversion attempted");
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint16_t> optional_u16_arg(std::string_view arg, PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  return convert_arg(arg, [&] { return u16_of(obj); });
}

SlippageOverride override_of(PyObject* item) {
  if (!PyTuple_Check(item)) throw_cannot_convert(item, "PyTuple");
  const Py_ssize_t size = PyTuple_Size(item);
  if (size < 0) throw ErrorAlreadySet{};
  if (size != 4)
    throw_error(PyExc_ValueError, "expected tuple of length 4, but got tuple of length " + std::to_string(size));
  PyObject* fields[4];
  for (Py_ssize_t i = 0; i < 4; ++i) {
    fields[i] = PyTuple_GetItem(item, i);  // borrowed
    if (fields[i] == nullptr) throw ErrorAlreadySet{};
  }
  SlippageOverride o{};
  if (!is_instrument_id(fields[0])) throw_cannot_convert(fields[0], "InstrumentId");
  o.instrument = instrument_id_of(fields[0]);
  if (fields[1] != Py_None) {
    if (!is_account_id(fields[1])) throw_cannot_convert(fields[1], "AccountId");
    o.account = account_id_of(fields[1]);
  }
  if (fields[2] != Py_None) {
    if (!is_account_group_id(fields[2])) throw_cannot_convert(fields[2], "AccountGroupId");
    o.group = account_group_id_of(fields[2]);
  }
  if (fields[3] != Py_None) o.bps = u16_of(fields[3]);
  return o;
}

// A sequence of 4-tuples; a str is refused even though it is a sequence.
std::vector<SlippageOverride> overrides_arg(PyObject* obj) {
  return convert_arg(kOverrides, [&] {
    if (PyUnicode_Check(obj)) throw_error(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(obj)) throw_cannot_convert(obj, "Sequence");
    const Py_ssize_t size = PySequence_Size(obj);
    if (size < 0) throw ErrorAlreadySet{};
    // Not reserved from the reported length: a sequence may claim any length.
    std::vector<SlippageOverride> out;
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject* raw = PySequence_GetItem(obj, i);
      if (raw == nullptr) throw ErrorAlreadySet{};
      const Ref item = Ref::steal(raw);
      out.push_back(override_of(item.get()));
    }
    return out;
  });
}

}  // namespace

PyObject* ready_add_spot_funds(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("ReadyEngineBuilder._add_builtin_spot_funds()", kw_opt("policy_group_id"), kw_opt("market_data"),
             kw_opt("default_slippage_bps"), kw_opt("pricing_source"), kw_opt(kOverrides));
  auto [group_obj, market_obj, slippage_obj, source_obj, overrides_obj] = parse(spec, args, nargs, kwnames);

  // 1. Every argument in declaration order, then each override's target.
  const std::uint16_t group = group_obj != nullptr ? builtin_policy_group_id_arg(group_obj) : 0;
  std::shared_ptr<const MarketDataService> market_data;
  if (market_obj != nullptr && market_obj != Py_None) {
    if (!is_market_data_service(market_obj)) throw_arg_cannot_convert("market_data", market_obj, "MarketDataService");
    market_data = market_data_service_of(market_obj);
  }
  const std::optional<std::uint16_t> default_bps = optional_u16_arg("default_slippage_bps", slippage_obj);
  std::optional<std::string_view> pricing_source;
  if (source_obj != nullptr && source_obj != Py_None) pricing_source = arg_utf8("pricing_source", source_obj);
  std::vector<SlippageOverride> overrides;
  if (overrides_obj != nullptr) overrides = overrides_arg(overrides_obj);
  for (const SlippageOverride& o : overrides)
    if (o.account && o.group) throw_error(PyExc_ValueError, kOverrideTargetsBothMessage);

  // 2. The builder must not be spent.
  std::shared_ptr<AccountBlockRegistry> blocks = ready_builder_blocks(self);
  if (!blocks) throw_error(PyExc_ValueError, "engine builder is no longer available");

  // 3.-8. The pricing configuration.
  const SyncMode mode = engine_lock_mode(ready_builder_sync(self));
  std::variant<SpotFundsPricing, std::string> pricing =
      SpotFundsPricing::configure(mode, std::move(market_data), default_bps, pricing_source, overrides);
  if (std::string* error = std::get_if<std::string>(&pricing)) throw_error(PyExc_ValueError, *error);

  // 9. Appended with empty holdings locked as the engine is.
  append_policy(self, std::make_unique<SpotFundsPolicy>(group, std::move(std::get<SpotFundsPricing>(pricing)), mode,
                                                        std::move(blocks)));
  return Ref::borrow(self).release();
}

}  // namespace vantrel::py
