// The KernelSession class.
#pragma once

#include "ext/py/python.h"

namespace corvala::kernel {

bool register_kernel_session(PyObject* top);

}  // namespace corvala::kernel
