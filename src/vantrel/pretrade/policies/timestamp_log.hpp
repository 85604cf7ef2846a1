#pragma once
// The sliding log of one account (or account and asset) of the rate limit: order instants in
// nanoseconds, kept in time order in a power-of-two ring. Its first two entries live inside the
// log itself; a log that holds more moves to a heap ring that doubles when full, so a ring is
// never more than twice what its window has held at once.
// Not thread-safe: the rate limit guards each log with its own lock.

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vantrel {

class TimestampLog {
 public:
  TimestampLog() noexcept = default;
  TimestampLog(TimestampLog&& other) noexcept { take(other); }
  TimestampLog& operator=(TimestampLog&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  TimestampLog(const TimestampLog&) = delete;
  TimestampLog& operator=(const TimestampLog&) = delete;
  ~TimestampLog() { release(); }

  // Drops the entries at least one window older than `now_ns`, enters `now_ns` in time order
  // and returns how many entries remain, the new one included. Instants read on other threads
  // (or before a slow policy ran) arrive late; inserting them in order keeps the pruning from
  // stopping at a late entry while older, expired ones behind it still count. Entries later
  // than `now_ns` stay and count.
  std::size_t record(std::uint64_t now_ns, std::uint64_t window_ns);

  std::size_t size() const noexcept { return size_; }
  std::size_t capacity() const noexcept { return capacity_; }
  // The i-th oldest entry; i < size().
  std::uint64_t at(std::size_t i) const noexcept { return data()[(head_ + i) & (capacity_ - 1)]; }

 private:
  static constexpr std::uint32_t kInline = 2;

  bool on_heap() const noexcept { return capacity_ > kInline; }
  std::uint64_t* data() noexcept { return on_heap() ? store_.heap : store_.local; }
  const std::uint64_t* data() const noexcept { return on_heap() ? store_.heap : store_.local; }
  void grow();
  void release() noexcept;
  void take(TimestampLog& other) noexcept {
    store_ = other.store_;
    capacity_ = std::exchange(other.capacity_, kInline);
    head_ = std::exchange(other.head_, 0);
    size_ = std::exchange(other.size_, 0);
  }

  union Store {
    std::uint64_t* heap;
    std::uint64_t local[kInline];
  } store_{};
  std::uint32_t capacity_ = kInline;  // a power of two
  std::uint32_t head_ = 0;
  std::uint32_t size_ = 0;
};

}  // namespace vantrel
