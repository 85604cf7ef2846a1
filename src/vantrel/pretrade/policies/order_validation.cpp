#include "vantrel/pretrade/policies/order_validation.hpp"

namespace vantrel {

std::optional<Rejects> OrderValidationPolicy::check_pre_trade_start(const PreTradeContext&,
                                                                    const OrderRecord& order) const {
  if (!order.operation || !order.operation->trade_amount)
    return Rejects(missing_field_reject(kName, "trade amount", "operation.trade_amount"));
  const TradeAmount& amount = *order.operation->trade_amount;
  // Negative amounts are not this policy's concern; every scale of zero is zero.
  if (!amount.value.is_zero()) [[likely]]
    return std::nullopt;
  if (amount.is_quantity())
    return Rejects(Reject::make(kName, RejectCode::InvalidFieldValue, "order quantity must be non-zero",
                               "requested quantity 0 is not allowed"));
  return Rejects(Reject::make(kName, RejectCode::InvalidFieldValue, "order volume must be non-zero",
                             "requested volume 0 is not allowed"));
}

}  // namespace vantrel
