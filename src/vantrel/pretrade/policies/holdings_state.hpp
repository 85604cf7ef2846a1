#pragma once
// The holdings of one funds policy: one slot per (account, asset), shared by
// the policy and every staged undo of its changes.
//
// Locks, per the engine's sync mode (lock order: the table in
// core/rw_lock.hpp). The map is split into shards, each behind its own map
// lock. full_sync: a slot is found under the shard's lock in read mode and
// changed, still under it, inside the slot's own exclusive lock. account_sync:
// found under the shard's lock in read mode and changed with no further lock:
// the host keeps calls that touch one account from overlapping. no_sync:
// nothing is locked. Inserts and removals take the shard's lock in write
// mode; a read lock is never upgraded: it is released, the write lock taken
// and the key looked up again. Every change of a value holds at least the map read lock,
// so under the write lock values are stable without the slot lock.
// Nothing here calls Python or records blocks.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "vantrel/core/rw_lock.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/pretrade/policies/holdings.hpp"

namespace vantrel {

// Asset names interned once per state: the keys of the map and of every staged
// undo point at them, so neither a lookup nor an undo copies or compares text.
// Entries are never removed. Lookups take no lock. Thread-safe.
class AssetNames {
 public:
  AssetNames();
  ~AssetNames();
  AssetNames(const AssetNames&) = delete;
  AssetNames& operator=(const AssetNames&) = delete;

  // nullptr when the name was never interned.
  const std::string* find(std::string_view name) const noexcept;
  const std::string* intern(std::string_view name);

 private:
  struct Overflow {
    std::string name;
    const Overflow* next;
  };
  static constexpr std::size_t kCapacity = 4096;  // a power of two

  const std::string* find_overflow(const Overflow* head, std::string_view name) const noexcept;

  std::unique_ptr<std::atomic<const std::string*>[]> table_;
  std::atomic<const Overflow*> overflow_{nullptr};  // used once the table is full
};

struct HoldingsKey {
  AccountId account;
  const std::string* asset;  // interned
  friend bool operator==(HoldingsKey, HoldingsKey) = default;
};

class HoldingsState {
 public:
  explicit HoldingsState(SyncMode mode);
  HoldingsState(const HoldingsState&) = delete;
  HoldingsState& operator=(const HoldingsState&) = delete;

  SyncMode mode() const noexcept { return mode_; }
  AssetNames& assets() noexcept { return assets_; }
  const AssetNames& assets() const noexcept { return assets_; }

  // A copy of the slot; nullopt when there is none (all amounts zero).
  std::optional<Holdings> read(HoldingsKey key) const;
  std::size_t slot_count() const;
  // How often a map lock was taken in write mode (inserts and removals).
  std::uint64_t write_locks_taken() const noexcept { return write_locks_.load(std::memory_order_relaxed); }

  // Runs `step(old, next) -> bool` on the slot of `key` under its locks and
  // writes `next` when the step returns true. A missing slot reads as all zero
  // and is created only when the step writes a value that is not all zero; the
  // step then runs again on the slot that another thread may have inserted
  // meanwhile, so it must depend on `old` alone (results it reports are those
  // of its last run). A slot left all zero is removed. Returns the step's verdict.
  template <class Step>
  bool change(HoldingsKey key, Step&& step);

  // change() for a `step(old) -> optional<Holdings>` that either gives the new
  // holdings or refuses: returns nothing once written, or the holdings the
  // refusing step saw (the slot is then left as it was).
  template <class Step>
  std::optional<Holdings> change_or_refuse(HoldingsKey key, Step&& step);

 private:
  // A line of its own: slots of accounts that different threads trade never share one.
  struct alignas(64) Slot {
    explicit Slot(SyncMode slot_mode) noexcept : lock(slot_mode) {}
    Holdings value;
    RwLock lock;  // exclusive only; a no-op outside full_sync
  };
  struct KeyHash {
    std::size_t operator()(HoldingsKey k) const noexcept { return static_cast<std::size_t>(mix(k)); }
  };
  struct alignas(64) Shard {
    explicit Shard(SyncMode map_mode) noexcept : lock(map_mode) {}
    mutable RwLock lock;
    std::unordered_map<HoldingsKey, Slot, KeyHash> slots;
  };
  static constexpr std::size_t kShards = 64;  // indexed by the top 6 bits of the key's hash

  static std::uint64_t mix(HoldingsKey k) noexcept {
    std::uint64_t x = k.account.value ^ (reinterpret_cast<std::uintptr_t>(k.asset) * 0x9E3779B97F4A7C15ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    return x ^ (x >> 31);
  }
  Shard& shard_of(HoldingsKey key) const noexcept { return shards_[mix(key) >> 58]; }
  template <std::size_t... I>
  static std::array<Shard, kShards> make_shards(SyncMode mode, std::index_sequence<I...>) {
    return {{((void)I, Shard(mode))...}};
  }
  void remove_if_zero(Shard& shard, HoldingsKey key);

  SyncMode mode_;
  SyncMode slot_mode_;
  AssetNames assets_;
  mutable std::array<Shard, kShards> shards_;
  std::atomic<std::uint64_t> write_locks_{0};
};

template <class Step>
std::optional<Holdings> HoldingsState::change_or_refuse(HoldingsKey key, Step&& step) {
  std::optional<Holdings> refused;
  change(key, [&](const Holdings& old, Holdings& next) {
    const std::optional<Holdings> after = step(old);
    if (!after) {
      refused = old;
      return false;
    }
    refused.reset();
    next = *after;
    return true;
  });
  return refused;
}

template <class Step>
bool HoldingsState::change(HoldingsKey key, Step&& step) {
  Shard& shard = shard_of(key);
  Holdings next;
  {
    SharedGuard read(shard.lock);
    const auto it = shard.slots.find(key);
    if (it != shard.slots.end()) {
      Slot& slot = it->second;
      bool wrote;
      {
        ExclusiveGuard slot_guard(slot.lock);
        wrote = step(static_cast<const Holdings&>(slot.value), next);
        if (wrote) slot.value = next;
      }
      read.release();
      if (wrote && next.all_zero()) remove_if_zero(shard, key);
      return wrote;
    }
  }
  // No slot: decide on zeros first, so that a refused change takes no write lock.
  if (!step(Holdings{}, next)) return false;
  if (next.all_zero()) return true;
  write_locks_.fetch_add(1, std::memory_order_relaxed);
  ExclusiveGuard write(shard.lock);
  const auto [it, inserted] = shard.slots.try_emplace(key, slot_mode_);
  if (inserted) {
    it->second.value = next;
    return true;
  }
  // Inserted by another thread between our two lookups.
  Holdings again;
  if (!step(static_cast<const Holdings&>(it->second.value), again)) return false;
  if (again.all_zero())
    shard.slots.erase(it);
  else
    it->second.value = again;
  return true;
}

}  // namespace vantrel
