#pragma once
// The serialised forms' methods of vantrel.pretrade.Lock (lock_codecs.cpp), entered in
// the class's method table by lock.cpp.
#include "toolkit/python.hpp"

namespace vantrel::py {

PyObject* lock_to_json(PyObject* self, PyObject*);
PyObject* lock_to_msgpack(PyObject* self, PyObject*);
PyObject* lock_to_cbor(PyObject* self, PyObject*);
PyObject* lock_from_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* lock_from_msgpack(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* lock_from_cbor(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace vantrel::py
