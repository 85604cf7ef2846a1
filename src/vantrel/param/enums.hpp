#pragma once
// The side and position enumerations, one byte each, first member 0.
#include <cstdint>

namespace vantrel {

enum class Side : std::uint8_t { Buy, Sell };
enum class PositionSide : std::uint8_t { Long, Short };
enum class PositionMode : std::uint8_t { Netting, Hedged };
enum class PositionEffect : std::uint8_t { Open, Close };

}  // namespace vantrel
