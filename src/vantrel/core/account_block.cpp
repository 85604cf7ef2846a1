#include "vantrel/core/account_block.hpp"

#include "vantrel/core/debug_text.hpp"

namespace vantrel {

std::string account_block_text(const AccountBlock& block) {
  std::string out = "AccountBlock(code=";
  append_debug_quoted(out, reject_code_name(block.code));
  out += ", policy=";
  append_debug_quoted(out, block.policy);
  out += ", reason=";
  append_debug_quoted(out, block.reason);
  out += ", details=";
  append_debug_quoted(out, block.details);
  out += ", user_data=";
  out += std::to_string(block.user_data);
  out += ')';
  return out;
}

}  // namespace vantrel
