#include "vantrel/core/outcome.hpp"

#include "vantrel/core/debug_text.hpp"

namespace vantrel {
namespace {

// None, or Some("OutcomeAmount(...)"): the amount's own text, quoted.
void append_optional_amount(std::string& out, const std::optional<OutcomeAmount>& amount) {
  if (!amount) {
    out += "None";
    return;
  }
  out += "Some(";
  append_debug_quoted(out, outcome_amount_text(*amount));
  out += ')';
}

}  // namespace

std::string outcome_entry_text(const OutcomeEntryRecord& entry) {
  std::string out = "AccountOutcomeEntry(asset=";
  append_debug_quoted(out, entry.asset.name());
  out += ", balance=";
  append_optional_amount(out, entry.balance);
  out += ", held=";
  append_optional_amount(out, entry.held);
  out += ", incoming=";
  append_optional_amount(out, entry.incoming);
  out += ')';
  return out;
}

std::string adjustment_outcome_text(const AdjustmentOutcomeRecord& outcome) {
  return "AccountAdjustmentOutcome(policy_group_id=" + std::to_string(outcome.policy_group_id) +
         ", entry=" + outcome_entry_text(outcome.entry) + ")";
}

}  // namespace vantrel
