#pragma once
// Decimal values bundled into the shapes orders, fills and adjustments need.
#include <cstdint>
#include <optional>
#include <string>

#include "vantrel/param/amount.hpp"

namespace vantrel {

// The size of an order: a quantity or a volume, both never negative.
struct TradeAmount {
  enum class Kind : std::uint8_t { Quantity, Volume };
  Kind kind;
  Decimal value;

  static TradeAmount of_quantity(Quantity q) noexcept { return {Kind::Quantity, q.value}; }
  static TradeAmount of_volume(Volume v) noexcept { return {Kind::Volume, v.value}; }
  bool is_quantity() const noexcept { return kind == Kind::Quantity; }
  bool is_volume() const noexcept { return kind == Kind::Volume; }
  std::optional<Quantity> as_quantity() const noexcept {
    return is_quantity() ? std::optional<Quantity>(Quantity{value}) : std::nullopt;
  }
  std::optional<Volume> as_volume() const noexcept {
    return is_volume() ? std::optional<Volume>(Volume{value}) : std::nullopt;
  }
};

// A position size applied either as a change (delta) or as the new value (absolute).
struct AdjustmentAmount {
  enum class Kind : std::uint8_t { Delta, Absolute };
  Kind kind;
  PositionSize value;

  bool is_delta() const noexcept { return kind == Kind::Delta; }
  bool is_absolute() const noexcept { return kind == Kind::Absolute; }
};

// One executed trade.
struct Trade {
  Price price;
  Quantity quantity;
};

// "TradeAmount.quantity(value=Quantity(1.5))", "TradeAmount.volume(value=Volume(250))"
std::string trade_amount_text(const TradeAmount& amount);
// "AdjustmentAmount.delta(value=PositionSize(-3))", "AdjustmentAmount.absolute(...)"
std::string adjustment_amount_text(const AdjustmentAmount& amount);
// "Trade(price=101.25, quantity=3)"
std::string format_trade(const Trade& trade);

}  // namespace vantrel
