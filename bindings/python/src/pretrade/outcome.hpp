#pragma once
// The Python side of outcome entries and adjustment outcomes, and the readers
// that turn Python objects into them.
#include <span>
#include <vector>

#include "toolkit/ref.hpp"
#include "vantrel/core/outcome.hpp"

namespace vantrel::py {

// New vantrel.pretrade objects holding copies.
Ref wrap_outcome_entry(const OutcomeEntryRecord& entry);
Ref wrap_adjustment_outcome(const AdjustmentOutcomeRecord& outcome);
Ref wrap_adjustment_outcomes(std::span<const AdjustmentOutcomeRecord> outcomes);  // a new list

bool is_outcome_entry(PyObject* obj);
const OutcomeEntryRecord& outcome_entry_of(PyObject* obj);  // precondition: is_outcome_entry(obj)

// An AccountOutcomeEntry's values, or an object read by its attributes asset,
// balance, held and incoming (all required; the amounts None or amount-like).
// Lookup and conversion errors pass unchanged.
OutcomeEntryRecord extract_outcome_entry(PyObject* obj);

// Every item of an iterable: an AccountAdjustmentOutcome copied whole, or an
// object read by policy_group_id, then entry. The first error stops the
// reading and nothing read is kept.
std::vector<AdjustmentOutcomeRecord> extract_adjustment_outcomes(PyObject* iterable);

}  // namespace vantrel::py
