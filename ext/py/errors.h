// Raising Python exceptions from native failures. Every function here sets the error indicator
// and returns nullptr, so a wrapper can `return raise(...)`.
#pragma once

#include <string_view>

#include "ext/audio/effect_error.h"
#include "ext/kernel/kernel_error.h"
#include "ext/py/python.h"

namespace corvala::py {

// Texts cross the boundary as UTF-8 that may carry encoded surrogates (see convert.h).
PyObject* to_str(std::string_view utf8);

// The internal-fault exception type, created once per process; nullptr (error set) on failure.
PyObject* native_fault_type();

PyObject* raise(PyObject* type, std::string_view message);
PyObject* raise_native_fault(std::string_view message);
// Effect-language and chain-runner failures are ValueError with the report text.
PyObject* raise(const audio::EffectError& error);

// Kernel and cache failures become the exception their kind names.
PyObject* raise(const kernel::KernelError& error);

// Attaches a note to the exception being raised (its add_note method); keeps the exception.
void add_note(std::string_view note);

}  // namespace corvala::py
