#pragma once
// The one place that includes the interpreter's headers for the extension.
#ifndef Py_LIMITED_API
#define Py_LIMITED_API 0x030b0000
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>
