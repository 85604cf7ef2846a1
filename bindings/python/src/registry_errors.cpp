#include "registry_errors.hpp"

#include <string>

#include "exceptions.hpp"
#include "toolkit/convert.hpp"
#include "toolkit/errors.hpp"

namespace vantrel::py {
namespace {

// An instance of the module's exception `id` with one text argument.
Ref make_exception(ExceptionId id, const std::string& message) {
  Ref text = make_str(message);
  Ref exception = Ref::steal(PyObject_CallFunctionObjArgs(exception_type(id), text.get(), nullptr));
  if (!exception) throw_pending();
  return exception;
}

}  // namespace

Ref format_account_group_error(const AccountGroupError& error) {
  return make_exception(ExceptionId::AccountGroupRegistrationError, error.message());
}

Ref format_register_error(const Instrument& instrument) {
  return make_exception(ExceptionId::AlreadyRegistered, instrument_already_registered_message(instrument));
}

Ref format_register_with_id_error(const InstrumentRegistrationError& error) {
  return make_exception(ExceptionId::RegistrationError, error.message());
}

Ref format_unknown_instrument_id(InstrumentId id) {
  return make_exception(ExceptionId::UnknownInstrumentId, "unknown instrument id: " + std::to_string(id.value));
}

void raise_exception(const Ref& exception) {
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())), exception.get());
  throw ErrorAlreadySet{};
}

}  // namespace vantrel::py
