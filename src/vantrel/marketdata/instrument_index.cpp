#include "vantrel/marketdata/instrument_index.hpp"

#include "vantrel/param/sip_hash.hpp"

namespace vantrel {

InstrumentIndex::InstrumentIndex() noexcept
    : words_(placement_secret(SecretUse::instrument_words)), pairs_(placement_secret(SecretUse::instrument_pairs)) {
  const PlacementKey& k = placement_secret(SecretUse::instrument_names);
  long_names_ = SipKey{k.k0, k.k1};
}

std::size_t InstrumentIndex::cells_read(std::string_view underlying, std::string_view settlement) const noexcept {
  return table_.cells_read(Names{underlying, settlement, hash_of(underlying, settlement)});
}

void InstrumentIndex::insert(const IndexedInstrument& entry) noexcept {
  table_.insert_new(Cell{hash_of(entry.instrument.underlying_asset.name(), entry.instrument.settlement_asset.name()),
                         &entry});
}

}  // namespace vantrel
