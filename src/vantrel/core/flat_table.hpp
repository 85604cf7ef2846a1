#pragma once
// The hash table behind every per-account and per-quote structure: open
// addressing with linear probing over one flat array whose cells hold the
// entries themselves, so a hit costs the line of its cell and nothing more.
// Node-based maps spend an allocation, a pointer chase and 30-60 bytes of
// bookkeeping per key; this spends nothing but the free cells.
//
// An entry type keeps its own key and says whether a cell is in use; free
// cells are default-constructed entries. `Traits` supplies
//   static bool used(const Entry&) noexcept;
//   static std::uint64_t hash(const Entry&) noexcept;        // well mixed, all 64 bits
//   static std::uint64_t hash(const K&) noexcept;            // for every key type K looked up
//   static bool matches(const Entry&, const K&) noexcept;
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
// Entries move when the table grows and when an erase shifts them: pointers
// into it are valid until the next insert or erase. Not thread-safe: the
// owner's lock guards it.
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

namespace vantrel {

// The cell arrays' memory: 64-byte aligned; arrays of several megabytes are
// placed on huge pages where the system offers them, since their lookups land
// on random pages and would otherwise miss the address cache on nearly every one.
void* allocate_table_cells(std::size_t bytes);
void free_table_cells(void* cells, std::size_t bytes) noexcept;

template <class Entry, class Traits>
class FlatTable {
 public:
  FlatTable() noexcept = default;
  FlatTable(FlatTable&& other) noexcept
      : cells_(std::exchange(other.cells_, nullptr)),
        capacity_(std::exchange(other.capacity_, 0)),
        size_(std::exchange(other.size_, 0)) {}
  FlatTable& operator=(FlatTable&& other) noexcept {
    if (this != &other) {
      release();
      cells_ = std::exchange(other.cells_, nullptr);
      capacity_ = std::exchange(other.capacity_, 0);
      size_ = std::exchange(other.size_, 0);
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

  template <class K>
  Entry* find(const K& key) noexcept {
    return find_hashed(key, Traits::hash(key));
  }
  template <class K>
  const Entry* find(const K& key) const noexcept {
    return const_cast<FlatTable*>(this)->find_hashed(key, Traits::hash(key));
  }
  // For callers that hash a key once for several tables; `h` must be Traits::hash(key).
  template <class K>
  Entry* find_hashed(const K& key, std::uint64_t h) noexcept {
    if (size_ == 0) return nullptr;
    for (std::size_t i = home(h);; i = next(i)) {
      Entry& cell = cells_[i];
      if (!Traits::used(cell)) return nullptr;
      if (Traits::matches(cell, key)) return &cell;
    }
  }
  template <class K>
  const Entry* find_hashed(const K& key, std::uint64_t h) const noexcept {
    return const_cast<FlatTable*>(this)->find_hashed(key, h);
  }

  // The entry for `key`, made by `make()` (an Entry whose key is `key`) when
  // absent. May throw bad_alloc or what `make` throws; then nothing changed.
  template <class K, class Make>
  Entry& find_or_insert(const K& key, Make&& make) {
    const std::uint64_t h = Traits::hash(key);
    if (Entry* found = find_hashed(key, h)) return *found;
    return insert_new(h, make());
  }

  // Precondition: no entry with the key of `entry`. May throw bad_alloc; then
  // nothing changed.
  Entry& insert_new(Entry entry) { return insert_new(Traits::hash(entry), std::move(entry)); }

  // Room for `extra` more entries, so that many inserts cannot throw. May
  // throw bad_alloc; then nothing changed.
  void reserve_more(std::size_t extra) {
    if (fits(size_ + extra)) return;
    std::size_t capacity = capacity_ < 4 ? 4 : capacity_ + capacity_ / 2;
    while (!fits(size_ + extra, capacity)) capacity += capacity / 2;
    rehash(capacity);
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
  // At most three quarters full.
  static bool fits(std::size_t count, std::size_t capacity) noexcept { return count * 4 <= capacity * 3; }
  bool fits(std::size_t count) const noexcept { return fits(count, capacity_); }

  std::size_t home(std::uint64_t h) const noexcept {
    return static_cast<std::size_t>((static_cast<unsigned __int128>(h) * capacity_) >> 64);
  }
  std::size_t next(std::size_t i) const noexcept { return i + 1 == capacity_ ? 0 : i + 1; }

  Entry& insert_new(std::uint64_t h, Entry&& entry) {
    if (!fits(size_ + 1)) reserve_more(1);
    std::size_t i = home(h);
    while (Traits::used(cells_[i])) i = next(i);
    cells_[i] = std::move(entry);
    ++size_;
    return cells_[i];
  }

  void erase_at(std::size_t i) noexcept {
    if (size_ == 1) {
      release();  // the last entry: the array goes back
      return;
    }
    cells_[i] = Entry();
    --size_;
    // Pull back every later member of the run whose home does not lie
    // cyclically in (i, j]: it may have skipped the hole on its way in.
    for (std::size_t j = next(i); Traits::used(cells_[j]); j = next(j)) {
      const std::size_t h = home(Traits::hash(cells_[j]));
      const bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
      if (stays) continue;
      cells_[i] = std::move(cells_[j]);
      cells_[j] = Entry();
      i = j;
    }
  }

  void rehash(std::size_t capacity) {
    // Checked here rather than on the class, where an entry nested in its owner is still incomplete.
    static_assert(std::is_nothrow_default_constructible_v<Entry>);
    static_assert(std::is_nothrow_move_constructible_v<Entry> && std::is_nothrow_move_assignable_v<Entry>);
    Entry* cells = static_cast<Entry*>(allocate_table_cells(capacity * sizeof(Entry)));  // the only throwing step
    for (std::size_t i = 0; i < capacity; ++i) ::new (static_cast<void*>(cells + i)) Entry();
    Entry* old = std::exchange(cells_, cells);
    const std::size_t old_capacity = std::exchange(capacity_, capacity);
    for (std::size_t i = 0; i < old_capacity; ++i) {
      if (!Traits::used(old[i])) continue;
      std::size_t at = home(Traits::hash(old[i]));
      while (Traits::used(cells_[at])) at = next(at);
      cells_[at] = std::move(old[i]);
    }
    free_cells(old, old_capacity);
  }

  static void free_cells(Entry* cells, std::size_t capacity) noexcept {
    if (cells == nullptr) return;
    if constexpr (!std::is_trivially_destructible_v<Entry>)
      for (std::size_t i = 0; i < capacity; ++i) cells[i].~Entry();
    free_table_cells(cells, capacity * sizeof(Entry));
  }

  void release() noexcept {
    free_cells(cells_, capacity_);
    cells_ = nullptr;
    capacity_ = 0;
    size_ = 0;
  }

  Entry* cells_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t size_ = 0;
};

// Mixes an integer key into a hash whose every bit depends on every input bit
// (account ids are often small and sequential).
constexpr std::uint64_t mix_hash(std::uint64_t x) noexcept {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

}  // namespace vantrel
