#pragma once
// A hash map keyed by an unsigned integer (an id the host chose), over the
// shared flat table: the value sits in the cell beside its key, placed by the
// process secret. Lookups never allocate; inserts grow the table. Not
// thread-safe: the owner's lock guards it.
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "vantrel/core/flat_table.hpp"
#include "vantrel/core/placement.hpp"

namespace vantrel {

template <class Key, class Value>
class IntMap {
  static_assert(std::is_unsigned_v<Key>);
  static_assert(std::is_nothrow_move_constructible_v<Value>);

  // A free cell holds no value; `used` says whether `storage` does.
  struct Cell {
    Key key = 0;
    bool used = false;
    alignas(Value) unsigned char storage[sizeof(Value)];

    Cell() noexcept = default;
    template <class... Args>
    Cell(Key k, Args&&... args) : key(k), used(true) {
      ::new (static_cast<void*>(storage)) Value(std::forward<Args>(args)...);
    }
    Cell(Cell&& other) noexcept { take(other); }
    Cell& operator=(Cell&& other) noexcept {
      if (this != &other) {
        drop();
        take(other);
      }
      return *this;
    }
    ~Cell() { drop(); }

    Value* value() noexcept { return std::launder(reinterpret_cast<Value*>(storage)); }

   private:
    void take(Cell& other) noexcept {
      key = other.key;
      used = other.used;
      if (used) {
        ::new (static_cast<void*>(storage)) Value(std::move(*other.value()));
        other.drop();
      }
    }
    void drop() noexcept {
      if (used) std::destroy_at(value());
      used = false;
    }
  };
  struct Traits {
    static bool used(const Cell& c) noexcept { return c.used; }
    static std::uint64_t hash(Key k, const PlacementKey& s) noexcept { return placement_hash(k, s); }
    static std::uint64_t hash(const Cell& c, const PlacementKey& s) noexcept { return placement_hash(c.key, s); }
    static bool matches(const Cell& c, Key k) noexcept { return c.key == k; }
  };

 public:
  IntMap() noexcept = default;
  IntMap(const IntMap&) = delete;
  IntMap& operator=(const IntMap&) = delete;

  std::size_t size() const noexcept { return table_.size(); }
  bool empty() const noexcept { return table_.empty(); }
  std::size_t allocated_bytes() const noexcept { return table_.allocated_bytes(); }
  // How many cells a lookup of `key` reads (tests and benchmarks).
  std::size_t cells_read(Key key) const noexcept { return table_.cells_read(key); }

  Value* find(Key key) noexcept {
    Cell* cell = table_.find(key);
    return cell != nullptr ? cell->value() : nullptr;
  }
  const Value* find(Key key) const noexcept { return const_cast<IntMap*>(this)->find(key); }
  bool contains(Key key) const noexcept { return find(key) != nullptr; }

  // The value at `key`, made from `args` when absent. May throw bad_alloc
  // (then nothing changed).
  template <class... Args>
  Value& try_emplace(Key key, Args&&... args) {
    return *table_.find_or_insert(key, [&] { return Cell(key, std::forward<Args>(args)...); }).value();
  }

  // Room for `extra` more keys without growing, so the next `extra` inserts
  // cannot throw. May throw bad_alloc (then nothing changed).
  void reserve_more(std::size_t extra) { table_.reserve_more(extra); }

  // The value at `key` set to `value`, which is used once: moved or copied into
  // a new cell, or assigned to the present value. May throw bad_alloc (then
  // nothing changed) or what the assignment throws.
  template <class V>
  Value& insert_or_assign(Key key, V&& value) {
    if (Value* present = find(key)) {
      *present = std::forward<V>(value);
      return *present;
    }
    return *table_.insert_new(Cell(key, std::forward<V>(value))).value();
  }

  // Removes `key` when present; true when it was.
  bool erase(Key key) noexcept { return table_.erase(key); }

  // Empties the map and keeps its capacity.
  void clear() noexcept { table_.clear(); }

  template <class F>
  void for_each(F&& f) const {
    table_.for_each([&](const Cell& c) { f(c.key, *const_cast<Cell&>(c).value()); });
  }

 private:
  FlatTable<Cell, Traits> table_;
};

}  // namespace vantrel
