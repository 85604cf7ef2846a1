// Asset and instrument conversions. They keep no state.
#include "param/asset.hpp"

#include "toolkit/convert.hpp"
#include "toolkit/errors.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kNotAssetText = "asset must be a str";
constexpr const char* kNotInstrument = "instrument must be vantrel.core.Instrument";

// An attribute, or an empty Ref when the object has none (other errors pass through).
Ref optional_attr(PyObject* obj, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw ErrorAlreadySet{};
    PyErr_Clear();
  }
  return value;
}

}  // namespace

Asset parse_asset(std::string_view text) {
  std::optional<Asset> asset = Asset::from_text(text);
  if (!asset) throw_error(PyExc_ValueError, Asset::kEmptyMessage);
  return std::move(*asset);
}

Asset extract_asset(PyObject* obj) {
  if (!PyUnicode_Check(obj)) throw_error(PyExc_TypeError, kNotAssetText);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) {  // a str the text form cannot hold (a lone surrogate)
    PyErr_Clear();
    throw_error(PyExc_TypeError, kNotAssetText);
  }
  return parse_asset(std::string_view(data, static_cast<std::size_t>(size)));
}

std::optional<std::string> asset_to_optional_string(const std::optional<Asset>& asset) {
  if (!asset) return std::nullopt;
  return asset->name();
}

Instrument extract_instrument(PyObject* obj) {
  if (is_instrument(obj)) return instrument_of(obj);
  {
    // A wrapper that keeps the instrument inside; anything else there is ignored.
    Ref inner = Ref::steal(PyObject_GetAttrString(obj, "_inner"));
    if (inner && is_instrument(inner.get())) return instrument_of(inner.get());
    if (!inner) discard_conversion_error();
  }
  Ref underlying = optional_attr(obj, "underlying_asset");
  if (!underlying) throw_error(PyExc_TypeError, kNotInstrument);
  Ref settlement = optional_attr(obj, "settlement_asset");
  if (!settlement) throw_error(PyExc_TypeError, kNotInstrument);
  Asset underlying_asset = extract_asset(underlying.get());
  return Instrument{std::move(underlying_asset), extract_asset(settlement.get())};
}

}  // namespace vantrel::py
