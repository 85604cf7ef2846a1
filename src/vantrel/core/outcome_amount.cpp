#include "vantrel/core/outcome_amount.hpp"

namespace vantrel {

std::string outcome_amount_text(const OutcomeAmount& amount) {
  return "OutcomeAmount(delta=" + amount.delta.value.to_string() + ", absolute=" + amount.absolute.value.to_string() +
         ")";
}

}  // namespace vantrel
