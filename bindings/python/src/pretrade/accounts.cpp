// vantrel.Accounts: a handle on the engine's account-group registry that keeps
// it alive after the engine is gone. Its methods convert every argument first,
// then leave the interpreter lock (except in no_sync) for the registry work.
#include <vector>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/ids.hpp"
#include "pretrade/engine_support.hpp"
#include "registry_errors.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/iterate.hpp"

namespace vantrel::py {

struct AccountsValue {
  std::shared_ptr<AccountGroupRegistry> registry;
  EngineSync sync;
};

namespace {

const AccountsValue& accounts_of(PyObject* self) { return object_cast<AccountsValue>(self)->value; }

template <bool Register>
PyObject* accounts_change(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params(Register ? "Accounts.register_group()" : "Accounts.unregister_group()",
                                      req("accounts"), req("group"));
  auto [accounts_obj, group_obj] = parse(spec, args, nargs, kwnames);
  const AccountsValue& value = accounts_of(self);
  const AccountGroupId group = extract_account_group_id(group_obj);
  const std::vector<AccountId> accounts = collect_items(accounts_obj, account_id_item);
  std::optional<AccountGroupError> error;
  {
    CoreWorkScope work(value.sync);
    error = Register ? value.registry->register_group(accounts, group)
                     : value.registry->unregister_group(accounts, group);
  }
  if (error) raise_exception(format_account_group_error(*error));
  Py_RETURN_NONE;
}

PyObject* accounts_group_of(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Accounts.group_of()", req("account"));
  auto [account_obj] = parse(spec, args, nargs, kwnames);
  const AccountsValue& value = accounts_of(self);
  if (!is_account_id(account_obj)) throw_error(PyExc_TypeError, "account_id must be vantrel.param.AccountId");
  const AccountId account = account_id_of(account_obj);
  std::optional<AccountGroupId> group;
  {
    CoreWorkScope work(value.sync);
    group = value.registry->group_of(account);
  }
  if (!group) Py_RETURN_NONE;
  return wrap_account_group_id(*group).release();
}

}  // namespace

Ref make_accounts(std::shared_ptr<AccountGroupRegistry> registry, EngineSync sync) {
  return make_instance<AccountsValue>(class_type(ClassId::Accounts), AccountsValue{std::move(registry), sync});
}

const ClassBehaviour* accounts_behaviour() {
  static PyMethodDef methods[] = {
      {"register_group", method_entry<&accounts_change<true>>(), kFastcallFlags,
       "register_group($self, accounts, group)\n--\n\n"},
      {"unregister_group", method_entry<&accounts_change<false>>(), kFastcallFlags,
       "unregister_group($self, accounts, group)\n--\n\n"},
      {"group_of", method_entry<&accounts_group_of>(), kFastcallFlags, "group_of($self, account)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<AccountsValue>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
