#include "vantrel/core/instrument.hpp"

#include "vantrel/core/debug_text.hpp"

namespace vantrel {

std::string instrument_debug_text(const Instrument& instrument) {
  std::string out = "Instrument { underlying_asset: Asset(";
  append_debug_quoted(out, instrument.underlying_asset.name());
  out += "), settlement_asset: Asset(";
  append_debug_quoted(out, instrument.settlement_asset.name());
  out += ") }";
  return out;
}

}  // namespace vantrel
