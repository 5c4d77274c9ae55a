#include "ext/asl_p56_py.h"

namespace corvala {

bool register_asl_p56_internal(PyObject* top) {
    (void)top;
    return true;
}

bool register_asl_p56(PyObject* top) {
    (void)top;
    return true;
}

}  // namespace corvala
