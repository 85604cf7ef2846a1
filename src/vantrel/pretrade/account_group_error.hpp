#pragma once
// The account-group registry's refusals.
#include <optional>
#include <string>
#include <variant>

#include "vantrel/param/ids.hpp"

namespace vantrel {

struct AccountGroupError {
  // The default group 0 was named as the target.
  struct ReservedDefaultGroup {};
  // The account already belongs to `group`.
  struct AlreadyInGroup {
    AccountId account;
    AccountGroupId group;
  };
  // The account is not in the requested `group`; `current` is where it is, if anywhere.
  struct NotInGroup {
    AccountId account;
    AccountGroupId group;
    std::optional<AccountGroupId> current;
  };

  std::variant<ReservedDefaultGroup, AlreadyInGroup, NotInGroup> form;

  std::string message() const;
};

}  // namespace vantrel
