#pragma once
// Parsers of the side and position enumerations, and the way back to Python.
#include <optional>
#include <string_view>

#include "toolkit/ref.hpp"
#include "vantrel/param/enums.hpp"

namespace vantrel::py {

// Trimmed, ASCII case-insensitive "buy" / "sell"; anything else raises ValueError
// "invalid side {}; expected 'buy' or 'sell'". Callers that hold a Python object
// check it is a str first (utf8_of) and decide how to report the ValueError.
Side parse_side(std::string_view text);

// Each requires a str (a str-based enum member included), else TypeError with the
// parser's own text; an unknown word is a TypeError "ValueError: invalid ...".
PositionSide parse_position_side(PyObject* obj);
PositionMode parse_position_mode(PyObject* obj);
PositionEffect parse_position_effect(PyObject* obj);

// vantrel.param.PositionEffect("OPEN" / "CLOSE"); an absent effect gives an empty Ref
// (the caller returns None). Errors of the import or the call pass through.
Ref position_effect_to_py(std::optional<PositionEffect> effect);

}  // namespace vantrel::py
