#include "tests/native/testing.h"

namespace corvala::testing {

bool register_store(PyObject* module) {
    (void)module;
    return true;
}

}  // namespace corvala::testing
