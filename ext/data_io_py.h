// The `data_io` submodule: cache artifacts.
#pragma once

#include "ext/py/python.h"

namespace corvala::kernel {

bool register_data_io_module(PyObject* top);

}  // namespace corvala::kernel
