#pragma once
// The hash table behind every per-account and per-quote structure: open
// addressing with linear probing over one flat array whose cells hold the
// entries themselves. A lookup reads its home cell and walks on until it finds
// its key or a free cell: at the allowed three-quarters load a hit reads about
// 2.5 cells and a miss about 8.5 (at half load 1.5 and 2.5), so 64-byte entries
// cost one to a few lines, adjacent ones that the prefetcher streams in; misses
// are common (the rate limit's account logs miss on every order of an account
// without a barrier). Node-based maps spend an allocation, a pointer chase and
// 30-60 bytes of bookkeeping per key; this spends nothing but the free cells.
//
// An entry type keeps its own key and says whether a cell is in use; free
// cells are default-constructed entries. `Traits` supplies
//   static bool used(const Entry&) noexcept;
//   static std::uint64_t hash(const Entry&, const PlacementKey&) noexcept;  // keyed, all 64 bits
//   static std::uint64_t hash(const K&, const PlacementKey&) noexcept;      // for every key type K looked up
//   static bool matches(const Entry&, const K&) noexcept;
// Keys come from the host, so they are placed by a secret (core/placement.hpp):
// each table keeps its copy beside its array pointer. As a second line, no run
// may grow past a few dozen cells per doubling of the capacity (random keys come
// nowhere near), even against someone who knows the placement: the insert that
// would lengthen a run past that bound first rebuilds the array. It re-places
// every entry under a fresh secret of the table's own; if that was already done
// at this size it grows the table instead (never beyond four cells per entry);
// and a table left over-sized by erasures is rebuilt smaller. A rebuild is linear
// in the entries however their homes fall, and is checked like an insert: one
// that leaves a run past the bound is tried once more. Only keys whose hashes
// collide whatever the secret (a hash that ignores it) can keep a run long.
//
// The capacity is any count, not a power of two: a hash picks its home cell
// by the high half of hash * capacity, so the table is sized to what it holds
// (at most three quarters full, growing by half) rather than to the next
// power of two, which would leave up to twice as many cells empty. Erase
// shifts the rest of the run back instead of leaving tombstones, so probes
// stay short however many keys come and go; erasing the last entry gives the
// array back. The array starts on a 64-byte
// boundary, so entries of 64 bytes each take exactly one cache line.
//
// Entries move when the table grows, re-places them, or an erase shifts them:
// pointers into it are valid until the next insert or erase. Not thread-safe:
// the owner's lock guards it (inserts exclusively).
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "vantrel/core/placement.hpp"

