#pragma once
#include <cstdint>
#include <string>

namespace vantrel {

// A duration in the largest unit that fits among "s", "ms", "µs" and "ns",
// with only the fractional digits needed: 1s, 1.5s, 250ms, 1.5ms, 3µs, 500ns, 0ns.
std::string format_duration(std::uint64_t seconds, std::uint32_t nanos);

}  // namespace vantrel
