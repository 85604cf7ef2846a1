#include "vantrel/param/tagged.hpp"

namespace vantrel {

std::string trade_amount_text(const TradeAmount& amount) {
  return amount.is_quantity() ? "TradeAmount.quantity(value=Quantity(" + amount.value.to_string() + "))"
                              : "TradeAmount.volume(value=Volume(" + amount.value.to_string() + "))";
}

std::string adjustment_amount_text(const AdjustmentAmount& amount) {
  return std::string(amount.is_delta() ? "AdjustmentAmount.delta" : "AdjustmentAmount.absolute") +
         "(value=PositionSize(" + amount.value.value.to_string() + "))";
}

std::string format_trade(const Trade& trade) {
  return "Trade(price=" + trade.price.value.to_string() + ", quantity=" + trade.quantity.value.to_string() + ")";
}

}  // namespace vantrel