namespace vantrel {

// The cell arrays' memory: 64-byte aligned. Arrays of several megabytes are
// mapped on their own and advised onto huge pages, since their lookups land on
// random pages and would otherwise miss the address cache on nearly every one;
// `mapped` says which way the memory came (a failed mapping falls back to the
// allocator), and must be handed back to free_table_cells.
void* allocate_table_cells(std::size_t bytes, bool& mapped);
void free_table_cells(void* cells, std::size_t bytes, bool mapped) noexcept;
// Bytes of cell arrays mapped on their own and not yet given back (the allocator's
// statistics don't see them).
std::size_t mapped_table_bytes() noexcept;

namespace flat_table_detail {

// Where each home's entries go when they are placed in the order of their homes: `first[h]`
// holds the count of entries whose home is cell h, and becomes the cell the first of them takes
// (the others follow it), counted on past the last cell (wrap around: subtract the capacity).
// The entries past the last cell take the first cells, so every home's entries start at or after
// them. Linear in the capacity; returns the longest run of used cells.
template <class Index>
std::size_t first_cells(Index* first, std::size_t capacity) noexcept {
  // Where the entries end, unwrapped.
  std::size_t end = 0;
  for (std::size_t h = 0; h < capacity; ++h)
    if (first[h] != 0) end = (end > h ? end : h) + first[h];
  std::size_t cursor = end > capacity ? end - capacity : 0;
  std::size_t run_start = 0, first_start = 0, first_run = 0, longest = 0;
  bool any = false;
  for (std::size_t h = 0; h < capacity; ++h) {
    if (first[h] == 0) continue;
    const std::size_t at = cursor > h ? cursor : h;
    if (!any || at > cursor) {  // a run starts
      if (any) {
        if (run_start == first_start) first_run = cursor - run_start;
        if (cursor - run_start > longest) longest = cursor - run_start;
      } else {
        first_start = at;
      }
      run_start = at;
      any = true;
    }
    cursor = at + first[h];
    first[h] = static_cast<Index>(at);
  }
  if (!any) return 0;
  const std::size_t last_run = cursor - run_start;
  if (last_run > longest) longest = last_run;
  // The last run goes round the end into the first one.
  if (run_start != first_start && cursor == capacity + first_start && first_run + last_run > longest)
    longest = first_run + last_run;
  return longest;
}

}  // namespace flat_table_detail

template <class Entry, class Traits>
class FlatTable {
 public:
  FlatTable() noexcept : key_(placement_secret()) {}
  FlatTable(FlatTable&& other) noexcept
      : cells_(std::exchange(other.cells_, nullptr)),
        key_(other.key_),
        capacity_(std::exchange(other.capacity_, 0)),
        size_(std::exchange(other.size_, 0)),
        reserved_(std::exchange(other.reserved_, 0)),
        fresh_key_(std::exchange(other.fresh_key_, false)),
        stuck_(std::exchange(other.stuck_, false)),
        mapped_(std::exchange(other.mapped_, false)) {}
  FlatTable& operator=(FlatTable&& other) noexcept {
    if (this != &other) {
      release();
      cells_ = std::exchange(other.cells_, nullptr);
      key_ = other.key_;
      capacity_ = std::exchange(other.capacity_, 0);
      size_ = std::exchange(other.size_, 0);
      reserved_ = std::exchange(other.reserved_, 0);
      fresh_key_ = std::exchange(other.fresh_key_, false);
      stuck_ = std::exchange(other.stuck_, false);
      mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
  }
  FlatTable(const FlatTable&) = delete;
  FlatTable& operator=(const FlatTable&) = delete;
  ~FlatTable() { release(); }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::size_t capacity() const noexcept { return capacity_; }
  // Bytes of the cell array (what the table costs beyond its own object).
  std::size_t allocated_bytes() const noexcept { return capacity_ * sizeof(Entry); }
  // The most entries any table of this entry type can hold.
  static constexpr std::size_t max_size() noexcept { return three_quarters(max_cells()); }
  // The longest run an insert may leave in this table, and so the most cells a lookup of a
  // present key reads (one more for an absent key: the free cell that ends the run).
  std::size_t run_bound() const noexcept { return 32 * static_cast<std::size_t>(std::bit_width(capacity_)); }

  template <class K>
  Entry* find(const K& key) noexcept {
    if (size_ == 0) return nullptr;
    for (std::size_t i = home(Traits::hash(key, key_));; i = next(i)) {
      Entry& cell = cells_[i];
      if (!Traits::used(cell)) return nullptr;
      if (Traits::matches(cell, key)) return &cell;
    }
  }
  template <class K>
  const Entry* find(const K& key) const noexcept {
    return const_cast<FlatTable*>(this)->find(key);
  }

  // The cell a lookup of `key` starts at, and how many cells it reads (tests and
  // benchmarks: where an id lands and the work it costs).
  template <class K>
  std::size_t home_cell(const K& key) const noexcept {
    return capacity_ == 0 ? 0 : home(Traits::hash(key, key_));
  }
  template <class K>
  std::size_t cells_read(const K& key) const noexcept {
    if (size_ == 0) return 0;
    std::size_t read = 1;
    for (std::size_t i = home(Traits::hash(key, key_));; i = next(i), ++read)
      if (!Traits::used(cells_[i]) || Traits::matches(cells_[i], key)) return read;
  }

  // The entry for `key`, made by `make()` (an Entry whose key is `key`) when
  // absent. May throw bad_alloc or what `make` throws; then nothing changed.
  template <class K, class Make>
  Entry& find_or_insert(const K& key, Make&& make) {
    if (Entry* found = find(key)) return *found;
    return insert_absent(make());
  }

  // Precondition: no entry with the key of `entry`. May throw bad_alloc; then
  // nothing changed.
  Entry& insert_new(Entry entry) { return insert_absent(std::move(entry)); }

  // Room for `extra` more entries, so that many inserts cannot throw (until the next
  // erase). Throws length_error past max_size() and bad_alloc when memory runs out;
  // then nothing changed.
  void reserve_more(std::size_t extra) {
    if (extra > max_size() - size_) throw std::length_error("FlatTable::reserve_more: more entries than a table holds");
    const std::size_t count = size_ + extra;
    if (fits(count, capacity_)) {
      if (count > reserved_) reserved_ = count;
      return;
    }
    std::size_t capacity = capacity_ < 4 ? 4 : grown(capacity_);
    while (!fits(count, capacity)) capacity = grown(capacity);
    const std::size_t longest = rehash(capacity, key_);
    fresh_key_ = false;
    stuck_ = false;
    if (count > reserved_) reserved_ = count;
    // Growing spreads runs out, but one chosen against the old size may still pass the bound.
    if (longest > run_bound()) [[unlikely]] stuck_ = !settle();
  }

  // Removes the entry of `key` when present; true when it was.
  template <class K>
  bool erase(const K& key) noexcept {
    Entry* found = find(key);
    if (found == nullptr) return false;
    erase_at(static_cast<std::size_t>(found - cells_));
    return true;
  }

  // Empties the table and keeps its capacity.
  void clear() noexcept {
    for (std::size_t i = 0; i < capacity_; ++i) cells_[i] = Entry();
    size_ = 0;
    reserved_ = 0;
  }

  template <class F>
  void for_each(F&& f) const {
    for (std::size_t i = 0; i < capacity_; ++i)
      if (Traits::used(cells_[i])) f(cells_[i]);
  }
  template <class F>
  void for_each(F&& f) {
    for (std::size_t i = 0; i < capacity_; ++i)
      if (Traits::used(cells_[i])) f(cells_[i]);
  }

 private:
  static constexpr std::size_t max_cells() noexcept { return PTRDIFF_MAX / sizeof(Entry); }
  static constexpr std::size_t three_quarters(std::size_t n) noexcept { return n / 4 * 3 + n % 4 * 3 / 4; }
  // At most three quarters full.
  static bool fits(std::size_t count, std::size_t capacity) noexcept { return count <= three_quarters(capacity); }
  static std::size_t grown(std::size_t capacity) noexcept {
    return capacity > max_cells() - capacity / 2 ? max_cells() : capacity + capacity / 2;
  }
  // The capacity a rebuild gives `count` entries: at most half full, so that a run past the
  // bound takes many more inserts than it did.
  static std::size_t fitted(std::size_t count) noexcept {
    std::size_t capacity = 4;
    while (count > capacity / 2 && capacity < max_cells()) capacity = grown(capacity);
    return capacity;
  }
  // Rebuilds tried for one insert before the run is left as it is (random keys need a second
  // one about never). Runs that outlast them are made by keys whose hashes collide whatever the
  // secret: the table stops rebuilding for them until it next grows to fit more entries.
  static constexpr int kRebuilds = 2;

  static std::size_t home_in(std::uint64_t h, std::size_t capacity) noexcept {
    return static_cast<std::size_t>((static_cast<unsigned __int128>(h) * capacity) >> 64);
  }
  std::size_t home(std::uint64_t h) const noexcept { return home_in(h, capacity_); }
  std::size_t next(std::size_t i) const noexcept { return i + 1 == capacity_ ? 0 : i + 1; }
  std::size_t prev(std::size_t i) const noexcept { return i == 0 ? capacity_ - 1 : i - 1; }

  // The free cell an entry hashed to `h` goes to; `run` is the length of the run it would then
  // belong to, counted up to `limit`.
  std::size_t free_cell(std::uint64_t h, std::size_t limit, std::size_t& run) const noexcept {
    const std::size_t start = home(h);
    std::size_t i = start;
    run = 1;
    while (Traits::used(cells_[i])) i = next(i), ++run;
    for (std::size_t j = prev(start); run <= limit && Traits::used(cells_[j]); j = prev(j)) ++run;
    for (std::size_t j = next(i); run <= limit && Traits::used(cells_[j]); j = next(j)) ++run;
    return i;
  }

  Entry& insert_absent(Entry&& entry) {
    if (!fits(size_ + 1, capacity_)) reserve_more(1);
    std::size_t run = 0;
    std::size_t i = free_cell(Traits::hash(entry, key_), run_bound(), run);
    if (run > run_bound() && !stuck_) [[unlikely]] {
      bool settled = false;
      for (int tries = 0; tries < kRebuilds && !settled; ++tries) {
        settled = rebuild(size_ + 1);
        i = free_cell(Traits::hash(entry, key_), run_bound(), run);
        settled = settled && run <= run_bound();
      }
      stuck_ = !settled;
    }
    cells_[i] = std::move(entry);
    ++size_;
    return cells_[i];
  }

  // After a growth that left a run past the bound; true when the runs are within it again.
  bool settle() noexcept {
    for (int tries = 0; tries < kRebuilds; ++tries)
      if (rebuild(size_)) return true;
    return false;
  }

  // Rebuilds the array for `count` entries, because a run would pass the bound: over-sized
  // (after erasures), smaller under a fresh secret; otherwise re-placed under a fresh secret at
  // this size, or, once that was done at this size, grown (up to four cells per entry), or
  // re-placed again where growing is not allowed. True when the rebuild left every run within
  // the bound. Out of memory it changes nothing and gives false (an insert after reserve_more()
  // must not throw).
  bool rebuild(std::size_t count) noexcept {
    if (count < reserved_) count = reserved_;  // room promised stays
    try {
      std::size_t longest = 0;
      if (capacity_ / 4 > count) {
        longest = rehash(fitted(count) < capacity_ ? fitted(count) : capacity_, fresh_placement_key());
        fresh_key_ = true;
      } else if (!fresh_key_) {
        longest = rehash(capacity_, fresh_placement_key());
        fresh_key_ = true;
      } else if (grown(capacity_) / 4 <= count && capacity_ < max_cells()) {
        longest = rehash(grown(capacity_), key_);
        fresh_key_ = false;
      } else {
        longest = rehash(capacity_, fresh_placement_key());
      }
      return longest <= run_bound();
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

  void erase_at(std::size_t i) noexcept {
    reserved_ = 0;
    if (size_ == 1) {
      release();  // the last entry: the array goes back
      return;
    }
    cells_[i] = Entry();
    --size_;
    // Pull back every later member of the run whose home does not lie
    // cyclically in (i, j]: it may have skipped the hole on its way in.
    for (std::size_t j = next(i); Traits::used(cells_[j]); j = next(j)) {
      const std::size_t h = home(Traits::hash(cells_[j], key_));
      const bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
      if (stays) continue;
      cells_[i] = std::move(cells_[j]);
      cells_[j] = Entry();
      i = j;
    }
  }

  // Moves every entry into a new array of `capacity` cells placed by `key` and returns the
  // longest run there. Linear in the cells, however the homes fall: the entries are counted
  // per home, and each home's entries take the cells after those of the homes before it (the
  // order linear probing would give them had they come in that order). Throws bad_alloc;
  // then nothing changed.
  std::size_t rehash(std::size_t capacity, const PlacementKey& key) {
    // Checked here rather than on the class, where an entry nested in its owner is still incomplete.
    static_assert(std::is_nothrow_default_constructible_v<Entry>);
    static_assert(std::is_nothrow_move_constructible_v<Entry> && std::is_nothrow_move_assignable_v<Entry>);
    if (capacity <= std::size_t{UINT32_MAX} / 2) return rehash_as<std::uint32_t>(capacity, key);
    return rehash_as<std::size_t>(capacity, key);
  }

  // `Index` holds a cell number up to twice the capacity.
  template <class Index>
  std::size_t rehash_as(std::size_t capacity, const PlacementKey& key) {
    bool mapped = false;
    Entry* cells = static_cast<Entry*>(allocate_table_cells(capacity * sizeof(Entry), mapped));
    std::unique_ptr<Index[]> first, homes;  // per home: its count, then its next cell; per entry: its home
    try {
      first.reset(new Index[capacity]());
      homes.reset(new Index[size_ + 1]);
    } catch (...) {
      free_table_cells(cells, capacity * sizeof(Entry), mapped);
      throw;
    }
    for (std::size_t i = 0; i < capacity; ++i) ::new (static_cast<void*>(cells + i)) Entry();
    std::size_t n = 0;
    for (std::size_t i = 0; i < capacity_; ++i) {
      if (!Traits::used(cells_[i])) continue;
      const std::size_t h = home_in(Traits::hash(cells_[i], key), capacity);
      homes[n++] = static_cast<Index>(h);
      ++first[h];
    }
    const std::size_t longest = flat_table_detail::first_cells(first.get(), capacity);
    for (std::size_t i = 0, j = 0; i < capacity_; ++i) {
      if (!Traits::used(cells_[i])) continue;
      std::size_t at = first[homes[j++]]++;
      if (at >= capacity) at -= capacity;
      cells[at] = std::move(cells_[i]);
    }
    Entry* old = std::exchange(cells_, cells);
    const std::size_t old_capacity = std::exchange(capacity_, capacity);
    const bool old_mapped = std::exchange(mapped_, mapped);
    key_ = key;
    free_cells(old, old_capacity, old_mapped);
    return longest;
  }

  static void free_cells(Entry* cells, std::size_t capacity, bool mapped) noexcept {
    if (cells == nullptr) return;
    if constexpr (!std::is_trivially_destructible_v<Entry>)
      for (std::size_t i = 0; i < capacity; ++i) cells[i].~Entry();
    free_table_cells(cells, capacity * sizeof(Entry), mapped);
  }

  void release() noexcept {
    free_cells(cells_, capacity_, mapped_);
    cells_ = nullptr;
    capacity_ = 0;
    size_ = 0;
    reserved_ = 0;
    fresh_key_ = false;
    stuck_ = false;
    mapped_ = false;
  }

  Entry* cells_ = nullptr;
  PlacementKey key_;  // beside the array pointer: placing a key reads no other line
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
  std::size_t reserved_ = 0;  // entries reserve_more() promised room for, until the next erase
  bool fresh_key_ = false;    // re-placed under a fresh secret at this capacity
  bool stuck_ = false;        // rebuilding did not bring the runs within the bound: not again until grown
  bool mapped_ = false;       // the array was mapped on its own
};

// An unkeyed mixer whose every output bit depends on every input bit: for
// values no host chooses (tests, and text hashes whose tables are bounded).
constexpr std::uint64_t mix_hash(std::uint64_t x) noexcept {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace vantrel
