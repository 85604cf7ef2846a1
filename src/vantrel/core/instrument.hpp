#pragma once
// An instrument: what is traded (underlying) and what it is paid in (settlement).
#include <string>

#include "vantrel/param/asset.hpp"

namespace vantrel {

struct Instrument {
  Asset underlying_asset;
  Asset settlement_asset;
  friend bool operator==(const Instrument&, const Instrument&) = default;
};

// The structured debug form that registration messages embed:
// Instrument { underlying_asset: Asset("BTC"), settlement_asset: Asset("USD") }
std::string instrument_debug_text(const Instrument& instrument);

}  // namespace vantrel
