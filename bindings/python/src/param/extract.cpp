// Python arguments into decimal values of a kind, and values back into Python
// objects: the decimal classes' constructors and every record field of a
// decimal kind go through here.
#include "param/extract.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <thread>

#include "exceptions.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

PyObject* interned(const char* text) {
  PyObject* name = PyUnicode_InternFromString(text);
  if (name == nullptr) throw_pending();
  return name;
}

PyObject* module_attr() {
  static PyObject* name = interned("__module__");
  return name;
}

PyObject* name_attr() {
  static PyObject* name = interned("__name__");
  return name;
}

// A Python int as a decimal when it fits a signed, else an unsigned, 64-bit
// integer; nullopt (nothing pending) otherwise.
std::optional<Decimal> int64_value(PyObject* integer) {
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(integer, &overflow);
  if (overflow == 0) {
    if (value == -1 && PyErr_Occurred() != nullptr) {
      discard_conversion_error();
      return std::nullopt;
    }
    return Decimal::from_i64(value);
  }
  if (overflow < 0) return std::nullopt;
  const unsigned long long unsigned_value = PyLong_AsUnsignedLongLong(integer);
  if (unsigned_value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) {
    discard_conversion_error();
    return std::nullopt;
  }
  return Decimal::from_u64(unsigned_value);
}

// A double goes through its shortest text, so the kind's text rule (and its
// error, quoting that text) applies exactly as to a str argument.
Decimal float_value(const DecimalClassRow& row, double value) {
  char text[kFloatTextMax];
  const std::size_t length = write_float_text(value, text);
  return parse_kind_text(row, std::string_view(text, length));
}

bool carries_kind(ParamErrorKind::Variant variant) noexcept {
  using V = ParamErrorKind::Variant;
  return variant == V::NegativeValue || variant == V::DivisionByZero || variant == V::Overflow ||
         variant == V::Underflow || variant == V::InvalidFormat;
}

}  // namespace

PyObject* python_decimal_type() {
  // Filled under the interpreter lock, not by a guarded static: the import may
  // let another thread in, which would then wait on the guard holding the lock.
  static Ref type;
  if (type) [[likely]]
    return type.get();
  Ref module = Ref::steal(PyImport_ImportModule("decimal"));
  if (!module) throw_pending();
  Ref decimal = Ref::steal(PyObject_GetAttrString(module.get(), "Decimal"));
  if (!decimal) throw_pending();
  if (!type) type = std::move(decimal);  // a thread that got here first keeps its object
  return type.get();
}

ForeignType inspect_type(PyObject* obj) {
  PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
  Ref module = Ref::steal(PyObject_GetAttr(type, module_attr()));
  if (!module) throw_pending();
  const std::string_view module_name = utf8_of(module.get());
  const bool ours = module_name == kDecimalModule;
  const bool numpy = module_name == "numpy";
  ForeignType out;
  if (!ours && !numpy) return out;
  Ref name = Ref::steal(PyObject_GetAttr(type, name_attr()));
  if (!name) throw_pending();
  const std::string_view type_name = utf8_of(name.get());
  if (numpy) {
    out.numpy_bool = type_name == "bool_" || type_name == "bool";
    return out;
  }
  for (const DecimalClassRow& row : kDecimalClasses) {
    if (row.name == type_name) {
      out.decimal_class = true;
      out.name = row.name;
    }
  }
  return out;
}

bool is_bool_like(PyObject* obj, const ForeignType& type) noexcept {
  return PyBool_Check(obj) || type.numpy_bool;
}


void throw_param_error_kind(const ParamErrorKind& error) {
  using V = ParamErrorKind::Variant;
  const V variant = error.variant();
  const bool plain_value_error = variant == V::InvalidLeverage || variant == V::EmptyAsset ||
                                 variant == V::EmptyAccountId ||
                                 (carries_kind(variant) && error.kind() == ValueKind::Leverage);
  if (plain_value_error) throw_error(PyExc_ValueError, error.message());
  throw_param_error(error.message());
}

Decimal parse_kind_text(const DecimalClassRow& row, std::string_view text) {
  return value_or_raise(decimal_from_text(row.kind, text));
}

