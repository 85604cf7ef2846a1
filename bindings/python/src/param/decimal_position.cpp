// Own members of PositionSize: a signed size made from a quantity and a side
// (buy positive, sell negative), from a P&L or a fee, and split back into the
// quantity and side that open or close it.
#include <span>

#include "param/decimal_members.hpp"
#include "param/enums.hpp"
#include "param/extract.hpp"
#include "toolkit/convert.hpp"

namespace vantrel::py {
namespace {

constexpr ValueKind kQuantity = ValueKind::Quantity, kPnl = ValueKind::Pnl, kPositionSize = ValueKind::PositionSize,
                    kFee = ValueKind::Fee;

// The quantity's decimal for buy, its sign flag flipped for sell (a zero
// quantity sold is a negative zero). Checks the quantity before the side.
Decimal signed_quantity(std::string_view quantity_arg, PyObject* quantity_obj, PyObject* side_obj) {
  const Quantity quantity = require_amount<kQuantity>(quantity_arg, quantity_obj);
  const Side side = parse_side(arg_utf8("side", side_obj));
  return with_sign(quantity.value, side == Side::Sell ? Sign::Flip : Sign::Keep);
}

PyObject* from_quantity_and_side(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("PositionSize.from_quantity_and_side()", req("quantity"), req("side"));
  auto [quantity, side] = parse(spec, args, nargs, kwnames);
  return wrap_amount(PositionSize{signed_quantity("quantity", quantity, side)}).release();
}

PyObject* checked_add_quantity(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params("PositionSize.checked_add_quantity()", req("qty"), req("side"));
  auto [qty, side] = parse(spec, args, nargs, kwnames);
  const Decimal delta = signed_quantity("qty", qty, side);
  const Decimal sum = value_or_raise(kind_checked_add(kPositionSize, amount_of<kPositionSize>(self).value, delta));
  return wrap_amount(PositionSize{sum}).release();
}

// (Quantity, side) for a size; every zero gives a plain zero quantity.
PyObject* quantity_and_side(Decimal size, const char* side_if_positive, const char* side_if_negative,
                            PyObject* side_if_zero) {
  Ref side;
  Decimal magnitude;
  if (size.is_zero()) {
    side = side_if_zero != nullptr ? Ref::borrow(side_if_zero) : make_str(side_if_positive);
  } else {
    magnitude = size.abs();
    side = make_str(size.is_negative() ? side_if_negative : side_if_positive);
  }
  Ref quantity = wrap_amount(Quantity{magnitude});
  PyObject* pair = PyTuple_Pack(2, quantity.get(), side.get());
  if (pair == nullptr) throw_pending();
  return pair;
}

PyObject* to_open_quantity(PyObject* self, PyObject*) {
  return quantity_and_side(amount_of<kPositionSize>(self).value, "BUY", "SELL", nullptr);
}

// Closing nothing names no side.
PyObject* to_close_quantity(PyObject* self, PyObject*) {
  return quantity_and_side(amount_of<kPositionSize>(self).value, "SELL", "BUY", Py_None);
}

inline constexpr char kFromPnl[] = "PositionSize.from_pnl()";
inline constexpr char kFromFee[] = "PositionSize.from_fee()";
inline constexpr char kPnlArg[] = "pnl";
inline constexpr char kFeeArg[] = "fee";

}  // namespace

std::span<const PyMethodDef> position_size_own_methods() {
  static const PyMethodDef methods[] = {
      {"from_quantity_and_side", method_entry<&from_quantity_and_side>(), kFastcallFlags | METH_STATIC,
       "from_quantity_and_side(quantity, side)\n--\n\n"},
      conversion_factory<kPnl, kPositionSize, Sign::Keep, kFromPnl, kPnlArg>("from_pnl", "from_pnl(pnl)\n--\n\n"),
      conversion_factory<kFee, kPositionSize, Sign::Flip, kFromFee, kFeeArg>("from_fee", "from_fee(fee)\n--\n\n"),
      {"to_open_quantity", method_entry<&to_open_quantity>(), METH_NOARGS, "to_open_quantity($self)\n--\n\n"},
      {"to_close_quantity", method_entry<&to_close_quantity>(), METH_NOARGS, "to_close_quantity($self)\n--\n\n"},
      {"checked_add_quantity", method_entry<&checked_add_quantity>(), kFastcallFlags,
       "checked_add_quantity($self, qty, side)\n--\n\n"},
  };
  return methods;
}

}  // namespace vantrel::py
