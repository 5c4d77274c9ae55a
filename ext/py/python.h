// The one include of the Python C API (stable ABI; Py_LIMITED_API comes from the build).
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
