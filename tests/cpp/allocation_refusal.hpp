#pragma once
// Out of memory on demand: while positive, each plain operator new of this
// thread counts it down by one and throws std::bad_alloc, once the first
// `t_allocations_before_refusal` have gone through. The replacement operator
// new that honours it lives in test_core_records.cpp.
namespace vantrel::testing {
extern thread_local int t_refused_allocations;
extern thread_local int t_allocations_before_refusal;
}  // namespace vantrel::testing
