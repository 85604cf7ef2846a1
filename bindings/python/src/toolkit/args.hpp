#pragma once
#include <array>
#include <cstddef>
#include <string_view>

#include "toolkit/python.hpp"

namespace vantrel::py {

struct Param {
  std::string_view name;
  bool required = true;
  bool keyword_only = false;
};

// The parameter list of one Python-visible callable. `func` is how messages
// name it: "_validate_asset()", "Price.from_int()", "Trade.__new__()".
template <std::size_t N>
struct Params {
  std::string_view func;
  std::array<Param, N> params;
};

template <class... P>
constexpr auto params(std::string_view func, P... ps) {
  return Params<sizeof...(P)>{func, {ps...}};
}
constexpr Param req(std::string_view name) { return {name, true, false}; }
constexpr Param opt(std::string_view name) { return {name, false, false}; }
constexpr Param kw(std::string_view name) { return {name, true, true}; }
constexpr Param kw_opt(std::string_view name) { return {name, false, true}; }

// Matches vectorcall arguments to parameters. out[i] is a borrowed reference,
// or null for an optional parameter that was not given. Throws ErrorAlreadySet
// with the binding layer's TypeError texts.
void parse_fastcall(std::string_view func, const Param* params, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
// The same for a tuple and a dict (constructors).
void parse_tuple(std::string_view func, const Param* params, std::size_t count, PyObject* args,
                 PyObject* kwargs, PyObject** out);

template <std::size_t N>
std::array<PyObject*, N> parse(const Params<N>& spec, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::array<PyObject*, N> out{};
  if (kwnames == nullptr && static_cast<std::size_t>(nargs) == N) {
    bool all_positional = true;
    for (const Param& p : spec.params) all_positional = all_positional && !p.keyword_only;
    if (all_positional) {
      for (std::size_t i = 0; i < N; ++i) out[i] = args[i];
      return out;
    }
  }
  parse_fastcall(spec.func, spec.params.data(), N, args, nargs, kwnames, out.data());
  return out;
}

template <std::size_t N>
std::array<PyObject*, N> parse(const Params<N>& spec, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, N> out{};
  parse_tuple(spec.func, spec.params.data(), N, args, kwargs, out.data());
  return out;
}

}  // namespace vantrel::py
