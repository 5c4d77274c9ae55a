// Speech level: the `asl_p56_internal` submodule and the top-level `asl_p56` function.
#pragma once

#include "ext/py/python.h"

namespace corvala {

bool register_asl_p56_internal(PyObject* top);
bool register_asl_p56(PyObject* top);

}  // namespace corvala
