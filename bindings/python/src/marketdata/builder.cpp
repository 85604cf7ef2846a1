// MarketDataBuilder: a default limit and a sync mode; building is repeatable.
// Used under the interpreter lock only.
#include "marketdata/builder.hpp"

#include "class_behaviours.hpp"
#include "class_table.hpp"
#include "marketdata/quote.hpp"
#include "toolkit/args.hpp"
#include "toolkit/classes.hpp"

namespace vantrel::py {

struct MarketDataBuilderState {
  QuoteTtl default_ttl;
  std::uint8_t sync_mode;
};

Ref wrap_market_data_service(std::shared_ptr<MarketDataService> service);  // marketdata/service.cpp

namespace {

PyObject* builder_full_sync(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataBuilder.full_sync()");
  parse(spec, args, nargs, kwnames);
  Exclusive<MarketDataBuilderState> builder(self);
  builder->sync_mode = kMarketDataFullSync;
  return Ref::borrow(self).release();
}

PyObject* builder_no_sync(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataBuilder.no_sync()");
  parse(spec, args, nargs, kwnames);
  Exclusive<MarketDataBuilderState> builder(self);
  builder->sync_mode = kMarketDataNoSync;
  return Ref::borrow(self).release();
}

PyObject* builder_build(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("MarketDataBuilder.build()");
  parse(spec, args, nargs, kwnames);
  Shared<MarketDataBuilderState> builder(self);
  const SyncMode mode = builder->sync_mode == kMarketDataNoSync ? SyncMode::None : SyncMode::Full;
  return wrap_market_data_service(std::make_shared<MarketDataService>(builder->default_ttl, mode)).release();
}

}  // namespace

PyObject* make_market_data_builder(std::uint8_t sync_mode, QuoteTtl default_ttl) {
  const std::uint8_t mode = sync_mode == kMarketDataNoSync ? kMarketDataNoSync : kMarketDataFullSync;
  return make_instance<MarketDataBuilderState>(class_type(ClassId::MarketDataBuilder),
                                               MarketDataBuilderState{default_ttl, mode})
      .release();
}

const ClassBehaviour* market_data_builder_behaviour() {
  static PyMethodDef methods[] = {
      {"full_sync", method_entry<&builder_full_sync>(), kFastcallFlags,
       "full_sync($self)\n--\n\n"
       "Upgrades the builder to use full synchronization.\n\n"
       "If the builder was derived from a `no_sync()` engine (no-sync mode),\n"
       "this switches it to Full so the resulting service is safe for a\n"
       "concurrent quote feed. No-op when the builder is already Full."},
      {"no_sync", method_entry<&builder_no_sync>(), kFastcallFlags,
       "no_sync($self)\n--\n\n"
       "Downgrades the builder to no-sync mode (no-op locks, zero overhead).\n\n"
       "Use only when the market-data service is written from a single thread\n"
       "and never read concurrently. No-op when the builder is already None."},
      {"build", method_entry<&builder_build>(), kFastcallFlags, "build($self)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };
  static const ClassBehaviour behaviour = [] {
    ClassBehaviour b = base_behaviour<MarketDataBuilderState>();
    b.slots.push_back({Py_tp_methods, methods});
    return b;
  }();
  return &behaviour;
}

}  // namespace vantrel::py
