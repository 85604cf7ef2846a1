#pragma once
// Reading the account group of a duck-typed `account_info` object during core work.
#include <cstdint>

#include "toolkit/python.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel::py {

// Filled at most once per lookup, from `account_info.account_group`.
struct AccountInfoGroupCell {
  enum class State : std::uint8_t { NotRead, NoGroup, Group };
  State state = State::NotRead;
  AccountGroupId group{AccountGroupId::kDefault};
};

// A failed read or a value that is neither AccountGroupId nor None is parked
// in the thread's pending slot and counts as no group. Caller holds the lock.
const AccountInfoGroupCell& extract_account_info_group(AccountInfoGroupCell& cell, PyObject* account_info);

}  // namespace vantrel::py
