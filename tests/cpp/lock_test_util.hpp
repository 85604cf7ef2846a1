#pragma once
#include <ostream>

#include "vantrel/core/lock.hpp"

namespace vantrel {
// Failure messages show a lock by its text, not its bytes.
inline void PrintTo(const Lock& lock, std::ostream* os) { *os << format_lock(lock); }
}  // namespace vantrel
