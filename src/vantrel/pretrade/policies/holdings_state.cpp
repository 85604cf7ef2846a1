#include "vantrel/pretrade/policies/holdings_state.hpp"

#include <functional>

namespace vantrel {

namespace {

// Asset names are a few bytes: an inline FNV-1a, spread by the mixer, beats the library's hash call.
std::size_t name_hash(std::string_view name) noexcept { return static_cast<std::size_t>(mix_hash(fnv1a_64(name))); }

}  // namespace

AssetNames::AssetNames() : table_(new std::atomic<const Named*>[kCapacity]) {
  for (std::size_t i = 0; i < kCapacity; ++i) table_[i].store(nullptr, std::memory_order_relaxed);
}

AssetNames::~AssetNames() {
  for (std::size_t i = 0; i < kCapacity; ++i) delete table_[i].load(std::memory_order_relaxed);
  const Named* node = overflow_.load(std::memory_order_relaxed);
  while (node != nullptr) delete std::exchange(node, node->next);
}

std::unique_ptr<AssetNames::Named> AssetNames::make(std::string_view name) {
  // A number lost to a lost race is skipped, never reused.
  return std::make_unique<Named>(Named{std::string(name), next_number_.fetch_add(1, std::memory_order_relaxed), nullptr});
}

const std::string* AssetNames::find_overflow(const Named* head, std::string_view name) const noexcept {
  for (const Named* node = head; node != nullptr; node = node->next)
    if (node->name == name) return &node->name;
  return nullptr;
}

const std::string* AssetNames::find(std::string_view name) const noexcept {
  const std::size_t h = name_hash(name);
  for (std::size_t i = 0; i < kCapacity; ++i) {
    const Named* entry = table_[(h + i) & (kCapacity - 1)].load(std::memory_order_acquire);
    if (entry == nullptr) return nullptr;
    if (entry->name == name) return &entry->name;
  }
  return find_overflow(overflow_.load(std::memory_order_acquire), name);
}

const std::string* AssetNames::intern(std::string_view name) {
  const std::size_t h = name_hash(name);
  std::unique_ptr<Named> fresh;
  for (std::size_t i = 0; i < kCapacity; ++i) {
    std::atomic<const Named*>& cell = table_[(h + i) & (kCapacity - 1)];
    const Named* entry = cell.load(std::memory_order_acquire);
    if (entry == nullptr) {
      if (!fresh) fresh = make(name);
      if (cell.compare_exchange_strong(entry, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire))
        return &fresh.release()->name;
      // Another thread filled this cell first; `entry` now holds its name.
    }
    if (entry->name == name) return &entry->name;
  }
  // Table full: a list that only ever grows at its head. A failed exchange
  // means another name arrived, so look again before the next attempt.
  const Named* head = overflow_.load(std::memory_order_acquire);
  if (!fresh) fresh = make(name);
  for (;;) {
    if (const std::string* found = find_overflow(head, name)) return found;
    fresh->next = head;
    if (overflow_.compare_exchange_weak(head, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire))
      return &fresh.release()->name;
  }
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
  const Holdings value = slot->value;
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

void HoldingsState::remove_if_zero(Shard& shard, SlotKey key) {
  write_locks_.fetch_add(1, std::memory_order_relaxed);
  WriteGuard<ReadMostlyLock> write(shard.lock);
  // Looked up again: the slot may have been refilled, or removed and replaced.
  const Slot* slot = shard.slots.find(key);
  if (slot != nullptr && slot->value.all_zero()) shard.slots.erase(key);
}

}  // namespace vantrel
