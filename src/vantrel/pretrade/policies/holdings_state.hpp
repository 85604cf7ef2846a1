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
// so under the write lock values are stable without the slot lock. A slot whose
// amounts must move apart from it (more than 119 bits) is changed under the
// write lock too, so that a host breaking the account_sync promise gets torn
// amounts, never a pointer read half-written.
// Nothing here calls Python or records blocks.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "vantrel/core/flat_table.hpp"
#include "vantrel/core/placement.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/marketdata/read_mostly_lock.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/param/sip_hash.hpp"
#include "vantrel/pretrade/policies/holdings.hpp"

namespace vantrel {

// Asset names interned once per state: the keys of the map and of every staged
// undo point at them, so neither a lookup nor an undo copies or compares text.
// Each name also has a number from 1, read straight from its pointer, which
// the slots keep in place of the pointer. Only names a slot or an undo holds
// are interned, and none is ever removed.
//
// Names are placed by a hash under a secret drawn once per process, so no one
// can choose names that share a probe run. The table doubles before it is half
// full; lookups take no lock and may go on in an array that was replaced,
// which still holds every name it held: replaced arrays live as long as the
// names. Interning takes a mutex. Thread-safe.
class AssetNames {
 public:
  AssetNames();
  ~AssetNames();
  AssetNames(const AssetNames&) = delete;
  AssetNames& operator=(const AssetNames&) = delete;

  // nullptr when the name was never interned.
  const std::string* find(std::string_view name) const noexcept {
    return lookup(current_.load(std::memory_order_acquire), name, hash(name)).found;
  }
  const std::string* intern(std::string_view name);
  // The number of an interned name (a pointer find() or intern() gave).
  static std::uint32_t number(const std::string* interned) noexcept {
    return reinterpret_cast<const Named*>(interned)->number;
  }

  std::size_t size() const;
  // The cells a find() of `name` reads: what a lookup costs, for tests.
  std::size_t probes(std::string_view name) const noexcept {
    return lookup(current_.load(std::memory_order_acquire), name, hash(name)).probes;
  }

 private:
  // The name first, so a pointer to it is a pointer to the whole.
  struct Named {
    std::string name;
    std::uint32_t number;
  };
  static_assert(std::is_standard_layout_v<Named>);
  // A cell's hash is written before its name is published and never changes after.
  struct Cell {
    std::atomic<const Named*> named{nullptr};
    std::uint64_t hash = 0;
  };
  struct Table {
    explicit Table(std::size_t capacity) : mask(capacity - 1), cells(new Cell[capacity]) {}
    std::size_t mask;  // capacity - 1, a power of two less one
    std::unique_ptr<Cell[]> cells;
  };
  struct Found {
    const std::string* found;
    std::size_t probes;
  };

  std::uint64_t hash(std::string_view name) const noexcept { return sip_hash13(key_, name); }
  // Linear probing; a free cell ends the run, and at most half the cells are used.
  static Found lookup(const Table* table, std::string_view name, std::uint64_t h) noexcept {
    for (std::size_t i = h & table->mask, probes = 1;; i = (i + 1) & table->mask, ++probes) {
      const Cell& cell = table->cells[i];
      const Named* entry = cell.named.load(std::memory_order_acquire);
      if (entry == nullptr) return {nullptr, probes};
      if (cell.hash == h && entry->name == name) return {&entry->name, probes};
    }
  }
  static void place(Table& table, const Named* named, std::uint64_t h) noexcept;

  const SipKey key_;
  std::atomic<const Table*> current_;
  mutable std::mutex interning_;                // guards what follows
  std::deque<Named> names_;                     // stable addresses
  std::vector<std::unique_ptr<Table>> tables_;  // every array ever published, the current one last
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
  // The slots each shard holds, and the cells a lookup of `key` reads (tests: how keys spread).
  std::vector<std::size_t> slots_per_shard() const;
  std::size_t cells_read(HoldingsKey key) const;
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

  // change() with a first try on the slot's amounts in place, under the same
  // locks: `in_place(PackedHoldings&) -> optional<bool>` either decides (its
  // verdict; it wrote the slot when true, never leaving it all zero nor
  // changing its form) or gives nullopt having written nothing, and then
  // change(key, step) runs.
  template <class InPlace, class Step>
  bool change_in_place(HoldingsKey key, InPlace&& in_place, Step&& step);

  // change() for a `step(old) -> optional<Holdings>` that either gives the new
  // holdings or refuses: returns nothing once written, or the holdings the
  // refusing step saw (the slot is then left as it was).
  template <class Step>
  std::optional<Holdings> change_or_refuse(HoldingsKey key, Step&& step);

  // change() for an asset known by name only: a name that was never interned
  // has no slot, so the step first runs on zeros, and the name is interned only
  // when a slot is to be made for it. `interned` gives the name, or nullptr
  // when it is still unknown (nothing was written).
  template <class Step>
  bool change_named(AccountId account, std::string_view asset, const std::string*& interned, Step&& step);

 private:
  // One slot, 64 bytes: one cache line of the table's array, which starts on a
  // line. Asset number 0 marks a free cell. The amounts are packed in the slot,
  // or kept apart where one needs more than 119 bits.
  struct Slot {
    Slot() noexcept = default;
    Slot(std::uint64_t account, std::uint32_t asset, PackedHoldings value) noexcept
        : account(account), asset(asset), value(std::move(value)) {}
    // Slots move only under their shard's write lock, when no slot lock is held.
    Slot(Slot&& other) noexcept : account(other.account), asset(other.asset), value(std::move(other.value)) {}
    Slot& operator=(Slot&& other) noexcept {
      account = other.account;
      asset = other.asset;
      value = std::move(other.value);
      return *this;
    }

