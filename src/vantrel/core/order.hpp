#pragma once
// The engine's own copy of an order. It owns every value, so the engine reads it
// without the interpreter lock; only `source` refers back to the caller's object.
// Not thread-safe: one stage works on a record at a time.
#include <optional>

#include "vantrel/core/instrument.hpp"
#include "vantrel/core/source_ref.hpp"
#include "vantrel/param/asset.hpp"
#include "vantrel/param/enums.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/param/leverage.hpp"
#include "vantrel/param/tagged.hpp"

namespace vantrel {

struct OrderRecord {
  struct Operation {
    // Present only when both assets were given; a lone asset is dropped.
    std::optional<Instrument> instrument;
    std::optional<AccountId> account_id;
    std::optional<Side> side;
    std::optional<TradeAmount> trade_amount;
    std::optional<Price> price;
  };

  // A part without a side is still present.
  struct Position {
    std::optional<PositionSide> position_side;
    bool reduce_only = false;
    bool close_position = false;
  };

  struct Margin {
    std::optional<Leverage> leverage;
    std::optional<Asset> collateral_asset;
    bool auto_borrow = false;
  };

  std::optional<Operation> operation;
  std::optional<Position> position;
  std::optional<Margin> margin;
  // The caller's order object, handed unchanged to host-language policies.
  SourceRef source;
};

}  // namespace vantrel
