#pragma once
// Asset names and instruments read from Python arguments.
#include <optional>
#include <string>
#include <string_view>

#include "toolkit/ref.hpp"
#include "vantrel/core/instrument.hpp"
#include "vantrel/param/asset.hpp"

namespace vantrel::py {

// A str (subclasses included), else TypeError "asset must be a str"; then parse_asset.
Asset extract_asset(PyObject* obj);
// Blank after trimming Unicode white space: the built-in ValueError "asset must not be
// empty". The asset keeps the text untrimmed.
Asset parse_asset(std::string_view text);
std::optional<std::string> asset_to_optional_string(const std::optional<Asset>& asset);

// An Instrument; an object whose `_inner` is one; or an object with the attributes
// underlying_asset and settlement_asset holding asset names. A missing attribute
// raises TypeError "instrument must be vantrel.core.Instrument"; a bad name raises
// the errors of extract_asset.
Instrument extract_instrument(PyObject* obj);

// The vantrel.core.Instrument class.
Ref wrap_instrument(Instrument instrument);
bool is_instrument(PyObject* obj);
const Instrument& instrument_of(PyObject* obj);  // precondition: is_instrument(obj)

}  // namespace vantrel::py
