#pragma once
// The engine's own copy of an execution report. Owns every value, the fill's price
// lock included; only `source` refers back to the caller's object. Not thread-safe:
// one post-trade call works on a record at a time.
#include <optional>

#include "vantrel/core/instrument.hpp"
#include "vantrel/core/lock.hpp"
#include "vantrel/core/source_ref.hpp"
#include "vantrel/param/enums.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/param/tagged.hpp"

namespace vantrel {

struct ExecutionReportRecord {
  struct Operation {
    // Present only when both assets were given; a lone asset is dropped.
    std::optional<Instrument> instrument;
    std::optional<AccountId> account_id;
    std::optional<Side> side;
  };

  struct FinancialImpact {
    Pnl pnl;
    Fee fee;
  };

  struct Fill {
    std::optional<Trade> last_trade;
    std::optional<Quantity> leaves_quantity;
    // The prices the order's reservation locked, copied whole.
    Lock lock;
    std::optional<bool> is_final;
  };

  struct PositionImpact {
    std::optional<PositionEffect> position_effect;
    std::optional<PositionSide> position_side;
  };

  std::optional<Operation> operation;
  std::optional<FinancialImpact> financial_impact;
  std::optional<Fill> fill;
  std::optional<PositionImpact> position_impact;
  // The caller's report object, handed unchanged to host-language policies.
  SourceRef source;
};

}  // namespace vantrel
