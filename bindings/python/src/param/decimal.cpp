// The decimal value class template: one class per row of kDecimalClasses
// (Price, Quantity, Volume, Notional, Pnl, Fee, CashFlow, PositionSize), each
// an immutable Decimal with the family's common surface plus its own members.
// Not locked: values never change after creation and are used under the
// interpreter lock; no borrow is ever taken on them, so their flag stays 0.
#include <string>
#include <vector>

#include "class_behaviours.hpp"
#include "param/decimal_ops.hpp"
#include "toolkit/args.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

Decimal value_of(PyObject* obj) noexcept { return object_cast<Decimal>(obj)->value; }

Ref canonical_text(Decimal value) {
  char text[Decimal::kMaxTextLength];
  return make_str(std::string_view(text, value.write_text(text)));
}

// ---- slots shared by every kind (the value layout is the same) -------------

PyObject* decimal_str(PyObject* self) { return canonical_text(value_of(self)).release(); }

Py_hash_t decimal_hash(PyObject* self) { return static_cast<Py_hash_t>(value_of(self).hash()); }

int decimal_bool(PyObject* self) { return value_of(self).is_zero() ? 0 : 1; }

PyObject* decimal_float(PyObject* self) {
  PyObject* result = PyFloat_FromDouble(value_of(self).to_double());
  if (result == nullptr) throw_pending();
  return result;
}

PyObject* decimal_getter(PyObject* self, void*) { return decimal_to_python(value_of(self)).release(); }

PyObject* to_json_value(PyObject* self, PyObject*) { return canonical_text(value_of(self)).release(); }

