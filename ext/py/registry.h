// Registration: every item is appended to the module's __all__ and then set as an attribute.
#pragma once

#include <span>

#include "ext/py/entry.h"
#include "ext/py/python.h"

namespace corvala::py {

// Steals `value`. Returns false with the error set.
bool add_item(PyObject* module, const char* name, PyObject* value);

// Creates a function object for each definition, in order, and adds it to `module`. The
// definitions must outlive the module (they are static tables).
bool add_functions(PyObject* module, std::span<const FunctionDef> functions);

// A plain module object named `name` (not entered in sys.modules) holding `functions`; it is
// then added to `parent` under the same name.
bool add_submodule(PyObject* parent, const char* name, std::span<const FunctionDef> functions,
                   bool (*populate)(PyObject* module) = nullptr);

}  // namespace corvala::py
