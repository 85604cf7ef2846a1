// AccountId, AccountGroupId and InstrumentId. Immutable values: any thread holding
// the interpreter lock may use them.
#include "param/ids.hpp"

#include <cstdint>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

constexpr const char* kAccountIdRange = "account id must be a non-negative integer in range 0..=18446744073709551615";
constexpr const char* kGroupIdRange = "account_group_id must be an integer in range 1..=4294967295";
constexpr const char* kGroupIdArgument = "account_group_id must be an AccountGroupId or integer in range 1..=4294967295";
constexpr const char* kReservedGroup = "account group id must not equal the reserved default group";
constexpr const char* kNotAccountId = "account_id must be vantrel.param.AccountId";
constexpr const char* kInstrumentIdOrder = "InstrumentId supports only == and !=";

constexpr const char* kFnvReference =
    "\n\nSee the FNV hash reference (http://www.isthe.com/chongo/tech/comp/fnv/) for details.";

// The interpreter's unsigned 64-bit conversion: an int (bool included) directly,
// any other object through __index__. False leaves the interpreter's error set.
bool index_as_u64(PyObject* obj, std::uint64_t& out) {
  Ref index;
  if (!PyLong_Check(obj)) {
    index = Ref::steal(PyNumber_Index(obj));
    if (!index) return false;
    obj = index.get();
  }
  out = PyLong_AsUnsignedLongLong(obj);
  return !(out == static_cast<std::uint64_t>(-1) && PyErr_Occurred() != nullptr);
}

