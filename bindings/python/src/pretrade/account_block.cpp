// vantrel.pretrade.AccountBlock: an immutable block record; any thread holding
// the interpreter lock may use it. Also the reader of block-like Python objects.
#include <string>

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "param/extract.hpp"
#include "pretrade/reject.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/iterate.hpp"

namespace vantrel::py {
namespace {

constexpr std::string_view kUserDataArg = "user_data";

// The user_data argument: the index protocol, then 0..=2**64-1. A wrong type
// and an out-of-range value both carry the argument's name.
std::uint64_t user_data_arg(PyObject* obj) {
  try {
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) throw_pending();
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) throw ErrorAlreadySet{};
    return value;
  } catch (const ErrorAlreadySet&) {
    // Naming the argument runs user code (str() and the release of the
    // error): after the handler.
  }
  if (!PyErr_ExceptionMatches(PyExc_OverflowError)) rethrow_with_arg_name(kUserDataArg);
  throw_error(PyExc_OverflowError, cat("argument '", kUserDataArg, "': ", take_pending_message()));
}

PyObject* account_block_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr auto spec = params("AccountBlock.__new__()", kw("policy"), kw("code"), kw("reason"),
                                      kw("details"), kw_opt("user_data"));
  auto [policy, code, reason, details, user_data] = parse(spec, args, kwargs);
  AccountBlock block;
  block.policy = arg_utf8("policy", policy);
  const std::string_view code_name = arg_utf8("code", code);
  block.reason = arg_utf8("reason", reason);
  block.details = arg_utf8("details", details);
  block.user_data = user_data != nullptr ? user_data_arg(user_data) : 0;
  // Matched only once every argument has converted: a wrong type wins over a bad name.
  block.code = reject_code_or_raise(code_name);
  return make_instance<AccountBlock>(type, std::move(block)).release();
}

PyObject* account_block_repr(PyObject* self) {
  return make_str(account_block_text(account_block_of(self))).release();
}

// -- reading block-like objects

Ref required_attr(PyObject* obj, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!value) throw_pending();
  return value;
}

// The attribute, or an empty Ref when looking it up raised AttributeError.
Ref optional_attr(PyObject* obj, const char* name) {
  Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_pending();
    PyErr_Clear();
  }
  return value;
}

std::string text_attr(PyObject* obj, const char* name, std::string_view refusal) {
  Ref value = required_attr(obj, name);
  if (!PyUnicode_Check(value.get())) throw_error(PyExc_ValueError, refusal);
  return std::string(utf8_of(value.get()));
}

std::uint64_t user_data_attr(PyObject* obj) {
  Ref value = optional_attr(obj, "user_data");
  if (!value) return 0;
  Ref index = Ref::steal(PyNumber_Index(value.get()));
  if (index) {
    const unsigned long long token = PyLong_AsUnsignedLongLong(index.get());
    if (!(token == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr)) return token;
  }
  discard_conversion_error();
  throw_error(PyExc_ValueError, "account_block.user_data must be an integer token");
}

}  // namespace

Ref wrap_account_block(const AccountBlock& block) {
  return make_instance<AccountBlock>(class_type(ClassId::AccountBlock), block);
}
bool is_account_block(PyObject* obj) { return is_instance(obj, ClassId::AccountBlock); }
const AccountBlock& account_block_of(PyObject* obj) { return object_cast<AccountBlock>(obj)->value; }

AccountBlock extract_account_block(PyObject* obj) {
  if (is_account_block(obj)) return account_block_of(obj);
  AccountBlock block;
  const std::string code = text_attr(obj, "code", "account_block.code must be a string");
  block.policy = text_attr(obj, "policy", "account_block.policy must be a string");
  block.reason = text_attr(obj, "reason", "account_block.reason must be a string");
  block.details = text_attr(obj, "details", "account_block.details must be a string");
  block.user_data = user_data_attr(obj);
  block.code = reject_code_or_raise(code);
  return block;
}

std::vector<AccountBlock> extract_account_blocks(PyObject* iterable) {
  return collect_items(iterable, extract_account_block);
}

const ClassBehaviour* account_block_behaviour() {
  static PyGetSetDef* getset = BlockFieldGetters<AccountBlock>::table();
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<AccountBlock>();
    b.slots.push_back({Py_tp_new, slot_entry<&account_block_new>()});
    b.slots.push_back({Py_tp_getset, getset});
    b.slots.push_back({Py_tp_repr, slot_entry<&account_block_repr>()});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
