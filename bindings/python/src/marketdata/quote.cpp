// Quote, QuoteTtl and QuoteResolution: immutable values; any thread holding the
// interpreter lock may use them.
#include "marketdata/quote.hpp"

#include <cstdint>
#include <optional>
#include <string>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/values.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "vantrel/core/duration_text.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kQuoteOrder = "Quote supports only == and !=";
constexpr const char* kBadOperator = "invalid comparison operator";
constexpr const char* kNegativeDuration = "duration must not be negative";
constexpr const char* kDurationTooLarge = "duration has more seconds than a 64-bit count holds";

bool known_operator(int op) { return op >= Py_LT && op <= Py_GE; }

// -- Quote

std::optional<Price> optional_price(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  return extract_price(obj);
}

PyObject* quote_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("Quote.__new__()", kw_opt("mark"), kw_opt("bid"), kw_opt("ask"));
  auto [mark, bid, ask] = parse(spec, args, kwargs);
  Quote quote;
  quote.mark = optional_price(mark);
  quote.bid = optional_price(bid);
  quote.ask = optional_price(ask);
  return make_instance<Quote>(type, quote).release();
}

const Quote& quote_of(PyObject* obj) { return object_cast<Quote>(obj)->value; }

template <std::optional<Price> Quote::*Field>
PyObject* price_getter(PyObject* self, void*) {
  const std::optional<Price>& price = quote_of(self).*Field;
  if (!price) Py_RETURN_NONE;
  return wrap_amount(*price).release();
}

void append_optional_price(std::string& out, const std::optional<Price>& price) {
  if (!price) {
    out += "None";
    return;
  }
  out += "Some(Price(";
  out += price->value.to_string();
  out += "))";
}

PyObject* quote_repr(PyObject* self) {
  const Quote& quote = quote_of(self);
  std::string text = "Quote(mark=";
  append_optional_price(text, quote.mark);
  text += ", bid=";
  append_optional_price(text, quote.bid);
  text += ", ask=";
  append_optional_price(text, quote.ask);
  text += ')';
  return make_str(text).release();
}

PyObject* quote_richcompare(PyObject* self, PyObject* other, int op) {
  if (!is_instance(other, ClassId::Quote)) Py_RETURN_NOTIMPLEMENTED;
  if (!known_operator(op)) throw_error(PyExc_ValueError, kBadOperator);
  if (op != Py_EQ && op != Py_NE) throw_error(PyExc_TypeError, kQuoteOrder);
  const bool equal = quote_of(self) == quote_of(other);
  return new_bool(equal == (op == Py_EQ)).release();
}

// -- QuoteTtl

QuoteTtl ttl_of(PyObject* obj) { return object_cast<QuoteTtl>(obj)->value; }

PyObject* ttl_infinite(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("QuoteTtl.infinite()");
  parse(spec, args, nargs, kwnames);
  return wrap_quote_ttl(QuoteTtl::infinite()).release();
}

// One of a duration's integer attributes, as a 64-bit integer (through __index__).
std::int64_t duration_part(PyObject* duration, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(duration, name));
  if (!value) throw ErrorAlreadySet{};
  const long long part = PyLong_AsLongLong(value.get());
  if (part == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
  return part;
}

PyObject* ttl_within(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("QuoteTtl.within()", req("duration"));
  auto [duration] = parse(spec, args, nargs, kwnames);
  // A TypeError on the way gets the argument's name; other errors (a missing
  // attribute, an integer too large for 64 bits) pass unchanged.
  const DurationParts parts = convert_arg("duration", [&, duration = duration] {
    const std::int64_t days = duration_part(duration, "days");
    const std::int64_t seconds = duration_part(duration, "seconds");
    const std::int64_t micros = duration_part(duration, "microseconds");
    return duration_from_parts(days, seconds, micros);
  });
  if (parts.error == DurationError::Negative) throw_error(PyExc_ValueError, kNegativeDuration);
  if (parts.error == DurationError::TooLarge) throw_error(PyExc_OverflowError, kDurationTooLarge);
  return wrap_quote_ttl(QuoteTtl::within(parts.duration)).release();
}

PyObject* ttl_repr(PyObject* self) {
  const QuoteTtl ttl = ttl_of(self);
  if (ttl.is_infinite()) return make_str("QuoteTtl.infinite()").release();
  return make_str(cat("QuoteTtl.within(", format_duration(ttl.limit().seconds, ttl.limit().nanos), ")")).release();
}

// -- QuoteResolution

QuoteResolution resolution_of(PyObject* obj) { return object_cast<QuoteResolution>(obj)->value; }

