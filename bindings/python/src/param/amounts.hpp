#pragma once
// The Python side of the tagged amounts, Trade and OutcomeAmount.
#include <optional>

#include "toolkit/ref.hpp"
#include "vantrel/param/tagged.hpp"
#include "vantrel/core/outcome_amount.hpp"

namespace vantrel::py {

// New objects of exactly the named class.
Ref wrap_trade_amount(TradeAmount amount);
bool is_trade_amount(PyObject* obj);             // subclasses included
TradeAmount trade_amount_of(PyObject* obj);      // precondition: is_trade_amount(obj)

Ref wrap_adjustment_amount(AdjustmentAmount amount);
bool is_adjustment_amount(PyObject* obj);
AdjustmentAmount adjustment_amount_of(PyObject* obj);

Ref wrap_trade(Trade trade);
bool is_trade(PyObject* obj);
Trade trade_of(PyObject* obj);

Ref wrap_outcome_amount(OutcomeAmount amount);
bool is_outcome_amount(PyObject* obj);
OutcomeAmount outcome_amount_of(PyObject* obj);

// None gives nullopt; an OutcomeAmount its values; anything else is read by its
// attributes delta, then absolute (AttributeError when missing), each converted by
// extract_position_size, whose errors pass unchanged.
std::optional<OutcomeAmount> extract_outcome_amount(PyObject* obj);

}  // namespace vantrel::py
