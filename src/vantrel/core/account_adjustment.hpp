#pragma once
// The engine's own copy of one account adjustment: a change to an account that did
// not come from an order. Owns every value; only `source` refers back to the
// caller's object. Not thread-safe: one batch works on a record at a time.
#include <optional>
#include <variant>

#include "vantrel/core/source_ref.hpp"
#include "vantrel/param/asset.hpp"
#include "vantrel/param/enums.hpp"
#include "vantrel/param/leverage.hpp"
#include "vantrel/param/tagged.hpp"

namespace vantrel {

struct AccountAdjustmentRecord {
  // A change of one asset's balance.
  struct BalanceOperation {
    std::optional<Asset> asset;
    std::optional<Price> average_entry_price;
  };

  // A change of a position.
  struct PositionOperation {
    std::optional<Asset> underlying_asset;
    std::optional<Asset> settlement_asset;
    std::optional<Asset> collateral_asset;
    std::optional<Price> average_entry_price;
    std::optional<PositionMode> mode;
    std::optional<Leverage> leverage;
  };

  // What changes, per bucket.
  struct Amount {
    std::optional<AdjustmentAmount> balance;
    std::optional<AdjustmentAmount> held;
    std::optional<AdjustmentAmount> incoming;
  };

  // The limits the buckets must stay within after the change.
  struct Bounds {
    std::optional<PositionSize> balance_upper;
    std::optional<PositionSize> balance_lower;
    std::optional<PositionSize> held_upper;
    std::optional<PositionSize> held_lower;
    std::optional<PositionSize> incoming_upper;
    std::optional<PositionSize> incoming_lower;
  };

  using Operation = std::variant<std::monostate, BalanceOperation, PositionOperation>;

  Operation operation;
  // An absent part differs from a present part whose fields are all absent.
  std::optional<Amount> amount;
  std::optional<Bounds> bounds;
  // The caller's adjustment object, handed unchanged to host-language policies.
  SourceRef source;

  const BalanceOperation* balance_operation() const noexcept { return std::get_if<BalanceOperation>(&operation); }
  const PositionOperation* position_operation() const noexcept { return std::get_if<PositionOperation>(&operation); }
};

}  // namespace vantrel