Ref make_resolution(QuoteResolution value) {
  return make_instance<QuoteResolution>(class_type(ClassId::QuoteResolution), value);
}

PyObject* resolution_int(PyObject* self) {
  return PyLong_FromLong(static_cast<long>(resolution_of(self)));
}

PyObject* resolution_repr(PyObject* self) {
  switch (resolution_of(self)) {
    case QuoteResolution::AccountOnly:
      return make_str("QuoteResolution.ACCOUNT_ONLY").release();
    case QuoteResolution::AccountThenGroup:
      return make_str("QuoteResolution.ACCOUNT_THEN_GROUP").release();
    case QuoteResolution::AccountThenGroupThenDefault:
      break;
  }
  return make_str("QuoteResolution.ACCOUNT_THEN_GROUP_THEN_DEFAULT").release();
}

PyObject* resolution_richcompare(PyObject* self, PyObject* other, int op) {
  if (!known_operator(op)) throw_error(PyExc_ValueError, kBadOperator);
  if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
  const long long mine = static_cast<long long>(resolution_of(self));
  bool equal;
  if (is_instance(other, ClassId::QuoteResolution)) {
    equal = resolution_of(other) == resolution_of(self);
  } else if (PyLong_Check(other)) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(other, &overflow);
    if (value == -1 && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    equal = overflow == 0 && value == mine;
  } else {
    Py_RETURN_NOTIMPLEMENTED;
  }
  return new_bool(equal == (op == Py_EQ)).release();
}

template <QuoteResolution Value>
Ref resolution_attr() {
  return make_resolution(Value);
}

}  // namespace

Ref wrap_quote(const Quote& quote) { return make_instance<Quote>(class_type(ClassId::Quote), quote); }

const Quote& extract_quote(std::string_view arg, PyObject* obj) {
  if (!is_instance(obj, ClassId::Quote)) throw_arg_cannot_convert(arg, obj, "Quote");
  return quote_of(obj);
}

Ref wrap_quote_ttl(QuoteTtl ttl) { return make_instance<QuoteTtl>(class_type(ClassId::QuoteTtl), ttl); }

QuoteTtl extract_quote_ttl(std::string_view arg, PyObject* obj) {
  if (!is_instance(obj, ClassId::QuoteTtl)) throw_arg_cannot_convert(arg, obj, "QuoteTtl");
  return ttl_of(obj);
}

QuoteResolution extract_quote_resolution(std::string_view arg, PyObject* obj) {
  if (!is_instance(obj, ClassId::QuoteResolution)) throw_arg_cannot_convert(arg, obj, "QuoteResolution");
  return resolution_of(obj);
}

const ClassBehaviour* quote_behaviour() {
  static PyGetSetDef getset[] = {
      {"mark", entry<&price_getter<&Quote::mark>>, nullptr, nullptr, nullptr},
      {"bid", entry<&price_getter<&Quote::bid>>, nullptr, nullptr, nullptr},
      {"ask", entry<&price_getter<&Quote::ask>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Quote>();
    b.slots.push_back({Py_tp_new, slot_entry<&quote_new>()});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&quote_repr>()});
    b.slots.push_back({Py_tp_richcompare, slot_entry<&quote_richcompare>()});
    b.slots.push_back({Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* quote_ttl_behaviour() {
  static PyMethodDef methods[] = {
      {"infinite", method_entry<&ttl_infinite>(), kFastcallFlags | METH_STATIC, "infinite()\n--\n\n"},
      {"within", method_entry<&ttl_within>(), kFastcallFlags | METH_STATIC, "within(duration)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<QuoteTtl>();
    b.slots.push_back({Py_tp_methods, methods});
    b.slots.push_back({Py_tp_repr, slot_entry<&ttl_repr>()});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* quote_resolution_behaviour() {
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<QuoteResolution>();
    b.slots.push_back({Py_nb_int, slot_entry<&resolution_int>()});
    b.slots.push_back({Py_tp_repr, slot_entry<&resolution_repr>()});
    b.slots.push_back({Py_tp_richcompare, slot_entry<&resolution_richcompare>()});
    b.slots.push_back({Py_tp_hash, reinterpret_cast<void*>(&PyObject_HashNotImplemented)});
    b.class_attrs.push_back({"ACCOUNT_ONLY", &resolution_attr<QuoteResolution::AccountOnly>});
    b.class_attrs.push_back({"ACCOUNT_THEN_GROUP", &resolution_attr<QuoteResolution::AccountThenGroup>});
    b.class_attrs.push_back(
        {"ACCOUNT_THEN_GROUP_THEN_DEFAULT", &resolution_attr<QuoteResolution::AccountThenGroupThenDefault>});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
