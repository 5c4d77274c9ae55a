// The module root: registration of the submodules, functions, constants and class, in order.
#include <array>

#include "ext/asl_p56_py.h"
#include "ext/audio/audio_py.h"
#include "ext/data_io_py.h"
#include "ext/kernel/session_py.h"
#include "ext/py/errors.h"
#include "ext/py/python.h"
#include "ext/py/registry.h"

namespace corvala {

namespace {

constexpr const char* MODULE_DOC =
    "Main native-extension module of Corvala.\n\n"
    "To add an extension:\n"
    "1. create a new module source file for it;\n"
    "2. declare its registration function in the module root (ext/module.cpp);\n"
    "3. call it from the module's initialization function, at its place in the registration order.";

bool register_version(PyObject* top) { return py::add_item(top, "__version__", PyUnicode_FromString("3.1.0")); }

// The order of this list is the order of the top module's __all__.
constexpr std::array<bool (*)(PyObject*), 6> REGISTRATION{
    register_version,
    register_asl_p56_internal,
    register_asl_p56,
    audio::register_audio_module,
    kernel::register_data_io_module,
    kernel::register_kernel_session,
};

int exec_module(PyObject* top) {
    for (auto step : REGISTRATION) {
        if (!step(top)) {
            return -1;
        }
    }
    // Reachable for `except corvala.ext.NativeFault`, but not an item of __all__.
    PyObject* fault = py::native_fault_type();
    if (fault == nullptr) {
        return -1;
    }
    Py_INCREF(fault);
    if (PyModule_AddObject(top, "NativeFault", fault) < 0) {
        Py_DECREF(fault);
        return -1;
    }
    return 0;
}

PyModuleDef_Slot MODULE_SLOTS[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef MODULE_DEF = {
    PyModuleDef_HEAD_INIT, "ext", MODULE_DOC, 0, nullptr, MODULE_SLOTS, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace corvala

PyMODINIT_FUNC PyInit_ext(void) { return PyModuleDef_Init(&corvala::MODULE_DEF); }
