#include "tests/native/testing.h"

namespace corvala::testing {

bool register_audiolib(PyObject* module) {
    (void)module;
    return true;
}

}  // namespace corvala::testing
