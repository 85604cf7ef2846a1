#pragma once
// What the MarketDataService methods share: the object's layout, argument
// readers, and where the interpreter lock is given up.
#include <memory>
#include <string_view>
#include <utility>

#include "param/ids.hpp"
#include "toolkit/classes.hpp"
#include "toolkit/gil.hpp"
#include "vantrel/marketdata/service.hpp"

namespace vantrel::py {

// A MarketDataService object holds one shared handle; the service itself is
// thread-safe in sync mode 1 and single-threaded in sync mode 0.
using ServiceHandle = std::shared_ptr<MarketDataService>;

inline MarketDataService& service_of(PyObject* self) { return *object_cast<ServiceHandle>(self)->value; }

// An InstrumentId instance, else TypeError "argument '{arg}': ... 'InstrumentId'".
InstrumentId extract_instrument_id(std::string_view arg, PyObject* obj);

// Runs core work on the service. A service with locks gives the interpreter
// lock up only if the work must wait for one of them; one without keeps it,
// since the interpreter lock is then the only thing keeping two Python threads
// out of its unguarded state.
template <class Work>
decltype(auto) run_on_service(const MarketDataService& service, Work&& work) {
  if (!service.is_synced()) return std::forward<Work>(work)();
  AllowThreadsIfBlocked released;
  return std::forward<Work>(work)();
}

}  // namespace vantrel::py
