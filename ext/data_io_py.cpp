#include "ext/data_io_py.h"

namespace corvala::kernel {

bool register_data_io_module(PyObject* top) {
    (void)top;
    return true;
}

}  // namespace corvala::kernel
