#pragma once
// The eight decimal value classes as data. One row per kind drives the class
// template (param_decimal.cpp): the class it lives in, whether it has unary
// minus, and its own members; the name and the sign rule come from the core's
// kind table, so they are stated once.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "class_table.hpp"
#include "toolkit/python.hpp"
#include "vantrel/param/value_kind.hpp"

namespace vantrel::py {

using OwnMethods = std::span<const PyMethodDef> (*)();

// Each kind's own members (param_decimal_members*.cpp), appended after the
// common ones in the class's method table.
std::span<const PyMethodDef> quantity_own_methods();
std::span<const PyMethodDef> volume_own_methods();
std::span<const PyMethodDef> notional_own_methods();
std::span<const PyMethodDef> price_own_methods();
std::span<const PyMethodDef> pnl_own_methods();
std::span<const PyMethodDef> cash_flow_own_methods();
std::span<const PyMethodDef> position_size_own_methods();
std::span<const PyMethodDef> fee_own_methods();

struct DecimalClassRow {
  ValueKind kind;
  ClassId class_id;
  std::string_view name;  // the class name, which is also the kind's name in messages
  bool never_negative;    // a value below zero is refused; a zero of either sign is accepted
  bool unary_minus;
  OwnMethods own_methods;
};

constexpr DecimalClassRow decimal_row(ValueKind kind, ClassId class_id, bool unary_minus, OwnMethods own) {
  return {kind, class_id, value_kind_name(kind), never_negative(kind), unary_minus, own};
}

// In ValueKind order, so a kind's row is at its index.
inline constexpr auto kDecimalClasses = std::to_array<DecimalClassRow>({
    decimal_row(ValueKind::Quantity, ClassId::Quantity, false, &quantity_own_methods),
    decimal_row(ValueKind::Volume, ClassId::Volume, false, &volume_own_methods),
    decimal_row(ValueKind::Notional, ClassId::Notional, false, &notional_own_methods),
    decimal_row(ValueKind::Price, ClassId::Price, true, &price_own_methods),
    decimal_row(ValueKind::Pnl, ClassId::Pnl, true, &pnl_own_methods),
    decimal_row(ValueKind::CashFlow, ClassId::CashFlow, true, &cash_flow_own_methods),
    decimal_row(ValueKind::PositionSize, ClassId::PositionSize, true, &position_size_own_methods),
    decimal_row(ValueKind::Fee, ClassId::Fee, true, &fee_own_methods),
});
// Every kind but Leverage, the last, is a decimal class.
static_assert(kDecimalClasses.size() == static_cast<std::size_t>(ValueKind::Leverage));

constexpr bool rows_in_kind_order() {
  for (std::size_t i = 0; i < kDecimalClasses.size(); ++i)
    if (static_cast<std::size_t>(kDecimalClasses[i].kind) != i) return false;
  return true;
}
static_assert(rows_in_kind_order());

constexpr const DecimalClassRow& decimal_class(ValueKind kind) noexcept {
  return kDecimalClasses[static_cast<std::size_t>(kind)];
}

// The module the decimal classes report: a type is taken for one of them when
// its __module__ is this and its __name__ is a row's name.
inline constexpr std::string_view kDecimalModule = "vantrel.param";

}  // namespace vantrel::py
