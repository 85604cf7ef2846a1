#pragma once
// Heap allocations (plain operator new) made by the calling thread so far: the
// test binary replaces operator new to count them.
long thread_allocations() noexcept;
