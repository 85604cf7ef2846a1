#include "vantrel/marketdata/instrument_index.hpp"

#include "vantrel/param/sip_hash.hpp"

namespace vantrel {

InstrumentIndex::InstrumentIndex() noexcept {
  const PlacementKey& k = placement_secret(SecretUse::instrument_names);
  key_ = SipKey{k.k0, k.k1};
}

std::uint64_t InstrumentIndex::hash_of(std::string_view underlying, std::string_view settlement) const noexcept {
  // The underlying's length first, so "AB"+"C" and "A"+"BC" are different messages.
  return SipStream(key_).add_word(underlying.size()).add_bytes(underlying).add_bytes(settlement).finish();
}

const IndexedInstrument* InstrumentIndex::find(std::string_view underlying,
                                               std::string_view settlement) const noexcept {
  if (table_.empty()) return nullptr;
  const Names names{underlying, settlement, hash_of(underlying, settlement)};
  const Cell* cell = table_.find(names);
  return cell != nullptr ? cell->entry : nullptr;
}

std::size_t InstrumentIndex::cells_read(std::string_view underlying, std::string_view settlement) const noexcept {
  return table_.cells_read(Names{underlying, settlement, hash_of(underlying, settlement)});
}

void InstrumentIndex::insert(const IndexedInstrument& entry) noexcept {
  table_.insert_new(Cell{hash_of(entry.instrument.underlying_asset.name(), entry.instrument.settlement_asset.name()),
                         &entry});
}

}  // namespace vantrel
