#pragma once
// A growable array that keeps its first N elements inside the object, so short
// lists cost no allocation: the lock's prices and sections, rejects, outcome
// entries and staged mutation lists. Append, reserve, indexing, iteration,
// copy, move, and a drain that visits the elements in place (mutation lists).
// Thread-safety: a plain value; no shared state.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace vantrel {

template <class T, std::size_t N>
class InlineVector {
  static_assert(N > 0, "inline room of at least one element");
  static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "plain operator new must do");

 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  InlineVector() noexcept = default;
  InlineVector(const InlineVector& other) {
    // A throwing element copy must not strand the elements already built: no destructor
    // runs for a constructor that throws.
    try {
      append_copies(other.begin(), other.size());
    } catch (...) {
      clear_and_free();
      throw;
    }
  }
  InlineVector(InlineVector&& other) noexcept { take(std::move(other)); }
  InlineVector& operator=(const InlineVector& other) {
    if (this != &other) {
      InlineVector copy(other);
      clear_and_free();
      take(std::move(copy));
    }
    return *this;
  }
  InlineVector& operator=(InlineVector&& other) noexcept {
    if (this != &other) {
      clear_and_free();
      take(std::move(other));
    }
    return *this;
  }
  ~InlineVector() { clear_and_free(); }

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  bool empty() const noexcept { return size_ == 0; }
  bool on_heap() const noexcept { return data_ != inline_data(); }

  T* data() noexcept { return data_; }
  const T* data() const noexcept { return data_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  T& back() noexcept { return data_[size_ - 1]; }
  iterator begin() noexcept { return data_; }
  iterator end() noexcept { return data_ + size_; }
  const_iterator begin() const noexcept { return data_; }
  const_iterator end() const noexcept { return data_ + size_; }

  // Room for at least `extra` more elements; throws std::bad_alloc (nothing changed) if
  // the memory cannot be had.
  void reserve_more(std::size_t extra) {
    if (extra > capacity_ - size_) grow_to(required(extra));
  }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == capacity_) {
      // Build first: `args` may refer into this vector.
      T value(std::forward<Args>(args)...);
      grow_to(required(1));
      T* slot = ::new (static_cast<void*>(data_ + size_)) T(std::move(value));
      ++size_;
      return *slot;
    }
    T* slot = ::new (static_cast<void*>(data_ + size_)) T(std::forward<Args>(args)...);
    ++size_;
    return *slot;
  }
  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }

  // Hands every element to `visit` in place, first to last (or last to first
  // when `reversed`), destroying each after its visit; the vector is empty
  // afterwards. The elements are detached before the first visit, so a visit
  // that reaches this vector finds it empty, and what it appends goes to fresh
  // storage and stays. Nothing is moved, unlike taking the elements out.
  template <class Visit>
  void drain(bool reversed, Visit&& visit) noexcept {
    static_assert(std::is_nothrow_invocable_v<Visit&, T&>);
    if (size_ == 0) return;
    T* const items = data_;
    const std::size_t count = size_;
    const bool heap = on_heap();
    // Detached: no room at all, so an append meanwhile allocates and never
    // lands on the elements being visited.
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    for (std::size_t k = 0; k < count; ++k) {
      T& item = items[reversed ? count - 1 - k : k];
      visit(item);
      item.~T();
    }
    if (heap) ::operator delete(items);
    if (data_ == nullptr) {
      data_ = inline_data();
      capacity_ = N;
    }
  }

  // Appends copies of [first, first + count); `first` must not point into this vector.
  void append_copies(const T* first, std::size_t count) {
    reserve_more(count);
    if constexpr (std::is_trivially_copyable_v<T>) {
      if (count != 0) std::uninitialized_copy_n(first, count, data_ + size_);
      size_ += count;
    } else {
      for (std::size_t i = 0; i < count; ++i) {
        ::new (static_cast<void*>(data_ + size_)) T(first[i]);
        ++size_;
      }
    }
  }

 private:
  T* inline_data() noexcept { return std::launder(reinterpret_cast<T*>(inline_)); }
  const T* inline_data() const noexcept { return std::launder(reinterpret_cast<const T*>(inline_)); }

  std::size_t required(std::size_t extra) const {
    if (extra > max_size() - size_) throw std::bad_alloc();
    const std::size_t need = size_ + extra;
    const std::size_t doubled = capacity_ > max_size() / 2 ? max_size() : capacity_ * 2;
    return need > doubled ? need : doubled;
  }
  static constexpr std::size_t max_size() noexcept { return PTRDIFF_MAX / sizeof(T); }

  void grow_to(std::size_t capacity) {
    T* fresh = static_cast<T*>(::operator new(capacity * sizeof(T)));
    for (std::size_t i = 0; i < size_; ++i) {
      ::new (static_cast<void*>(fresh + i)) T(std::move(data_[i]));
      data_[i].~T();
    }
    release_heap();
    data_ = fresh;
    capacity_ = capacity;
  }

  void release_heap() noexcept {
    if (on_heap()) ::operator delete(data_);
  }

  void clear_and_free() noexcept {
    std::destroy_n(data_, size_);
    release_heap();
    data_ = inline_data();
    size_ = 0;
    capacity_ = N;
  }

  // Precondition: this vector is empty and inline.
  void take(InlineVector&& other) noexcept {
    static_assert(std::is_nothrow_move_constructible_v<T>);
    if (other.on_heap()) {
      data_ = std::exchange(other.data_, other.inline_data());
      size_ = std::exchange(other.size_, 0);
      capacity_ = std::exchange(other.capacity_, N);
      return;
    }
    for (std::size_t i = 0; i < other.size_; ++i) {
      ::new (static_cast<void*>(data_ + i)) T(std::move(other.data_[i]));
      other.data_[i].~T();
    }
    size_ = std::exchange(other.size_, 0);
  }

  T* data_ = inline_data();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
  alignas(T) unsigned char inline_[N * sizeof(T)];
};

}  // namespace vantrel
