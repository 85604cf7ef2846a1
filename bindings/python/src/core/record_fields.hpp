#pragma once
// What the record classes of vantrel.core share: the conversions of their fields,
// the getter/setter pair every field property is made of, and the pieces their
// representations are built from. Everything here runs with the interpreter lock held.
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "class_table.hpp"
#include "param/asset.hpp"
#include "param/ids.hpp"
#include "param/values.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "vantrel/core/source_ref.hpp"
#include "vantrel/param/asset.hpp"
#include "vantrel/param/enums.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/param/leverage.hpp"
#include "vantrel/param/tagged.hpp"

namespace vantrel::py {

inline Ref none() { return Ref::borrow(Py_None); }

// A handle on `obj` for a core record (a new reference); dropping the record on
// any thread is safe: without the interpreter lock the release is queued.
SourceRef make_source(PyObject* obj);

// ---- conversions: each raises the field's own error texts ----

// Exactly True or False, or numpy's bool scalar through __bool__; anything else
// raises TypeError "argument '{arg}': '{type}' object cannot be converted to 'PyBool'".
bool extract_flag(PyObject* obj, std::string_view arg);
// A str whose trimmed text is "buy" or "sell" in any case.
Side extract_side(PyObject* obj);
TradeAmount extract_trade_amount(PyObject* obj);
// A Trade (or subclass); else the type-check TypeError naming `arg`.
Trade extract_trade_arg(PyObject* obj, std::string_view arg);

// ---- values back to Python: a new object at every read ----

// vantrel.param.<class_name>(value); errors of the import or the call propagate.
Ref enum_member(const char* class_name, const char* value);
Ref side_to_py(Side side);
Ref position_side_to_py(PositionSide side);
Ref position_mode_to_py(PositionMode mode);
Ref position_effect_member(PositionEffect effect);

// ---- one converter per field type: from_py (not None), to_py ----

struct AssetField {
  static Asset from_py(PyObject* obj, std::string_view) { return extract_asset(obj); }
  static Ref to_py(const Asset& asset) { return make_str(asset.name()); }
};
template <ValueKind K>
struct AmountField {
  static Amount<K> from_py(PyObject* obj, std::string_view) { return extract_amount<K>(obj); }
  static Ref to_py(Amount<K> value) { return wrap_amount<K>(value); }
};
using PriceField = AmountField<ValueKind::Price>;
using QuantityField = AmountField<ValueKind::Quantity>;
using PositionSizeField = AmountField<ValueKind::PositionSize>;
struct PnlField {
  static Pnl from_py(PyObject* obj, std::string_view);
  static Ref to_py(Pnl value) { return wrap_amount<ValueKind::Pnl>(value); }
};
struct FeeField {
  static Fee from_py(PyObject* obj, std::string_view);
  static Ref to_py(Fee value) { return wrap_amount<ValueKind::Fee>(value); }
};
struct AccountIdField {
  static AccountId from_py(PyObject* obj, std::string_view) { return extract_account_id(obj); }
  static Ref to_py(AccountId id);
};
struct SideField {
  static Side from_py(PyObject* obj, std::string_view) { return extract_side(obj); }
  static Ref to_py(Side side) { return side_to_py(side); }
};
struct PositionSideField {
  static PositionSide from_py(PyObject* obj, std::string_view);
  static Ref to_py(PositionSide side) { return position_side_to_py(side); }
};
struct PositionEffectField {
  static PositionEffect from_py(PyObject* obj, std::string_view);
  static Ref to_py(PositionEffect effect) { return position_effect_member(effect); }
};
struct PositionModeField {
  static PositionMode from_py(PyObject* obj, std::string_view);
  static Ref to_py(PositionMode mode) { return position_mode_to_py(mode); }
};
struct TradeAmountField {
  static TradeAmount from_py(PyObject* obj, std::string_view) { return extract_trade_amount(obj); }
  static Ref to_py(TradeAmount amount);
};
struct AdjustmentAmountField {
  static AdjustmentAmount from_py(PyObject* obj, std::string_view);
  static Ref to_py(AdjustmentAmount amount);
};
struct LeverageField {
  static Leverage from_py(PyObject* obj, std::string_view);
  static Ref to_py(Leverage leverage);
};
struct TradeField {
  static Trade from_py(PyObject* obj, std::string_view arg) { return extract_trade_arg(obj, arg); }
  static Ref to_py(Trade trade);
};
struct FlagField {
  static bool from_py(PyObject* obj, std::string_view arg) { return extract_flag(obj, arg); }
  static Ref to_py(bool flag) { return new_bool(flag); }
};

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};

// A field of type T or std::optional<T>: None clears an optional field and goes
// to the converter (which refuses it) for a required one.
template <class Conv, class M>
M field_from_py(PyObject* obj, std::string_view arg) {
  if constexpr (is_optional<M>::value) {
    if (obj == Py_None) return std::nullopt;
    return M(Conv::from_py(obj, arg));
  } else {
    return Conv::from_py(obj, arg);
  }
}

// An argument that was not given keeps the field's default.
template <class Conv, class M>
void convert_arg_into(M& field, PyObject* obj, std::string_view arg) {
  if (obj != nullptr) field = field_from_py<Conv, M>(obj, arg);
}

template <class Conv, class M>
Ref field_to_py(const M& value) {
  if constexpr (is_optional<M>::value) {
    return value ? Conv::to_py(*value) : none();
  } else {
    return Conv::to_py(value);
  }
}

