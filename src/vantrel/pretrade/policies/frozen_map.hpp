#pragma once
// A hash map fixed at configuration: open addressing over a power-of-two table of
// {hash, index} slots, entries kept in one array. Lookups cost one hash, a shift and usually one
// probe; nothing is inserted or moved after construction, so any number of threads may read it
// without a lock and pointers to values stay valid for its life. Keys are the host's (account
// ids, asset names): `Hash` must hash the whole key under a key of the process's own, which it
// holds (copied when the map is built, so a lookup reads no key from elsewhere), and give every
// bit of its output from every bit of that key. The slot is then the hash's top bits as they
// are: a second mix would buy nothing, and without the hash's key nobody can aim at a slot.

#include <bit>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>


namespace vantrel {

template <class Key, class Value, class Hash, class Equal>
class FrozenMap {
 public:
  FrozenMap() = default;

  // `entries` must hold distinct keys.
  explicit FrozenMap(std::vector<std::pair<Key, Value>> entries) : entries_(std::move(entries)) {
    if (entries_.empty()) return;
    std::size_t capacity = 4;
    while (capacity < entries_.size() * 2) capacity *= 2;
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    shift_ = 64 - std::countr_zero(capacity);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const std::uint64_t h = hash_(entries_[i].first);
      std::size_t at = slot_of(h);
      while (slots_[at].index != 0) at = (at + 1) & mask_;
      slots_[at] = Slot{h, static_cast<std::uint32_t>(i + 1)};
    }
  }

  bool empty() const noexcept { return entries_.empty(); }
  std::size_t size() const noexcept { return entries_.size(); }

  template <class K>
  const Value* find(const K& key) const noexcept {
    return entries_.empty() ? nullptr : find_hashed(key, hash_(key));
  }

  // For callers that derive several keys' hashes from one pass over the text, or keep a name's
  // hash for the order's other lookups; `h` must equal hasher()(key).
  template <class K>
  const Value* find_hashed(const K& key, std::uint64_t h) const noexcept {
    if (entries_.empty()) return nullptr;
    for (std::size_t at = slot_of(h);; at = (at + 1) & mask_) {
      const Slot& slot = slots_[at];
      if (slot.index == 0) return nullptr;
      if (slot.hash == h && Equal{}(entries_[slot.index - 1].first, key)) return &entries_[slot.index - 1].second;
    }
  }

  // How many slots a lookup of `key` reads: every slot it compares, up to the key's own or
  // the free slot that ends its run (tests: the work a key costs).
  template <class K>
  std::size_t slots_read(const K& key) const noexcept {
    if (entries_.empty()) return 0;
    const std::uint64_t h = hash_(key);
    std::size_t read = 1;
    for (std::size_t at = slot_of(h);; at = (at + 1) & mask_, ++read) {
      const Slot& slot = slots_[at];
      if (slot.index == 0 || (slot.hash == h && Equal{}(entries_[slot.index - 1].first, key))) return read;
    }
  }

  // The slot a lookup of `key` starts at (tests: keys aimed at one slot).
  template <class K>
  std::size_t home_slot(const K& key) const noexcept {
    return entries_.empty() ? 0 : slot_of(hash_(key));
  }
  const Hash& hasher() const noexcept { return hash_; }

  auto begin() const noexcept { return entries_.begin(); }
  auto end() const noexcept { return entries_.end(); }

 private:
  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t index = 0;  // entry index + 1; 0 marks an empty slot
  };
  std::size_t slot_of(std::uint64_t h) const noexcept { return static_cast<std::size_t>(h >> shift_); }

  // What a lookup reads first, together.
  std::vector<Slot> slots_;
  std::size_t mask_ = 0;
  int shift_ = 63;
  Hash hash_;
  std::vector<std::pair<Key, Value>> entries_;
};

// Collects entries for a FrozenMap; a later value for a key replaces the earlier one. Its index
// hashes by `Hash` too, so keys chosen by the host cost what random keys cost here as well.
template <class Key, class Value, class Hash, class Equal>
class FrozenMapBuilder {
 public:
  void put(Key key, Value value) {
    const auto [it, inserted] = index_.try_emplace(key, entries_.size());
    if (inserted)
      entries_.emplace_back(std::move(key), std::move(value));
    else
      entries_[it->second].second = std::move(value);
  }
  FrozenMap<Key, Value, Hash, Equal> freeze() && { return FrozenMap<Key, Value, Hash, Equal>(std::move(entries_)); }
  // The collected entries, for maps whose values are made from them.
  std::vector<std::pair<Key, Value>> entries() && { return std::move(entries_); }

 private:
  std::unordered_map<Key, std::size_t, Hash, Equal> index_;
  std::vector<std::pair<Key, Value>> entries_;
};

}  // namespace vantrel
