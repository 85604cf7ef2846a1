#include "vantrel/pretrade/policies/holdings_state.hpp"

#include <functional>

namespace vantrel {

AssetNames::AssetNames() : table_(new std::atomic<const std::string*>[kCapacity]) {
  for (std::size_t i = 0; i < kCapacity; ++i) table_[i].store(nullptr, std::memory_order_relaxed);
}

AssetNames::~AssetNames() {
  for (std::size_t i = 0; i < kCapacity; ++i) delete table_[i].load(std::memory_order_relaxed);
  const Overflow* node = overflow_.load(std::memory_order_relaxed);
  while (node != nullptr) delete std::exchange(node, node->next);
}

const std::string* AssetNames::find_overflow(const Overflow* head, std::string_view name) const noexcept {
  for (const Overflow* node = head; node != nullptr; node = node->next)
    if (node->name == name) return &node->name;
  return nullptr;
}

const std::string* AssetNames::find(std::string_view name) const noexcept {
  const std::size_t h = std::hash<std::string_view>{}(name);
  for (std::size_t i = 0; i < kCapacity; ++i) {
    const std::string* entry = table_[(h + i) & (kCapacity - 1)].load(std::memory_order_acquire);
    if (entry == nullptr) return nullptr;
    if (*entry == name) return entry;
  }
  return find_overflow(overflow_.load(std::memory_order_acquire), name);
}

const std::string* AssetNames::intern(std::string_view name) {
  const std::size_t h = std::hash<std::string_view>{}(name);
  std::unique_ptr<std::string> fresh;
  for (std::size_t i = 0; i < kCapacity; ++i) {
    std::atomic<const std::string*>& cell = table_[(h + i) & (kCapacity - 1)];
    const std::string* entry = cell.load(std::memory_order_acquire);
    if (entry == nullptr) {
      if (!fresh) fresh = std::make_unique<std::string>(name);
      if (cell.compare_exchange_strong(entry, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire))
        return fresh.release();
      // Another thread filled this cell first; `entry` now holds its name.
    }
    if (*entry == name) return entry;
  }
  // Table full: a list that only ever grows at its head. A failed exchange
  // means another name arrived, so look again before the next attempt.
  const Overflow* head = overflow_.load(std::memory_order_acquire);
  auto node = std::make_unique<Overflow>(Overflow{std::string(name), nullptr});
  for (;;) {
    if (const std::string* found = find_overflow(head, name)) return found;
    node->next = head;
    if (overflow_.compare_exchange_weak(head, node.get(), std::memory_order_acq_rel, std::memory_order_acquire))
      return &node.release()->name;
  }
}

namespace {

SyncMode map_mode_for(SyncMode engine_mode) noexcept { return engine_mode; }
SyncMode slot_mode_for(SyncMode engine_mode) noexcept {
  return engine_mode == SyncMode::Full ? SyncMode::Full : SyncMode::None;
}

}  // namespace

HoldingsState::HoldingsState(SyncMode mode)
    : mode_(mode),
      slot_mode_(slot_mode_for(mode)),
      shards_(make_shards(map_mode_for(mode), std::make_index_sequence<kShards>{})) {}

std::optional<Holdings> HoldingsState::read(HoldingsKey key) const {
  Shard& shard = shard_of(key);
  SharedGuard read(shard.lock);
  const auto it = shard.slots.find(key);
  if (it == shard.slots.end()) return std::nullopt;
  ExclusiveGuard slot_guard(const_cast<RwLock&>(it->second.lock));
  return it->second.value;
}

std::size_t HoldingsState::slot_count() const {
  std::size_t n = 0;
  for (std::size_t i = 0; i < kShards; ++i) {
    SharedGuard read(shards_[i].lock);
    n += shards_[i].slots.size();
  }
  return n;
}

void HoldingsState::remove_if_zero(Shard& shard, HoldingsKey key) {
  write_locks_.fetch_add(1, std::memory_order_relaxed);
  ExclusiveGuard write(shard.lock);
  // Looked up again: the slot may have been refilled, or removed and replaced.
  const auto it = shard.slots.find(key);
  if (it != shard.slots.end() && it->second.value.all_zero()) shard.slots.erase(it);
}

}  // namespace vantrel
