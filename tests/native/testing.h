// Registration functions of the test-only module, one per subsystem.
#pragma once

#include "ext/py/python.h"

namespace corvala::testing {

bool register_audiolib(PyObject* module);  // audiolib_testing.cpp
bool register_store(PyObject* module);     // store_testing.cpp
bool register_kernel(PyObject* module);    // kernel_testing.cpp

}  // namespace corvala::testing
