// Own members of Price, Quantity, Volume, Notional, Fee, Pnl and CashFlow:
// products at a price, margin at a leverage, and the conversions that fix the
// system's sign convention for money (a cash flow is positive coming in).
#include <span>

#include "param/decimal_members.hpp"
#include "param/extract.hpp"
#include "param/leverage.hpp"

namespace vantrel::py {
namespace {

constexpr ValueKind kQuantity = ValueKind::Quantity, kVolume = ValueKind::Volume, kNotional = ValueKind::Notional,
                    kPrice = ValueKind::Price, kPnl = ValueKind::Pnl, kCashFlow = ValueKind::CashFlow,
                    kPositionSize = ValueKind::PositionSize, kFee = ValueKind::Fee;

template <ValueKind K>
PyObject* wrap_result(Result<Amount<K>>&& result) {
  return wrap_amount<K>(value_or_raise(std::move(result))).release();
}

// ---- Price -------------------------------------------------------------------

PyObject* price_calculate_volume(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Price.calculate_volume()", req("quantity"));
  auto [quantity] = parse(spec, args, nargs, kwnames);
  return wrap_result(volume_from_price_quantity(amount_of<kPrice>(self), require_amount<kQuantity>("quantity", quantity)));
}

PyObject* price_calculate_position_size(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                        PyObject* kwnames) {
  static constexpr auto spec = params("Price.calculate_position_size()", req("quantity"));
  auto [quantity] = parse(spec, args, nargs, kwnames);
  const Quantity amount = require_amount<kQuantity>("quantity", quantity);
  const Decimal size = value_or_raise(decimal_checked_mul(amount_of<kPrice>(self).value, amount.value));
  return wrap_amount(PositionSize{size}).release();
}

// ---- Quantity and Volume -----------------------------------------------------

PyObject* quantity_calculate_volume(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Quantity.calculate_volume()", req("price"));
  auto [price] = parse(spec, args, nargs, kwnames);
  return wrap_result(volume_from_price_quantity(require_amount<kPrice>("price", price), amount_of<kQuantity>(self)));
}

PyObject* volume_calculate_quantity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Volume.calculate_quantity()", req("price"));
  auto [price] = parse(spec, args, nargs, kwnames);
  return wrap_result(quantity_from_volume_price(amount_of<kVolume>(self), require_amount<kPrice>("price", price)));
}

// ---- Notional ----------------------------------------------------------------

PyObject* notional_from_price_quantity(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("Notional.from_price_quantity()", req("price"), req("quantity"));
  auto [price_obj, quantity_obj] = parse(spec, args, nargs, kwnames);
  const Price price = require_amount<kPrice>("price", price_obj);
  const Quantity quantity = require_amount<kQuantity>("quantity", quantity_obj);
  const Volume product = value_or_raise(volume_from_price_quantity(price, quantity));
  return wrap_amount(Notional{product.value}).release();
}

PyObject* notional_calculate_margin_required(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                             PyObject* kwnames) {
  static constexpr auto spec = params("Notional.calculate_margin_required()", req("leverage"));
  auto [leverage] = parse(spec, args, nargs, kwnames);
  const std::uint16_t tenths = extract_leverage(leverage);
  return wrap_result(margin_required(amount_of<kNotional>(self), tenths));
}

inline constexpr char kNotionalFromVolume[] = "Notional.from_volume()";
inline constexpr char kPnlFromFee[] = "Pnl.from_fee()";
inline constexpr char kCashFlowFromPnl[] = "CashFlow.from_pnl()";
inline constexpr char kCashFlowFromFee[] = "CashFlow.from_fee()";
inline constexpr char kCashFlowFromVolumeInflow[] = "CashFlow.from_volume_inflow()";
inline constexpr char kCashFlowFromVolumeOutflow[] = "CashFlow.from_volume_outflow()";
inline constexpr char kVolumeArg[] = "volume";
inline constexpr char kFeeArg[] = "fee";
inline constexpr char kPnlArg[] = "pnl";

constexpr int kMethod = kFastcallFlags;
constexpr int kStatic = kFastcallFlags | METH_STATIC;

}  // namespace

