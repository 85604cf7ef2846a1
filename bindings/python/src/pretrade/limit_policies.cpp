// ReadyEngineBuilder._add_builtin_order_size_limit, _add_builtin_rate_limit and
// _add_builtin_pnl_bounds_killswitch: read every argument first, in signature order, then
// check the configuration in the core, then append. Nothing is appended on any failure.
// They hold the interpreter lock and take no engine or policy lock.
#include <string>
#include <vector>

#include "param/asset.hpp"
#include "param/ids.hpp"
#include "param/values.hpp"
#include "pretrade/engine_support.hpp"
#include "pretrade/limit_policies.hpp"
#include "pretrade/order_size_limit.hpp"
#include "toolkit/args.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/errors.hpp"
#include "vantrel/core/clock.hpp"
#include "vantrel/pretrade/policies/order_size_limit.hpp"
#include "vantrel/pretrade/policies/pnl_killswitch.hpp"
#include "vantrel/pretrade/policies/rate_limit.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kSpent = "engine builder is no longer available";
constexpr const char* kNotAccountId = "account_id must be vantrel.param.AccountId";

// The items of a sequence argument, in order; a str is refused although it is a sequence.
std::vector<Ref> sequence_items(std::string_view arg, PyObject* obj) {
  if (PyUnicode_Check(obj) || !PySequence_Check(obj)) throw_arg_cannot_convert(arg, obj, "Sequence");
  const Py_ssize_t size = PySequence_Size(obj);
  if (size < 0) rethrow_with_arg_name(arg);
  std::vector<Ref> items;
  items.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(obj, i));
    if (!item) rethrow_with_arg_name(arg);
    items.push_back(std::move(item));
  }
  return items;
}

// Item `i` of a tuple that must have exactly `n` items.
class TupleArg {
 public:
  TupleArg(std::string_view arg, PyObject* obj, Py_ssize_t n) : arg_(arg), obj_(obj) {
    if (!PyTuple_Check(obj)) throw_arg_cannot_convert(arg, obj, "PyTuple");
    const Py_ssize_t size = PyTuple_Size(obj);
    if (size != n)
      throw_error(PyExc_ValueError,
                  "expected tuple of length " + std::to_string(n) + ", but got tuple of length " + std::to_string(size));
  }
  PyObject* operator[](Py_ssize_t i) const { return PyTuple_GetItem(obj_, i); }
  std::string_view arg() const noexcept { return arg_; }

 private:
  std::string_view arg_;
  PyObject* obj_;
};

// An unsigned 64-bit integer through the index protocol; the interpreter's OverflowError
// outside 0..=2**64-1.
std::uint64_t u64_arg(std::string_view arg, PyObject* obj) {
  Ref index = Ref::steal(PyNumber_Index(obj));
  if (!index) rethrow_with_arg_name(arg);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) rethrow_with_arg_name(arg);
  return value;
}

std::string str_arg(std::string_view arg, PyObject* obj) { return std::string(arg_utf8(arg, obj)); }

OrderSizeLimit size_limit_arg(std::string_view arg, PyObject* obj) {
  if (!is_order_size_limit(obj)) throw_arg_cannot_convert(arg, obj, "OrderSizeLimit");
  return order_size_limit_of(obj);
}

// A str naming a valid asset.
std::string asset_arg(std::string_view arg, PyObject* obj) {
  std::string name = str_arg(arg, obj);
  parse_asset(name);
  return name;
}

RateBarrier rate_barrier(std::string_view arg, PyObject* max_orders, PyObject* window_ns) {
  const std::uint64_t max = u64_arg(arg, max_orders);
  return RateBarrier{max, u64_arg(arg, window_ns)};
}

[[noreturn]] void raise_config_error(const std::string& text) { throw_error(PyExc_ValueError, text); }

// ---- order size limit

