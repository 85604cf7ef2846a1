#pragma once
// How far one bucket of an account moved (delta) and where it ended (absolute).
#include <string>

#include "vantrel/param/amount.hpp"

namespace vantrel {

struct OutcomeAmount {
  PositionSize delta;
  PositionSize absolute;
};

// "OutcomeAmount(delta=5, absolute=105)"
std::string outcome_amount_text(const OutcomeAmount& amount);

}  // namespace vantrel
