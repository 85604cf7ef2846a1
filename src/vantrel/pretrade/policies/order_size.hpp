#pragma once
// The arithmetic of the order size limit: an order's requested quantity and notional against
// one limit specific to it (account and asset, or asset) and the broker-wide limit.
// Thread-safety: pure functions over immutable limits.

#include <cstdint>
#include <optional>
#include <string>

#include "vantrel/param/amount.hpp"
#include "vantrel/param/tagged.hpp"

namespace vantrel {

struct OrderSizeLimit {
  Quantity max_quantity;
  Volume max_notional;
};

// What the check found for one order, before it becomes a reject.
struct SizeFinding {
  enum class Kind : std::uint8_t {
    Pass,
    PriceMissing,          // no price to value the order with
    NotionalUnavailable,   // quantity times price failed or came out negative
    QuantityUnavailable,   // zero price, or volume / |price| overflowed
    NotionalExceeded,
    QuantityExceeded,
    SizeExceeded,          // both
  };
  Kind kind = Kind::Pass;
  bool by_specific = false;  // the breached limit is the specific one (else the broker's)
  const OrderSizeLimit* limit = nullptr;  // the breached limit
  Decimal quantity;  // requested quantity; set for QuantityExceeded and SizeExceeded
  Decimal notional;  // requested notional; set for every breach

  bool is_breach() const noexcept { return kind >= Kind::NotionalExceeded; }
};

// At most one finding: a value failure first, then the specific limit's breach, then the
// broker's. With neither limit the order passes unvalued. A volume order is divided by its
// price only when the quantity cannot be settled by multiplying the limit instead.
SizeFinding evaluate_order_size(const TradeAmount& amount, const std::optional<Price>& price,
                                const OrderSizeLimit* specific, const OrderSizeLimit* broker) noexcept;

std::string_view order_size_reason(const SizeFinding& finding) noexcept;  // a constant text
std::string order_size_details(const SizeFinding& finding);

}  // namespace vantrel
