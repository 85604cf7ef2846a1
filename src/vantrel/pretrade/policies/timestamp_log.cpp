#include "vantrel/pretrade/policies/timestamp_log.hpp"

#include <limits>
#include <new>

namespace vantrel {

std::size_t TimestampLog::record(std::uint64_t now_ns, std::uint64_t window_ns) {
  // Entries are in time order, so the first live one ends the pruning.
  std::uint64_t* ring = data();
  while (size_ != 0) {
    const std::uint64_t oldest = ring[head_];
    if (oldest > now_ns || now_ns - oldest < window_ns) break;
    head_ = (head_ + 1) & (capacity_ - 1);
    --size_;
  }
  if (size_ == capacity_) {
    grow();
    ring = data();
  }
  const std::uint32_t mask = capacity_ - 1;
  // Walk back over the (few) entries later than now; equal instants keep arrival order.
  std::uint32_t i = size_;
  while (i != 0) {
    const std::uint64_t prev = ring[(head_ + i - 1) & mask];
    if (prev <= now_ns) break;
    ring[(head_ + i) & mask] = prev;
    --i;
  }
  ring[(head_ + i) & mask] = now_ns;
  return ++size_;
}

void TimestampLog::grow() {
  if (capacity_ > std::numeric_limits<std::uint32_t>::max() / 2) throw std::bad_alloc();
  const std::uint32_t capacity = capacity_ * 2;
  auto* ring = new std::uint64_t[capacity];
  for (std::uint32_t i = 0; i < size_; ++i) ring[i] = at(i);
  release();
  store_.heap = ring;
  capacity_ = capacity;
  head_ = 0;
}

void TimestampLog::release() noexcept {
  if (on_heap()) delete[] store_.heap;
  capacity_ = kInline;
}

}  // namespace vantrel
