#pragma once
// Instrument -> its registration, looked up by the two asset names without
// building an Instrument: a flat table of {hash of the names, registration},
// the names themselves kept once, in the registration. The names are the
// host's (registered, or pushed from a quote feed): both are hashed whole by
// SipHash-1-3 under a key of the process's own, so names chosen against any
// fixed hash land at random. Entries are never removed. Not thread-safe: the
// registry lock guards it.
#include <cstdint>
#include <string_view>

#include "vantrel/core/flat_table.hpp"
#include "vantrel/core/instrument.hpp"
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

  const IndexedInstrument* find(std::string_view underlying, std::string_view settlement) const noexcept;
  // Room for one more entry, so the following insert cannot throw.
  void reserve_one() { table_.reserve_more(1); }
  // Precondition: not present, and reserve_one() called since the last insert.
  void insert(const IndexedInstrument& entry) noexcept;
  std::size_t size() const noexcept { return table_.size(); }
  std::size_t allocated_bytes() const noexcept { return table_.allocated_bytes(); }

  // How many cells a find() of the names reads (tests: the work a name costs).
  std::size_t cells_read(std::string_view underlying, std::string_view settlement) const noexcept;

 private:
  std::uint64_t hash_of(std::string_view underlying, std::string_view settlement) const noexcept;

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
      return c.hash == n.hash && c.entry->instrument.underlying_asset.name() == n.underlying &&
             c.entry->instrument.settlement_asset.name() == n.settlement;
    }
  };

  SipKey key_;
  FlatTable<Cell, Traits> table_;
};

}  // namespace vantrel
