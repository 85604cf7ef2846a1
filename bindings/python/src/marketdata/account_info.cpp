#include "toolkit/names.hpp"
#include "marketdata/account_info.hpp"

#include "class_table.hpp"
#include "toolkit/pending.hpp"

namespace vantrel::py {
namespace {

// "{qualname}: {str(value)}" of a fetched error; the text the TypeError embeds.
std::string describe(PyErrState& error) {
  PyObject *type = error.type.release(), *value = error.value.release(), *traceback = error.traceback.release();
  PyErr_NormalizeException(&type, &value, &traceback);
  error = PyErrState{Ref::steal(type), Ref::steal(value), Ref::steal(traceback)};
  std::string text;
  if (!error.value || !str_of(error.value.get(), text)) {
    PyErr_Clear();
    text = "<exception str() failed>";
  }
  return cat(type_qualname(error.value ? error.value.get() : Py_None), ": ", text);
}

// The refusal is worded and parked after the handler: both may run Python,
// and a thread ended there must not be caught while another exception is
// being handled.
std::optional<AccountGroupId> read_group(PyObject* value) {
  if (value == Py_None) return std::nullopt;
  try {
    if (!is_instance(value, ClassId::AccountGroupId)) throw_cannot_convert(value, "AccountGroupId");
    Shared<AccountGroupId> group(value);
    return *group;
  } catch (const ErrorAlreadySet&) {
  }
  PyErrState error = PyErrState::fetch();
  std::string message = cat("account_info.account_group must be AccountGroupId or None, got: ", describe(error));
  PyErr_SetString(PyExc_TypeError, message.c_str());
  park_pending_error(PyErrState::fetch());
  return std::nullopt;
}

}  // namespace

std::optional<AccountGroupId> read_account_info_group(PyObject* account_info) {
  Ref value = Ref::steal(
      noting_thread_exit([&] { return PyObject_GetAttr(account_info, interned(Name::account_group)); }));
  if (!value) {
    park_pending_error(PyErrState::fetch());
    return std::nullopt;
  }
  return read_group(value.get());
}

}  // namespace vantrel::py
