#pragma once
// The market-data service's refusals of a registration under a chosen id.
#include <string>
#include <variant>

#include "vantrel/core/instrument.hpp"
#include "vantrel/param/ids.hpp"

namespace vantrel {

struct InstrumentRegistrationError {
  // The instrument is already registered under some id.
  struct InstrumentAlreadyRegistered {
    Instrument instrument;
  };
  // The requested id is already in use.
  struct InstrumentIdAlreadyRegistered {
    InstrumentId id;
  };

  std::variant<InstrumentAlreadyRegistered, InstrumentIdAlreadyRegistered> form;

  std::string message() const;
};

// "instrument {} is already registered", the instrument in its debug form.
std::string instrument_already_registered_message(const Instrument& instrument);

}  // namespace vantrel
