// _corvala_testing: internal units of the core, reached from Python so that tests can compare
// them with oracles nobody here wrote. Built with the tests only and never installed. Each
// subsystem adds a registration function to TESTING_REGISTRATION.
#include <array>

#include "ext/py/python.h"
#include "ext/py/registry.h"
#include "tests/native/testing.h"

namespace corvala::testing {
namespace {

constexpr std::array<bool (*)(PyObject*), 3> TESTING_REGISTRATION{register_audiolib, register_store,
                                                                  register_kernel};

int exec_module(PyObject* module) {
    for (auto step : TESTING_REGISTRATION) {
        if (!step(module)) return -1;
    }
    return 0;
}

PyModuleDef_Slot SLOTS[] = {{Py_mod_exec, reinterpret_cast<void*>(exec_module)}, {0, nullptr}};
PyModuleDef DEF = {PyModuleDef_HEAD_INIT, "_corvala_testing", "Internal units for tests; not part of corvala.",
                   0, nullptr, SLOTS, nullptr, nullptr, nullptr};

}  // namespace
}  // namespace corvala::testing

PyMODINIT_FUNC PyInit__corvala_testing(void) { return PyModuleDef_Init(&corvala::testing::DEF); }
