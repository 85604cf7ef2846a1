#include "vantrel/pretrade/policies/policy.hpp"

namespace vantrel {

Reject make_reject(std::string_view policy, RejectCode code, std::string reason, std::string details) {
  return make_reject(policy, RejectScope::Order, code, std::move(reason), std::move(details));
}

Reject make_reject(std::string_view policy, RejectScope scope, RejectCode code, std::string reason,
                   std::string details) {
  Reject reject;
  reject.policy.assign(policy);
  reject.reason = std::move(reason);
  reject.details = std::move(details);
  reject.user_data = 0;
  reject.scope = scope;
  reject.code = code;
  return reject;
}

Reject missing_field_reject(std::string_view policy, std::string_view label, std::string_view path) {
  std::string reason = "failed to access required field '";
  reason.append(label).append("'");
  std::string details = "failed to access field '";
  details.append(path).append("'");
  return make_reject(policy, RejectCode::MissingRequiredField, std::move(reason), std::move(details));
}

}  // namespace vantrel
