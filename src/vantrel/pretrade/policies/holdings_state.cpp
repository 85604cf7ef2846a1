#include "vantrel/pretrade/policies/holdings_state.hpp"

#include "vantrel/core/placement.hpp"

namespace vantrel {

namespace {

// Names are placed under the process's key for asset names, which no other use shares.
SipKey asset_name_key() noexcept {
  const PlacementKey& secret = placement_secret(SecretUse::asset_names);
  return SipKey{secret.k0, secret.k1};
}

constexpr std::size_t kFirstCapacity = 64;

}  // namespace

AssetNames::AssetNames() : key_(asset_name_key()) {
  tables_.push_back(std::make_unique<Table>(kFirstCapacity));
  current_.store(tables_.back().get(), std::memory_order_release);
}

AssetNames::~AssetNames() = default;

std::size_t AssetNames::size() const {
  std::lock_guard<std::mutex> lock(interning_);
  return names_.size();
}

void AssetNames::place(Table& table, const Named* named, std::uint64_t h) noexcept {
  std::size_t i = h & table.mask;
  while (table.cells[i].named.load(std::memory_order_relaxed) != nullptr) i = (i + 1) & table.mask;
  table.cells[i].hash = h;
  table.cells[i].named.store(named, std::memory_order_release);
}

const std::string* AssetNames::intern(std::string_view name) {
  const std::uint64_t h = hash(name);
  if (const std::string* found = lookup(current_.load(std::memory_order_acquire), name, h).found) return found;
  std::lock_guard<std::mutex> lock(interning_);
  Table* table = tables_.back().get();
  if (const std::string* found = lookup(table, name, h).found) return found;  // interned meanwhile
  // Room for the new table first, so that a failure leaves everything as it was.
  const bool grow = 2 * (names_.size() + 1) > table->mask + 1;
  if (grow) tables_.reserve(tables_.size() + 1);
  names_.push_back(Named{std::string(name), static_cast<std::uint32_t>(names_.size() + 1)});
  const Named* named = &names_.back();
  if (grow) {
    std::unique_ptr<Table> bigger;
    try {
      bigger = std::make_unique<Table>(2 * (table->mask + 1));
    } catch (...) {
      names_.pop_back();
      throw;
    }
    for (std::size_t i = 0; i <= table->mask; ++i)
      if (const Named* old = table->cells[i].named.load(std::memory_order_relaxed))
        place(*bigger, old, table->cells[i].hash);
    place(*bigger, named, h);
    // Readers still in the old array keep finding every name it held.
    current_.store(bigger.get(), std::memory_order_release);
    tables_.push_back(std::move(bigger));
  } else {
    place(*table, named, h);
  }
  return &named->name;
}

HoldingsState::HoldingsState(SyncMode mode)
    : mode_(mode),
      slot_locks_(mode == SyncMode::Full),
      shards_(make_shards(mode, std::make_index_sequence<kShards>{})) {}

void HoldingsState::lock_slot(const Slot& slot) const noexcept {
  if (!slot_locks_) return;
  for (;;) {
    if (slot.busy.exchange(1, std::memory_order_acquire) == 0) return;
    slot.busy.wait(1, std::memory_order_relaxed);
  }
}

void HoldingsState::unlock_slot(const Slot& slot) const noexcept {
  if (!slot_locks_) return;
  slot.busy.store(0, std::memory_order_release);
  slot.busy.notify_one();
}

std::optional<Holdings> HoldingsState::read(HoldingsKey key) const {
  const SlotKey at = slot_key(key);
  Shard& shard = shard_of(at);
  ReadGuard<ReadMostlyLock> read(shard.lock);
  const Slot* slot = shard.slots.find(at);
  if (slot == nullptr) return std::nullopt;
  lock_slot(*slot);
  const Holdings value = slot->value.load();
  unlock_slot(*slot);
  return value;
}

std::size_t HoldingsState::slot_count() const {
  std::size_t n = 0;
  for (std::size_t i = 0; i < kShards; ++i) {
    ReadGuard<ReadMostlyLock> read(shards_[i].lock);
    n += shards_[i].slots.size();
  }
  return n;
}

std::vector<std::size_t> HoldingsState::slots_per_shard() const {
  std::vector<std::size_t> counts;
  for (const Shard& shard : shards_) {
    ReadGuard<ReadMostlyLock> read(shard.lock);
    counts.push_back(shard.slots.size());
  }
  return counts;
}

std::size_t HoldingsState::cells_read(HoldingsKey key) const {
  const SlotKey at = slot_key(key);
  Shard& shard = shard_of(at);
  ReadGuard<ReadMostlyLock> read(shard.lock);
  return shard.slots.cells_read(at);
}

void HoldingsState::remove_if_zero(Shard& shard, SlotKey key) {
  write_locks_.fetch_add(1, std::memory_order_relaxed);
  WriteGuard<ReadMostlyLock> write(shard.lock);
  // Looked up again: the slot may have been refilled, or removed and replaced.
  const Slot* slot = shard.slots.find(key);
  if (slot != nullptr && slot->value.load().all_zero()) shard.slots.erase(key);
}

}  // namespace vantrel
