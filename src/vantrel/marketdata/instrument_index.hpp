#pragma once
// Instrument -> its registration, looked up by the two asset names without
// building an Instrument: a flat table of {hash of the names, registration},
// the names themselves kept once, in the registration. The names are the
// host's (registered, or pushed from a quote feed): each is hashed whole by the
// keyed name hash (core/name_hash.hpp) and the pair of hashes by the placement
// hash, all under keys of the process's own, so names chosen against any fixed
// hash land at random. Entries are never removed. Not thread-safe: the
// registry lock guards it.
#include <cstdint>
#include <string_view>

#include "vantrel/core/flat_table.hpp"
#include "vantrel/core/instrument.hpp"
#include "vantrel/core/name_hash.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/param/sip_hash.hpp"

namespace vantrel {

// What the index points at; it lives as long as the index (never moves).
struct IndexedInstrument {
  Instrument instrument;
  InstrumentId id;
};

class InstrumentIndex {
 public:
  InstrumentIndex() noexcept;
  InstrumentIndex(const InstrumentIndex&) = delete;
  InstrumentIndex& operator=(const InstrumentIndex&) = delete;

  // Inline: the service's lookup takes it in one body with its lock.
  const IndexedInstrument* find(std::string_view underlying, std::string_view settlement) const noexcept {
    if (table_.empty()) return nullptr;
    const Cell* cell = table_.find(Names{underlying, settlement, hash_of(underlying, settlement)});
    return cell != nullptr ? cell->entry : nullptr;
  }
  // Room for one more entry, so the following insert cannot throw.
  void reserve_one() { table_.reserve_more(1); }
  // Precondition: not present, and reserve_one() called since the last insert.
  void insert(const IndexedInstrument& entry) noexcept;
  std::size_t size() const noexcept { return table_.size(); }
  std::size_t allocated_bytes() const noexcept { return table_.allocated_bytes(); }

  // How many cells a find() of the names reads (tests: the work a name costs).
  std::size_t cells_read(std::string_view underlying, std::string_view settlement) const noexcept;

 private:
  // Each name hashed apart, so "AB"+"C" and "A"+"BC" are different pairs.
  std::uint64_t hash_of(std::string_view underlying, std::string_view settlement) const noexcept {
    return placement_hash(keyed_name_hash(underlying, words_, long_names_),
                          keyed_name_hash(settlement, words_, long_names_), pairs_);
  }

  struct Cell {
    std::uint64_t hash = 0;
    const IndexedInstrument* entry = nullptr;  // null: free cell
  };
  struct Names {
    std::string_view underlying;
    std::string_view settlement;
    std::uint64_t hash;
  };
  struct Traits {
    static bool used(const Cell& c) noexcept { return c.entry != nullptr; }
    // The names' keyed hash, placed under the table's own key (which it may renew).
    static std::uint64_t hash(const Cell& c, const PlacementKey& k) noexcept { return placement_hash(c.hash, k); }
    static std::uint64_t hash(const Names& n, const PlacementKey& k) noexcept { return placement_hash(n.hash, k); }
    static bool matches(const Cell& c, const Names& n) noexcept {
      return c.hash == n.hash && same_text(c.entry->instrument.underlying_asset.name(), n.underlying) &&
             same_text(c.entry->instrument.settlement_asset.name(), n.settlement);
    }
  };

  PlacementKey words_;  // names of at most 8 bytes
  PlacementKey pairs_;  // the pair of the two names' hashes
  SipKey long_names_;   // longer names
  FlatTable<Cell, Traits> table_;
};

}  // namespace vantrel