    std::uint64_t account = 0;
    std::uint32_t asset = 0;
    mutable std::atomic<std::uint32_t> busy{0};  // the slot's exclusive lock, taken in full_sync only
    PackedHoldings value;
  };
  static_assert(sizeof(Slot) == 64);
  using SlotKey = AccountAsset;
  struct SlotTraits {
    static bool used(const Slot& s) noexcept { return s.asset != 0; }
    static std::uint64_t hash(SlotKey k, const PlacementKey& secret) noexcept { return placement_hash(k, secret); }
    static std::uint64_t hash(const Slot& s, const PlacementKey& secret) noexcept {
      return placement_hash(SlotKey{s.account, s.asset}, secret);
    }
    static bool matches(const Slot& s, SlotKey k) noexcept { return s.account == k.account && s.asset == k.asset; }
  };
  // A shard's map lock counts its readers per thread group, each on a line of its own, so
  // threads reading distinct accounts write no common line; only inserts and removals take
  // every part.
  struct alignas(64) Shard {
    explicit Shard(SyncMode map_mode) noexcept : lock(map_mode) {}
    mutable ReadMostlyLock lock;
    FlatTable<Slot, SlotTraits> slots;
  };
  // Indexed by the low bits of the key's hash under the process's key for shards (each table
  // places by a key of its own). Few enough that a large book's shards reach huge pages.
  static constexpr std::size_t kShards = 16;

  static SlotKey slot_key(HoldingsKey k) noexcept { return {k.account.value, AssetNames::number(k.asset)}; }
  Shard& shard_of(SlotKey key) const noexcept { return shards_[placement_hash(key, secret_) & (kShards - 1)]; }
  template <std::size_t... I>
  static std::array<Shard, kShards> make_shards(SyncMode mode, std::index_sequence<I...>) {
    return {{((void)I, Shard(mode))...}};
  }
  // The slot lock: exclusive, held for one step; a no-op outside full_sync.
  void lock_slot(const Slot& slot) const noexcept;
  void unlock_slot(const Slot& slot) const noexcept;
  void remove_if_zero(Shard& shard, SlotKey key);

  PlacementKey secret_ = placement_secret(SecretUse::shards);  // picks a key's shard; on the line of the mode flags an order reads
  SyncMode mode_;
  bool slot_locks_;
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
bool HoldingsState::change_named(AccountId account, std::string_view asset, const std::string*& interned,
                                 Step&& step) {
  interned = assets_.find(asset);
  if (interned == nullptr) {
    Holdings next;
    if (!step(Holdings{}, next)) return false;
    if (next.all_zero()) return true;
    interned = assets_.intern(asset);
  }
  return change(HoldingsKey{account, interned}, step);
}

template <class InPlace, class Step>
bool HoldingsState::change_in_place(HoldingsKey key, InPlace&& in_place, Step&& step) {
  const SlotKey at = slot_key(key);
  Shard& shard = shard_of(at);
  {
    ReadGuard<ReadMostlyLock> read(shard.lock);
    if (Slot* slot = shard.slots.find(at)) {
      lock_slot(*slot);
      const std::optional<bool> decided = in_place(slot->value);
      unlock_slot(*slot);
      if (decided) return *decided;
    }
  }
  return change(key, step);
}

template <class Step>
bool HoldingsState::change(HoldingsKey key, Step&& step) {
  const SlotKey at = slot_key(key);
  Shard& shard = shard_of(at);
  // A block for amounts a slot cannot pack, allocated with no lock held.
  std::unique_ptr<Holdings> spare;
  {
    Holdings next;
    bool found = false;
    bool wrote = false;
    bool reshape = false;
    {
      ReadGuard<ReadMostlyLock> read(shard.lock);
      if (Slot* slot = shard.slots.find(at)) {
        found = true;
        lock_slot(*slot);
        wrote = step(static_cast<const Holdings&>(slot->value.load()), next);
        // Under the read lock a slot keeps its form: a slot that must now keep
        // its amounts apart is changed under the write lock (PackedHoldings::reshape).
        if (wrote && !slot->value.store(next)) reshape = true;
        unlock_slot(*slot);
      }
    }
    if (found && !reshape) {
      if (wrote && next.all_zero()) remove_if_zero(shard, at);
      return wrote;
    }
    // No slot: decide on zeros first, so that a refused change takes no write lock.
    if (!found) {
      if (!step(Holdings{}, next)) return false;
      if (next.all_zero()) return true;
    }
    if (PackedHoldings::needs_room(next)) spare = std::make_unique<Holdings>();
  }
  // Under the write lock, which excludes every other change and read of the
  // shard's slots. The step runs again on what the slot holds now: another
  // thread may have inserted, changed or removed it meanwhile.
  for (;;) {
    {
      write_locks_.fetch_add(1, std::memory_order_relaxed);
      WriteGuard<ReadMostlyLock> write(shard.lock);
      Slot* slot = shard.slots.find(at);
      Holdings next;
      if (!step(slot != nullptr ? static_cast<const Holdings&>(slot->value.load()) : Holdings{}, next)) return false;
      if (next.all_zero()) {
        if (slot != nullptr) shard.slots.erase(at);
        return true;
      }
      if (slot != nullptr) {
        if (slot->value.reshape(next, spare)) return true;
      } else if (spare || !PackedHoldings::needs_room(next)) {
        PackedHoldings value;
        value.reshape(next, spare);
        shard.slots.insert_new(Slot(at.account, at.asset, std::move(value)));
        return true;
      }
    }
    spare = std::make_unique<Holdings>();
  }
}

}  // namespace vantrel
