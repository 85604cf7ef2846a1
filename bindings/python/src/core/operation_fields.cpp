// The fields shared by OrderOperation and ExecutionReportOperation.
#include "core/operation_fields.hpp"

namespace vantrel::py {

void convert_operation_args(OperationFields& fields, PyObject* underlying_asset, PyObject* settlement_asset,
                            PyObject* account_id, PyObject* side) {
  convert_arg_into<AssetField>(fields.underlying_asset, underlying_asset, "underlying_asset");
  convert_arg_into<AssetField>(fields.settlement_asset, settlement_asset, "settlement_asset");
  convert_arg_into<AccountIdField>(fields.account_id, account_id, "account_id");
  convert_arg_into<SideField>(fields.side, side, "side");
}

void append_operation_assets(std::string& out, const OperationFields& fields) {
  out += "underlying_asset=";
  append_optional_asset(out, fields.underlying_asset);
  out += ", settlement_asset=";
  append_optional_asset(out, fields.settlement_asset);
}

}  // namespace vantrel::py
