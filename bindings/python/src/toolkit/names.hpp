#pragma once
// The attribute and method names the bindings look up, each made and interned
// once per process, never per call.
#include <cstdint>
#include <string_view>

#include "toolkit/python.hpp"

namespace vantrel::py {

enum class Name : std::uint8_t {
  // module and type attributes
  all, dunder_name, dunder_module,
  // duck-typed reads
  inner, user_data, account_group, underlying_asset, settlement_asset, delta, absolute, build,
  // the policy protocol
  name, policy_group_id, check_pre_trade_start, perform_pre_trade_check, apply_execution_report,
  apply_account_adjustment, ctx, report,
  count_,
};

// The text of a name, as Python sees it.
std::string_view name_text(Name name) noexcept;
// The interned str, a borrowed reference kept for the life of the process;
// throws ErrorAlreadySet when it cannot be made. Caller holds the lock.
PyObject* interned(Name name);
// The same for a text that may or may not be in the table: the table's
// object when it is, else the interpreter's interned str (a new reference).
PyObject* interned_new_ref(std::string_view text);

}  // namespace vantrel::py