PyObject* add_order_size_limit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("ReadyEngineBuilder._add_builtin_order_size_limit()", kw_opt("policy_group_id"), kw_opt("broker"),
             kw_opt("asset_barriers"), kw_opt("account_asset_barriers"));
  auto [group_obj, broker_obj, assets_obj, account_assets_obj] = parse(spec, args, nargs, kwnames);
  OrderSizeLimitConfig config;
  if (group_obj != nullptr) config.policy_group_id = builtin_policy_group_id_arg(group_obj);
  if (broker_obj != nullptr && broker_obj != Py_None) config.broker = size_limit_arg("broker", broker_obj);
  if (assets_obj != nullptr)
    for (const Ref& item : sequence_items("asset_barriers", assets_obj)) {
      const TupleArg t("asset_barriers", item.get(), 2);
      const OrderSizeLimit limit = size_limit_arg(t.arg(), t[0]);
      config.asset_barriers.push_back({limit, asset_arg(t.arg(), t[1])});
    }
  if (account_assets_obj != nullptr)
    for (const Ref& item : sequence_items("account_asset_barriers", account_assets_obj)) {
      const TupleArg t("account_asset_barriers", item.get(), 3);
      const OrderSizeLimit limit = size_limit_arg(t.arg(), t[0]);
      const std::uint64_t account = u64_arg(t.arg(), t[1]);
      config.account_asset_barriers.push_back({limit, account, asset_arg(t.arg(), t[2])});
    }
  if (auto error = order_size_limit_config_error(config)) raise_config_error(*error);
  append_policy(self, std::make_unique<OrderSizeLimitPolicy>(config));
  return Ref::borrow(self).release();
}

// ---- rate limit

PyObject* add_rate_limit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec =
      params("ReadyEngineBuilder._add_builtin_rate_limit()", kw_opt("policy_group_id"), kw_opt("broker"),
             kw_opt("asset_barriers"), kw_opt("account_barriers"), kw_opt("account_asset_barriers"));
  auto [group_obj, broker_obj, assets_obj, accounts_obj, account_assets_obj] = parse(spec, args, nargs, kwnames);
  RateLimitConfig config;
  if (group_obj != nullptr) config.policy_group_id = builtin_policy_group_id_arg(group_obj);
  if (broker_obj != nullptr && broker_obj != Py_None) {
    const TupleArg t("broker", broker_obj, 2);
    config.broker = rate_barrier(t.arg(), t[0], t[1]);
  }
  if (assets_obj != nullptr)
    for (const Ref& item : sequence_items("asset_barriers", assets_obj)) {
      const TupleArg t("asset_barriers", item.get(), 3);
      std::string asset = str_arg(t.arg(), t[0]);
      config.asset_barriers.push_back({std::move(asset), rate_barrier(t.arg(), t[1], t[2])});
    }
  if (accounts_obj != nullptr)
    for (const Ref& item : sequence_items("account_barriers", accounts_obj)) {
      const TupleArg t("account_barriers", item.get(), 3);
      const std::uint64_t account = u64_arg(t.arg(), t[0]);
      config.account_barriers.push_back({account, rate_barrier(t.arg(), t[1], t[2])});
    }
  if (account_assets_obj != nullptr)
    for (const Ref& item : sequence_items("account_asset_barriers", account_assets_obj)) {
      const TupleArg t("account_asset_barriers", item.get(), 4);
      const std::uint64_t account = u64_arg(t.arg(), t[0]);
      std::string asset = str_arg(t.arg(), t[1]);
      config.account_asset_barriers.push_back({account, std::move(asset), rate_barrier(t.arg(), t[2], t[3])});
    }
  if (ready_builder_spent(self)) throw_error(PyExc_ValueError, kSpent);
  const Instant created = monotonic_now();
  if (auto error = rate_limit_config_error(config)) raise_config_error(*error);
  const SyncMode mode = engine_lock_mode(ready_builder_sync(self));
  append_policy(self, std::make_unique<RateLimitPolicy>(config, created, mode));
  return Ref::borrow(self).release();
}

// ---- P&L kill switch

// The attribute, or an empty reference when the object has none.
Ref optional_attr(PyObject* obj, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw ErrorAlreadySet{};
    PyErr_Clear();
  }
  return value;
}

Ref required_attr(PyObject* obj, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!value) throw ErrorAlreadySet{};
  return value;
}

