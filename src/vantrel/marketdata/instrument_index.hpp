#pragma once
// Instrument -> InstrumentId, looked up by the two asset names without building
// an Instrument: open addressing on a 64-bit hash of the names; entries are
// never removed. Not thread-safe: the registry lock guards it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "vantrel/core/instrument.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel {

class InstrumentIndex {
 public:
  InstrumentIndex() = default;
  InstrumentIndex(const InstrumentIndex&) = delete;
  InstrumentIndex& operator=(const InstrumentIndex&) = delete;

  std::optional<InstrumentId> find(std::string_view underlying, std::string_view settlement) const noexcept;
  // Room for one more entry, so the following insert cannot throw.
  void reserve_one();
  // Precondition: not present, and reserve_one() called since the last insert.
  // The caller makes the copy, so inserting cannot fail halfway.
  void insert(std::unique_ptr<Instrument> instrument, InstrumentId id) noexcept;
  std::size_t size() const noexcept { return size_; }

 private:
  struct Cell {
    std::uint64_t hash = 0;
    InstrumentId id{0};
    std::unique_ptr<Instrument> instrument;  // null: free cell
  };

  static std::uint64_t hash_of(std::string_view underlying, std::string_view settlement) noexcept;
  void grow();

  std::unique_ptr<Cell[]> cells_;
  std::size_t mask_ = 0;
  std::size_t size_ = 0;
};

}  // namespace vantrel
