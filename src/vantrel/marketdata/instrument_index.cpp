#include "vantrel/marketdata/instrument_index.hpp"

#include <cstring>

namespace vantrel {
namespace {

constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;

std::uint64_t mix(std::uint64_t h, std::uint64_t word) noexcept {
  const unsigned __int128 product = static_cast<unsigned __int128>(h ^ word) * kMul;
  return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

// Eight bytes at a time; the length goes in too, so "AB"+"C" and "A"+"BC" differ.
std::uint64_t hash_text(std::uint64_t h, std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    h = mix(h, word);
  }
  // The last 0..7 bytes without a variable-length copy: two overlapping loads.
  std::uint64_t tail = 0;
  if (n >= 4) {
    std::uint32_t first, last;
    std::memcpy(&first, p, 4);
    std::memcpy(&last, p + n - 4, 4);
    tail = (static_cast<std::uint64_t>(last) << 32) | first;
  } else if (n > 0) {
    tail = (static_cast<std::uint64_t>(static_cast<unsigned char>(p[0])) << 16) |
           (static_cast<std::uint64_t>(static_cast<unsigned char>(p[n / 2])) << 8) |
           static_cast<unsigned char>(p[n - 1]);
  }
  return mix(h, tail ^ (static_cast<std::uint64_t>(text.size()) << 56));
}

}  // namespace

std::uint64_t InstrumentIndex::hash_of(std::string_view underlying, std::string_view settlement) noexcept {
  return hash_text(hash_text(0x243F6A8885A308D3ull, underlying), settlement);
}

const IndexedInstrument* InstrumentIndex::find(std::string_view underlying,
                                               std::string_view settlement) const noexcept {
  if (table_.empty()) return nullptr;
  const Names names{underlying, settlement, hash_of(underlying, settlement)};
  const Cell* cell = table_.find(names);
  return cell != nullptr ? cell->entry : nullptr;
}

void InstrumentIndex::insert(const IndexedInstrument& entry) noexcept {
  table_.insert_new(Cell{hash_of(entry.instrument.underlying_asset.name(), entry.instrument.settlement_asset.name()),
                         &entry});
}

}  // namespace vantrel
