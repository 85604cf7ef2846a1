#pragma once
// Reject helpers shared by the limit policies.

#include <string>
#include <string_view>

#include "vantrel/core/reject.hpp"

namespace vantrel {

// "failed to access required field '{label}'" / "failed to access field '{path}'".
inline Reject limit_missing_field(std::string_view policy, std::string_view label, std::string_view path) {
  std::string reason = "failed to access required field '";
  reason.append(label).push_back('\'');
  std::string details = "failed to access field '";
  details.append(path).push_back('\'');
  return Reject::with_scope(policy, RejectScope::Order, RejectCode::MissingRequiredField, std::move(reason),
                            std::move(details));
}

}  // namespace vantrel
