#pragma once
// A hash map keyed by an unsigned integer: open addressing with linear probing
// in one flat array. Lookups never allocate; inserts grow the array (at most
// half full); erase shifts the following run back instead of leaving marks, so
// lookups stay short however many keys come and go. Not thread-safe: the
// owner's lock guards it.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace vantrel {

template <class Key, class Value>
class IntMap {
  static_assert(std::is_unsigned_v<Key>);
  static_assert(std::is_nothrow_move_constructible_v<Value>);

 public:
  IntMap() noexcept = default;
  IntMap(const IntMap&) = delete;
  IntMap& operator=(const IntMap&) = delete;
  ~IntMap() { destroy_all(); }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  Value* find(Key key) noexcept {
    if (size_ == 0) return nullptr;
    for (std::size_t i = home(key);; i = (i + 1) & mask_) {
      Cell& cell = cells_[i];
      if (!cell.used) return nullptr;
      if (cell.key == key) return cell.value();
    }
  }
  const Value* find(Key key) const noexcept { return const_cast<IntMap*>(this)->find(key); }
  bool contains(Key key) const noexcept { return find(key) != nullptr; }

  // The value at `key`, made from `args` when absent. May throw bad_alloc
  // (then nothing changed).
  template <class... Args>
  Value& try_emplace(Key key, Args&&... args) {
    if (Value* found = find(key)) return *found;
    if ((size_ + 1) * 2 > capacity()) grow();
    Cell& cell = cells_[free_cell(key)];
    new (cell.storage) Value(std::forward<Args>(args)...);
    cell.key = key;
    cell.used = true;
    ++size_;
    return *cell.value();
  }

  // Room for `extra` more keys without growing, so the next `extra` inserts
  // cannot throw. May throw bad_alloc (then nothing changed).
  void reserve_more(std::size_t extra) {
    while ((size_ + extra) * 2 > capacity()) grow();
  }

  template <class V>
  Value& insert_or_assign(Key key, V&& value) {
    Value& slot = try_emplace(key, std::forward<V>(value));
    slot = std::forward<V>(value);
    return slot;
  }

  // Removes `key` when present; true when it was.
  bool erase(Key key) noexcept {
    if (size_ == 0) return false;
    std::size_t i = home(key);
    for (;; i = (i + 1) & mask_) {
      if (!cells_[i].used) return false;
      if (cells_[i].key == key) break;
    }
    cells_[i].value()->~Value();
    cells_[i].used = false;
    --size_;
    // Pull back every later member of the run that may sit in the hole.
    for (std::size_t j = (i + 1) & mask_; cells_[j].used; j = (j + 1) & mask_) {
      const std::size_t h = home(cells_[j].key);
      // j's home lies cyclically in (i, j]: it may stay.
      const bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
      if (stays) continue;
      new (cells_[i].storage) Value(std::move(*cells_[j].value()));
      cells_[i].key = cells_[j].key;
      cells_[i].used = true;
      cells_[j].value()->~Value();
      cells_[j].used = false;
      i = j;
    }
    return true;
  }

  // Empties the map and keeps its capacity.
  void clear() noexcept {
    destroy_all();
    size_ = 0;
  }

  template <class F>
  void for_each(F&& f) const {
    for (std::size_t i = 0; i < capacity(); ++i)
      if (cells_[i].used) f(cells_[i].key, *cells_[i].value());
  }

 private:
  struct Cell {
    alignas(Value) unsigned char storage[sizeof(Value)];
    Key key;
    bool used;
    Value* value() noexcept { return std::launder(reinterpret_cast<Value*>(storage)); }
  };

  std::size_t capacity() const noexcept { return cells_ ? mask_ + 1 : 0; }

  // Fibonacci hashing: the product's top bits spread sequential ids well.
  std::size_t home(Key key) const noexcept {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(key) * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  std::size_t free_cell(Key key) const noexcept {
    std::size_t i = home(key);
    while (cells_[i].used) i = (i + 1) & mask_;
    return i;
  }

  void grow() {
    const std::size_t old_capacity = capacity();
    const std::size_t new_capacity = old_capacity == 0 ? 8 : old_capacity * 2;
    auto cells = std::make_unique<Cell[]>(new_capacity);  // the only throwing step
    for (std::size_t i = 0; i < new_capacity; ++i) cells[i].used = false;
    std::unique_ptr<Cell[]> old = std::exchange(cells_, std::move(cells));
    mask_ = new_capacity - 1;
    shift_ = 64 - static_cast<unsigned>(std::countr_zero(new_capacity));
    for (std::size_t i = 0; i < old_capacity; ++i) {
      if (!old[i].used) continue;
      Cell& cell = cells_[free_cell(old[i].key)];
      new (cell.storage) Value(std::move(*old[i].value()));
      cell.key = old[i].key;
      cell.used = true;
      old[i].value()->~Value();
    }
  }

  void destroy_all() noexcept {
    for (std::size_t i = 0; i < capacity(); ++i) {
      if (!cells_[i].used) continue;
      if constexpr (!std::is_trivially_destructible_v<Value>) cells_[i].value()->~Value();
      cells_[i].used = false;
    }
  }

  std::unique_ptr<Cell[]> cells_;
  std::size_t mask_ = 0;
  unsigned shift_ = 64;
  std::size_t size_ = 0;
};

}  // namespace vantrel
