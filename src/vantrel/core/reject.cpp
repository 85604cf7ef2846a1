#include "vantrel/core/reject.hpp"

#include <ostream>

#include "vantrel/core/debug_text.hpp"
#include "vantrel/param/text.hpp"

namespace vantrel {

std::optional<RejectCode> parse_reject_code(std::string_view name) noexcept {
  for (std::size_t i = 0; i < kRejectCodeCount; ++i) {
    if (kRejectCodeNames[i] == name) return static_cast<RejectCode>(i);
  }
  return std::nullopt;
}

std::string unsupported_reject_code_message(std::string_view name) {
  std::string out = "unsupported reject code ";
  append_debug_quoted(out, name);
  return out;
}

std::optional<RejectScope> parse_reject_scope(std::string_view text) noexcept {
  text = trim_unicode_whitespace(text);
  // Longer than either name: no lower-casing can make it match.
  char lowered[8];
  if (text.size() > sizeof lowered) return std::nullopt;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    lowered[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view word(lowered, text.size());
  if (word == "order") return RejectScope::Order;
  if (word == "account") return RejectScope::Account;
  return std::nullopt;
}

std::ostream& operator<<(std::ostream& out, const RejectText& text) { return out << text.view(); }

std::string reject_text(const Reject& reject) {
  std::string out = "Reject(code=";
  append_debug_quoted(out, reject_code_name(reject.code));
  out += ", reason=";
  append_debug_quoted(out, reject.reason);
  out += ", details=";
  append_debug_quoted(out, reject.details);
  out += ", policy=";
  append_debug_quoted(out, reject.policy);
  out += ", scope=";
  append_debug_quoted(out, reject_scope_name(reject.scope));
  out += ", user_data=";
  out += std::to_string(reject.user_data);
  out += ')';
  return out;
}

}  // namespace vantrel
