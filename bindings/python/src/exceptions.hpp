#pragma once
#include <string_view>

#include "toolkit/python.hpp"

namespace vantrel::py {

// The module's own exception types, in the order the module body adds them.
enum class ExceptionId {
  RejectError,
  ParamError,
  MarketDataError,
  UnknownInstrument,
  QuoteUnavailable,
  AlreadyRegistered,
  RegistrationError,
  UnknownInstrumentId,
  AccountGroupRegistrationError,
};
inline constexpr int kExceptionCount = static_cast<int>(ExceptionId::AccountGroupRegistrationError) + 1;

std::string_view exception_name(ExceptionId id) noexcept;
// The type object, created on first request; throws ErrorAlreadySet with
// "Failed to initialize new exception type." if the interpreter refuses.
PyObject* exception_type(ExceptionId id);

[[noreturn]] void throw_param_error(std::string_view message);

}  // namespace vantrel::py
