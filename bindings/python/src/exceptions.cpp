#include "exceptions.hpp"

#include <iterator>

#include "toolkit/errors.hpp"

namespace vantrel::py {
namespace {

struct ExceptionRow {
  ExceptionId id;
  const char* name;
  const char* qualified_name;
  ExceptionId base;  // meaningful only when has_own_base
  bool has_own_base;
  PyObject* const* builtin_base;
};

constexpr ExceptionRow kExceptions[] = {
    {ExceptionId::RejectError, "RejectError", "vantrel.RejectError", {}, false, &PyExc_Exception},
    {ExceptionId::ParamError, "ParamError", "vantrel.ParamError", {}, false, &PyExc_ValueError},
    {ExceptionId::MarketDataError, "MarketDataError", "vantrel.MarketDataError", {}, false, &PyExc_Exception},
    {ExceptionId::UnknownInstrument, "UnknownInstrument", "vantrel.UnknownInstrument", ExceptionId::MarketDataError,
     true, nullptr},
    {ExceptionId::QuoteUnavailable, "QuoteUnavailable", "vantrel.QuoteUnavailable", ExceptionId::MarketDataError,
     true, nullptr},
    {ExceptionId::AlreadyRegistered, "AlreadyRegistered", "vantrel.AlreadyRegistered", {}, false, &PyExc_Exception},
    {ExceptionId::RegistrationError, "RegistrationError", "vantrel.RegistrationError", {}, false, &PyExc_Exception},
    {ExceptionId::UnknownInstrumentId, "UnknownInstrumentId", "vantrel.UnknownInstrumentId", {}, false,
     &PyExc_Exception},
    {ExceptionId::AccountGroupRegistrationError, "AccountGroupRegistrationError",
     "vantrel.AccountGroupRegistrationError", {}, false, &PyExc_Exception},
};

static_assert(std::size(kExceptions) == kExceptionCount, "one row per ExceptionId");
constexpr bool rows_in_id_order() {
  for (int i = 0; i < kExceptionCount; ++i)
    if (static_cast<int>(kExceptions[i].id) != i) return false;
  return true;
}
static_assert(rows_in_id_order());

PyObject* g_types[kExceptionCount] = {};

}  // namespace

std::string_view exception_name(ExceptionId id) noexcept { return kExceptions[static_cast<int>(id)].name; }

PyObject* exception_type(ExceptionId id) {
  const int index = static_cast<int>(id);
  if (g_types[index] != nullptr) return g_types[index];
  const ExceptionRow& row = kExceptions[index];
  PyObject* base = row.has_own_base ? exception_type(row.base) : *row.builtin_base;
  PyObject* type = PyErr_NewException(row.qualified_name, base, nullptr);
  if (type == nullptr) {
    PyErr_Clear();
    throw_error(PyExc_SystemError, "Failed to initialize new exception type.");
  }
  if (g_types[index] != nullptr) {
    Py_DecRef(type);  // a re-entrant first request won; hand out its type
  } else {
    g_types[index] = type;
  }
  return g_types[index];
}

void throw_param_error(std::string_view message) { throw_error(exception_type(ExceptionId::ParamError), message); }

}  // namespace vantrel::py
