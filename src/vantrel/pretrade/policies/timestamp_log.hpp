#pragma once
// The sliding log of one account (or account and asset) of the rate limit: order instants in
// nanoseconds, kept in time order in a power-of-two ring that grows by doubling.
// Not thread-safe: the rate limit guards each log with its own lock.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vantrel {

class TimestampLog {
 public:
  TimestampLog() = default;
  TimestampLog(const TimestampLog&) = delete;
  TimestampLog& operator=(const TimestampLog&) = delete;

  // Drops the entries at least one window older than `now_ns`, enters `now_ns` in time order
  // and returns how many entries remain, the new one included. Instants read on other threads
  // (or before a slow policy ran) arrive late; inserting them in order keeps the pruning from
  // stopping at a late entry while older, expired ones behind it still count. Entries later
  // than `now_ns` stay and count.
  std::size_t record(std::uint64_t now_ns, std::uint64_t window_ns);

  std::size_t size() const noexcept { return size_; }
  // The i-th oldest entry; i < size().
  std::uint64_t at(std::size_t i) const noexcept { return ring_[(head_ + i) & (capacity_ - 1)]; }

 private:
  void grow();

  std::unique_ptr<std::uint64_t[]> ring_;
  std::size_t capacity_ = 0;  // zero or a power of two
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace vantrel
