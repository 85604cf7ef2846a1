#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel {

Reject missing_field_reject(std::string_view policy, std::string_view label, std::string_view path) {
  std::string reason = "failed to access required field '";
  reason.append(label).append("'");
  std::string details = "failed to access field '";
  details.append(path).append("'");
  return Reject::with_scope(policy, RejectScope::Order, RejectCode::MissingRequiredField, std::move(reason),
                            std::move(details));
}

}  // namespace vantrel
