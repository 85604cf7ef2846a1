#pragma once
// What a policy reports per asset after changing an account's funds. Plain
// values; any thread may use them.
#include <cstdint>
#include <optional>
#include <string>

#include "vantrel/param/asset.hpp"
#include "vantrel/core/outcome_amount.hpp"

namespace vantrel {

// One asset touched: how each bucket moved and where it ended (absent: untouched).
struct OutcomeEntryRecord {
  Asset asset;
  std::optional<OutcomeAmount> balance;
  std::optional<OutcomeAmount> held;
  std::optional<OutcomeAmount> incoming;
};

// An entry tagged with the policy group id of the policy that produced it.
struct AdjustmentOutcomeRecord {
  OutcomeEntryRecord entry;
  std::uint16_t policy_group_id = 0;
};

// "AccountOutcomeEntry(asset=\"USD\", balance=Some(\"OutcomeAmount(delta=5, absolute=105)\"), held=None, incoming=None)"
std::string outcome_entry_text(const OutcomeEntryRecord& entry);
// "AccountAdjustmentOutcome(policy_group_id=7, entry=AccountOutcomeEntry(...))"
std::string adjustment_outcome_text(const AdjustmentOutcomeRecord& outcome);

}  // namespace vantrel