void throw_kind_refusal(PyObject* type, const DecimalClassRow& row) {
  throw_error(type, cat(row.name, " must be a Decimal, str, int, or float"));
}

Decimal extract_decimal(PyObject* obj, const DecimalClassRow& row) {
  // The builtins first: none of them is a Decimal, a decimal class or a bool,
  // so the earlier rules cannot apply to them.
  if (PyUnicode_CheckExact(obj)) return parse_kind_text(row, utf8_of(obj));
  if (PyLong_CheckExact(obj)) {
    if (std::optional<Decimal> value = int64_value(obj)) return checked_sign(row, *value);
  } else if (PyFloat_CheckExact(obj)) {
    return float_value(row, PyFloat_AsDouble(obj));
  } else {
    if (is_instance(obj, row.class_id)) return object_cast<Decimal>(obj)->value;
    const int is_decimal = PyObject_IsInstance(obj, python_decimal_type());
    if (is_decimal < 0) throw_pending();
    if (is_decimal == 1) {
      Ref text = Ref::steal(PyObject_Str(obj));
      if (!text) throw_pending();
      return parse_kind_text(row, utf8_of(text.get()));
    }
    const ForeignType type = inspect_type(obj);
    if (type.decimal_class && type.name != row.name) throw_kind_refusal(PyExc_TypeError, row);
    if (is_bool_like(obj, type)) throw_kind_refusal(PyExc_ValueError, row);
    if (PyUnicode_Check(obj)) return parse_kind_text(row, utf8_of(obj));
    if (PyLong_Check(obj)) {
      if (std::optional<Decimal> value = int64_value(obj)) return checked_sign(row, *value);
    } else if (PyIndex_Check(obj)) {
      Ref index = Ref::steal(PyNumber_Index(obj));
      if (!index) {
        discard_conversion_error();
      } else if (std::optional<Decimal> value = int64_value(index.get())) {
        return checked_sign(row, *value);
      }
    }
  }
  // Anything the interpreter turns into a double: an int beyond 64 bits, a
  // float subclass, an object with __float__ or __index__.
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred() != nullptr) {
    discard_conversion_error();
    throw_kind_refusal(PyExc_ValueError, row);
  }
  return float_value(row, value);
}

Ref wrap_decimal(Decimal value, const DecimalClassRow& row) {
  // make_instance's layout, built directly: these classes keep the default
  // allocator and free function (PyObject_Malloc / PyObject_Free, no cyclic
  // GC), and skipping the slot lookup and zero fill keeps operators on par
  // with decimal.Decimal. They are not thread-bound: the owner stays empty.
  PyTypeObject* type = class_type(row.class_id);
  void* memory = PyObject_Malloc(sizeof(Object<Decimal>));
  if (memory == nullptr) {
    PyErr_NoMemory();
    throw ErrorAlreadySet{};
  }
  PyObject* obj = PyObject_Init(static_cast<PyObject*>(memory), type);
  Object<Decimal>* self = object_cast<Decimal>(obj);
  new (&self->value) Decimal(value);
  self->borrow_flag = 0;
  new (&self->owner) std::thread::id();
  return Ref::steal(obj);
}

Ref decimal_to_python(Decimal value) {
  char text[Decimal::kMaxTextLength];
  const std::size_t length = value.write_text(text);
  Ref arg = make_str(std::string_view(text, length));
  Ref result = Ref::steal(PyObject_CallFunctionObjArgs(python_decimal_type(), arg.get(), nullptr));
  if (!result) throw_pending();
  return result;
}

Decimal decimal_from_python(PyObject* obj, std::string_view class_name) {
  const int is_decimal = PyObject_IsInstance(obj, python_decimal_type());
  if (is_decimal < 0) throw_pending();
  if (is_decimal == 0) throw_error(PyExc_TypeError, cat(class_name, ".from_decimal expects decimal.Decimal"));
  Ref text = Ref::steal(PyObject_Str(obj));
  if (!text) throw_pending();
  const DecimalParse parsed = Decimal::parse(utf8_of(text.get()));
  if (!parsed.ok()) throw_param_error(parsed.message());
  return parsed.value;
}

}  // namespace vantrel::py
