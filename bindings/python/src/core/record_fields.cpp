// Field conversions and representation pieces shared by the record classes.
#include "core/record_fields.hpp"

#include "param/amounts.hpp"
#include "param/asset.hpp"
#include "param/enums.hpp"
#include "param/extract.hpp"
#include "param/ids.hpp"
#include "param/leverage.hpp"
#include "vantrel/core/debug_text.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kNotSide = "side must be a str or vantrel.Side";
constexpr const char* kNotTradeAmount = "trade_amount must be vantrel.param.TradeAmount";
constexpr const char* kNotLeverage = "leverage must be vantrel.param.Leverage, int, or float";
constexpr const char* kNotAdjustmentAmount = "value must be vantrel.param.AdjustmentAmount";

void release_source(void* object) noexcept { py_decref(static_cast<PyObject*>(object)); }

// A required decimal refuses None with the TypeError of a wrong type.
template <ValueKind K>
Amount<K> required_amount(PyObject* obj) {
  if (obj == Py_None) throw_kind_refusal(PyExc_TypeError, decimal_class(K));
  return extract_amount<K>(obj);
}

}  // namespace

SourceRef make_source(PyObject* obj) {
  Py_IncRef(obj);
  return SourceRef(obj, &release_source);
}

void refuse_delete() { throw_error(PyExc_AttributeError, "can't delete attribute"); }

bool extract_flag(PyObject* obj, std::string_view arg) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  if (!PyBool_Check(obj) && inspect_type(obj).numpy_bool) {
    const int truth = PyObject_IsTrue(obj);
    if (truth < 0) throw_pending();
    return truth == 1;
  }
  throw_arg_cannot_convert(arg, obj, "PyBool");
}

Side extract_side(PyObject* obj) {
  if (!PyUnicode_Check(obj)) throw_error(PyExc_TypeError, kNotSide);
  const std::string_view text = utf8_of(obj);
  try {
    return parse_side(text);
  } catch (const ErrorAlreadySet&) {
    // Rewording reads and releases the error: after the handler.
  }
  // The unknown word is reported as a TypeError that shows the ValueError.
  if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw ErrorAlreadySet{};
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  Ref type_ref = Ref::steal(type), value_ref = Ref::steal(value), tb_ref = Ref::steal(traceback);
  std::string message;
  if (!value_ref || !str_of(value_ref.get(), message)) PyErr_Clear();
  throw_error(PyExc_TypeError, cat("ValueError: ", message));
}

TradeAmount extract_trade_amount(PyObject* obj) {
  if (!is_trade_amount(obj)) throw_error(PyExc_TypeError, kNotTradeAmount);
  return trade_amount_of(obj);
}

Trade extract_trade_arg(PyObject* obj, std::string_view arg) {
  if (!is_trade(obj)) throw_arg_cannot_convert(arg, obj, "Trade");
  return trade_of(obj);
}

