#pragma once
// The four fields an order's operation and an execution report's operation both
// hold, defined once: their storage, constructor arguments, properties,
// representation and conversion into the engine's record.
#include <array>
#include <optional>
#include <string>

#include "core/record_fields.hpp"
#include "vantrel/core/instrument.hpp"

namespace vantrel::py {

// The assets are kept apart, as given, so a lone asset reads back until the
// record is converted. A record's value type derives from this.
struct OperationFields {
  std::optional<Asset> underlying_asset;
  std::optional<Asset> settlement_asset;
  std::optional<AccountId> account_id;
  std::optional<Side> side;
};

// The constructor's arguments of the four fields; a null one was not given.
void convert_operation_args(OperationFields& fields, PyObject* underlying_asset, PyObject* settlement_asset,
                            PyObject* account_id, PyObject* side);

// underlying_asset=..., settlement_asset=...
void append_operation_assets(std::string& out, const OperationFields& fields);

// The properties of the four fields followed by `extra`, with the terminator:
// a class's whole property table.
template <class V, class... Extra>
constexpr std::array<PyGetSetDef, 5 + sizeof...(Extra)> operation_getset(Extra... extra) {
  static_assert(std::is_base_of_v<OperationFields, V>);
  return {field_property<V, &V::underlying_asset, AssetField>("underlying_asset"),
          field_property<V, &V::settlement_asset, AssetField>("settlement_asset"),
          field_property<V, &V::account_id, AccountIdField>("account_id"),
          field_property<V, &V::side, SideField>("side"),
          extra...,
          PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr}};
}

// The engine record's share of the fields: the instrument only when both
// assets were given.
template <class Operation>
void fill_operation(Operation& operation, const OperationFields& fields) {
  if (fields.underlying_asset && fields.settlement_asset)
    operation.instrument = Instrument{*fields.underlying_asset, *fields.settlement_asset};
  operation.account_id = fields.account_id;
  operation.side = fields.side;
}

}  // namespace vantrel::py