std::optional<Decimal> bound_attr(PyObject* barrier, const char* name) {
  Ref value = optional_attr(barrier, name);
  if (!value || value.get() == Py_None) return std::nullopt;
  return extract_pnl(value.get()).value;
}

// settlement_asset, lower_bound and upper_bound, read and converted in that order, the
// asset converted last.
struct BoundedAsset {
  std::string settlement_asset;
  PnlBounds bounds;
};
BoundedAsset bounded_asset(PyObject* barrier) {
  Ref asset_obj = required_attr(barrier, "settlement_asset");
  BoundedAsset result;
  result.bounds.lower = bound_attr(barrier, "lower_bound");
  result.bounds.upper = bound_attr(barrier, "upper_bound");
  result.settlement_asset = extract_asset(asset_obj.get()).name();
  return result;
}

PyObject* add_pnl_killswitch(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("ReadyEngineBuilder._add_builtin_pnl_bounds_killswitch()",
                                      kw_opt("policy_group_id"), kw_opt("broker_barriers"), kw_opt("account_barriers"));
  auto [group_obj, brokers_obj, accounts_obj] = parse(spec, args, nargs, kwnames);
  PnlKillSwitchConfig config;
  if (group_obj != nullptr) config.policy_group_id = builtin_policy_group_id_arg(group_obj);
  const std::vector<Ref> brokers = brokers_obj != nullptr ? sequence_items("broker_barriers", brokers_obj)
                                                          : std::vector<Ref>{};
  const std::vector<Ref> accounts = accounts_obj != nullptr ? sequence_items("account_barriers", accounts_obj)
                                                            : std::vector<Ref>{};
  if (ready_builder_spent(self)) throw_error(PyExc_ValueError, kSpent);

  for (const Ref& barrier : brokers) {
    BoundedAsset b = bounded_asset(barrier.get());
    config.broker_barriers.push_back({std::move(b.settlement_asset), b.bounds});
  }
  for (const Ref& barrier : accounts) {
    Ref account_obj = required_attr(barrier.get(), "account_id");
    Ref initial_obj = required_attr(barrier.get(), "initial_pnl");
    BoundedAsset b = bounded_asset(barrier.get());
    if (!is_account_id(account_obj.get())) throw_error(PyExc_TypeError, kNotAccountId);
    const Pnl initial = extract_pnl(initial_obj.get());
    config.account_barriers.push_back(
        {account_id_of(account_obj.get()).value, std::move(b.settlement_asset), initial.value, b.bounds});
  }
  if (auto error = pnl_killswitch_config_error(config)) raise_config_error(*error);
  const SyncMode mode = engine_lock_mode(ready_builder_sync(self));
  append_policy(self, std::make_unique<PnlBoundsKillSwitchPolicy>(config, mode));
  return Ref::borrow(self).release();
}

}  // namespace

PyMethodDef limit_policy_adder(LimitPolicyAdder which) {
  switch (which) {
    case LimitPolicyAdder::OrderSizeLimit:
      return {"_add_builtin_order_size_limit", method_entry<&add_order_size_limit>(), kFastcallFlags,
              "_add_builtin_order_size_limit($self, *, policy_group_id=0, broker=None, asset_barriers=(), "
              "account_asset_barriers=())\n--\n\n"};
    case LimitPolicyAdder::RateLimit:
      return {"_add_builtin_rate_limit", method_entry<&add_rate_limit>(), kFastcallFlags,
              "_add_builtin_rate_limit($self, *, policy_group_id=0, broker=None, asset_barriers=..., "
              "account_barriers=..., account_asset_barriers=...)\n--\n\n"};
    case LimitPolicyAdder::PnlBoundsKillSwitch:
      break;
  }
  return {"_add_builtin_pnl_bounds_killswitch", method_entry<&add_pnl_killswitch>(), kFastcallFlags,
          "_add_builtin_pnl_bounds_killswitch($self, *, policy_group_id=0, broker_barriers=..., "
          "account_barriers=...)\n--\n\n"};
}

}  // namespace vantrel::py