PyGetSetDef kGetSet[] = {
    {"decimal", entry<&decimal_getter>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- the template ------------------------------------------------------------

template <ValueKind K>
constexpr const DecimalClassRow& row() noexcept {
  return decimal_class(K);
}

// "Price.from_int()": how argument errors name the callable.
template <ValueKind K, const char* Member>
const std::string& call_name() {
  static const std::string name = cat(row<K>().name, ".", Member, "()");
  return name;
}

inline constexpr char kNew[] = "__new__";
inline constexpr char kFromDecimal[] = "from_decimal";
inline constexpr char kFromString[] = "from_string";
inline constexpr char kFromInt[] = "from_int";
inline constexpr char kFromFloat[] = "from_float";
inline constexpr char kFromStringRounded[] = "from_string_rounded";
inline constexpr char kFromFloatRounded[] = "from_float_rounded";
inline constexpr char kFromDecimalRounded[] = "from_decimal_rounded";

// The class cannot be subclassed, so the type asked for is always K's own.
template <ValueKind K>
PyObject* decimal_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  PyObject* value = nullptr;
  if (kwargs == nullptr && PyTuple_Size(args) == 1) {
    value = PyTuple_GetItem(args, 0);
  } else {
    const auto spec = params(call_name<K, kNew>(), req("value"));
    value = parse(spec, args, kwargs)[0];
  }
  const Decimal decimal = extract_decimal(value, row<K>());
  return wrap_decimal(decimal, row<K>()).release();
}

template <ValueKind K>
PyObject* decimal_repr(PyObject* self) {
  // "Price(Decimal('1.50'))"
  constexpr std::string_view open = "(Decimal('", close = "'))";
  const std::string_view name = row<K>().name;
  char text[32 + open.size() + Decimal::kMaxTextLength + close.size()];
  std::size_t n = name.copy(text, name.size());
  n += open.copy(text + n, open.size());
  n += value_of(self).write_text(text + n);
  n += close.copy(text + n, close.size());
  return make_str(std::string_view(text, n)).release();
}

template <ValueKind K>
PyObject* decimal_richcompare(PyObject* left, PyObject* right, int op) {
  if (!is_exact(left, row<K>().class_id) || !is_exact(right, row<K>().class_id)) Py_RETURN_NOTIMPLEMENTED;
  const int c = Decimal::compare(value_of(left), value_of(right));
  bool result;
  switch (op) {
    case Py_LT: result = c < 0; break;
    case Py_LE: result = c <= 0; break;
    case Py_EQ: result = c == 0; break;
    case Py_NE: result = c != 0; break;
    case Py_GT: result = c > 0; break;
    case Py_GE: result = c >= 0; break;
    default: Py_RETURN_NOTIMPLEMENTED;
  }
  return new_bool(result).release();
}

// A zero keeps its sign flag and scale: -Price("0.00") is "0.00".
template <ValueKind K>
PyObject* decimal_negative(PyObject* self) {
  const Decimal value = value_of(self);
  return wrap_decimal(value.is_zero() ? value : value.negated(), row<K>()).release();
}

template <ValueKind K, PyObject* (*Op)(const DecimalClassRow&, PyObject*, PyObject*)>
PyObject* binary(PyObject* left, PyObject* right) {
  return Op(row<K>(), left, right);
}

template <ValueKind K, const char* Member, Ref (*Factory)(const DecimalClassRow&, PyObject*)>
PyObject* factory(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const auto spec = params(call_name<K, Member>(), req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  return Factory(row<K>(), value).release();
}

template <ValueKind K, const char* Member,
          Ref (*Factory)(const DecimalClassRow&, PyObject*, PyObject*, PyObject*)>
PyObject* rounded_factory(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const auto spec = params(call_name<K, Member>(), req("value"), req("scale"), req("strategy"));
  auto [value, scale, strategy] = parse(spec, args, nargs, kwnames);
  return Factory(row<K>(), value, scale, strategy).release();
}

template <ValueKind K>
Ref make_zero() {
  return wrap_decimal(Decimal(), row<K>());
}

constexpr int kStatic = kFastcallFlags | METH_STATIC;

template <ValueKind K>
std::vector<PyMethodDef> method_table() {
  std::vector<PyMethodDef> methods = {
      {kFromDecimal, method_entry<&factory<K, kFromDecimal, &decimal_from_decimal>>(), kStatic,
       "from_decimal(value)\n--\n\n"},
      {kFromString, method_entry<&factory<K, kFromString, &decimal_from_string>>(), kStatic,
       "from_string(value)\n--\n\n"},
      {kFromInt, method_entry<&factory<K, kFromInt, &decimal_from_int>>(), kStatic, "from_int(value)\n--\n\n"},
      {kFromFloat, method_entry<&factory<K, kFromFloat, &decimal_from_float>>(), kStatic,
       "from_float(value)\n--\n\n"
       "WARNING:\nfloat values are inherently imprecise.\nUse decimal/string inputs for external monetary data."},
      {kFromStringRounded,
       method_entry<&rounded_factory<K, kFromStringRounded, &decimal_from_string_rounded>>(), kStatic,
       "from_string_rounded(value, scale, strategy)\n--\n\n"},
      {kFromFloatRounded, method_entry<&rounded_factory<K, kFromFloatRounded, &decimal_from_float_rounded>>(),
       kStatic, "from_float_rounded(value, scale, strategy)\n--\n\n"},
      {kFromDecimalRounded,
       method_entry<&rounded_factory<K, kFromDecimalRounded, &decimal_from_decimal_rounded>>(), kStatic,
       "from_decimal_rounded(value, scale, strategy)\n--\n\n"},
      {"to_json_value", method_entry<&to_json_value>(), METH_NOARGS, "to_json_value($self)\n--\n\n"},
  };
  for (const PyMethodDef& own : row<K>().own_methods()) methods.push_back(own);
  methods.push_back({nullptr, nullptr, 0, nullptr});
  return methods;
}

template <ValueKind K>
const ClassBehaviour* decimal_behaviour() {
  static const std::vector<PyMethodDef> methods = method_table<K>();
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<Decimal>();
    b.slots.insert(b.slots.end(), {
        {Py_tp_new, slot_entry<&decimal_new<K>>()},
        {Py_tp_repr, slot_entry<&decimal_repr<K>>()},
        {Py_tp_str, slot_entry<&decimal_str>()},
        {Py_tp_hash, slot_entry<&decimal_hash>()},
        {Py_tp_richcompare, slot_entry<&decimal_richcompare<K>>()},
        {Py_tp_methods, const_cast<PyMethodDef*>(methods.data())},
        {Py_tp_getset, kGetSet},
        {Py_nb_bool, slot_entry<&decimal_bool>()},
        {Py_nb_float, slot_entry<&decimal_float>()},
        {Py_nb_add, slot_entry<&binary<K, &decimal_add>>()},
        {Py_nb_subtract, slot_entry<&binary<K, &decimal_subtract>>()},
        {Py_nb_multiply, slot_entry<&binary<K, &decimal_multiply>>()},
        {Py_nb_true_divide, slot_entry<&binary<K, &decimal_true_divide>>()},
        {Py_nb_remainder, slot_entry<&binary<K, &decimal_remainder>>()},
    });
    if (row<K>().unary_minus) b.slots.push_back({Py_nb_negative, slot_entry<&decimal_negative<K>>()});
    b.class_attrs.push_back({"ZERO", &make_zero<K>});
    return b;
  }();
  return &behaviour;
}

}  // namespace

const ClassBehaviour* quantity_behaviour() { return decimal_behaviour<ValueKind::Quantity>(); }
const ClassBehaviour* volume_behaviour() { return decimal_behaviour<ValueKind::Volume>(); }
const ClassBehaviour* notional_behaviour() { return decimal_behaviour<ValueKind::Notional>(); }
const ClassBehaviour* price_behaviour() { return decimal_behaviour<ValueKind::Price>(); }
const ClassBehaviour* pnl_behaviour() { return decimal_behaviour<ValueKind::Pnl>(); }
const ClassBehaviour* cash_flow_behaviour() { return decimal_behaviour<ValueKind::CashFlow>(); }
const ClassBehaviour* position_size_behaviour() { return decimal_behaviour<ValueKind::PositionSize>(); }
const ClassBehaviour* fee_behaviour() { return decimal_behaviour<ValueKind::Fee>(); }

}  // namespace vantrel::py
