#pragma once
// A growable list that keeps its first N elements inside the object, so the
// common short lists of the order path (one mutation per policy, one or two
// outcome entries) are built without touching the heap.
// Not thread-safe: a plain value.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace vantrel {

template <class T, std::size_t N>
class InlineList {
  static_assert(N > 0, "an inline list keeps room for at least one element");
  static_assert(std::is_nothrow_move_constructible_v<T>, "elements move without throwing");

 public:
  using value_type = T;
  using iterator = T*;
  using const_iterator = const T*;

  InlineList() noexcept = default;
  InlineList(std::initializer_list<T> items) requires std::is_copy_constructible_v<T> {
    reserve(items.size());
    for (const T& item : items) push_back(item);
  }
  InlineList(const InlineList& other) requires std::is_copy_constructible_v<T> {
    reserve(other.size_);
    for (const T& item : other) push_back(item);
  }
  InlineList(InlineList&& other) noexcept { take_from(other); }
  InlineList& operator=(const InlineList& other) requires std::is_copy_constructible_v<T> {
    if (this != &other) {
      InlineList copy(other);
      *this = std::move(copy);
    }
    return *this;
  }
  InlineList& operator=(InlineList&& other) noexcept {
    if (this != &other) {
      clear();
      release_heap();
      take_from(other);
    }
    return *this;
  }
  ~InlineList() {
    clear();
    release_heap();
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  std::size_t capacity() const noexcept { return capacity_; }
  // True while the elements live inside the object.
  bool is_inline() const noexcept { return data_ == inline_data(); }

  T* begin() noexcept { return data_; }
  T* end() noexcept { return data_ + size_; }
  const T* begin() const noexcept { return data_; }
  const T* end() const noexcept { return data_ + size_; }
  T& operator[](std::size_t i) noexcept { return data_[i]; }
  const T& operator[](std::size_t i) const noexcept { return data_[i]; }
  T& front() noexcept { return data_[0]; }
  T& back() noexcept { return data_[size_ - 1]; }
  const T& back() const noexcept { return data_[size_ - 1]; }

  void reserve(std::size_t wanted) {
    if (wanted <= capacity_) return;
    T* fresh = static_cast<T*>(::operator new(wanted * sizeof(T), std::align_val_t{alignof(T)}));
    for (std::size_t i = 0; i < size_; ++i) {
      ::new (fresh + i) T(std::move(data_[i]));
      data_[i].~T();
    }
    release_heap();
    data_ = fresh;
    capacity_ = wanted;
  }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == capacity_) {
      // Build first: the arguments may refer to an element that the growth moves.
      T value(std::forward<Args>(args)...);
      reserve(capacity_ * 2);
      T* slot = ::new (data_ + size_) T(std::move(value));
      ++size_;
      return *slot;
    }
    T* slot = ::new (data_ + size_) T(std::forward<Args>(args)...);
    ++size_;
    return *slot;
  }
  void push_back(const T& value) { emplace_back(value); }
  void push_back(T&& value) { emplace_back(std::move(value)); }

  void pop_back() noexcept {
    --size_;
    data_[size_].~T();
  }
  void clear() noexcept {
    while (size_ > 0) pop_back();
  }

  friend bool operator==(const InlineList& a, const InlineList& b)
    requires requires(const T& x) { x == x; }
  {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  T* inline_data() noexcept { return std::launder(reinterpret_cast<T*>(storage_)); }
  const T* inline_data() const noexcept { return std::launder(reinterpret_cast<const T*>(storage_)); }

  void release_heap() noexcept {
    if (data_ != inline_data()) {
      ::operator delete(data_, std::align_val_t{alignof(T)});
      data_ = inline_data();
      capacity_ = N;
    }
  }

  // Precondition: this list is empty and inline.
  void take_from(InlineList& other) noexcept {
    if (other.is_inline()) {
      for (std::size_t i = 0; i < other.size_; ++i) {
        ::new (data_ + i) T(std::move(other.data_[i]));
        other.data_[i].~T();
      }
      size_ = other.size_;
    } else {
      data_ = other.data_;
      capacity_ = other.capacity_;
      size_ = other.size_;
      other.data_ = other.inline_data();
      other.capacity_ = N;
    }
    other.size_ = 0;
  }

  alignas(T) unsigned char storage_[N * sizeof(T)];
  T* data_ = inline_data();
  std::size_t size_ = 0;
  std::size_t capacity_ = N;
};

}  // namespace vantrel