[[noreturn]] void refuse_delete();

template <class P>
struct member_traits;
template <class O, class M>
struct member_traits<M O::*> {
  using Owner = O;
  using Type = M;
};

// The property pair of one plain field of a record whose value type is V; the
// member may be one V inherits. V is named, never deduced from the member, so
// the borrow flag is always found in V's own instance layout. The getter reads
// under a shared borrow; the setter holds an exclusive borrow across the
// conversion too (a conversion may run Python code that reads the record back)
// and stores only once the value converted, so a failed conversion leaves the
// field as it was.
template <class V, auto Member, class Conv>
PyObject* field_get(PyObject* self, void*) {
  static_assert(std::is_base_of_v<typename member_traits<decltype(Member)>::Owner, V>);
  Shared<V> value(self);
  return field_to_py<Conv>((*value).*Member).release();
}

template <class V, auto Member, class Conv>
int field_set(PyObject* self, PyObject* obj, void*) {
  using M = typename member_traits<decltype(Member)>::Type;
  static_assert(std::is_base_of_v<typename member_traits<decltype(Member)>::Owner, V>);
  if (obj == nullptr) refuse_delete();
  Exclusive<V> value(self);
  M converted = field_from_py<Conv, M>(obj, "value");
  std::swap((*value).*Member, converted);
  return 0;
}

template <class V, auto Member, class Conv>
constexpr PyGetSetDef field_property(const char* name) {
  return {name, entry<&field_get<V, Member, Conv>>, entry<&field_set<V, Member, Conv>>, nullptr, nullptr};
}

// The slots every record class has: constructor, field properties, representation.
template <class T>
ClassBehaviour record_behaviour(newfunc constructor, PyGetSetDef* getset, reprfunc repr) {
  ClassBehaviour b = base_behaviour<T>();
  b.slots.push_back({Py_tp_new, reinterpret_cast<void*>(constructor)});
  b.slots.push_back({Py_tp_getset, getset});
  b.slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr)});
  return b;
}

// ---- child records: stored as a fresh object of the base class ----

// A copy of `obj`'s value in a new object of exactly class `id`. Precondition:
// `obj` is an instance of that class (subclasses included).
template <class V>
Ref copy_child(PyObject* obj, ClassId id) {
  V copy = *Shared<V>(obj);
  return make_instance<V>(class_type(id), std::move(copy));
}

// A parent record's part (Order.operation, ExecutionReport.fill, ...), described by
// a Part: Parent and Value (the two value types), kClass, kRefusal (the TypeError
// text for another type), kSlot (the parent's Ref member) and text(value).
template <class Part>
Ref part_from_py(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return Ref();
  if (!is_instance(obj, Part::kClass)) throw_error(PyExc_TypeError, Part::kRefusal);
  return copy_child<typename Part::Value>(obj, Part::kClass);
}

// The stored part itself, so changes through it reach the parent.
template <class Part>
PyObject* part_get(PyObject* self, void*) {
  Shared<typename Part::Parent> parent(self);
  const Ref& part = (*parent).*Part::kSlot;
  return part ? part.new_ref() : none().release();
}

template <class Part>
int part_set(PyObject* self, PyObject* obj, void*) {
  if (obj == nullptr) refuse_delete();
  Ref part = part_from_py<Part>(obj);
  Exclusive<typename Part::Parent> parent(self);
  std::swap((*parent).*Part::kSlot, part);
  return 0;
}

template <class Part>
constexpr PyGetSetDef part_property(const char* name) {
  return {name, entry<&part_get<Part>>, entry<&part_set<Part>>, nullptr, nullptr};
}

void append_some_quoted(std::string& out, std::string_view text);

// The part's own representation in the optional quoted form.
template <class Part>
void append_part(std::string& out, const Ref& part) {
  if (!part) {
    out += "None";
    return;
  }
  append_some_quoted(out, Part::text(*Shared<typename Part::Value>(part.get())));
}

// ---- representations ----

// "text" with the escapes of the quoted form.
void append_quoted(std::string& out, std::string_view text);
// Some("text")
void append_some_quoted(std::string& out, std::string_view text);
void append_decimal(std::string& out, Decimal value);
void append_quoted_decimal(std::string& out, Decimal value);
void append_flag(std::string& out, bool flag);

template <class T, class Render>
void append_optional(std::string& out, const std::optional<T>& value, Render render) {
  if (!value) {
    out += "None";
    return;
  }
  out += "Some(";
  render(out, *value);
  out += ')';
}

void append_optional_asset(std::string& out, const std::optional<Asset>& asset);
// Some("1.50") or None.
template <ValueKind K>
void append_optional_amount(std::string& out, const std::optional<Amount<K>>& amount) {
  append_optional(out, amount, [](std::string& o, Amount<K> a) { append_quoted_decimal(o, a.value); });
}
void append_optional_leverage(std::string& out, const std::optional<Leverage>& leverage);
void append_optional_flag(std::string& out, const std::optional<bool>& flag);
// Enum fields print as Some(Side.BUY), Some(PositionMode.NETTING) ...; the text
// comes from the stored value alone, so a representation never calls into Python.
void append_optional_side(std::string& out, const std::optional<Side>& side);
void append_optional_position_side(std::string& out, const std::optional<PositionSide>& side);
void append_optional_position_effect(std::string& out, const std::optional<PositionEffect>& effect);
void append_optional_position_mode(std::string& out, const std::optional<PositionMode>& mode);

}  // namespace vantrel::py
