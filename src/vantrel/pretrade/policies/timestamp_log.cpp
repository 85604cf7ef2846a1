#include "vantrel/pretrade/policies/timestamp_log.hpp"

namespace vantrel {

std::size_t TimestampLog::record(std::uint64_t now_ns, std::uint64_t window_ns) {
  // Entries are in time order, so the first live one ends the pruning.
  while (size_ != 0) {
    const std::uint64_t oldest = ring_[head_];
    if (oldest > now_ns || now_ns - oldest < window_ns) break;
    head_ = (head_ + 1) & (capacity_ - 1);
    --size_;
  }
  if (size_ == capacity_) grow();
  const std::size_t mask = capacity_ - 1;
  // Walk back over the (few) entries later than now; equal instants keep arrival order.
  std::size_t i = size_;
  while (i != 0) {
    const std::uint64_t prev = ring_[(head_ + i - 1) & mask];
    if (prev <= now_ns) break;
    ring_[(head_ + i) & mask] = prev;
    --i;
  }
  ring_[(head_ + i) & mask] = now_ns;
  return ++size_;
}

void TimestampLog::grow() {
  const std::size_t capacity = capacity_ == 0 ? 8 : capacity_ * 2;
  std::unique_ptr<std::uint64_t[]> ring(new std::uint64_t[capacity]);
  for (std::size_t i = 0; i < size_; ++i) ring[i] = at(i);
  ring_ = std::move(ring);
  capacity_ = capacity;
  head_ = 0;
}

}  // namespace vantrel
