// NumPy's C array interface. Only this header includes NumPy; the interface is located on first
// use, never at import.
#pragma once

#include "ext/py/python.h"

#define PY_ARRAY_UNIQUE_SYMBOL corvala_ARRAY_API
#ifndef CORVALA_NUMPY_API_OWNER
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

namespace corvala::py {

// Locates the interface (NumPy 1 and 2 alike). On failure raises the internal fault
// "Failed to access NumPy array API capsule" and returns false.
bool ensure_numpy();

}  // namespace corvala::py
