#include "vantrel/marketdata/registration_error.hpp"

namespace vantrel {

std::string instrument_already_registered_message(const Instrument& instrument) {
  return "instrument " + instrument_debug_text(instrument) + " is already registered";
}

std::string InstrumentRegistrationError::message() const {
  if (const auto* e = std::get_if<InstrumentAlreadyRegistered>(&form))
    return instrument_already_registered_message(e->instrument);
  return "instrument id " + std::to_string(std::get<InstrumentIdAlreadyRegistered>(form).id.value) +
         " is already registered";
}

}  // namespace vantrel
