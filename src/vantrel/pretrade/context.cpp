#include "vantrel/pretrade/context.hpp"

#include "vantrel/pretrade/account_groups.hpp"

namespace vantrel {

std::optional<AccountGroupId> StageContext::account_group() const {
  if (!group_.resolved()) group_.set(account_id_ ? groups_->group_of(*account_id_) : std::nullopt);
  return group_.value();
}

}  // namespace vantrel