std::span<const PyMethodDef> price_own_methods() {
  static const PyMethodDef methods[] = {
      {"calculate_volume", method_entry<&price_calculate_volume>(), kMethod,
       "calculate_volume($self, quantity)\n--\n\n"},
      {"calculate_position_size", method_entry<&price_calculate_position_size>(), kMethod,
       "calculate_position_size($self, quantity)\n--\n\n"},
  };
  return methods;
}

std::span<const PyMethodDef> quantity_own_methods() {
  static const PyMethodDef methods[] = {
      {"calculate_volume", method_entry<&quantity_calculate_volume>(), kMethod,
       "calculate_volume($self, price)\n--\n\n"},
      conversion_method<kQuantity, kPositionSize, Sign::Keep>("to_position_size", "to_position_size($self)\n--\n\n"),
  };
  return methods;
}

std::span<const PyMethodDef> volume_own_methods() {
  static const PyMethodDef methods[] = {
      conversion_method<kVolume, kCashFlow, Sign::Keep>("to_cash_flow_inflow", "to_cash_flow_inflow($self)\n--\n\n"),
      conversion_method<kVolume, kCashFlow, Sign::Flip>("to_cash_flow_outflow",
                                                        "to_cash_flow_outflow($self)\n--\n\n"),
      {"calculate_quantity", method_entry<&volume_calculate_quantity>(), kMethod,
       "calculate_quantity($self, price)\n--\n\n"},
      conversion_method<kVolume, kPositionSize, Sign::Keep>("to_position_size", "to_position_size($self)\n--\n\n"),
  };
  return methods;
}

std::span<const PyMethodDef> notional_own_methods() {
  static const PyMethodDef methods[] = {
      conversion_factory<kVolume, kNotional, Sign::Keep, kNotionalFromVolume, kVolumeArg>(
          "from_volume", "from_volume(volume)\n--\n\n"),
      {"from_price_quantity", method_entry<&notional_from_price_quantity>(), kStatic,
       "from_price_quantity(price, quantity)\n--\n\n"},
      conversion_method<kNotional, kVolume, Sign::Keep>("to_volume", "to_volume($self)\n--\n\n"),
      {"calculate_margin_required", method_entry<&notional_calculate_margin_required>(), kMethod,
       "calculate_margin_required($self, leverage)\n--\n\n"},
  };
  return methods;
}

std::span<const PyMethodDef> fee_own_methods() {
  static const PyMethodDef methods[] = {
      conversion_method<kFee, kPnl, Sign::Flip>("to_pnl", "to_pnl($self)\n--\n\n"),
      conversion_method<kFee, kPositionSize, Sign::Flip>("to_position_size", "to_position_size($self)\n--\n\n"),
      conversion_method<kFee, kCashFlow, Sign::Flip>("to_cash_flow", "to_cash_flow($self)\n--\n\n"),
  };
  return methods;
}

std::span<const PyMethodDef> pnl_own_methods() {
  static const PyMethodDef methods[] = {
      conversion_factory<kFee, kPnl, Sign::Flip, kPnlFromFee, kFeeArg>("from_fee", "from_fee(fee)\n--\n\n"),
      conversion_method<kPnl, kCashFlow, Sign::Keep>("to_cash_flow", "to_cash_flow($self)\n--\n\n"),
      conversion_method<kPnl, kPositionSize, Sign::Keep>("to_position_size", "to_position_size($self)\n--\n\n"),
  };
  return methods;
}

std::span<const PyMethodDef> cash_flow_own_methods() {
  static const PyMethodDef methods[] = {
      conversion_factory<kPnl, kCashFlow, Sign::Keep, kCashFlowFromPnl, kPnlArg>("from_pnl", "from_pnl(pnl)\n--\n\n"),
      conversion_factory<kFee, kCashFlow, Sign::Flip, kCashFlowFromFee, kFeeArg>("from_fee", "from_fee(fee)\n--\n\n"),
      conversion_factory<kVolume, kCashFlow, Sign::Keep, kCashFlowFromVolumeInflow, kVolumeArg>(
          "from_volume_inflow", "from_volume_inflow(volume)\n--\n\n"),
      conversion_factory<kVolume, kCashFlow, Sign::Flip, kCashFlowFromVolumeOutflow, kVolumeArg>(
          "from_volume_outflow", "from_volume_outflow(volume)\n--\n\n"),
  };
  return methods;
}

}  // namespace vantrel::py