// The group-id conversion shared by from_int and extract_account_group_id;
// nullopt for anything that is not an integer in 0..=4294967295 (error cleared).
std::optional<std::uint32_t> group_value(PyObject* obj) {
  std::uint64_t value = 0;
  if (!index_as_u64(obj, value)) {
    discard_conversion_error();
    return std::nullopt;
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

Py_hash_t python_hash(std::uint64_t value) noexcept {
  auto h = static_cast<Py_hash_t>(stable_id_hash(value));
  return h == -1 ? -2 : h;  // -1 is the interpreter's error marker
}

template <class Id>
PyObject* value_getter(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(object_cast<Id>(self)->value.value);
}

// == and != by value against the same class; NotImplemented for everything else.
template <class Id>
PyObject* equality_only(PyObject* self, PyObject* other, int op) {
  if (Py_TYPE(other) != Py_TYPE(self) || (op != Py_EQ && op != Py_NE)) Py_RETURN_NOTIMPLEMENTED;
  const bool equal = object_cast<Id>(self)->value == object_cast<Id>(other)->value;
  return new_bool(equal == (op == Py_EQ)).release();
}

// -- AccountId

PyObject* account_id_from_int(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("AccountId.from_int()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::uint64_t id = 0;
  if (!index_as_u64(value, id)) {
    discard_conversion_error();
    throw_error(PyExc_OverflowError, kAccountIdRange);
  }
  return wrap_account_id(AccountId{id}).release();
}

PyObject* account_id_from_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("AccountId.from_string()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::optional<AccountId> id = account_id_from_text(arg_utf8("value", value));
  if (!id) throw_error(PyExc_ValueError, kEmptyAccountIdMessage);
  return wrap_account_id(*id).release();
}

PyObject* account_id_repr(PyObject* self) {
  return make_str(cat("AccountId(value=", object_cast<AccountId>(self)->value.value, ")")).release();
}

Py_hash_t account_id_hash(PyObject* self) { return python_hash(object_cast<AccountId>(self)->value.value); }

// -- AccountGroupId

PyObject* group_id_from_int(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("AccountGroupId.from_int()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::optional<std::uint32_t> id = group_value(value);
  if (!id) throw_error(PyExc_OverflowError, kGroupIdRange);
  if (*id == AccountGroupId::kDefault) throw_error(PyExc_ValueError, kReservedGroup);
  return wrap_account_group_id(AccountGroupId{*id}).release();
}

PyObject* group_id_from_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("AccountGroupId.from_string()", req("value"));
  auto [value] = parse(spec, args, nargs, kwnames);
  std::optional<AccountGroupId> id = account_group_id_from_text(arg_utf8("value", value));
  if (!id) throw_error(PyExc_ValueError, kEmptyAccountGroupIdMessage);
  return wrap_account_group_id(*id).release();
}

PyObject* group_id_repr(PyObject* self) {
  return make_str(cat("AccountGroupId(value=", object_cast<AccountGroupId>(self)->value.value, ")")).release();
}

Py_hash_t group_id_hash(PyObject* self) { return object_cast<AccountGroupId>(self)->value.value; }

Ref make_default_group() { return wrap_account_group_id(AccountGroupId{AccountGroupId::kDefault}); }

// -- InstrumentId

PyObject* instrument_id_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("InstrumentId.__new__()", req("value"));
  auto [value] = parse(spec, args, kwargs);
  std::uint64_t id = 0;
  convert_arg("value", [&, value = value] {
    if (!index_as_u64(value, id)) throw ErrorAlreadySet{};
  });
  return make_instance<InstrumentId>(type, InstrumentId{id}).release();
}

PyObject* instrument_id_repr(PyObject* self) {
  return make_str(cat("InstrumentId(", object_cast<InstrumentId>(self)->value.value, ")")).release();
}

Py_hash_t instrument_id_hash(PyObject* self) { return python_hash(object_cast<InstrumentId>(self)->value.value); }

PyObject* instrument_id_richcompare(PyObject* self, PyObject* other, int op) {
  if (Py_TYPE(other) != Py_TYPE(self)) Py_RETURN_NOTIMPLEMENTED;
  if (op != Py_EQ && op != Py_NE) throw_error(PyExc_TypeError, kInstrumentIdOrder);
  return equality_only<InstrumentId>(self, other, op);
}

template <class Id>
ClassBehaviour id_behaviour(PyGetSetDef* getset, reprfunc repr, hashfunc hash, richcmpfunc compare) {
  ClassBehaviour b = base_behaviour<Id>();
  b.slots.push_back({Py_tp_getset, getset});
  b.slots.push_back({Py_tp_repr, reinterpret_cast<void*>(repr)});
  b.slots.push_back({Py_tp_hash, reinterpret_cast<void*>(hash)});
  b.slots.push_back({Py_tp_richcompare, reinterpret_cast<void*>(compare)});
  return b;
}

}  // namespace

Ref wrap_account_id(AccountId id) { return make_instance<AccountId>(class_type(ClassId::AccountId), id); }
bool is_account_id(PyObject* obj) { return is_instance(obj, ClassId::AccountId); }
AccountId account_id_of(PyObject* obj) { return object_cast<AccountId>(obj)->value; }

Ref wrap_account_group_id(AccountGroupId id) {
  return make_instance<AccountGroupId>(class_type(ClassId::AccountGroupId), id);
}
bool is_account_group_id(PyObject* obj) { return is_instance(obj, ClassId::AccountGroupId); }
AccountGroupId account_group_id_of(PyObject* obj) { return object_cast<AccountGroupId>(obj)->value; }

Ref wrap_instrument_id(InstrumentId id) {
  return make_instance<InstrumentId>(class_type(ClassId::InstrumentId), id);
}
bool is_instrument_id(PyObject* obj) { return is_instance(obj, ClassId::InstrumentId); }
InstrumentId instrument_id_of(PyObject* obj) { return object_cast<InstrumentId>(obj)->value; }

AccountId account_id_item(PyObject* item) {
  if (!is_account_id(item)) throw_error(PyExc_TypeError, kNotAccountId);
  return account_id_of(item);
}

AccountGroupId extract_account_group_id(PyObject* obj) {
  if (is_account_group_id(obj)) return account_group_id_of(obj);
  std::optional<std::uint32_t> id = group_value(obj);
  if (!id) throw_error(PyExc_ValueError, kGroupIdArgument);
  if (*id == AccountGroupId::kDefault) throw_error(PyExc_ValueError, kReservedGroup);
  return AccountGroupId{*id};
}

const ClassBehaviour* account_id_behaviour() {
  static const std::string from_string_doc =
      cat("from_string(value)\n--\n\n"
          "Constructs an account identifier by hashing a string with FNV-1a 64-bit.\n\n"
          "Collisions are theoretically possible. For n distinct account strings\n"
          "the probability of at least one collision is approximately n^2 / 2^65.\n"
          "If collision risk is unacceptable, use ``from_int`` with a collision-free\n"
          "integer mapping instead.",
          kFnvReference);
  static PyMethodDef methods[] = {
      {"from_int", method_entry<&account_id_from_int>(), kFastcallFlags | METH_STATIC,
       "from_int(value)\n--\n\n"
       "Constructs an account identifier.\n\n"
       "No hashing. No collision risk.\n\n"
       "Raises ``OverflowError`` for negative values."},
      {"from_string", method_entry<&account_id_from_string>(), kFastcallFlags | METH_STATIC, from_string_doc.c_str()},
      {nullptr, nullptr, 0, nullptr},
  };
  static PyGetSetDef getset[] = {
      {"value", entry<&value_getter<AccountId>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = id_behaviour<AccountId>(getset, entry<&account_id_repr>, entry<&account_id_hash>,
                                               entry<&equality_only<AccountId>>);
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* account_group_id_behaviour() {
  static const std::string from_string_doc =
      cat("from_string(value)\n--\n\n"
          "Constructs an account-group identifier by hashing a string with FNV-1a 32-bit.\n\n"
          "Hash collisions are possible. For n distinct group strings the probability of at\n"
          "least one collision is approximately n^2 / (2 * 2^32). If collision risk is\n"
          "unacceptable, use ``from_int`` with a collision-free integer mapping instead.",
          kFnvReference);
  static PyMethodDef methods[] = {
      {"from_int", method_entry<&group_id_from_int>(), kFastcallFlags | METH_STATIC,
       "from_int(value)\n--\n\n"
       "Constructs an account-group identifier from an integer.\n\n"
       "No hashing, no collision risk.\n\n"
       "Raises ``ValueError`` when ``value`` equals the reserved\n"
       "``DEFAULT_ACCOUNT_GROUP`` (``0``); that group cannot be named by a\n"
       "constructor. Raises ``OverflowError`` for values outside\n"
       "``1..=4294967295``."},
      {"from_string", method_entry<&group_id_from_string>(), kFastcallFlags | METH_STATIC, from_string_doc.c_str()},
      {nullptr, nullptr, 0, nullptr},
  };
  static PyGetSetDef getset[] = {
      {"value", entry<&value_getter<AccountGroupId>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = id_behaviour<AccountGroupId>(getset, entry<&group_id_repr>, entry<&group_id_hash>,
                                                    entry<&equality_only<AccountGroupId>>);
    b.slots.push_back({Py_tp_methods, methods});
    b.class_attrs.push_back({"DEFAULT", &make_default_group});
    return b;
  }();
  return &behaviour;
}

const ClassBehaviour* instrument_id_behaviour() {
  static PyGetSetDef getset[] = {
      {"value", entry<&value_getter<InstrumentId>>, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = id_behaviour<InstrumentId>(getset, entry<&instrument_id_repr>, entry<&instrument_id_hash>,
                                                  entry<&instrument_id_richcompare>);
    b.slots.push_back({Py_tp_new, slot_entry<&instrument_id_new>()});
    return b;
  }();
  return &behaviour;
}

AccountId extract_account_id(PyObject* obj) {
  if (!is_account_id(obj)) throw_error(PyExc_TypeError, kNotAccountId);
  return account_id_of(obj);
}

}  // namespace vantrel::py
