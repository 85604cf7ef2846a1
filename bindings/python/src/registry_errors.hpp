#pragma once
// The exceptions that the account-group registry and the market-data service raise
// about identifiers. Each returns the exception object; the caller raises it
// (raise_exception) once it holds the interpreter lock again.
#include "toolkit/ref.hpp"
#include "vantrel/core/instrument.hpp"
#include "vantrel/marketdata/registration_error.hpp"
#include "vantrel/param/ids.hpp"
#include "vantrel/pretrade/account_group_error.hpp"

namespace vantrel::py {

// AccountGroupRegistrationError with the form's message.
Ref format_account_group_error(const AccountGroupError& error);
// AlreadyRegistered "instrument {} is already registered".
Ref format_register_error(const Instrument& instrument);
// RegistrationError "instrument {} is already registered" / "instrument id {} is already registered".
Ref format_register_with_id_error(const InstrumentRegistrationError& error);
// UnknownInstrumentId "unknown instrument id: {}".
Ref format_unknown_instrument_id(InstrumentId id);

// Raises an exception object made by one of the above.
[[noreturn]] void raise_exception(const Ref& exception);

}  // namespace vantrel::py