// vantrel.param as sys.modules holds it; imported only when it is not there yet.
Ref param_module() {
  static PyObject* name = PyUnicode_InternFromString("vantrel.param");  // kept for the process
  if (name == nullptr) throw_pending();
  Ref module = Ref::steal(PyImport_GetModule(name));
  if (module) return module;
  if (PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
  module = Ref::steal(PyImport_Import(name));
  if (!module) throw_pending();
  return module;
}

Ref enum_member(const char* class_name, const char* value) {
  Ref module = param_module();
  Ref enum_class = Ref::steal(PyObject_GetAttrString(module.get(), class_name));
  if (!enum_class) throw_pending();
  Ref text = make_str(value);
  Ref member = Ref::steal(PyObject_CallFunctionObjArgs(enum_class.get(), text.get(), nullptr));
  if (!member) throw_pending();
  return member;
}

Ref side_to_py(Side side) { return enum_member("Side", side == Side::Buy ? "BUY" : "SELL"); }
Ref position_side_to_py(PositionSide side) {
  return enum_member("PositionSide", side == PositionSide::Long ? "LONG" : "SHORT");
}
Ref position_mode_to_py(PositionMode mode) {
  return enum_member("PositionMode", mode == PositionMode::Netting ? "netting" : "hedged");
}
Ref position_effect_member(PositionEffect effect) {
  return enum_member("PositionEffect", effect == PositionEffect::Open ? "OPEN" : "CLOSE");
}

Pnl PnlField::from_py(PyObject* obj, std::string_view) { return required_amount<ValueKind::Pnl>(obj); }
Fee FeeField::from_py(PyObject* obj, std::string_view) { return required_amount<ValueKind::Fee>(obj); }
Ref AccountIdField::to_py(AccountId id) { return wrap_account_id(id); }
PositionSide PositionSideField::from_py(PyObject* obj, std::string_view) { return parse_position_side(obj); }
PositionEffect PositionEffectField::from_py(PyObject* obj, std::string_view) { return parse_position_effect(obj); }
PositionMode PositionModeField::from_py(PyObject* obj, std::string_view) { return parse_position_mode(obj); }
Ref TradeAmountField::to_py(TradeAmount amount) { return wrap_trade_amount(amount); }

AdjustmentAmount AdjustmentAmountField::from_py(PyObject* obj, std::string_view) {
  if (!is_adjustment_amount(obj)) throw_error(PyExc_TypeError, kNotAdjustmentAmount);
  return adjustment_amount_of(obj);
}
Ref AdjustmentAmountField::to_py(AdjustmentAmount amount) { return wrap_adjustment_amount(amount); }

// A record's leverage refuses a wrong type with TypeError (the value class itself
// raises ValueError there); a multiplier off the grid keeps its ValueError.
Leverage LeverageField::from_py(PyObject* obj, std::string_view) {
  try {
    return Leverage{extract_leverage(obj)};
  } catch (const ErrorAlreadySet&) {
    // Reading the error's text runs str(): after the handler.
  }
  if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw ErrorAlreadySet{};
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  Ref type_ref = Ref::steal(type), value_ref = Ref::steal(value), tb_ref = Ref::steal(traceback);
  std::string message;
  const bool readable = value_ref && str_of(value_ref.get(), message);
  if (readable && message == kNotLeverage) throw_error(PyExc_TypeError, message);
  PyErr_Restore(type_ref.release(), value_ref.release(), tb_ref.release());
  throw ErrorAlreadySet{};
}
Ref LeverageField::to_py(Leverage leverage) { return wrap_leverage(leverage); }
Ref TradeField::to_py(Trade trade) { return wrap_trade(trade); }

// ---- representations ----

void append_quoted(std::string& out, std::string_view text) { append_debug_quoted(out, text); }

void append_some_quoted(std::string& out, std::string_view text) {
  out += "Some(";
  append_debug_quoted(out, text);
  out += ')';
}

void append_decimal(std::string& out, Decimal value) {
  char text[Decimal::kMaxTextLength];
  out.append(text, value.write_text(text));
}

void append_quoted_decimal(std::string& out, Decimal value) {
  char text[Decimal::kMaxTextLength];
  append_debug_quoted(out, std::string_view(text, value.write_text(text)));
}

void append_flag(std::string& out, bool flag) { out += flag ? "true" : "false"; }

void append_optional_asset(std::string& out, const std::optional<Asset>& asset) {
  append_optional(out, asset, [](std::string& o, const Asset& a) { append_debug_quoted(o, a.name()); });
}

void append_optional_leverage(std::string& out, const std::optional<Leverage>& leverage) {
  append_optional(out, leverage, [](std::string& o, Leverage l) {
    char text[kLeverageTextMax];
    o.append(text, write_leverage_text(l, text));
  });
}

void append_optional_flag(std::string& out, const std::optional<bool>& flag) {
  append_optional(out, flag, [](std::string& o, bool f) { append_flag(o, f); });
}

void append_optional_side(std::string& out, const std::optional<Side>& side) {
  append_optional(out, side, [](std::string& o, Side s) { o += s == Side::Buy ? "Side.BUY" : "Side.SELL"; });
}

void append_optional_position_side(std::string& out, const std::optional<PositionSide>& side) {
  append_optional(out, side, [](std::string& o, PositionSide s) {
    o += s == PositionSide::Long ? "PositionSide.LONG" : "PositionSide.SHORT";
  });
}

void append_optional_position_effect(std::string& out, const std::optional<PositionEffect>& effect) {
  append_optional(out, effect, [](std::string& o, PositionEffect e) {
    o += e == PositionEffect::Open ? "PositionEffect.OPEN" : "PositionEffect.CLOSE";
  });
}

void append_optional_position_mode(std::string& out, const std::optional<PositionMode>& mode) {
  append_optional(out, mode, [](std::string& o, PositionMode m) {
    o += m == PositionMode::Netting ? "PositionMode.NETTING" : "PositionMode.HEDGED";
  });
}

}  // namespace vantrel::py
