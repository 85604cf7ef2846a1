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

std::optional<InstrumentId> InstrumentIndex::find(std::string_view underlying,
                                                  std::string_view settlement) const noexcept {
  if (size_ == 0) return std::nullopt;
  const std::uint64_t hash = hash_of(underlying, settlement);
  for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
    const Cell& cell = cells_[i];
    if (!cell.instrument) return std::nullopt;
    if (cell.hash == hash && cell.instrument->underlying_asset.name() == underlying &&
        cell.instrument->settlement_asset.name() == settlement)
      return cell.id;
  }
}

void InstrumentIndex::reserve_one() {
  if ((size_ + 1) * 2 > (cells_ ? mask_ + 1 : 0)) grow();
}

void InstrumentIndex::insert(std::unique_ptr<Instrument> instrument, InstrumentId id) noexcept {
  const std::uint64_t hash = hash_of(instrument->underlying_asset.name(), instrument->settlement_asset.name());
  std::size_t i = hash & mask_;
  while (cells_[i].instrument) i = (i + 1) & mask_;
  cells_[i].hash = hash;
  cells_[i].id = id;
  cells_[i].instrument = std::move(instrument);
  ++size_;
}

void InstrumentIndex::grow() {
  const std::size_t old_capacity = cells_ ? mask_ + 1 : 0;
  const std::size_t capacity = old_capacity == 0 ? 16 : old_capacity * 2;
  auto cells = std::make_unique<Cell[]>(capacity);
  for (std::size_t j = 0; j < old_capacity; ++j) {
    Cell& old = cells_[j];
    if (!old.instrument) continue;
    std::size_t i = old.hash & (capacity - 1);
    while (cells[i].instrument) i = (i + 1) & (capacity - 1);
    cells[i] = std::move(old);
  }
  cells_ = std::move(cells);
  mask_ = capacity - 1;
}

}  // namespace vantrel
