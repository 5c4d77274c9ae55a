// Binding fast-call arguments to the parameters of a text signature, with CPython's own wording
// for missing, surplus, unexpected and duplicate arguments.
#pragma once

#include <cstddef>
#include <span>

#include "ext/py/python.h"

namespace corvala::py {

struct Parameter {
    const char* name;
    bool has_default = false;      // may be omitted; the slot is left nullptr
    bool positional_only = false;  // may not be passed by keyword
};

struct Signature {
    const char* qualname;  // "apply_effects", "KernelSession.realize"
    std::span<const Parameter> params;
    // Methods count the bound instance in CPython's positional-argument messages.
    bool counts_self = false;
};

// Fills `out` (one slot per parameter) with borrowed references, nullptr for omitted parameters
// that have defaults. Returns false with TypeError set when the call does not bind.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out);

}  // namespace corvala::py
