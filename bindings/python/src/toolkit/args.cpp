#include "toolkit/args.hpp"

#include <string>
#include <vector>

#include "toolkit/errors.hpp"
#include "toolkit/ref.hpp"

namespace vantrel::py {
namespace {

std::string quoted_list(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    out += cat("'", names[i], "'");
  }
  return out;
}

[[noreturn]] void missing(std::string_view func, std::string_view kind, const std::vector<std::string_view>& names) {
  throw_error(PyExc_TypeError, cat(func, " missing ", names.size(), " required ", kind, " ",
                                   names.size() == 1 ? "argument" : "arguments", ": ", quoted_list(names)));
}

[[noreturn]] void too_many_positional(std::string_view func, const Param* params, std::size_t count,
                                      Py_ssize_t given) {
  std::size_t max = 0, min = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (params[i].keyword_only) continue;
    ++max;
    if (params[i].required) min = max;
  }
  const char* verb = given == 1 ? "was" : "were";
  if (min == max)
    throw_error(PyExc_TypeError, cat(func, " takes ", max, " positional arguments but ", given, " ", verb, " given"));
  throw_error(PyExc_TypeError,
              cat(func, " takes from ", min, " to ", max, " positional arguments but ", given, " ", verb, " given"));
}

// Shared by both calling conventions once positional values are in `out`.
void match_keyword(std::string_view func, const Param* params, std::size_t count, PyObject* key, PyObject* value,
                   PyObject** out) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(key, &size);
  if (text == nullptr) throw ErrorAlreadySet{};
  std::string_view name(text, static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < count; ++i) {
    if (params[i].name != name) continue;
    if (out[i] != nullptr)
      throw_error(PyExc_TypeError, cat(func, " got multiple values for argument '", name, "'"));
    out[i] = value;
    return;
  }
  throw_error(PyExc_TypeError, cat(func, " got an unexpected keyword argument '", name, "'"));
}

void check_required(std::string_view func, const Param* params, std::size_t count, PyObject** out) {
  std::vector<std::string_view> positional, keyword;
  for (std::size_t i = 0; i < count; ++i) {
    if (!params[i].required || out[i] != nullptr) continue;
    (params[i].keyword_only ? keyword : positional).push_back(params[i].name);
  }
  if (!positional.empty()) missing(func, "positional", positional);
  if (!keyword.empty()) missing(func, "keyword", keyword);
}

std::size_t positional_capacity(const Param* params, std::size_t count) {
  std::size_t n = 0;
  while (n < count && !params[n].keyword_only) ++n;
  return n;
}

}  // namespace

void parse_fastcall(std::string_view func, const Param* params, std::size_t count, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = nullptr;
  if (static_cast<std::size_t>(nargs) > positional_capacity(params, count))
    too_many_positional(func, params, count, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames != nullptr) {
    Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k)
      match_keyword(func, params, count, PyTuple_GetItem(kwnames, k), args[nargs + k], out);
  }
  check_required(func, params, count, out);
}

void parse_tuple(std::string_view func, const Param* params, std::size_t count, PyObject* args, PyObject* kwargs,
                 PyObject** out) {
  for (std::size_t i = 0; i < count; ++i) out[i] = nullptr;
  Py_ssize_t nargs = args == nullptr ? 0 : PyTuple_Size(args);
  if (static_cast<std::size_t>(nargs) > positional_capacity(params, count))
    too_many_positional(func, params, count, nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GetItem(args, i);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) match_keyword(func, params, count, key, value, out);
  }
  check_required(func, params, count, out);
}

}  // namespace vantrel::py
