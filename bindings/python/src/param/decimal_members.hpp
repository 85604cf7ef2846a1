#pragma once
// Building blocks of the decimal classes' own members: the conversions between
// kinds that copy the decimal, keeping or flipping its sign flag, and the
// check that an argument is an instance of a given decimal class.
#include "param/values.hpp"
#include "toolkit/args.hpp"
#include "toolkit/trampoline.hpp"

namespace vantrel::py {

// The value of `obj`, which must be an instance of K's class (no conversion):
// otherwise TypeError "argument '{arg}': '{type}' object cannot be converted to '{K}'".
template <ValueKind K>
Amount<K> require_amount(std::string_view arg, PyObject* obj) {
  if (!is_amount<K>(obj)) [[unlikely]]
    throw_arg_cannot_convert(arg, obj, decimal_class(K).name);
  return amount_of<K>(obj);
}

// The sign flag of money leaving a Fee or an outgoing Volume flips, zero
// included (unlike unary minus); mantissa and scale never change, so these
// conversions cannot fail.
enum class Sign { Keep, Flip };

constexpr Decimal with_sign(Decimal value, Sign sign) noexcept {
  return sign == Sign::Flip ? value.negated() : value;
}

// An instance method without arguments: self's value as a new To.
template <ValueKind From, ValueKind To, Sign S>
PyObject* convert_self(PyObject* self, PyObject*) {
  return wrap_decimal(with_sign(amount_of<From>(self).value, S), decimal_class(To)).release();
}

// A static method taking one From instance, by position or as `Arg`.
template <ValueKind From, ValueKind To, Sign S, const char* Func, const char* Arg>
PyObject* convert_factory(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static constexpr auto spec = params(Func, req(Arg));
  auto [obj] = parse(spec, args, nargs, kwnames);
  return wrap_decimal(with_sign(require_amount<From>(Arg, obj).value, S), decimal_class(To)).release();
}

template <ValueKind From, ValueKind To, Sign S>
inline PyMethodDef conversion_method(const char* name, const char* doc) {
  return {name, method_entry<&convert_self<From, To, S>>(), METH_NOARGS, doc};
}

template <ValueKind From, ValueKind To, Sign S, const char* Func, const char* Arg>
inline PyMethodDef conversion_factory(const char* name, const char* doc) {
  return {name, method_entry<&convert_factory<From, To, S, Func, Arg>>(), kFastcallFlags | METH_STATIC, doc};
}

}  // namespace vantrel::py
