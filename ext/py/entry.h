// Entry points CPython calls: a fast-call function that never lets a C++ exception out.
#pragma once

#include <exception>
#include <new>

#include "ext/py/errors.h"
#include "ext/py/python.h"

namespace corvala::py {

using FastCall = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

[[gnu::cold, gnu::noinline]] PyObject* fault_from_current_exception() noexcept;

// Wraps an implementation so that an allocation failure or any stray C++ exception becomes
// NativeFault instead of ending the process.
template <FastCall Impl>
PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    try {
        return Impl(self, args, nargs, kwnames);
    } catch (...) {
        return fault_from_current_exception();
    }
}

// A module-level function: name, implementation and docstring (text signature first).
struct FunctionDef {
    const char* name;
    FastCall call;  // already wrapped by entry<>
    const char* doc;
};

template <FastCall Impl>
constexpr FunctionDef function(const char* name, const char* doc) {
    return FunctionDef{name, &entry<Impl>, doc};
}

}  // namespace corvala::py
