#pragma once
// What the engine's builders and policies use of the market-data classes.
#include <cstdint>
#include <memory>

#include "toolkit/ref.hpp"
#include "vantrel/core/rw_lock.hpp"
#include "vantrel/marketdata/quote.hpp"
#include "vantrel/marketdata/service.hpp"

namespace vantrel::py {

// The builder's sync mode: 0 builds services without locks, 1 with them.
inline constexpr std::uint8_t kMarketDataNoSync = 0;
inline constexpr std::uint8_t kMarketDataFullSync = 1;

// The mode a market_data(default_ttl) builder starts with for an engine
// builder's locking mode: no_sync gives 0; full_sync and account_sync give 1.
constexpr std::uint8_t market_data_sync_mode(SyncMode engine_mode) noexcept {
  return engine_mode == SyncMode::None ? kMarketDataNoSync : kMarketDataFullSync;
}

// A new MarketDataBuilder (a new reference). Read default_ttl from the
// argument with extract_quote_ttl("default_ttl", obj) (marketdata/quote.hpp).
PyObject* make_market_data_builder(std::uint8_t sync_mode, QuoteTtl default_ttl);

// A MarketDataService argument: the shared service it holds.
bool is_market_data_service(PyObject* obj);
// Precondition: is_market_data_service(obj).
const std::shared_ptr<MarketDataService>& market_data_service_of(PyObject* obj);

}  // namespace vantrel::py
