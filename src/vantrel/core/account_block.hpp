#pragma once
// The record that stops an account from trading. A plain value; any thread may use it.
#include <cstdint>
#include <string>

#include "vantrel/core/reject.hpp"

namespace vantrel {

// A block always concerns the whole account, so it has no scope.
struct AccountBlock {
  std::string policy;   // the component that blocked the account
  std::string reason;
  std::string details;
  std::uint64_t user_data = 0;  // opaque token, 0 unless a Python caller set it
  RejectCode code = RejectCode::AccountBlocked;

  // The block an account-scope reject leaves: its texts and token, and code
  // AccountBlocked whatever the reject's code was.
  static AccountBlock from_reject(const Reject& reject) {
    return AccountBlock{reject.policy.str(), reject.reason.str(), reject.details, reject.user_data, RejectCode::AccountBlocked};
  }
  // The reject that refuses an order of the blocked account: everything
  // copied, scope account.
  Reject to_reject() const { return Reject{policy, reason, details, user_data, RejectScope::Account, code}; }

  friend bool operator==(const AccountBlock&, const AccountBlock&) = default;
};

// "AccountBlock(code=\"...\", policy=\"...\", reason=\"...\", details=\"...\", user_data=N)"
std::string account_block_text(const AccountBlock& block);

}  // namespace vantrel
